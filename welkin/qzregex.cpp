#include "welkin/QzRegWriter.h"

#include <algorithm>
#include <new>
#include <string>

#include "foundation/basalt/CodePageText.h"
#include "foundation/basalt/RegKeySecurityWalk.h"
#include "foundation/basalt/RegValueCodec.h"
#include "foundation/logging/LogStream.h"

namespace {

constexpr wchar_t kEmptyString[] = L"";

// Frees what the repair builds, on every path.
class LocalMemory {
public:
    explicit LocalMemory(void* memory = nullptr) : memory_(memory) {}
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;
    ~LocalMemory() {
        if (memory_) LocalFree(memory_);
    }
    void* Get() const { return memory_; }
    void* Release() {
        void* memory = memory_;
        memory_ = nullptr;
        return memory;
    }

private:
    void* memory_;
};

class WorldSid {
public:
    WorldSid(CAdvapiFunctions& functions, PSID sid) : functions_(functions), sid_(sid) {}
    WorldSid(const WorldSid&) = delete;
    WorldSid& operator=(const WorldSid&) = delete;
    ~WorldSid() {
        if (sid_ && functions_.FreeSid) functions_.FreeSid(sid_);
    }
    PSID Release() {
        PSID sid = sid_;
        sid_ = nullptr;
        return sid;
    }

private:
    CAdvapiFunctions& functions_;
    PSID sid_;
};

// A failed call that left no last error must still fail.
DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

bool IsEmptyString(const BYTE* data) { return data == nullptr || *reinterpret_cast<const wchar_t*>(data) == L'\0'; }

}  // namespace

DWORD QzRegWriteValueExW(HKEY hive, const wchar_t* subKey, const wchar_t* valueName, DWORD type, const BYTE* data,
                         DWORD size, DWORD flags) {
    if (type == REG_SZ && IsEmptyString(data)) {
        ETWLogging::LogLine(ETWLogging::kSeverityNormal, ETWLogging::LogSiteFacts{41, LOG_SITE_FUNCTION, LOG_SITE_FILE})
            << L"QzRegWriteValueExW : cannot write NULL string to registry alue for " << (valueName ? valueName : L"")
            << L"  is null";
        return kQzRegRefusedEmptyString;
    }
    return QzRegWriteValueExWImpl(hive, subKey, valueName, type, data, size, flags);
}

DWORD QzRegWriteValueExWImpl(HKEY hive, const wchar_t* subKey, const wchar_t* valueName, DWORD type,
                             const BYTE* data, DWORD size, DWORD flags) {
    if (type == REG_SZ && data == nullptr) {
        data = reinterpret_cast<const BYTE*>(kEmptyString);
        size = sizeof kEmptyString;
    }
    DWORD rc;
    try {
        std::string pathText, nameText;
        const char* ansiPath;
        const char* ansiName;
        if ((rc = Basalt::ToOptionalAnsi(CP_THREAD_ACP, subKey, pathText, ansiPath)) != ERROR_SUCCESS) return rc;
        if ((rc = Basalt::ToOptionalAnsi(CP_THREAD_ACP, valueName, nameText, ansiName)) != ERROR_SUCCESS) return rc;

        Basalt::RegKeyHolder key;
        DWORD disposition = 0;
        rc = static_cast<DWORD>(key.Create(hive, ansiPath, QzRegViewAccess(flags, KEY_ALL_ACCESS), &disposition));
        if (rc == ERROR_SUCCESS) {
            if ((flags & kQzRegRepairAlways) || ((flags & kQzRegRepairNewKey) && disposition == REG_CREATED_NEW_KEY))
                QzRegFixKeySecurity(key, disposition == REG_OPENED_EXISTING_KEY);
            rc = WriteScrambledRegValue(key, ansiName, type, data, size, flags, true);
        }
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    return rc == ERROR_INSUFFICIENT_BUFFER ? ERROR_MORE_DATA : rc;
}

DWORD BuildGrantAccessAcl(CAdvapiFunctions& functions, PACL oldDacl, PACL* newAcl, PSECURITY_DESCRIPTOR* descriptor,
                          PSID* sid, DWORD access) {
    if (newAcl == nullptr || descriptor == nullptr || sid == nullptr) return ERROR_INVALID_PARAMETER;

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!functions.AllocateAndInitializeSid ||
        !functions.AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return LastErrorOr(ERROR_PROC_NOT_FOUND);
    WorldSid ownedSid(functions, everyone);

    EXPLICIT_ACCESS_W entry = {};
    entry.grfAccessPermissions = access;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL acl = nullptr;
    const DWORD rc = functions.SetEntriesInAclW ? functions.SetEntriesInAclW(1, &entry, oldDacl, &acl)
                                                : ERROR_INVALID_FUNCTION;
    if (rc != ERROR_SUCCESS) return rc;
    LocalMemory ownedAcl(acl);

    PSECURITY_DESCRIPTOR made = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (made == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    LocalMemory ownedDescriptor(made);
    if (!functions.InitializeSecurityDescriptor || !functions.SetSecurityDescriptorDacl ||
        !functions.InitializeSecurityDescriptor(made, SECURITY_DESCRIPTOR_REVISION) ||
        !functions.SetSecurityDescriptorDacl(made, TRUE, acl, FALSE))
        return LastErrorOr(ERROR_INVALID_SECURITY_DESCR);

    *newAcl = static_cast<PACL>(ownedAcl.Release());
    *descriptor = ownedDescriptor.Release();
    *sid = ownedSid.Release();
    return ERROR_SUCCESS;
}

DWORD QzRegFixKeySecurity(const Basalt::RegKeyHolder& key, bool descend,
                          std::shared_ptr<Basalt::AdvapiBinder> binder) {
    CAdvapiFunctions functions(std::move(binder));
    if (key.Status() != ERROR_SUCCESS) return key.Status();
    if (!functions.Load()) return ERROR_FILE_NOT_FOUND;

    DWORD needed = 0;
    LONG rc = functions.RegGetKeySecurity(key.Key(), DACL_SECURITY_INFORMATION, nullptr, &needed);
    if (rc != ERROR_INSUFFICIENT_BUFFER) return static_cast<DWORD>(rc);
    if (needed == 0) return ERROR_BAD_LENGTH;

    // A key with an empty or NULL DACL reports less than the descriptor initialised into the buffer.
    DWORD allocated = std::max<DWORD>(needed, SECURITY_DESCRIPTOR_MIN_LENGTH);
    LocalMemory current(LocalAlloc(LPTR, allocated));
    if (current.Get() == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    functions.InitializeSecurityDescriptor(current.Get(), SECURITY_DESCRIPTOR_REVISION);
    rc = functions.RegGetKeySecurity(key.Key(), DACL_SECURITY_INFORMATION, current.Get(), &allocated);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);

    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!functions.GetSecurityDescriptorDacl(current.Get(), &present, &dacl, &defaulted))
        return LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
    if (!present) dacl = nullptr;

    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID sid = nullptr;
    const DWORD built = BuildGrantAccessAcl(functions, dacl, &acl, &descriptor, &sid, GENERIC_ALL);
    if (built != ERROR_SUCCESS) return built;
    LocalMemory ownedAcl(acl);
    LocalMemory ownedDescriptor(descriptor);
    WorldSid ownedSid(functions, sid);
    return EnumRegKeysRecursive(functions.KeySecurity(), key.Key(), DACL_SECURITY_INFORMATION, descriptor, descend);
}
