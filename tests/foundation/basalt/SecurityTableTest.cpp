#include "foundation/basalt/AdvapiTable.h"
#include "foundation/basalt/KeyAccessGrant.h"
#include "foundation/basalt/RegKey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "foundation/basalt/ProcAddress.h"
#include "tests/support/ScratchRegistry.h"

namespace Basalt {
namespace {

using testsupport::ScratchRegistry;

const std::wstring kRoot = L"Software\\WelkinTests\\BasaltGrant";

// The real module and functions, with names to hide and functions to put in their place.
class TestBinder : public AdvapiBinder {
public:
    HMODULE Load() override {
        ++loads;
        return failLoad ? nullptr : AdvapiBinder::Load();
    }
    void* Resolve(HMODULE module, const char* name) override {
        resolved.push_back(name);
        if (hidden == name) return nullptr;
        const auto replacement = replaced.find(name);
        if (replacement != replaced.end()) return replacement->second;
        return AdvapiBinder::Resolve(module, name);
    }
    int loads = 0;
    bool failLoad = false;
    std::string hidden;
    std::map<std::string, void*> replaced;
    std::vector<std::string> resolved;
};

class NotNT : public WinOSVersionAPI {
public:
    BOOL VerifyVersionInfoW(OSVERSIONINFOEXW*, DWORD, DWORDLONG) override { return FALSE; }
};

template <class Fn>
Fn Real(const char* name) {
    return GetProcAddressAs<Fn>(GetModuleHandleW(L"advapi32.dll"), name);
}

TEST(AdvapiTable, LoadsOnceAndResolvesEveryFunctionInOrder) {
    auto binder = std::make_shared<TestBinder>();
    AdvapiTable table(binder, nullptr);
    EXPECT_TRUE(table.IsNTPlatform());
    EXPECT_TRUE(table.Load());
    EXPECT_TRUE(table.Load());
    EXPECT_EQ(1, binder->loads);
    EXPECT_EQ(std::vector<std::string>(AdvapiTable::kNames, AdvapiTable::kNames + AdvapiTable::kFunctionCount),
              binder->resolved);
    EXPECT_EQ(26, AdvapiTable::kFunctionCount);

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID sid = nullptr;
    ASSERT_TRUE(table.AllocateAndInitializeSid(&world, BYTE{1}, DWORD{0}, DWORD{0}, DWORD{0}, DWORD{0}, DWORD{0},
                                               DWORD{0}, DWORD{0}, DWORD{0}, &sid));
    EXPECT_TRUE(table.EqualSid(sid, sid));
    table.FreeSid(sid);
}

TEST(AdvapiTable, AnyMissingFunctionFailsTheLoad) {
    for (const char* name : AdvapiTable::kNames) {
        SCOPED_TRACE(name);
        auto binder = std::make_shared<TestBinder>();
        binder->hidden = name;
        AdvapiTable table(binder, nullptr);
        EXPECT_FALSE(table.Load());
        EXPECT_FALSE(table.Load());
        EXPECT_EQ(1, binder->loads);
    }
    auto binder = std::make_shared<TestBinder>();
    binder->failLoad = true;
    AdvapiTable table(binder, nullptr);
    EXPECT_FALSE(table.Load());
}

TEST(AdvapiTable, OutsideTheNTFamilyEveryWrapperAnswersZero) {
    AdvapiTable table(std::make_shared<TestBinder>(), std::make_shared<NotNT>());
    EXPECT_FALSE(table.IsNTPlatform());
    ASSERT_TRUE(table.Load());
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID sid = reinterpret_cast<PSID>(1);
    EXPECT_FALSE(table.AllocateAndInitializeSid(&world, BYTE{1}, DWORD{0}, DWORD{0}, DWORD{0}, DWORD{0}, DWORD{0},
                                                DWORD{0}, DWORD{0}, DWORD{0}, &sid));
    EXPECT_EQ(reinterpret_cast<PSID>(1), sid);  // nothing was called
    DWORD size = 0;
    EXPECT_EQ(0, table.RegGetKeySecurity(HKEY_LOCAL_MACHINE, DACL_SECURITY_INFORMATION, nullptr, &size));
    EXPECT_EQ(0u, size);
}

// --- the key-access grant ---

PSID Everyone() {
    static SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    static PSID sid = [] {
        PSID made = nullptr;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &made);
        return made;
    }();
    return sid;
}

// Whether the key's DACL holds an inheritable full-access entry for Everyone (generic or mapped to key rights).
bool GrantsEveryoneFullAccess(HKEY key) {
    DWORD size = 0;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) return false;
    std::vector<BYTE> descriptor(std::max<DWORD>(size, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size) != ERROR_SUCCESS) return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted) || !present || !dacl) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        const bool full = ace->Mask == GENERIC_ALL || (ace->Mask & KEY_ALL_ACCESS) == KEY_ALL_ACCESS;
        const bool inherits = (ace->Header.AceFlags & (CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE)) ==
                              (CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE);
        if (full && inherits && EqualSid(&ace->SidStart, Everyone())) return true;
    }
    return false;
}

