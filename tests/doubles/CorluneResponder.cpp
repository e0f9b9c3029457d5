#include "tests/doubles/CorluneResponder.h"

#include <vector>

namespace doubles::corlune {

namespace {

std::vector<Responder*>& Responders() {
    static std::vector<Responder*> responders;
    return responders;
}

}  // namespace

void RegisterResponder(Responder* responder) { Responders().push_back(responder); }

ReplyPlan PlanReply(const Request& request, const Settings& settings) {
    ReplyPlan plan;
    plan.delayMs = settings.Number(L"reply.delay", 0);
    for (Responder* responder : Responders())
        if (responder->Plan(request, settings, plan)) return plan;
    const std::wstring mode = settings.Text(L"reply", L"echo");
    if (mode == L"none") {
        plan.kind = ReplyPlan::Kind::None;
    } else if (mode == L"timeout") {
        plan.kind = ReplyPlan::Kind::TimeOut;
    } else if (mode == L"fail") {
        plan.kind = ReplyPlan::Kind::Failure;
        plan.status = static_cast<uint32_t>(settings.Number(L"reply.status", 0x80000002));
    } else {
        plan.kind = ReplyPlan::Kind::Answer;
        plan.name = request.name + L".Reply";
        plan.sender = L"Corlune";
        plan.data = request.data;
    }
    return plan;
}

}  // namespace doubles::corlune
