#include "foundation/basalt/RegKeyHolder.h"

namespace Basalt {

LONG RegKeyHolder::Open(HKEY root, const char* path, REGSAM access) {
    Close();
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExA(root, path, 0, access, &key);
    return Take(result, key);
}

LONG RegKeyHolder::Create(HKEY root, const char* path, REGSAM access, DWORD* disposition) {
    Close();
    HKEY key = nullptr;
    const LONG result =
        RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, disposition);
    return Take(result, key);
}

void RegKeyHolder::Close() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
    status_ = ERROR_INVALID_HANDLE;
}

LONG RegKeyHolder::Take(LONG result, HKEY key) {
    status_ = static_cast<DWORD>(result);
    if (result == ERROR_SUCCESS) key_ = key;
    return result;
}

}  // namespace Basalt
