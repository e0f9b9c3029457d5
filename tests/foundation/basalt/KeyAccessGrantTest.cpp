#include "foundation/basalt/KeyAccessGrant.h"

#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/basalt/AdvapiTable.h"
#include "foundation/basalt/RegKey.h"
#include "tests/support/ScratchRegistry.h"

namespace Basalt {
namespace {

using testsupport::ScratchRegistry;

const std::wstring kRoot = L"Software\\WelkinTests\\BasaltGrant";

// The real functions, except the names a test takes away or replaces.
class FakeBinder : public AdvapiBinder {
public:
    HMODULE Load() override {
        ++loads;
        return fail ? nullptr : AdvapiBinder::Load();
    }
    void* Resolve(HMODULE module, const char* name) override {
        resolved.push_back(name);
        if (missing == name) return nullptr;
        if (auto found = replaced.find(name); found != replaced.end()) return found->second;
        return AdvapiBinder::Resolve(module, name);
    }
    void Free(HMODULE module) override {
        ++frees;
        AdvapiBinder::Free(module);
    }

    bool fail = false;
    std::string missing;
    std::map<std::string, void*> replaced;
    std::vector<std::string> resolved;
    int loads = 0;
    int frees = 0;
};

class VersionAnswer : public WinOSVersionAPI {
public:
    explicit VersionAnswer(BOOL answer) : answer_(answer) {}
    BOOL VerifyVersionInfoW(OSVERSIONINFOEXW*, DWORD, DWORDLONG) override { return answer_; }

private:
    BOOL answer_;
};

std::shared_ptr<WinOSVersionAPI> NT() { return std::make_shared<VersionAnswer>(TRUE); }

TEST(AdvapiTableTest, LoadsOnceAndResolvesEveryNameInOrder) {
    auto binder = std::make_shared<FakeBinder>();
    {
        AdvapiTable table(binder, nullptr);
        EXPECT_TRUE(table.IsNTPlatform());
        EXPECT_TRUE(table.Load());
        EXPECT_TRUE(table.Load());
        EXPECT_EQ(1, binder->loads);
        ASSERT_EQ(26u, binder->resolved.size());
        EXPECT_EQ("SetEntriesInAclW", binder->resolved.front());
        EXPECT_EQ("RegGetKeySecurity", binder->resolved[5]);
        EXPECT_EQ("QueryServiceStatusEx", binder->resolved[20]);
        EXPECT_EQ("SetSecurityDescriptorControl", binder->resolved.back());
        EXPECT_EQ(26u, std::set<std::string>(binder->resolved.begin(), binder->resolved.end()).size());
    }
    EXPECT_EQ(1, binder->frees);
}

TEST(AdvapiTableTest, OneMissingExportOrNoModuleFailsTheLoad) {
    for (const char* name : {"SetEntriesInAclW", "EqualSid", "SetSecurityDescriptorControl"}) {
        SCOPED_TRACE(name);
        auto binder = std::make_shared<FakeBinder>();
        binder->missing = name;
        AdvapiTable table(binder, NT());
        EXPECT_FALSE(table.Load());
        EXPECT_FALSE(table.Load());
        EXPECT_EQ(1, binder->loads);
        EXPECT_EQ(26u, binder->resolved.size());
    }
    auto binder = std::make_shared<FakeBinder>();
    binder->fail = true;
    AdvapiTable table(binder, NT());
    EXPECT_FALSE(table.Load());
    EXPECT_EQ(nullptr, table.FreeSid(reinterpret_cast<PSID>(1)));  // nothing bound: nothing called
    EXPECT_EQ(0, binder->frees);

    // The grant reports 2 when the table does not load.
    ScratchRegistry scratch;
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot);
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_ALL_ACCESS));
    auto failing = std::make_shared<FakeBinder>();
    failing->missing = "GetAce";
    AdvapiTable broken(failing, NT());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, internal::GrantKeyFullAccessWith(broken, key.Key(), false));
}

