#pragma once
// An owned reference to a COM interface: released when the owner goes away or is replaced; moves, never copies.
// Receive() hands the slot to a call that returns a new reference through a pointer (any old one is released).
#include <objbase.h>

#include <utility>

namespace Basalt {

template <class Interface>
class ComRef {
public:
    ComRef() = default;
    // Takes over a reference the caller already holds.
    explicit ComRef(Interface* held) : pointer_(held) {}
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.pointer_, nullptr));
        return *this;
    }
    ~ComRef() { Reset(); }

    Interface* Get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    Interface** Receive() {
        Reset();
        return &pointer_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    void Reset(Interface* held = nullptr) {
        if (pointer_) pointer_->Release();
        pointer_ = held;
    }
    // Hands the reference to the caller.
    Interface* Detach() { return std::exchange(pointer_, nullptr); }

private:
    Interface* pointer_ = nullptr;
};

// A BSTR owned for the length of a call.
class OwnedBstr {
public:
    OwnedBstr() = default;
    explicit OwnedBstr(const wchar_t* text) : text_(text ? SysAllocString(text) : nullptr) {}
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    ~OwnedBstr() { SysFreeString(text_); }
    BSTR Get() const { return text_; }
    explicit operator bool() const { return text_ != nullptr; }

private:
    BSTR text_ = nullptr;
};

// A VARIANT cleared when it goes away.
class OwnedVariant {
public:
    OwnedVariant() { VariantInit(&value_); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
    ~OwnedVariant() { VariantClear(&value_); }
    VARIANT* Get() { return &value_; }
    const VARIANT& operator*() const { return value_; }

private:
    VARIANT value_;
};

}  // namespace Basalt
