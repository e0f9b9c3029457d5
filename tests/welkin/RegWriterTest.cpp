// The registry writer: the empty-string refusal, views and records, and the DACL repair of flags 2 and 4 (checked in
// this process: Wine forgets key security when its server exits).
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/basalt/RegValueCodec.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/ScratchRegistry.h"
#include "welkin/QzRegWriter.h"

namespace {

using testsupport::RegView;
using testsupport::ScratchRegistry;

constexpr wchar_t kBase[] = L"Software\\WelkinTests\\Writer";
constexpr wchar_t kEveryone[] = L"S-1-1-0";
constexpr wchar_t kUsers[] = L"S-1-5-32-545";
constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";
constexpr wchar_t kPowerUsers[] = L"S-1-5-32-547";

std::wstring Path(const std::wstring& relative) { return std::wstring(kBase) + L"\\" + relative; }

struct Ace {
    std::wstring sid;
    DWORD mask;
    BYTE flags;
};

class OpenKey {
public:
    explicit OpenKey(const std::wstring& path, REGSAM access = KEY_ALL_ACCESS) {
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key_)) << path;
    }
    ~OpenKey() {
        if (key_) RegCloseKey(key_);
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// The allowed entries of the key's DACL; `nullDacl` tells a NULL DACL from an empty one.
std::vector<Ace> DaclOf(const std::wstring& path, bool* nullDacl = nullptr) {
    OpenKey key(path, READ_CONTROL);
    DWORD size = 0;
    RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> buffer(size + SECURITY_DESCRIPTOR_MIN_LENGTH);
    size = static_cast<DWORD>(buffer.size());
    EXPECT_EQ(ERROR_SUCCESS, RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, buffer.data(), &size));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    EXPECT_TRUE(GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted));
    if (nullDacl) *nullDacl = present && dacl == nullptr;
    std::vector<Ace> aces;
    for (DWORD i = 0; present && dacl && i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!GetAce(dacl, i, &raw)) continue;
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        wchar_t* text = nullptr;
        ConvertSidToStringSidW(&ace->SidStart, &text);
        aces.push_back({text ? text : L"", ace->Mask, ace->Header.AceFlags});
        LocalFree(text);
    }
    return aces;
}

const Ace* Find(const std::vector<Ace>& aces, const wchar_t* sid) {
    for (const Ace& ace : aces)
        if (ace.sid == sid) return &ace;
    return nullptr;
}

bool GrantsEveryoneAll(const std::vector<Ace>& aces) {
    const Ace* everyone = Find(aces, kEveryone);
    const BYTE inherit = CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE;
    return everyone && (everyone->mask & GENERIC_ALL) && (everyone->flags & inherit) == inherit;
}

struct Grant {
    const wchar_t* sid;
    DWORD mask;
};

// Gives the open key a DACL of the grants, or a NULL DACL (`null`), or an empty one (no grants).
void SetDacl(HKEY key, const std::vector<Grant>& grants, bool null = false) {
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    std::vector<EXPLICIT_ACCESS_W> entries;
    std::vector<PSID> sids;
    for (const Grant& grant : grants) {
        PSID sid = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidW(grant.sid, &sid));
        sids.push_back(sid);
        EXPLICIT_ACCESS_W entry = {};
        entry.grfAccessPermissions = grant.mask;
        entry.grfAccessMode = SET_ACCESS;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
        entries.push_back(entry);
    }
    BYTE empty[sizeof(ACL)];
    PACL acl = nullptr;
    if (!grants.empty()) {
        ASSERT_EQ(ERROR_SUCCESS, SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), nullptr, &acl));
    } else if (!null) {
        ASSERT_TRUE(InitializeAcl(reinterpret_cast<PACL>(empty), sizeof empty, ACL_REVISION));
    }
    PACL dacl = acl ? acl : (null ? nullptr : reinterpret_cast<PACL>(empty));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor));
    if (acl) LocalFree(acl);
    for (PSID sid : sids) LocalFree(sid);
}

void SetDacl(const std::wstring& path, const std::vector<Grant>& grants, bool null = false) {
    OpenKey key(path);
    SetDacl(key.get(), grants, null);
}