TEST(AdvapiTableTest, OutsideTheNTFamilyNothingIsCalledAndTheGrantDoesNothing) {
    auto binder = std::make_shared<FakeBinder>();
    AdvapiTable table(binder, std::make_shared<VersionAnswer>(FALSE));
    EXPECT_FALSE(table.IsNTPlatform());
    EXPECT_TRUE(table.Load());
    BOOL present = TRUE;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    SECURITY_DESCRIPTOR descriptor{};
    EXPECT_EQ(FALSE, table.InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_EQ(FALSE, table.GetSecurityDescriptorDacl(&descriptor, &present, &dacl, &defaulted));
    EXPECT_EQ(0, table.RegGetKeySecurity(HKEY_LOCAL_MACHINE, DACL_SECURITY_INFORMATION, nullptr, nullptr));
    const SECURITY_DESCRIPTOR untouched{};
    EXPECT_EQ(0, std::memcmp(&descriptor, &untouched, sizeof descriptor));

    auto unusedBinder = std::make_shared<FakeBinder>();
    AdvapiTable notNT(unusedBinder, std::make_shared<VersionAnswer>(FALSE));
    EXPECT_EQ(ERROR_SUCCESS, internal::GrantKeyFullAccessWith(notNT, HKEY_LOCAL_MACHINE, true));
    EXPECT_EQ(0, unusedBinder->loads);
}

// --- the grant through stand-in security functions ---

struct GrantProbe {
    DWORD reportedSize = 0;
    std::vector<SIZE_T> initializedSizes;  // LocalSize of each descriptor initialised
    bool daclPresent = true;
    bool sawOldDacl = false;
    PACL oldDacl = reinterpret_cast<PACL>(1);
    EXPLICIT_ACCESS_W grant{};
    std::wstring grantSid;
};
GrantProbe probe;

LONG WINAPI FakeRegGetKeySecurity(HKEY key, SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor,
                                  LPDWORD size) {
    if (!descriptor) {
        *size = probe.reportedSize;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    // What a key without entries would give: a bare self-relative descriptor.
    if (*size < probe.reportedSize) return ERROR_INSUFFICIENT_BUFFER;
    (void)key;
    (void)information;
    return ERROR_SUCCESS;
}

BOOL WINAPI FakeInitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
    probe.initializedSizes.push_back(LocalSize(descriptor));
    return InitializeSecurityDescriptor(descriptor, revision);
}

BOOL WINAPI FakeGetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR, LPBOOL present, PACL* dacl, LPBOOL defaulted) {
    *present = probe.daclPresent ? TRUE : FALSE;
    *defaulted = FALSE;
    // A descriptor without a DACL leaves the pointer as it was; with one, an empty ACL stands in.
    static ACL empty = [] {
        ACL acl{};
        InitializeAcl(&acl, sizeof acl, ACL_REVISION);
        return acl;
    }();
    if (probe.daclPresent) *dacl = &empty;
    return TRUE;
}

DWORD WINAPI FakeSetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl) {
    probe.sawOldDacl = true;
    probe.oldDacl = oldAcl;
    if (count == 1) {
        probe.grant = entries[0];
        wchar_t* text = nullptr;
        if (ConvertSidToStringSidW(static_cast<PSID>(entries[0].Trustee.ptstrName), &text)) {
            probe.grantSid = text;
            LocalFree(text);
        }
    }
    return SetEntriesInAclW(count, entries, oldAcl, newAcl);
}

LONG WINAPI FakeRegSetKeySecurity(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR) { return ERROR_SUCCESS; }

std::shared_ptr<FakeBinder> StandInBinder() {
    auto binder = std::make_shared<FakeBinder>();
    binder->replaced["RegGetKeySecurity"] = reinterpret_cast<void*>(&FakeRegGetKeySecurity);
    binder->replaced["InitializeSecurityDescriptor"] = reinterpret_cast<void*>(&FakeInitializeSecurityDescriptor);
    binder->replaced["GetSecurityDescriptorDacl"] = reinterpret_cast<void*>(&FakeGetSecurityDescriptorDacl);
    binder->replaced["SetEntriesInAclW"] = reinterpret_cast<void*>(&FakeSetEntriesInAclW);
    binder->replaced["RegSetKeySecurity"] = reinterpret_cast<void*>(&FakeRegSetKeySecurity);
    return binder;
}

TEST(KeyAccessGrantTest, SmallDescriptorsGetAFullSizedBufferAndAnAbsentDaclIsNotPassedOn) {
    struct Case {
        DWORD reportedSize;
        bool daclPresent;
    };
    for (const Case c : {Case{20, false}, Case{28, true}, Case{20, true}, Case{200, false}}) {
        SCOPED_TRACE(testing::Message() << c.reportedSize << (c.daclPresent ? " present" : " absent"));
        probe = GrantProbe{};
        probe.reportedSize = c.reportedSize;
        probe.daclPresent = c.daclPresent;
        AdvapiTable table(StandInBinder(), NT());
        EXPECT_EQ(ERROR_SUCCESS, internal::GrantKeyFullAccessWith(table, HKEY_LOCAL_MACHINE, false));
        ASSERT_EQ(2u, probe.initializedSizes.size());
        for (SIZE_T size : probe.initializedSizes) EXPECT_GE(size, SIZE_T{SECURITY_DESCRIPTOR_MIN_LENGTH});
        ASSERT_TRUE(probe.sawOldDacl);
        if (c.daclPresent)
            EXPECT_NE(nullptr, probe.oldDacl);
        else
            EXPECT_EQ(nullptr, probe.oldDacl);
        EXPECT_EQ(2, static_cast<int>(probe.grant.grfAccessMode));
        EXPECT_EQ(static_cast<DWORD>(GENERIC_ALL), probe.grant.grfAccessPermissions);
        EXPECT_EQ(3u, probe.grant.grfInheritance);
        EXPECT_EQ(TRUSTEE_IS_SID, probe.grant.Trustee.TrusteeForm);
        EXPECT_EQ(TRUSTEE_IS_WELL_KNOWN_GROUP, probe.grant.Trustee.TrusteeType);
        EXPECT_EQ(L"S-1-1-0", probe.grantSid);
    }
}

