#pragma once
// The project's one log-site macro:
//     LOG_AT(ETWLogging::kSeverityError, L"RegOpenKeyExW failed with %u", rc);
// It asks IsLogEnabled first, so a filtered-out site costs one holder lookup and one virtual call and formats
// nothing. The site's function name ("Ns::Class::method") is derived once per site and kept for the process.
// LOG_HERE gives the same site facts to the stream form (LogStream.h).
#include "foundation/logging/Logger.h"

namespace ETWLogging::internal {

// "Ns::Class::method" of a __PRETTY_FUNCTION__ text, widened; the text lives until the process ends.
const wchar_t* SiteFunctionName(const char* prettyFunction);

}  // namespace ETWLogging::internal

#define ETWLOGGING_WIDEN2(x) L##x
#define ETWLOGGING_WIDEN(x) ETWLOGGING_WIDEN2(x)
#define LOG_SITE_FILE ETWLOGGING_WIDEN(__FILE__)
#define LOG_SITE_FUNCTION                                                                          \
    ([](const char* pretty) {                                                                     \
        static const wchar_t* const name = ::ETWLogging::internal::SiteFunctionName(pretty);     \
        return name;                                                                              \
    }(__PRETTY_FUNCTION__))

#define LOG_AT(severity, format, ...)                                                                      \
    do {                                                                                                   \
        if (::ETWLogging::IsLogEnabled(severity))                                                          \
            ::ETWLogging::LogMessage((severity), LOG_SITE_FILE, LOG_SITE_FUNCTION, __LINE__, format __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)
