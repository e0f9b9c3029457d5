// jxvvtpa.dll double: hands out the validation interface by name and answers file validations as its registry
// settings say (DoubleIds.h), journalling every request.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "tests/doubles/DoubleIds.h"
#include "tests/doubles/JournalFile.h"

namespace {

struct Record {
    DWORD status;
    DWORD verdict;
};

DWORD ReadDword(const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, doubles::kValidationDoubleKey, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY,
                     nullptr, &value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

std::vector<wchar_t> ReadText(const wchar_t* name, DWORD flags) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, doubles::kValidationDoubleKey, name, flags | RRF_SUBKEY_WOW6464KEY, nullptr,
                     nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, doubles::kValidationDoubleKey, name, flags | RRF_SUBKEY_WOW6464KEY, nullptr,
                     text.data(), &size) != ERROR_SUCCESS)
        return {};
    return text;
}

void Journal(const std::wstring& line) {
    // Appends through separate handles are not atomic here: one writer at a time.
    static std::mutex writer;
    std::lock_guard<std::mutex> lock(writer);
    doubles::AppendToRoadJournal("validation", doubles::Utf8(line + L"\n"));
    std::vector<wchar_t> file = ReadText(L"Journal", RRF_RT_REG_SZ);
    if (file.empty() || !file[0]) return;
    doubles::AppendToJournal(file.data(), doubles::Utf8(line + L"\n"));
}

bool IsListed(const wchar_t* path) {
    std::vector<wchar_t> list = ReadText(L"Paths", RRF_RT_REG_MULTI_SZ);
    for (const wchar_t* p = list.data(); p && *p; p += wcslen(p) + 1) {
        if (CompareStringOrdinal(p, -1, path, -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

bool IsSigned(const wchar_t* path) {
    WINTRUST_FILE_INFO file = {sizeof(file), path, nullptr, nullptr};
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data) == 0;
}

bool Vouches(const wchar_t* path) {
    switch (ReadDword(L"Mode", 0)) {
        case 1: return true;
        case 2: return IsListed(path);
        case 3: return IsSigned(path);
        default: return false;
    }
}

// The service's interface: IUnknown, two methods of no interest here, then the validation.
class ValidationControl {
public:
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) {
        if (out) *out = nullptr;
        return E_NOINTERFACE;
    }
    virtual ULONG STDMETHODCALLTYPE AddRef() { return 2; }
    virtual ULONG STDMETHODCALLTYPE Release() { return 1; }
    virtual HRESULT STDMETHODCALLTYPE Reserved1() { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE Reserved2() { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE ValidateFile(const wchar_t* path, DWORD flags, Record* record) {
        Journal(std::to_wstring(flags) + L" " + (path ? path : L"(null)"));
        if (!record) return E_POINTER;
        record->status = ReadDword(L"StatusBits", 2);
        record->verdict = path && Vouches(path) ? ReadDword(L"VerdictBits", 9) : 0;
        return S_OK;
    }
};

ValidationControl g_control;

}  // namespace

extern "C" __declspec(dllexport) DWORD NotComDllGetInterface(const char* name, void** out) {
    if (!name || !out) return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    std::wstring wide(name, name + strlen(name));
    Journal(L"get " + wide);
    const DWORD offered = ReadDword(L"Interfaces", 3);
    const bool known = (strcmp(name, "KqvValidationControl2") == 0 && (offered & 1)) ||
                       (strcmp(name, "KqvValidationControl") == 0 && (offered & 2));
    if (!known) return ERROR_NOT_SUPPORTED;
    // The caller frees the library right after this call: stay loaded for as long as the process lives.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&g_control), &self);
    *out = &g_control;
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