// Gives the key a DACL: null for a NULL DACL, or an empty one.
void SetDacl(HKEY key, bool nullDacl) {
    ACL empty;
    ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullDacl ? nullptr : &empty, FALSE));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor));
}

// Records the smallest buffer a descriptor was initialised in.
SIZE_T g_smallestDescriptorBuffer = 0;
BOOL WINAPI CheckedInitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
    g_smallestDescriptorBuffer = std::min(g_smallestDescriptorBuffer, LocalSize(descriptor));
    return Real<decltype(&::InitializeSecurityDescriptor)>("InitializeSecurityDescriptor")(descriptor, revision);
}

class KeyAccessGrant : public ::testing::Test {
protected:
    void SetUp() override { scratch.Create(HKEY_LOCAL_MACHINE, kRoot); }
    void TearDown() override { ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kRoot); }
    HKEY OpenAll(const std::wstring& path) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        opened.push_back(key);
        return key;
    }
    ~KeyAccessGrant() override {
        for (HKEY key : opened) RegCloseKey(key);
    }
    ScratchRegistry scratch;
    std::vector<HKEY> opened;
};

// Key security is checked through handles of this process: Wine forgets it when its server exits.
TEST_F(KeyAccessGrant, RecursiveGrantReachesChildrenWithEmptyAndNullDacls) {
    HKEY parent = OpenAll(kRoot + L"\\tree");
    HKEY plain = OpenAll(kRoot + L"\\tree\\plain\\deep");
    HKEY emptyDacl = OpenAll(kRoot + L"\\tree\\empty");
    HKEY nullDacl = OpenAll(kRoot + L"\\tree\\null");
    SetDacl(emptyDacl, false);
    SetDacl(nullDacl, true);

    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, (kRoot + L"\\tree").c_str(), KEY_ALL_ACCESS));
    EXPECT_EQ(ERROR_SUCCESS, key.GrantKeyFullAccess(true));
    EXPECT_TRUE(GrantsEveryoneFullAccess(parent));
    EXPECT_TRUE(GrantsEveryoneFullAccess(plain));
    EXPECT_TRUE(GrantsEveryoneFullAccess(nullDacl));
    // An empty DACL may refuse the walk's KEY_ALL_ACCESS open; such a key is skipped, never a failure.
    HKEY reopened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kRoot + L"\\tree\\empty").c_str(), 0, KEY_ALL_ACCESS, &reopened) ==
        ERROR_SUCCESS) {
        RegCloseKey(reopened);
        EXPECT_TRUE(GrantsEveryoneFullAccess(emptyDacl));
    }
}

TEST_F(KeyAccessGrant, NonRecursiveGrantLeavesChildrenAlone) {
    HKEY parent = OpenAll(kRoot + L"\\flat");
    HKEY child = OpenAll(kRoot + L"\\flat\\child");
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, (kRoot + L"\\flat").c_str(), KEY_ALL_ACCESS));
    EXPECT_EQ(ERROR_SUCCESS, key.GrantKeyFullAccess(false));
    EXPECT_TRUE(GrantsEveryoneFullAccess(parent));
    EXPECT_FALSE(GrantsEveryoneFullAccess(child));
}

TEST_F(KeyAccessGrant, DescriptorsOfEmptyAndNullDaclKeysGetBuffersTheyFitIn) {
    for (bool nullDacl : {false, true}) {
        SCOPED_TRACE(nullDacl ? "NULL DACL" : "empty DACL");
        HKEY key = OpenAll(kRoot + (nullDacl ? L"\\null" : L"\\empty"));
        SetDacl(key, nullDacl);
        auto binder = std::make_shared<TestBinder>();
        binder->replaced["InitializeSecurityDescriptor"] =
            reinterpret_cast<void*>(&CheckedInitializeSecurityDescriptor);
        AdvapiTable table(binder, nullptr);
        g_smallestDescriptorBuffer = ~SIZE_T{0};
        EXPECT_EQ(ERROR_SUCCESS, internal::GrantKeyFullAccessWith(table, key, false));
        EXPECT_GE(g_smallestDescriptorBuffer, static_cast<SIZE_T>(SECURITY_DESCRIPTOR_MIN_LENGTH));
        EXPECT_TRUE(GrantsEveryoneFullAccess(key));
    }
}

