#pragma once
// The transport to the suite's telemetry service: the record as JSON text, passed to a COM object of the service.
// Each initialize and send initialises COM (multithreaded) on the calling thread for the length of the call,
// creates a new instance and releases everything before returning. The instance is made through the trusted
// factory path (every module COM may load for the class, and the module that implements the class factory, must
// pass the module trust check). Only when that path fails without refusing (no in-process server, class not
// registered, no trusted factory interface) is plain CoCreateInstance tried, after the proxy/stub of IClassFactory
// has passed too, and the object it gives is kept only when the module holding its code is trusted
// (ComServerJudgement::JudgeObject). After a refusal (E_ACCESSDENIED) no instance is kept, so initialize answers
// false. send answers false on any failure, exceptions included; nothing escapes.
#include <windows.h>

#include <memory>

#include "clients/analytics/JSONFormatter.h"
#include "clients/analytics/TelemetryService.h"
#include "clients/analytics/Transport.h"

namespace Orvan::Analytics {

class CLegacyTransport : public internal::CBaseTransport {
public:
    // A zero class identifier stands for the service's own; an empty formatter makes every send false.
    explicit CLegacyTransport(const CLSID& clsid = GUID_NULL,
                              std::unique_ptr<IFormatter> formatter = std::make_unique<CJSONFormatter>());

    bool initialize() override;
    bool send(const Record& record) override;
    void shutdown() override {}

    // *out is cleared first; the caller releases what it gets.
    HRESULT createInstance(ITelemetryService** out);

private:
    bool sendRecord(const Record& record);

    CLSID clsid_;
    std::unique_ptr<IFormatter> formatter_;
};

}  // namespace Orvan::Analytics
