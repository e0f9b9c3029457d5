#include "foundation/basalt/SystemLibrary.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "foundation/basalt/ProcAddress.h"
#include "foundation/basalt/ShlObjAPI.h"

bool EnableSafeDllSearch() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return false;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto setDefault = Basalt::GetProcAddressAs<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
    return setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) == TRUE;
}

HMODULE LoadSystemLibraryEx(const wchar_t* fileName, HANDLE, DWORD flags) {
    if (!fileName) return nullptr;
    Basalt::KnownFolderPath folder;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_System, 0, nullptr, folder.Receive())) || !folder) return nullptr;
    const std::wstring path = std::wstring(folder.Get()) + L"\\" + fileName;
    return LoadLibraryExW(path.c_str(), nullptr, flags & ~static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH));
}

HMODULE LoadSystemLibrary(const wchar_t* fileName) { return LoadSystemLibraryEx(fileName, nullptr, 0); }
