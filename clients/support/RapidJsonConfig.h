#pragma once
// The one way into RapidJSON. Its own assertion would abort the process (or, without checks, read garbage) on a
// broken rule; here a broken rule throws JsonAssertion instead, so bodies from the bus can never end the program.
// Code that reads outside data still checks kinds and members itself before every access; the exception is the
// last line behind those checks (and what tests watch for), not a way of reporting bad input.
#include <stdexcept>

#if defined(RAPIDJSON_RAPIDJSON_H_)
#error "clients/support/RapidJsonConfig.h must come before any RapidJSON header"
#endif

namespace Orvan::internal {

class JsonAssertion : public std::logic_error {
public:
    explicit JsonAssertion(const char* rule) : std::logic_error(rule) {}
};

[[noreturn]] inline void FailJsonAssertion(const char* rule) { throw JsonAssertion(rule); }

}  // namespace Orvan::internal

#define RAPIDJSON_ASSERT(x) ((x) ? static_cast<void>(0) : ::Orvan::internal::FailJsonAssertion(#x))

#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
