// The service-host configuration store and the registry enumeration helper, on scratch keys of this prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/RecordingLogger.h"
#include "tests/support/ScratchRegistry.h"
#include "welkin/QzConfigStore.h"
#include "welkin/QzRegEnum.h"

namespace {

using testsupport::ScratchRegistry;

constexpr wchar_t kMain[] = L"SOFTWARE\\Torvex\\Platform\\QzSvcHost";

std::wstring Group(const std::wstring& name) { return std::wstring(kMain) + L"\\" + name; }

std::list<std::wstring> ServiceList(const CQzConfigStore& store) {
    std::list<std::wstring> services{L"left over"};
    EXPECT_EQ(0u, store.getServiceList(services));
    return services;
}

class ConfigStoreTest : public testsupport::LoggingFixture {
protected:
    void TearDown() override {
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex");
        LoggingFixture::TearDown();
    }
    void SetGroup(const std::wstring& name, const std::wstring& list) {
        registry_.SetString(HKEY_LOCAL_MACHINE, Group(name), nullptr, list);
    }
    bool Logged(const std::wstring& text) {
        for (const testsupport::Entry& entry : journal.entries)
            if (entry.message == text) return true;
        return false;
    }

    ScratchRegistry registry_;
};

TEST_F(ConfigStoreTest, GroupsAndTheirServicesInNameOrderLowerCased) {
    SetGroup(L"B", L"Zed;alpha;Svc1");
    SetGroup(L"a", L";;Svc1;;SVC2;");
    SetGroup(L"c", L"only");  // a list without separator is one service
    registry_.SetString(HKEY_LOCAL_MACHINE, Group(L"a"), L"SVC1", L"First Text");
    registry_.SetString(HKEY_LOCAL_MACHINE, Group(L"B"), L"svc1", L"second");
    registry_.SetString(HKEY_LOCAL_MACHINE, Group(L"B"), L"unlisted", L"ignored");
    registry_.SetDword(HKEY_LOCAL_MACHINE, Group(L"B"), L"PXSOptimalBucketUpperLimit", 7);  // no service of its name

    const CQzConfigStore store(true);
    EXPECT_EQ((std::list<std::wstring>{L"svc1", L"svc2", L"alpha", L"svc1", L"zed", L"only"}), ServiceList(store));
    // The merged map keeps the first group's text of a service that two groups list.
    const CQzConfigStore::ServiceMap expected{
        {L"alpha", L""}, {L"only", L""}, {L"svc1", L"first text"}, {L"svc2", L""}, {L"zed", L""}};
    EXPECT_EQ(expected, store.serviceMap());
    EXPECT_TRUE(Logged(L"The number of groups in the group list ....:3"));
}

TEST_F(ConfigStoreTest, ServiceListSplitsAtEverySeparatorAndSkipsEmptyPieces) {
    struct Case {
        const wchar_t* list;
        std::vector<std::wstring> names;
    };
    const Case cases[] = {{L"", {}},          {L";;;", {}},      {L"one", {L"one"}},
                          {L";a;;b;", {L"a", L"b"}}, {L"a; b", {L"a", L" b"}}, {L"a;a", {L"a", L"a"}}};
    for (const Case& c : cases) EXPECT_EQ(c.names, SplitServiceList(c.list)) << c.list;
}

TEST_F(ConfigStoreTest, WorkingSetValuesAreClampedOrDefaulted) {
    registry_.SetDword(HKEY_LOCAL_MACHINE, kMain, L"PXSCpuLimit", 11);              // above its range
    registry_.SetDword(HKEY_LOCAL_MACHINE, kMain, L"PXSCpuInterval", 10000);        // the upper bound is kept
    registry_.SetString(HKEY_LOCAL_MACHINE, kMain, L"PXSTimerBase", L"700000");     // not a DWORD
    registry_.SetDword(HKEY_LOCAL_MACHINE, kMain, L"PXSRandomizationRange", 300000);  // the lower bound is kept
    registry_.SetDword(HKEY_LOCAL_MACHINE, kMain, L"PXSlimitFactor", 0);
    registry_.SetDword(HKEY_LOCAL_MACHINE, kMain, L"PXSOptiamlOccuranceCount", 2);   // below its range
    registry_.SetDword(HKEY_LOCAL_MACHINE, kMain, L"PXSProcessorIdleWaitTime", 300001);
    registry_.SetString(HKEY_LOCAL_MACHINE, kMain, L"InstallDir", L"C:\\Program Files\\Torvex");

    const CQzConfigStore store(true);
    const CQzConfigStore::WorkingSet& ws = store.workingSet();
    EXPECT_EQ(5u, ws.cpuLimit);
    EXPECT_EQ(10000u, ws.cpuInterval);
    EXPECT_EQ(600000u, ws.timerBase);
    EXPECT_EQ(300000u, ws.randomizationRange);
    EXPECT_EQ(0u, ws.limitFactor);
    EXPECT_EQ(3u, ws.optimalOccuranceCount);
    EXPECT_EQ(60000u, ws.processorIdleWaitTime);
    EXPECT_EQ(0x500000u, ws.bucketRange);
    EXPECT_TRUE(store.pxsEnabled());
    EXPECT_EQ(L"c:\\program files\\torvex", store.installDir());
    EXPECT_TRUE(Logged(L"Failed to read reg value....Name:PXSTimerBase"));
    EXPECT_TRUE(Logged(L"Failed to read PXSEnable reg value...."));
    EXPECT_TRUE(Logged(L"Failed to read Bucket range reg value...."));
    EXPECT_FALSE(Logged(L"Failed to read reg value....Name:PXSCpuLimit"));  // read, only out of range
    EXPECT_TRUE(Logged(L"Working set configuration values : PXSEnable=1, PXSTimerBase=600000, PXSCpuLimit=5, "
                       L"PXSCpuInterval=10000, m_dwWsRandomizationRange=300000, m_dwLimitFactor=0, "
                       L"m_dwOptimalBucketUpperLimit=0, m_dwWsBucketRange=5242880, m_dwOptimalOccuranceCount=3, "
                       L"m_dwProcessIdleWaitTime=60000"));

    registry_.SetDword(HKEY_LOCAL_MACHINE, kMain, L"PXSEnable", 0);
    registry_.SetDword(HKEY_LOCAL_MACHINE, kMain, L"PXSBucketRange", 1);  // any value is kept
    registry_.SetDword(HKEY_LOCAL_MACHINE, kMain, L"PXSCpuLimit", 2);
    const CQzConfigStore second(true);
    EXPECT_FALSE(second.pxsEnabled());
    EXPECT_EQ(1u, second.workingSet().bucketRange);
    EXPECT_EQ(2u, second.workingSet().cpuLimit);
}

TEST_F(ConfigStoreTest, MissingMainKeyGivesAnEmptyStore) {
    const CQzConfigStore store(true);
    EXPECT_TRUE(ServiceList(store).empty());
    EXPECT_TRUE(Logged(L"CQzConfigStore::_RegOpenKey: Error '2'"));
    EXPECT_FALSE(Logged(L"The number of groups in the group list ....:0"));
}

TEST_F(ConfigStoreTest, TextsBeyondTheirBufferFailAndEndTheGroupLoading) {
    const std::wstring fits(510, L'X');   // 1022 bytes with its terminator
    const std::wstring beyond(511, L'x');  // 1024 bytes
    registry_.SetString(HKEY_LOCAL_MACHINE, kMain, L"InstallDir", fits);
    SetGroup(L"a", L"first");
    SetGroup(L"b", beyond);
    SetGroup(L"c", L"never");
    {
        const CQzConfigStore store(true);
        EXPECT_EQ(std::wstring(510, L'x'), store.installDir());
        EXPECT_EQ(std::list<std::wstring>{L"first"}, ServiceList(store));
        EXPECT_TRUE(Logged(L"CQzConfigStore::_RegQueryValue: Error '234' ,ValueName:"));
        EXPECT_TRUE(Logged(L"CQzConfigStore::_LoadServiceInfo: Error loading default service list"));
    }
    registry_.SetString(HKEY_LOCAL_MACHINE, kMain, L"InstallDir", beyond);
    SetGroup(L"b", L"listed");
    registry_.SetString(HKEY_LOCAL_MACHINE, Group(L"b"), L"listed", beyond);  // a value text that does not fit
    journal.entries.clear();
    const CQzConfigStore store(true);
    EXPECT_EQ(L"", store.installDir());
    EXPECT_EQ(std::list<std::wstring>{L"first"}, ServiceList(store));
    EXPECT_TRUE(Logged(L"CQzConfigStore::_enumValues: Error retrieving value for 'listed'"));
}

TEST_F(ConfigStoreTest, GroupWithoutAListEndsTheLoading) {
    SetGroup(L"a", L"first");
    registry_.SetString(HKEY_LOCAL_MACHINE, Group(L"b"), L"named", L"only");
    SetGroup(L"c", L"never");
    const CQzConfigStore store(true);
    EXPECT_EQ(std::list<std::wstring>{L"first"}, ServiceList(store));
}

// A group that is listed but cannot be opened any more: a registry link whose target has gone.
class DanglingGroup {
public:
    explicit DanglingGroup(const std::wstring& name) : path_(Group(name)) {
        HKEY link = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr,
                                                 REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS,
                                                 nullptr, &link, nullptr));
        const std::wstring target = L"\\Registry\\Machine\\Software\\WelkinTests\\Gone";
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                                                reinterpret_cast<const BYTE*>(target.data()),
                                                static_cast<DWORD>(target.size() * sizeof(wchar_t))));
        RegCloseKey(link);
    }
    ~DanglingGroup() {
        HKEY link = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | DELETE, &link) !=
            ERROR_SUCCESS)
            return;
        using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
        const auto deleteKey = reinterpret_cast<NtDeleteKeyFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
        if (deleteKey) deleteKey(link);
        RegCloseKey(link);
    }