TEST(KeyAccessGrantTest, AnEmptyDescriptorIsRefused) {
    probe = GrantProbe{};
    probe.reportedSize = 0;
    AdvapiTable table(StandInBinder(), NT());
    EXPECT_EQ(ERROR_BAD_LENGTH, internal::GrantKeyFullAccessWith(table, HKEY_LOCAL_MACHINE, false));
    EXPECT_FALSE(probe.sawOldDacl);
}

// --- the grant on real keys ---

// Everyone's allowed access mask in the key's DACL; -1 without such an entry, -2 when the DACL cannot be read.
long long EveryoneAccess(HKEY root, const std::wstring& path, bool& daclPresent) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS) return -2;
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> buffer(size + SECURITY_DESCRIPTOR_MIN_LENGTH);
    size = static_cast<DWORD>(buffer.size());
    const LONG got = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.data(), &size);
    RegCloseKey(key);
    if (got != ERROR_SUCCESS) return -2;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted);
    daclPresent = present && dacl;
    if (!daclPresent) return -1;
    PSID everyone = nullptr;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    long long access = -1;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&allowed->SidStart, everyone))
            access = allowed->Mask;
    }
    FreeSid(everyone);
    return access;
}

void SetDacl(HKEY key, PACL dacl) {
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor));
}

void SetDacl(const std::wstring& path, PACL dacl) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key));
    SetDacl(key, dacl);
    RegCloseKey(key);
}

// Keys whose descriptors are smaller than an initialised one (an empty DACL, a NULL DACL) are granted to in place.
TEST(KeyAccessGrantTest, RecursiveGrantReachesEmptyAndNullDaclKeys) {
    ScratchRegistry scratch;
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot + L"\\tree\\nullDacl\\below");
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot + L"\\tree\\locked");
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot + L"\\alone\\child");
    ACL empty;
    ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
    SetDacl(kRoot + L"\\tree\\nullDacl", nullptr);
    SetDacl(kRoot + L"\\tree\\locked", &empty);

    // The held handle keeps its full access after its own DACL was emptied.
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, (kRoot + L"\\tree").c_str(), KEY_ALL_ACCESS));
    SetDacl(key.Key(), &empty);
    ASSERT_EQ(ERROR_SUCCESS, key.GrantKeyFullAccess(true));
    for (const wchar_t* path : {L"\\tree", L"\\tree\\nullDacl", L"\\tree\\nullDacl\\below"}) {
        SCOPED_TRACE(path);
        bool present = false;
        EXPECT_EQ(static_cast<long long>(GENERIC_ALL), EveryoneAccess(HKEY_LOCAL_MACHINE, kRoot + path, present));
        EXPECT_TRUE(present);
    }
    // A child that does not open for full access is passed over.
    bool present = false;
    EXPECT_EQ(-1, EveryoneAccess(HKEY_LOCAL_MACHINE, kRoot + L"\\tree\\locked", present));
    SetDacl(kRoot + L"\\tree\\locked", nullptr);  // so that the wipe can remove it

    // Without recurse only the key itself.
    CRegKey alone;
    ASSERT_EQ(ERROR_SUCCESS, alone.Open(HKEY_LOCAL_MACHINE, (kRoot + L"\\alone").c_str(), KEY_ALL_ACCESS));
    const long long childBefore = EveryoneAccess(HKEY_LOCAL_MACHINE, kRoot + L"\\alone\\child", present);
    ASSERT_EQ(ERROR_SUCCESS, alone.GrantKeyFullAccess(false));
    EXPECT_EQ(static_cast<long long>(GENERIC_ALL), EveryoneAccess(HKEY_LOCAL_MACHINE, kRoot + L"\\alone", present));
    EXPECT_EQ(childBefore, EveryoneAccess(HKEY_LOCAL_MACHINE, kRoot + L"\\alone\\child", present));
}

}  // namespace
}  // namespace Basalt
