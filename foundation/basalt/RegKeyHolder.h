#pragma once
// An open registry key and the status of the call that opened it: 0 while a key is held, 6 (ERROR_INVALID_HANDLE)
// before any open, otherwise the failing open's code. The codec's reads and writes return that status first when
// it is not 0. The key is closed by Close or on destruction.
#include <windows.h>

namespace Basalt {

class RegKeyHolder {
public:
    RegKeyHolder() = default;
    RegKeyHolder(const RegKeyHolder&) = delete;
    RegKeyHolder& operator=(const RegKeyHolder&) = delete;
    ~RegKeyHolder() { Close(); }

    // Close any held key, then RegOpenKeyExA / RegCreateKeyExA (non-volatile, no class, no security attributes);
    // the call's result becomes the status and is returned.
    LONG Open(HKEY root, const char* path, REGSAM access);
    LONG Create(HKEY root, const char* path, REGSAM access, DWORD* disposition);
    void Close();

    HKEY Key() const { return key_; }
    DWORD Status() const { return status_; }

private:
    LONG Take(LONG result, HKEY key);

    HKEY key_ = nullptr;
    DWORD status_ = ERROR_INVALID_HANDLE;
};

}  // namespace Basalt