private:
    std::wstring path_;
};

TEST_F(ConfigStoreTest, GroupThatVanishedAfterTheListingEndsTheLoading) {
    SetGroup(L"a", L"first");
    SetGroup(L"c", L"never");
    const DanglingGroup gone(L"b");
    const CQzConfigStore store(true);
    EXPECT_TRUE(Logged(L"The number of groups in the group list ....:3"));
    EXPECT_EQ(std::list<std::wstring>{L"first"}, ServiceList(store));
}

TEST_F(ConfigStoreTest, SingleGroupBringsItsBucketLimitAndExclusionList) {
    SetGroup(L"Other", L"elsewhere");
    SetGroup(L"Oobe", L"svcb;svca");
    registry_.SetDword(HKEY_LOCAL_MACHINE, Group(L"Oobe"), L"PXSOptimalBucketUpperLimit", 9);
    registry_.SetString(HKEY_LOCAL_MACHINE, Group(L"Oobe\\OobeExclusionList"), L"1", L"SvcA");
    registry_.SetString(HKEY_LOCAL_MACHINE, Group(L"Oobe\\OobeExclusionList"), L"2", L"svcc");

    CQzConfigStore store(false);
    EXPECT_TRUE(ServiceList(store).empty());  // neither mode: nothing loaded
    store._Init(L"OOBE");
    EXPECT_EQ((std::list<std::wstring>{L"svca", L"svcb"}), ServiceList(store));
    EXPECT_EQ(9u, store.workingSet().optimalBucketUpperLimit);
    EXPECT_EQ((std::list<std::wstring>{L"svca", L"svcc"}), store.exclusionList());

    CQzConfigStore other(false);
    other._Init(L"other");
    EXPECT_EQ(std::list<std::wstring>{L"elsewhere"}, ServiceList(other));
    EXPECT_EQ(0u, other.workingSet().optimalBucketUpperLimit);
    EXPECT_TRUE(Logged(L"Failed to read REG_PXS_OPTOMAL_BUCKET_UPPER_LIMIT_VALUE_NAME reg value...."));
    EXPECT_TRUE(Logged(L"Failed to load the oobe exclusion list for the group ... :other"));
}