// The value as the ANSI registry call stores it.
std::vector<BYTE> AnsiValue(const std::wstring& path, const char* name, DWORD& type) {
    OpenKey key(path, KEY_READ);
    BYTE data[64] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), name, nullptr, &type, data, &size));
    return std::vector<BYTE>(data, data + size);
}

DWORD WriteDword(const std::wstring& path, DWORD flags, DWORD value = 7) {
    return QzRegWriteValueExW(HKEY_LOCAL_MACHINE, path.c_str(), L"Number", REG_DWORD,
                              reinterpret_cast<const BYTE*>(&value), sizeof value, flags);
}

class RegWriterTest : public testsupport::LoggingFixture {
protected:
    void TearDown() override {
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kBase, RegView::Wow32);
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kBase, RegView::Wow64);
        LoggingFixture::TearDown();
    }
};

TEST_F(RegWriterTest, EmptyStringIsRefusedByTheCheckingWriterAndWrittenByTheRawOne) {
    const std::wstring path = Path(L"Strings");
    for (const BYTE* data : {reinterpret_cast<const BYTE*>(L""), static_cast<const BYTE*>(nullptr)}) {
        journal.entries.clear();
        EXPECT_EQ(kQzRegRefusedEmptyString,
                  QzRegWriteValueExW(HKEY_LOCAL_MACHINE, path.c_str(), L"Label", REG_SZ, data, 2, 0));
        EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, path));
        ASSERT_EQ(1u, journal.entries.size());
        const testsupport::Entry& line = journal.entries[0];
        EXPECT_EQ(static_cast<DWORD>(ETWLogging::kSeverityNormal), line.severity);
        EXPECT_EQ(L"QzRegWriteValueExW", line.function);
        EXPECT_EQ(41u, line.line);
        EXPECT_EQ(L"QzRegWriteValueExW : cannot write NULL string to registry alue for Label  is null", line.message);

        // The raw writer stores both as "" (a null pointer was written as no data at all before).
        ASSERT_EQ(ERROR_SUCCESS, QzRegWriteValueExWImpl(HKEY_LOCAL_MACHINE, path.c_str(), L"Label", REG_SZ, data, 2, 0));
        DWORD type = 0;
        EXPECT_EQ(std::vector<BYTE>{0}, AnsiValue(path, "Label", type));
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, path);
    }
}

TEST_F(RegWriterTest, CreatesMissingKeysAndWritesTheDefaultValueAsAnsiText) {
    const std::wstring path = Path(L"A\\B\\C");
    const wchar_t text[] = L"abc";
    ASSERT_EQ(ERROR_SUCCESS, QzRegWriteValueExW(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, REG_SZ,
                                                reinterpret_cast<const BYTE*>(text), 2, 0));
    DWORD type = 0;
    EXPECT_EQ((std::vector<BYTE>{'a', 'b', 'c', 0}), AnsiValue(path, nullptr, type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(RegWriterTest, ViewFlagsChooseTheRegistryView) {
    struct Case {
        DWORD flags;
        bool in32;
        bool in64;
    } cases[] = {{kQzRegView32, true, false}, {kQzRegView64, false, true}, {kQzRegView32 | kQzRegView64, true, false}};
    for (const Case& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, WriteDword(kBase, c.flags));
        DWORD type = 0;
        std::vector<BYTE> stored;
        EXPECT_EQ(c.in32, ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kBase, L"Number", type, stored, RegView::Wow32))
            << c.flags;
        EXPECT_EQ(c.in64, ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kBase, L"Number", type, stored, RegView::Wow64))
            << c.flags;
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kBase, RegView::Wow32);
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kBase, RegView::Wow64);
    }
}

TEST_F(RegWriterTest, RecordFlagStoresARecordThatReadsBack) {
    ASSERT_EQ(ERROR_SUCCESS, WriteDword(kBase, kQzRegRecord, 0x1234));
    DWORD type = 0;
    std::vector<BYTE> stored;
    ASSERT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kBase, L"Number", type, stored));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(ERROR_SUCCESS, QzRegReadValueExW(HKEY_LOCAL_MACHINE, kBase, L"Number", &type,
                                               reinterpret_cast<BYTE*>(&value), &size, kQzRegRecord));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(0x1234u, value);
}

