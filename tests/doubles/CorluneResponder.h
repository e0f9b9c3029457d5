#pragma once
// How the bus double answers a request. Responders registered here are asked in order of registration; the first
// that takes a request plans its reply, else the settings' "reply=" mode does (echo: status 0, the request's data
// back under "<name>.Reply"). A responder lives in a file of its own and registers itself with a static
// ResponderRegistration; it runs under the broker's lock, so it must not call the broker, and it may read the
// settings it is given.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/doubles/CorluneSettings.h"

namespace doubles::corlune {

struct Request {
    std::wstring name;
    std::wstring sender;
    std::wstring data;
    uint64_t timeoutMs = 0;
};

struct ReplyPlan {
    enum class Kind { Answer, Failure, TimeOut, None };
    Kind kind = Kind::Answer;
    uint32_t status = 0;  // of a Failure
    std::wstring name, sender, data;  // of an Answer
    uint64_t delayMs = 0;  // an Answer or Failure later than the time-out becomes a TimeOut
    // Of an Answer: messages (name, data) published by the replier after its reply.
    std::vector<std::pair<std::wstring, std::wstring>> notices;
};

class Responder {
public:
    virtual ~Responder() = default;
    // False: the next responder (or the default mode) plans the reply.
    virtual bool Plan(const Request& request, const Settings& settings, ReplyPlan& plan) = 0;
};

void RegisterResponder(Responder* responder);

struct ResponderRegistration {
    explicit ResponderRegistration(Responder* responder) { RegisterResponder(responder); }
};

// The plan for a request: the registered responders, then the settings' mode.
ReplyPlan PlanReply(const Request& request, const Settings& settings);

}  // namespace doubles::corlune