TEST_F(ConfigStoreTest, RegistryEnumListsSubkeysAndTextValues) {
    const std::wstring key = L"Software\\Torvex\\PartnerData";
    registry_.Create(HKEY_LOCAL_MACHINE, key + L"\\First");
    registry_.Create(HKEY_LOCAL_MACHINE, key + L"\\second");
    registry_.SetDword(HKEY_LOCAL_MACHINE, key, L"Count", 42);
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"Name", L"Partner");
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"Empty", L"");
    registry_.SetBinary(HKEY_LOCAL_MACHINE, key, L"Blob", {1, 2, 3});
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"Expand", L"%TEMP%", testsupport::RegView::Default, REG_EXPAND_SZ);
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"Large", std::wstring(300, L'y'));  // beyond the 520-byte buffer
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"Zlast", L"kept");

    CQzRegistryEnum registryEnum;
    EXPECT_EQ((std::vector<std::wstring>{L"First", L"second"}), registryEnum.EnumRegkeys(HKEY_LOCAL_MACHINE, key));
    const std::map<std::wstring, std::wstring> expected{{L"Count", L"42"}, {L"Name", L"Partner"}, {L"Zlast", L"kept"}};
    EXPECT_EQ(expected, registryEnum.EnumRegValues(HKEY_LOCAL_MACHINE, key));
    EXPECT_TRUE(registryEnum.EnumRegkeys(HKEY_LOCAL_MACHINE, key + L"\\absent").empty());
    EXPECT_TRUE(registryEnum.EnumRegValues(HKEY_LOCAL_MACHINE, key + L"\\absent").empty());
}