// An existing key with one child and one grandchild, each with a DACL of its own.
class KeyRepairTest : public RegWriterTest {
protected:
    void SetUp() override {
        RegWriterTest::SetUp();
        registry_.Create(HKEY_LOCAL_MACHINE, child_);
        registry_.Create(HKEY_LOCAL_MACHINE, grandchild_);
        SetDacl(top_, {{kAdministrators, KEY_ALL_ACCESS}, {kUsers, KEY_READ}});
        SetDacl(child_, {{kAdministrators, KEY_ALL_ACCESS}, {kPowerUsers, KEY_READ}});
        SetDacl(grandchild_, {{kAdministrators, KEY_ALL_ACCESS}, {kPowerUsers, KEY_READ}});
    }

    ScratchRegistry registry_;
    std::wstring top_ = Path(L"Top");
    std::wstring child_ = Path(L"Top\\Child");
    std::wstring grandchild_ = Path(L"Top\\Child\\Grandchild");
};

TEST_F(KeyRepairTest, NewKeyFlagLeavesAnExistingKeyAlone) {
    ASSERT_EQ(ERROR_SUCCESS, WriteDword(top_, kQzRegRepairNewKey));
    const std::vector<Ace> aces = DaclOf(top_);
    EXPECT_FALSE(Find(aces, kEveryone));
    EXPECT_TRUE(Find(aces, kUsers));
}

TEST_F(KeyRepairTest, AlwaysFlagRepairsAnExistingKeyAndItsWholeSubtree) {
    ASSERT_EQ(ERROR_SUCCESS, WriteDword(top_, kQzRegRepairAlways));
    for (const std::wstring& path : {top_, child_, grandchild_}) {
        const std::vector<Ace> aces = DaclOf(path);
        EXPECT_TRUE(GrantsEveryoneAll(aces)) << path;
        // The top key's entries are kept, and its descriptor is what every subkey gets.
        EXPECT_TRUE(Find(aces, kUsers)) << path;
        EXPECT_FALSE(Find(aces, kPowerUsers)) << path;
    }
}

TEST_F(KeyRepairTest, NewKeyFlagRepairsTheKeyItCreatedOnly) {
    const std::wstring fresh = child_ + L"\\Fresh";
    ASSERT_EQ(ERROR_SUCCESS, WriteDword(fresh, kQzRegRepairNewKey));
    EXPECT_TRUE(GrantsEveryoneAll(DaclOf(fresh)));
    EXPECT_FALSE(Find(DaclOf(child_), kEveryone));
    // Written a second time, the key exists: nothing more is repaired.
    SetDacl(fresh, {{kAdministrators, KEY_ALL_ACCESS}});
    ASSERT_EQ(ERROR_SUCCESS, WriteDword(fresh, kQzRegRepairNewKey));
    EXPECT_FALSE(Find(DaclOf(fresh), kEveryone));
}

// A NULL or empty DACL makes the key report a descriptor shorter than the one the repair initialises.
TEST_F(KeyRepairTest, KeyWithANullDaclIsRepairedAndWritten) {
    SetDacl(top_, {}, true);
    bool nullDacl = false;
    DaclOf(top_, &nullDacl);
    ASSERT_TRUE(nullDacl);
    ASSERT_EQ(ERROR_SUCCESS, WriteDword(top_, kQzRegRepairAlways, 9));
    EXPECT_TRUE(GrantsEveryoneAll(DaclOf(top_)));
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(ERROR_SUCCESS, QzRegReadValueExW(HKEY_LOCAL_MACHINE, top_.c_str(), L"Number", nullptr,
                                               reinterpret_cast<BYTE*>(&value), &size, 0));
    EXPECT_EQ(9u, value);
}

// Hands out the system's functions, with InitializeSecurityDescriptor measuring the buffer it is given.
SIZE_T smallestDescriptorBuffer = 0;
BOOL WINAPI MeasuringInitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
    const SIZE_T size = LocalSize(descriptor);
    if (smallestDescriptorBuffer == 0 || size < smallestDescriptorBuffer) smallestDescriptorBuffer = size;
    return InitializeSecurityDescriptor(descriptor, revision);
}

