#include "foundation/basalt/ShlObjAPI.h"

namespace Basalt {

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path) {
    return ::SHGetKnownFolderPath(folderId, flags, token, path);
}

}  // namespace Basalt
