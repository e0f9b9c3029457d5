#include "foundation/basalt/KeyAccessGrant.h"

#include <algorithm>

#include "foundation/basalt/OwnedHandle.h"

namespace Basalt::internal {

namespace {

constexpr DWORD kSubkeyNameChars = 256;

void FreeLocalBlock(void* block) { LocalFree(block); }

// A LocalAlloc'd block (descriptor or ACL).
using LocalBlock = Owned<void*, FreeLocalBlock>;

class TableSid {
public:
    explicit TableSid(AdvapiTable& table) : table_(table) {}
    TableSid(const TableSid&) = delete;
    TableSid& operator=(const TableSid&) = delete;
    ~TableSid() {
        if (sid_) table_.FreeSid(sid_);
    }
    PSID* Out() { return &sid_; }
    PSID Get() const { return sid_; }

private:
    AdvapiTable& table_;
    PSID sid_ = nullptr;
};

// A failed call that left no last error still counts as a failure.
LONG LastErrorOfFailure() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? static_cast<LONG>(error) : ERROR_GEN_FAILURE;
}

LONG GrantOne(AdvapiTable& table, HKEY key) {
    DWORD size = 0;
    LONG result = table.RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    if (result != ERROR_INSUFFICIENT_BUFFER) return result;
    if (size == 0) return ERROR_BAD_LENGTH;
    // A key with an empty or a null DACL reports fewer bytes than a descriptor needs to be initialised in.
    size = std::max<DWORD>(size, SECURITY_DESCRIPTOR_MIN_LENGTH);
    LocalBlock current(LocalAlloc(LPTR, size));
    if (!current.Get()) return ERROR_OUTOFMEMORY;
    if (!table.InitializeSecurityDescriptor(current.Get(), SECURITY_DESCRIPTOR_REVISION)) return LastErrorOfFailure();
    result = table.RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, current.Get(), &size);
    if (result != ERROR_SUCCESS) return result;
    BOOL present = FALSE, defaulted = FALSE;
    PACL oldDacl = nullptr;
    if (!table.GetSecurityDescriptorDacl(current.Get(), &present, &oldDacl, &defaulted)) return LastErrorOfFailure();
    if (!present) oldDacl = nullptr;

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    TableSid everyone(table);
    if (!table.AllocateAndInitializeSid(&world, BYTE{1}, DWORD{SECURITY_WORLD_RID}, DWORD{0}, DWORD{0}, DWORD{0},
                                        DWORD{0}, DWORD{0}, DWORD{0}, DWORD{0}, everyone.Out()))
        return LastErrorOfFailure();

    EXPLICIT_ACCESS_W grant{};
    grant.grfAccessPermissions = GENERIC_ALL;
    grant.grfAccessMode = SET_ACCESS;  // numeric 2
    grant.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    grant.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    grant.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    grant.Trustee.ptstrName = static_cast<LPWSTR>(everyone.Get());
    LocalBlock newDacl;
    result = static_cast<LONG>(
        table.SetEntriesInAclW(ULONG{1}, &grant, oldDacl, reinterpret_cast<PACL*>(newDacl.Receive())));
    if (result != ERROR_SUCCESS) return result;

    LocalBlock descriptor(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor.Get()) return ERROR_NOT_ENOUGH_MEMORY;
    if (!table.InitializeSecurityDescriptor(descriptor.Get(), SECURITY_DESCRIPTOR_REVISION))
        return LastErrorOfFailure();
    if (!table.SetSecurityDescriptorDacl(descriptor.Get(), TRUE, static_cast<PACL>(newDacl.Get()), FALSE))
        return LastErrorOfFailure();
    return table.RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.Get());
}

LONG GrantTree(AdvapiTable& table, HKEY key, bool recurse) {
    LONG result = GrantOne(table, key);
    if (result != ERROR_SUCCESS || !recurse) return result;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kSubkeyNameChars] = {};
        DWORD length = kSubkeyNameChars;
        result = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS) return result;
        RegistryKey subkey;
        if (RegOpenKeyExW(key, name, 0, KEY_ALL_ACCESS, subkey.Receive()) != ERROR_SUCCESS) continue;
        result = GrantTree(table, subkey.Get(), true);
        if (result != ERROR_SUCCESS) return result;
    }
}

}  // namespace

LONG GrantKeyFullAccessWith(AdvapiTable& table, HKEY key, bool recurse) {
    if (!key) return ERROR_INVALID_PARAMETER;
    if (!table.IsNTPlatform()) return ERROR_SUCCESS;
    if (!table.Load()) return ERROR_FILE_NOT_FOUND;
    return GrantTree(table, key, recurse);
}

}  // namespace Basalt::internal
