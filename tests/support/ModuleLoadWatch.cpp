#include "tests/support/ModuleLoadWatch.h"

#include <winternl.h>

#include <algorithm>

namespace testsupport {

namespace {

constexpr ULONG kLoaded = 1;

// The loader's notification data, the same for loading and unloading.
struct DllNotification {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};

using Callback = void(CALLBACK*)(ULONG, const void*, void*);
using RegisterFn = NTSTATUS(NTAPI*)(ULONG, Callback, void*, void**);
using UnregisterFn = NTSTATUS(NTAPI*)(void*);

template <class Fn>
Fn NtdllExport(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

std::wstring Text(const UNICODE_STRING* text) {
    return text && text->Buffer ? std::wstring(text->Buffer, text->Length / sizeof(wchar_t)) : std::wstring();
}

}  // namespace

ModuleLoadWatch::ModuleLoadWatch() {
    if (auto registerFn = NtdllExport<RegisterFn>("LdrRegisterDllNotification"))
        if (registerFn(0, &ModuleLoadWatch::Notified, this, &cookie_) != 0) cookie_ = nullptr;
}

ModuleLoadWatch::~ModuleLoadWatch() {
    if (cookie_)
        if (auto unregisterFn = NtdllExport<UnregisterFn>("LdrUnregisterDllNotification")) unregisterFn(cookie_);
}

void CALLBACK ModuleLoadWatch::Notified(ULONG reason, const void* data, void* context) {
    if (reason != kLoaded || !data) return;
    auto* watch = static_cast<ModuleLoadWatch*>(context);
    const std::lock_guard<std::mutex> lock(watch->mutex_);
    watch->loaded_.push_back(Text(static_cast<const DllNotification*>(data)->fullName));
}

std::vector<std::wstring> ModuleLoadWatch::Loaded() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return loaded_;
}

bool ModuleLoadWatch::SawLoaded(const std::wstring& fileName) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(loaded_.begin(), loaded_.end(), [&](const std::wstring& path) {
        const size_t slash = path.find_last_of(L"\\/");
        const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
        return CompareStringOrdinal(name.c_str(), -1, fileName.c_str(), -1, TRUE) == CSTR_EQUAL;
    });
}

void ModuleLoadWatch::Clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    loaded_.clear();
}

}  // namespace testsupport
