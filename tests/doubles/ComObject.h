#pragma once
// Reference counting and QueryInterface for the COM objects of the doubles: an object that answers IUnknown and one
// interface, deleted with its last reference. The interface's own methods come first in the table; the destructor's
// entries follow them.
#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace doubles {

template <class Interface>
class ComObject : public Interface {
public:
    explicit ComObject(const GUID& iid) : iid_(iid) {}
    virtual ~ComObject() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, iid_)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
    GUID iid_;
};

}  // namespace doubles