// What the grant hands to SetEntriesInAclW.
struct GrantSeen {
    PACL oldAcl = reinterpret_cast<PACL>(1);
    EXPLICIT_ACCESS_W entry{};
    ULONG count = 0;
    bool everyone = false;
} g_seen;
DWORD WINAPI RecordingSetEntriesInAcl(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl) {
    g_seen.count = count;
    g_seen.entry = entries[0];
    g_seen.oldAcl = oldAcl;
    g_seen.everyone = EqualSid(reinterpret_cast<PSID>(entries[0].Trustee.ptstrName), Everyone());
    return Real<decltype(&::SetEntriesInAclW)>("SetEntriesInAclW")(count, entries, oldAcl, newAcl);
}
// A descriptor without a DACL: the pointer it leaves behind is not a DACL.
BOOL WINAPI NoDaclPresent(PSECURITY_DESCRIPTOR, LPBOOL present, PACL* dacl, LPBOOL defaulted) {
    *present = FALSE;
    *dacl = reinterpret_cast<PACL>(0x10);
    *defaulted = FALSE;
    return TRUE;
}

TEST_F(KeyAccessGrant, GrantEntryIsSetAccessForEveryoneOverTheOldDaclOnlyWhenPresent) {
    HKEY key = OpenAll(kRoot + L"\\entry");
    auto binder = std::make_shared<TestBinder>();
    binder->replaced["SetEntriesInAclW"] = reinterpret_cast<void*>(&RecordingSetEntriesInAcl);
    binder->replaced["GetSecurityDescriptorDacl"] = reinterpret_cast<void*>(&NoDaclPresent);
    AdvapiTable table(binder, nullptr);
    g_seen = GrantSeen{};
    EXPECT_EQ(ERROR_SUCCESS, internal::GrantKeyFullAccessWith(table, key, false));
    EXPECT_EQ(nullptr, g_seen.oldAcl);
    EXPECT_EQ(1u, g_seen.count);
    EXPECT_EQ(2, static_cast<int>(g_seen.entry.grfAccessMode));
    EXPECT_EQ(static_cast<DWORD>(GENERIC_ALL), g_seen.entry.grfAccessPermissions);
    EXPECT_EQ(3u, g_seen.entry.grfInheritance);
    EXPECT_EQ(TRUSTEE_IS_SID, g_seen.entry.Trustee.TrusteeForm);
    EXPECT_EQ(5, static_cast<int>(g_seen.entry.Trustee.TrusteeType));
    EXPECT_TRUE(g_seen.everyone);
    EXPECT_TRUE(GrantsEveryoneFullAccess(key));
}

LONG WINAPI ReportsNoSize(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, LPDWORD size) {
    *size = 0;
    return ERROR_INSUFFICIENT_BUFFER;
}
LONG WINAPI Denied(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, LPDWORD) { return ERROR_ACCESS_DENIED; }
DWORD WINAPI EntriesFail(ULONG, PEXPLICIT_ACCESS_W, PACL, PACL*) { return ERROR_INVALID_ACL; }
BOOL WINAPI SidFailsQuietly(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                            PSID*) {
    SetLastError(ERROR_SUCCESS);
    return FALSE;
}
BOOL WINAPI SidFailsNoMemory(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                             PSID*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}

TEST_F(KeyAccessGrant, FailuresAreReported) {
    struct Case {
        const char* function;
        void* replacement;
        LONG expected;
    };
    const Case cases[] = {
        {"RegGetKeySecurity", reinterpret_cast<void*>(&ReportsNoSize), ERROR_BAD_LENGTH},
        {"RegGetKeySecurity", reinterpret_cast<void*>(&Denied), ERROR_ACCESS_DENIED},
        {"SetEntriesInAclW", reinterpret_cast<void*>(&EntriesFail), ERROR_INVALID_ACL},
        {"AllocateAndInitializeSid", reinterpret_cast<void*>(&SidFailsNoMemory), ERROR_NOT_ENOUGH_MEMORY},
        {"AllocateAndInitializeSid", reinterpret_cast<void*>(&SidFailsQuietly), ERROR_GEN_FAILURE},
    };
    HKEY key = OpenAll(kRoot + L"\\failing");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        auto binder = std::make_shared<TestBinder>();
        binder->replaced[c.function] = c.replacement;
        AdvapiTable table(binder, nullptr);
        EXPECT_EQ(c.expected, internal::GrantKeyFullAccessWith(table, key, false));
    }
    EXPECT_FALSE(GrantsEveryoneFullAccess(key));

    auto unloadable = std::make_shared<TestBinder>();
    unloadable->failLoad = true;
    AdvapiTable failing(unloadable, nullptr);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, internal::GrantKeyFullAccessWith(failing, key, false));
}

TEST_F(KeyAccessGrant, OutsideTheNTFamilyNothingIsDone) {
    HKEY key = OpenAll(kRoot + L"\\old");
    auto binder = std::make_shared<TestBinder>();
    AdvapiTable table(binder, std::make_shared<NotNT>());
    EXPECT_EQ(ERROR_SUCCESS, internal::GrantKeyFullAccessWith(table, key, true));
    EXPECT_EQ(0, binder->loads);
    EXPECT_FALSE(GrantsEveryoneFullAccess(key));
}

}  // namespace
}  // namespace Basalt