// Makes the real call, but deletes the walked key through a handle of its own just before the walk asks for the
// second value. After a thousand calls it ends the walk itself, so a walk that never stops still ends the test.
class KeyDeletedUnderTheWalk : public CQzRegistryEnumAPI {
public:
    explicit KeyDeletedUnderTheWalk(std::wstring path) : path_(std::move(path)) {}
    LONG RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength, DWORD* reserved, DWORD* type,
                       BYTE* data, DWORD* size) override {
        if (++calls > kGiveUpCalls) return ERROR_NO_MORE_ITEMS;
        if (index == 1 && !deleted)
            deleted = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_WOW64_64KEY, 0) == ERROR_SUCCESS;
        return CQzRegistryEnumAPI::RegEnumValueW(key, index, name, nameLength, reserved, type, data, size);
    }

    static constexpr int kGiveUpCalls = 1000;
    int calls = 0;
    bool deleted = false;

private:
    std::wstring path_;
};

TEST_F(ConfigStoreTest, ValueWalkEndsWhenItsKeyIsDeletedUnderIt) {
    const std::wstring key = L"Software\\Torvex\\PartnerData\\{Deleted}";
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"A", L"first");
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"B", L"second");
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"C", L"third");

    const auto api = std::make_shared<KeyDeletedUnderTheWalk>(key);
    const std::map<std::wstring, std::wstring> expected{{L"A", L"first"}};
    EXPECT_EQ(expected, CQzRegistryEnum(api).EnumRegValues(HKEY_LOCAL_MACHINE, key));
    ASSERT_TRUE(api->deleted);
    EXPECT_EQ(2, api->calls) << "the deleted key's answer ends the walk";
}

}  // namespace
