// In-process COM server standing in for the suite's telemetry service. Settings come from the environment, read at
// every call, so one build serves every scenario:
//   WELKIN_TELEMETRY_JOURNAL      file that gets one line per event of the server (below)
//   WELKIN_TELEMETRY_RESULT       HRESULT the service method returns (decimal or 0x hex; default 0)
//   WELKIN_TELEMETRY_FACTORIES    custom factory interfaces answered besides IClassFactory: "first", "second",
//                                 "both" (default none)
//   WELKIN_TELEMETRY_FAIL_CREATE  "1": every factory refuses to create the object (E_FAIL)
// It serves the service's class and doubles::kClsidTelemetryRedirect.
// Journal lines: "attach" when a process loads the module, "factory <IClassFactory|first|second|other>" per
// class-object request, "create <by>" and "release" per object, "send <len> <len> <len> <json>" per service call
// (lengths in characters, JSON in UTF-8).
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "clients/analytics/TelemetryService.h"
#include "foundation/trust/TrustedLoading.h"
#include "tests/doubles/ComObject.h"
#include "tests/doubles/DoubleIds.h"
#include "tests/doubles/JournalFile.h"

namespace {

using Orvan::Analytics::ITelemetryService;
using Orvan::Analytics::kTelemetryServiceClsid;
using Orvan::Analytics::kTelemetryServiceIid;

std::atomic<long> g_objects{0};

std::wstring Setting(const wchar_t* name) {
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

void Journal(const std::wstring& line) {
    doubles::AppendToRoadJournal("telemetry", doubles::Utf8(line + L"\n"));
    const std::wstring path = Setting(L"WELKIN_TELEMETRY_JOURNAL");
    if (!path.empty()) doubles::AppendToJournal(path.c_str(), doubles::Utf8(line + L"\n"));
}

HRESULT ConfiguredResult() {
    const std::wstring text = Setting(L"WELKIN_TELEMETRY_RESULT");
    return text.empty() ? S_OK : static_cast<HRESULT>(std::wcstoul(text.c_str(), nullptr, 0));
}

bool Answers(const wchar_t* factory) {
    const std::wstring answered = Setting(L"WELKIN_TELEMETRY_FACTORIES");
    return answered == L"both" || answered == factory;
}

size_t Length(BSTR text) { return text ? SysStringLen(text) : 0; }

class Service final : public doubles::ComObject<ITelemetryService> {
public:
    explicit Service(const wchar_t* by) : ComObject(kTelemetryServiceIid) {
        ++g_objects;
        Journal(std::wstring(L"create ") + by);
    }
    ~Service() override {
        Journal(L"release");
        --g_objects;
    }
    HRESULT STDMETHODCALLTYPE SendRecord(BSTR first, BSTR json, BSTR third) override {
        Journal(L"send " + std::to_wstring(Length(first)) + L" " + std::to_wstring(Length(json)) + L" " +
                std::to_wstring(Length(third)) + L" " + std::wstring(json ? json : L"", Length(json)));
        return ConfiguredResult();
    }
};

HRESULT Make(const wchar_t* by, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (Setting(L"WELKIN_TELEMETRY_FAIL_CREATE") == L"1") return E_FAIL;
    Service* service = new Service(by);
    const HRESULT hr = service->QueryInterface(iid, out);
    service->Release();
    return hr;
}

class ClassFactory final : public doubles::ComObject<IClassFactory> {
public:
    ClassFactory() : ComObject(IID_IClassFactory) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out) *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return Make(L"IClassFactory", iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

class TrustedFactory final : public doubles::ComObject<ITrustedClassFactory> {
public:
    TrustedFactory(const IID& iid, const wchar_t* by) : ComObject(iid), by_(by) {}
    HRESULT STDMETHODCALLTYPE Create(REFIID iid, void** out) override { return Make(by_, iid, out); }

private:
    const wchar_t* by_;
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, kTelemetryServiceClsid) && !IsEqualCLSID(clsid, doubles::kClsidTelemetryRedirect))
        return CLASS_E_CLASSNOTAVAILABLE;
    if (IsEqualIID(iid, IID_IClassFactory)) {
        Journal(L"factory IClassFactory");
        *out = static_cast<IClassFactory*>(new ClassFactory());
        return S_OK;
    }
    const bool first = IsEqualIID(iid, kTrustedFactoryIid);
    const bool second = IsEqualIID(iid, kTrustedFactoryIid2);
    Journal(first ? L"factory first" : second ? L"factory second" : L"factory other");
    if ((first && Answers(L"first")) || (second && Answers(L"second"))) {
        *out = static_cast<ITrustedClassFactory*>(new TrustedFactory(iid, first ? L"first" : L"second"));
        return S_OK;
    }
    return E_NOINTERFACE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

// Objects alive now, for in-process tests that check every instance is released.
extern "C" __declspec(dllexport) long TelemetryDoubleLiveObjects() { return g_objects; }

// The module's own word that its code ran in a process: a test of "never loaded" reads it, not the loader's state.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) Journal(L"attach");
    return TRUE;
}