class MeasuringBinder : public Basalt::AdvapiBinder {
public:
    void* Resolve(HMODULE module, const char* name) override {
        if (std::string(name) == "InitializeSecurityDescriptor")
            return reinterpret_cast<void*>(&MeasuringInitializeSecurityDescriptor);
        return AdvapiBinder::Resolve(module, name);
    }
};

// An empty DACL shuts every new opener out; a key opened before can still be repaired. Its descriptor is shorter
// than the one initialised into the buffer that holds it.
TEST_F(KeyRepairTest, KeyWithAnEmptyDaclIsRepaired) {
    Basalt::RegKeyHolder key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, "Software\\WelkinTests\\Writer\\Top", KEY_ALL_ACCESS));
    SetDacl(key.Key(), {});
    smallestDescriptorBuffer = 0;
    EXPECT_EQ(ERROR_SUCCESS, QzRegFixKeySecurity(key, false, std::make_shared<MeasuringBinder>()));
    EXPECT_GE(smallestDescriptorBuffer, static_cast<SIZE_T>(SECURITY_DESCRIPTOR_MIN_LENGTH));
    const std::vector<Ace> aces = DaclOf(top_);
    EXPECT_TRUE(GrantsEveryoneAll(aces));
    EXPECT_EQ(1u, aces.size());
}

// Resolves every security function but one.
class BinderWithout : public Basalt::AdvapiBinder {
public:
    explicit BinderWithout(const char* missing) : missing_(missing) {}
    void* Resolve(HMODULE module, const char* name) override {
        return std::string(name) == missing_ ? nullptr : AdvapiBinder::Resolve(module, name);
    }

private:
    std::string missing_;
};

TEST_F(KeyRepairTest, RepairNeedsAnOpenKeyAndEveryFunction) {
    Basalt::RegKeyHolder closed;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), QzRegFixKeySecurity(closed, false));

    Basalt::RegKeyHolder key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, "Software\\WelkinTests\\Writer\\Top", KEY_ALL_ACCESS));
    // One function that the repair does not even call still makes the table unusable.
    for (const char* missing : {"RegSetKeySecurity", "GetAclInformation"}) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
                  QzRegFixKeySecurity(key, true, std::make_shared<BinderWithout>(missing)))
            << missing;
    }
    EXPECT_FALSE(Find(DaclOf(top_), kEveryone));
    EXPECT_EQ(ERROR_SUCCESS, QzRegFixKeySecurity(key, false));
    EXPECT_TRUE(GrantsEveryoneAll(DaclOf(top_)));
    EXPECT_FALSE(Find(DaclOf(child_), kEveryone));
}

// A SID allocation that fails without a last error, as a stand-in function of the table.
BOOL WINAPI SilentlyFailingAllocateSid(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                       DWORD, DWORD, PSID*) {
    SetLastError(ERROR_SUCCESS);
    return FALSE;
}

class SilentSidBinder : public Basalt::AdvapiBinder {
public:
    void* Resolve(HMODULE module, const char* name) override {
        if (std::string(name) == "AllocateAndInitializeSid") return reinterpret_cast<void*>(&SilentlyFailingAllocateSid);
        return AdvapiBinder::Resolve(module, name);
    }
};

TEST(BuildGrantAccessAclTest, RefusesMissingOutputsAndNeverHandsOutAFailure) {
    CAdvapiFunctions functions;
    ASSERT_TRUE(functions.Load());
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID sid = nullptr;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              BuildGrantAccessAcl(functions, nullptr, nullptr, &descriptor, &sid, GENERIC_ALL));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              BuildGrantAccessAcl(functions, nullptr, &acl, nullptr, &sid, GENERIC_ALL));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              BuildGrantAccessAcl(functions, nullptr, &acl, &descriptor, nullptr, GENERIC_ALL));

    // A failure that leaves no last error is still a failure, with nothing handed out.
    CAdvapiFunctions silent(std::make_shared<SilentSidBinder>());
    ASSERT_TRUE(silent.Load());
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), BuildGrantAccessAcl(silent, nullptr, &acl, &descriptor, &sid, GENERIC_ALL));
    EXPECT_EQ(nullptr, acl);
    EXPECT_EQ(nullptr, descriptor);
    EXPECT_EQ(nullptr, sid);
}

}  // namespace
