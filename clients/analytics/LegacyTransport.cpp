#include "clients/analytics/LegacyTransport.h"

#include <comdef.h>
#include <objbase.h>

#include "foundation/basalt/ComInitialization.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/trust/TrustedLoading.h"

namespace Orvan::Analytics {

namespace {

void ReleaseService(ITelemetryService* service) { service->Release(); }
using ServiceRef = Basalt::Owned<ITelemetryService*, ReleaseService>;
using BStr = Basalt::Owned<BSTR, SysFreeString>;

BStr AllocateText(const wchar_t* text) {
    BStr owned(SysAllocString(text));
    if (!owned) throw _com_error(E_OUTOFMEMORY);
    return owned;
}

}  // namespace

CLegacyTransport::CLegacyTransport(const CLSID& clsid, std::unique_ptr<IFormatter> formatter)
    : CBaseTransport(L"Legacy", 1),
      clsid_(IsEqualCLSID(clsid, GUID_NULL) ? kTelemetryServiceClsid : clsid),
      formatter_(std::move(formatter)) {}

HRESULT CLegacyTransport::createInstance(ITelemetryService** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComServerJudgement judgement;
    HRESULT hr = TrustedCoCreateInstance(clsid_, nullptr, kTelemetryServiceContext, kTelemetryServiceIid,
                                         reinterpret_cast<void**>(out), TRUE, judgement);
    // A refused server gets no object by any other road. Plain creation is only for what the trusted path cannot
    // judge: a class without an in-process server, one not registered, a factory without the trusted interfaces.
    if (*out || hr == E_ACCESSDENIED) return hr;
    if (judgement.JudgeProxyStub(IID_IClassFactory) != 0) return E_ACCESSDENIED;
    hr = CoCreateInstance(clsid_, nullptr, kTelemetryServiceContext, kTelemetryServiceIid,
                          reinterpret_cast<void**>(out));
    // COM may have reached the object by a road the judgement above did not know: its code is judged before it is
    // given anything.
    if (*out && judgement.JudgeObject(*out) != 0) {
        (*out)->Release();
        *out = nullptr;
        hr = E_ACCESSDENIED;
    }
    return hr;
}

bool CLegacyTransport::initialize() {
    try {
        const Basalt::ComInitialization com;
        ServiceRef service;
        createInstance(service.Receive());
        return static_cast<bool>(service);
    } catch (...) {
        return false;
    }
}

bool CLegacyTransport::send(const Record& record) {
    // Out of memory or any other failure is this record's loss only; the caller's run goes on.
    try {
        return sendRecord(record);
    } catch (...) {
        return false;
    }
}

bool CLegacyTransport::sendRecord(const Record& record) {
    if (!formatter_) return false;
    // Declared first, so that the instance and the texts are released while COM is still initialised.
    const Basalt::ComInitialization com;
    ServiceRef service;
    createInstance(service.Receive());
    if (!service) return false;
    std::wstring json;
    if (!formatter_->format(record, json)) return false;
    const BStr first = AllocateText(L"");
    const BStr text = AllocateText(json.c_str());
    const BStr third = AllocateText(L"");
    return SUCCEEDED(service.Get()->SendRecord(first.Get(), text.Get(), third.Get()));
}

}  // namespace Orvan::Analytics
