#include "foundation/basalt/RegKeySecurityWalk.h"

#include "tests/support/ScratchRegistry.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ScratchRegistry;

const std::wstring kRoot = L"Software\\WelkinTests\\Walk";

// A stand-in for RegSetKeySecurity: records each key it is given by the key's "id" value and fails on request.
std::vector<std::string> g_visited;
std::string g_failOn;
constexpr LONG kFailure = ERROR_ACCESS_DENIED;

LONG WINAPI RecordingSetter(HKEY key, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR) {
    char id[32] = {};
    DWORD size = sizeof id - 1;
    RegQueryValueExA(key, "id", nullptr, nullptr, reinterpret_cast<BYTE*>(id), &size);
    g_visited.push_back(id);
    return g_visited.back() == g_failOn ? kFailure : ERROR_SUCCESS;
}

class RegKeySecurityWalk : public ::testing::Test {
protected:
    void SetUp() override {
        g_visited.clear();
        g_failOn.clear();
        for (const wchar_t* path : {L"", L"\\a", L"\\a\\x", L"\\a\\y", L"\\b"}) {
            const std::wstring key = kRoot + path;
            const std::wstring id = *path ? std::wstring(path + 1) : L"root";
            registry_.SetString(HKEY_LOCAL_MACHINE, key, L"id", id);
        }
        ASSERT_EQ(0, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRoot.c_str(), 0, KEY_ALL_ACCESS, &key_));
    }
    void TearDown() override { RegCloseKey(key_); }

    DWORD Walk(bool descend, KeySecurityFunctions table = {RecordingSetter, true}) {
        return EnumRegKeysRecursive(table, key_, DACL_SECURITY_INFORMATION, nullptr, descend);
    }

    ScratchRegistry registry_;
    HKEY key_ = nullptr;
};

TEST_F(RegKeySecurityWalk, KeyBeforeItsSubkeysDepthFirst) {
    EXPECT_EQ(0u, Walk(true));
    EXPECT_EQ((std::vector<std::string>{"root", "a", "a\\x", "a\\y", "b"}), g_visited);
}

TEST_F(RegKeySecurityWalk, WithoutDescendOnlyTheKey) {
    EXPECT_EQ(0u, Walk(false));
    EXPECT_EQ((std::vector<std::string>{"root"}), g_visited);
}

TEST_F(RegKeySecurityWalk, FirstFailureEndsTheWalk) {
    g_failOn = "a\\x";
    EXPECT_EQ(static_cast<DWORD>(kFailure), Walk(true));
    EXPECT_EQ((std::vector<std::string>{"root", "a", "a\\x"}), g_visited);
    g_visited.clear();
    g_failOn = "root";
    EXPECT_EQ(static_cast<DWORD>(kFailure), Walk(true));
    EXPECT_EQ((std::vector<std::string>{"root"}), g_visited);
}

TEST_F(RegKeySecurityWalk, TableWithoutTheFunctionGivesOne) {
    EXPECT_EQ(1u, Walk(true, {RecordingSetter, false}));
    EXPECT_EQ(1u, Walk(true, {nullptr, true}));
    EXPECT_TRUE(g_visited.empty());
}

TEST_F(RegKeySecurityWalk, AppliesARealDescriptorToTheTree) {
    // A DACL that grants Everyone full access, set through the system's own function.
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    BYTE aclBuffer[256];
    auto* acl = reinterpret_cast<PACL>(aclBuffer);
    ASSERT_TRUE(InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION));
    ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone));
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));

    EXPECT_EQ(0u, EnumRegKeysRecursive({RegSetKeySecurity, true}, key_, DACL_SECURITY_INFORMATION, &descriptor,
                                       true));

    HKEY leaf = nullptr;
    ASSERT_EQ(0, RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kRoot + L"\\a\\y").c_str(), 0, KEY_READ, &leaf));
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR stored = nullptr;
    ASSERT_EQ(0u, GetSecurityInfo(leaf, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                  &stored));
    ASSERT_NE(nullptr, dacl);
    ASSERT_EQ(1, dacl->AceCount);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, 0, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType);
    EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_ALL_ACCESS), allowed->Mask);
    EXPECT_TRUE(EqualSid(&allowed->SidStart, everyone));
    LocalFree(stored);
    RegCloseKey(leaf);
    FreeSid(everyone);
}

}  // namespace
