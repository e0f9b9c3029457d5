#pragma once
// The shell-folder wrapper of the Orvan libraries: known folders asked through a replaceable object. The default
// asks the shell through Basalt's wrapper; the caller frees the text it gets (Basalt::KnownFolderPath).
#include <windows.h>
#include <shlobj.h>

namespace Orvan {

class ShlObjAPI {
public:
    virtual ~ShlObjAPI() = default;
    // SHGetKnownFolderPath as given.
    virtual HRESULT getKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path);
};

}  // namespace Orvan
