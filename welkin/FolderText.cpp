#include "welkin/FolderText.h"

#include <shlobj.h>

#include <cwchar>

#include "foundation/basalt/RegValueCodec.h"

std::wstring ReadFolderValue(const wchar_t* key, const wchar_t* name, DWORD bytes) {
    // One character more than the read may fill: the stored text need not be terminated.
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD type = REG_NONE;
    DWORD size = bytes;
    if (QzRegReadValueExW(HKEY_LOCAL_MACHINE, key, name, &type, reinterpret_cast<BYTE*>(text.data()), &size,
                          kQzRegView64) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    text.resize(std::wcslen(text.c_str()));
    return text;
}

std::wstring ShellFolderWith(int csidl, const wchar_t* tail) {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder))) return std::wstring();
    return std::wstring(folder) + tail;
}

DWORD CopyFolderText(std::wstring folder, wchar_t* out, size_t capacity, bool trailing) {
    const bool endsInBackslash = !folder.empty() && folder.back() == L'\\';
    if (endsInBackslash && !trailing) folder.pop_back();
    if (!endsInBackslash && trailing) folder.push_back(L'\\');
    if (!folder.empty() && folder.front() == L'"') folder.erase(0, 1);
    if (folder.size() >= capacity) {
        out[0] = L'\0';
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::wmemcpy(out, folder.c_str(), folder.size() + 1);
    return ERROR_SUCCESS;
}
