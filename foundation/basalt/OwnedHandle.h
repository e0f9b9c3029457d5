#pragma once
// An owner of one system handle: frees it with `Free` when it goes away or is replaced; moves, never copies.
// Null means "no handle"; handles whose empty value is INVALID_HANDLE_VALUE have owners of their own (FindHandle).
#include <windows.h>

#include <utility>

namespace Basalt {

template <class Handle, void (*Free)(Handle)>
class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    ~Owned() { Reset(); }

    Handle Get() const { return handle_; }
    // For calls that hand out a new handle through a pointer; any handle held before is freed.
    Handle* Receive() {
        Reset();
        return &handle_;
    }
    void Reset(Handle handle = nullptr) {
        if (handle_) Free(handle_);
        handle_ = handle;
    }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    Handle handle_ = nullptr;
};

inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }
inline void CloseRegistryKey(HKEY key) { RegCloseKey(key); }
inline void FreeLoadedModule(HMODULE module) { FreeLibrary(module); }

using KernelHandle = Owned<HANDLE, CloseKernelHandle>;
using RegistryKey = Owned<HKEY, CloseRegistryKey>;
using LoadedModule = Owned<HMODULE, FreeLoadedModule>;

}  // namespace Basalt
