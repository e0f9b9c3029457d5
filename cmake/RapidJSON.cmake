# RapidJSON, header-only, from the distribution. Its headers are reached through a folder that holds nothing but a
# link to them: adding the distribution's include folder itself would put glibc's headers before MinGW's.
set(WELKIN_RAPIDJSON_HEADERS /usr/include/rapidjson)
if(NOT EXISTS ${WELKIN_RAPIDJSON_HEADERS}/rapidjson.h)
  message(FATAL_ERROR "RapidJSON headers not found in ${WELKIN_RAPIDJSON_HEADERS} (package rapidjson-dev)")
endif()
set(WELKIN_RAPIDJSON_INCLUDE ${CMAKE_BINARY_DIR}/rapidjson-include)
file(MAKE_DIRECTORY ${WELKIN_RAPIDJSON_INCLUDE})
file(CREATE_LINK ${WELKIN_RAPIDJSON_HEADERS} ${WELKIN_RAPIDJSON_INCLUDE}/rapidjson SYMBOLIC)

# Code includes clients/support/RapidJsonConfig.h, never a RapidJSON header directly.
add_library(rapidjson INTERFACE)
target_include_directories(rapidjson SYSTEM INTERFACE ${WELKIN_RAPIDJSON_INCLUDE})
