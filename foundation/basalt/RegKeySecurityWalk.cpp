#include "foundation/basalt/RegKeySecurityWalk.h"

#include "foundation/basalt/RegKeyHolder.h"

namespace {

constexpr DWORD kSubkeyNameSize = 260;

}  // namespace

DWORD EnumRegKeysRecursive(const KeySecurityFunctions& table, HKEY key, SECURITY_INFORMATION information,
                           PSECURITY_DESCRIPTOR descriptor, bool descend) {
    if (!table.loaded || table.regSetKeySecurity == nullptr) return 1;
    const DWORD rc = static_cast<DWORD>(table.regSetKeySecurity(key, information, descriptor));
    if (rc != ERROR_SUCCESS || !descend) return rc;

    for (DWORD index = 0;; ++index) {
        char name[kSubkeyNameSize];
        DWORD length = kSubkeyNameSize;
        const LONG found = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (found == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (found != ERROR_SUCCESS) return static_cast<DWORD>(found);
        Basalt::RegKeyHolder subkey;
        if (subkey.Open(key, name, KEY_ALL_ACCESS) != ERROR_SUCCESS) continue;
        const DWORD below = EnumRegKeysRecursive(table, subkey.Key(), information, descriptor, true);
        if (below != ERROR_SUCCESS) return below;
    }
}
