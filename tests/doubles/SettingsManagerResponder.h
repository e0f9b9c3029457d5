#pragma once
// The settings manager inside the bus double: it answers the six request names with the bodies the client expects,
// keeps a store of name -> (value, volatile) for the life of the double, and says which change notices follow a
// change. It reads request bodies with the library's own document, not with the client's formatter.
//
// Faults, for the tests: entries "<name>:<fault>", where the name is a property's, a request's, or "*" for all:
//   status-false, wrong-name, status-number, missing-value (each reply object of that property name);
//   bad-json, non-object, no-responses (the whole reply body); no-reply, bus-timeout, bus-error (no body at all);
//   delay=<ms> (the reply comes after a timer of the bus double, never a blocking sleep).
// Whole-answer faults are looked up by the property's name (single requests), then the request's name, then "*".
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace doubles {

struct SettingsAnswer {
    enum class Kind { Reply, NoReply, BusTimeout, BusError };
    Kind kind = Kind::Reply;
    std::wstring body;          // the reply's data
    std::uint32_t delayMs = 0;  // a reply held back this long
    // Notices published after the reply: message name and body.
    std::vector<std::pair<std::wstring, std::wstring>> notices;
};

class SettingsManagerResponder {
public:
    static constexpr wchar_t kSender[] = L"SettingsManager";

    // The answer to a request, or nothing when the name is not one the settings manager serves.
    std::optional<SettingsAnswer> answer(const std::wstring& requestName, const std::wstring& data,
                                         const std::vector<std::wstring>& faults);

    // For tests that look at the store: the value of a name, if set.
    std::optional<std::wstring> value(const std::wstring& name);

private:
    struct Entry {
        std::wstring value;
        bool isVolatile = false;
    };
    struct Fault {
        std::wstring kind;
        std::uint32_t delayMs = 0;
    };

    using Faults = std::map<std::wstring, Fault>;
    static Faults ParseFaults(const std::vector<std::wstring>& entries);
    static const Fault* FaultFor(const Faults& faults, const std::wstring& name);

    std::mutex lock_;
    std::map<std::wstring, Entry> store_;
};

}  // namespace doubles
