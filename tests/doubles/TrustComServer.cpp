// In-process COM server for the trusted-creation tests: the ordinary class factory plus the two factory interfaces
// that a checked creation asks for. One class answers both, the other only the second.
#include <windows.h>
#include <objbase.h>

#include <atomic>

#include "tests/doubles/ComObject.h"
#include "tests/doubles/DoubleIds.h"

namespace {

// {FD542581-722E-45BE-BED4-62A1BE46AF03} and {6058502E-6069-43F4-B733-128649A20BD5}
constexpr GUID kFirstFactory = {0xfd542581, 0x722e, 0x45be, {0xbe, 0xd4, 0x62, 0xa1, 0xbe, 0x46, 0xaf, 0x03}};
constexpr GUID kSecondFactory = {0x6058502e, 0x6069, 0x43f4, {0xb7, 0x33, 0x12, 0x86, 0x49, 0xa2, 0x0b, 0xd5}};

std::atomic<long> g_objects{0};

using doubles::ComObject;

class TestObject final : public ComObject<doubles::ITestObject> {
public:
    explicit TestObject(DWORD origin) : ComObject(doubles::kIidTestObject), origin_(origin) { ++g_objects; }
    ~TestObject() override { --g_objects; }
    DWORD STDMETHODCALLTYPE Origin() override { return origin_; }

private:
    DWORD origin_;
};

HRESULT MakeObject(DWORD origin, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    TestObject* object = new TestObject(origin);
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

// Layout of the two factory interfaces: IUnknown, then Create(iid, out).
struct IFactoryLayout : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Create(REFIID iid, void** out) = 0;
};

class TrustFactory final : public ComObject<IFactoryLayout> {
public:
    TrustFactory(const GUID& iid, DWORD origin) : ComObject(iid), origin_(origin) {}
    HRESULT STDMETHODCALLTYPE Create(REFIID iid, void** out) override { return MakeObject(origin_, iid, out); }

private:
    DWORD origin_;
};

class ClassFactory final : public ComObject<IClassFactory> {
public:
    ClassFactory() : ComObject(IID_IClassFactory) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out) *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return MakeObject(doubles::kViaClassFactory, iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const bool both = IsEqualGUID(clsid, doubles::kClsidBothFactories);
    if (!both && !IsEqualGUID(clsid, doubles::kClsidSecondFactoryOnly)) return CLASS_E_CLASSNOTAVAILABLE;
    if (IsEqualGUID(iid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(new ClassFactory());
        return S_OK;
    }
    if (both && IsEqualGUID(iid, kFirstFactory)) {
        *out = static_cast<IFactoryLayout*>(new TrustFactory(kFirstFactory, doubles::kViaFirstFactory));
        return S_OK;
    }
    if (IsEqualGUID(iid, kSecondFactory)) {
        *out = static_cast<IFactoryLayout*>(new TrustFactory(kSecondFactory, doubles::kViaSecondFactory));
        return S_OK;
    }
    return E_NOINTERFACE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
