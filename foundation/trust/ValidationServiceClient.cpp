#include "foundation/trust/ValidationServiceClient.h"

#include <cwchar>
#include <memory>
#include <mutex>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/trust/TrustedLoading.h"

namespace {
constexpr DWORD kDefaultVersion = 1504;
constexpr DWORD kNewVerdictVersion = 1505;
}  // namespace

ValidationServiceClient& ValidationServiceClient::instance() {
    // A mutex and a pointer rather than call_once: a creation that throws must be tried again by the next caller.
    static std::mutex guard;
    static std::unique_ptr<ValidationServiceClient> client;
    std::lock_guard<std::mutex> lock(guard);
    if (!client) client = std::make_unique<ValidationServiceClient>();
    return *client;
}

DWORD ValidationServiceClient::VersionFromText(const wchar_t* text) {
    unsigned long major = 0, minor = 0;
    if (text) swscanf(text, L"%lu.%lu", &major, &minor);
    if (major >= 15 && minor >= 4) return static_cast<DWORD>(major * 100 + minor);
    return kDefaultVersion;
}

ValidationServiceClient::ValidationServiceClient() {
    Basalt::RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Torvex\\Dunmore", 0, KEY_READ | KEY_WOW64_64KEY,
                      key.Receive()) != ERROR_SUCCESS)
        return;
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    version_ = kDefaultVersion;
    if (RegGetValueW(key.Get(), nullptr, L"dunmore_version", RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS) {
        text[63] = L'\0';
        version_ = VersionFromText(text);
    }
    key.Reset();

    void* control = nullptr;
    if (GetInterfaceFromSignedDll(L"jxvvtpa.dll", "KqvValidationControl2", &control, nullptr) != 0 || !control) {
        control = nullptr;
        if (GetInterfaceFromSignedDll(L"jxvvtpa.dll", "KqvValidationControl", &control, nullptr) != 0) control = nullptr;
    }
    control_ = static_cast<ValidationControl*>(control);
}

ValidationServiceClient::~ValidationServiceClient() {
    if (control_) control_->Release();
}

DWORD ValidationServiceClient::validateFile(const wchar_t* path) {
    if (!control_) return ERROR_ACCESS_DENIED;
    const bool older = version_ < kNewVerdictVersion;
    Verdict verdict = {0, 0};
    control_->ValidateFile(path, older ? 4u : 512u, &verdict);
    if (!(verdict.status & 2u)) return ERROR_ACCESS_DENIED;
    return (verdict.verdict & (older ? 1u : 8u)) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}
