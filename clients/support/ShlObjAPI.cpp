#include "clients/support/ShlObjAPI.h"

#include "foundation/basalt/ShlObjAPI.h"

namespace Orvan {

HRESULT ShlObjAPI::getKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path) {
    Basalt::ShlObjAPI shell;
    return shell.SHGetKnownFolderPath(folderId, flags, token, path);
}

}  // namespace Orvan
