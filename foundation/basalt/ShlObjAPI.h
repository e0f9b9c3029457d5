#pragma once
// The shell-folder wrapper: known folders are asked through this replaceable object so that tests can answer them.
// KnownFolderPath holds the text the shell hands out and frees it with CoTaskMemFree when it goes away.
#include <windows.h>
#include <shlobj.h>

#include "foundation/basalt/OwnedHandle.h"

namespace Basalt {

class ShlObjAPI {
public:
    virtual ~ShlObjAPI() = default;
    // SHGetKnownFolderPath as given; the caller owns *path (use KnownFolderPath).
    virtual HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path);
};

inline void FreeTaskMemory(PWSTR text) { CoTaskMemFree(text); }

// The text SHGetKnownFolderPath hands out (give it Receive()), freed with CoTaskMemFree.
using KnownFolderPath = Owned<PWSTR, FreeTaskMemory>;

}  // namespace Basalt
