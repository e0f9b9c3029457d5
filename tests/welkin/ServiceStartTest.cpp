// The post-OOBE service start: the choice of route, the service manager through the signed RVXAAPI double (trust
// check before loading, the calls, the release), and the walk over the configured Windows services with the outcome
// of each logged, the latter through a scripted service control manager.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"
#include "tests/welkin/FakeScm.h"
#include "welkin/QzStartServices.h"

namespace {

using scmtest::FakeScm;
using scmtest::FakeService;
using scmtest::kNever;
using scmtest::Status;
using testsupport::RegView;
using testsupport::ScratchRegistry;

constexpr wchar_t kHostKey[] = L"SOFTWARE\\Torvex\\RVXAHOST";
constexpr wchar_t kSvcHost[] = L"SOFTWARE\\Torvex\\Platform\\QzSvcHost";

class ServiceStartTest : public testsupport::LoggingFixture {
protected:
    void SetUp() override {
        LoggingFixture::SetUp();
        validation_.Install(L"15.5", trusttest::SignedFolder(L"good"));
        validation_.SetMode(trusttest::ValidationDouble::kVouchSigned);
        SetEnvironmentVariableW(L"WELKIN_RVXAAPI_JOURNAL", journal_.c_str());
    }
    void TearDown() override {
        for (const wchar_t* name : {L"WELKIN_RVXAAPI_JOURNAL", L"WELKIN_RVXAAPI_MODE", L"WELKIN_RVXAAPI_RESULT"})
            SetEnvironmentVariableW(name, nullptr);
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex", RegView::Wow64);
        LoggingFixture::TearDown();
    }

    // The library file as RVXAAPI.DLL in a fresh folder; the folder is returned.
    std::wstring PlaceLibrary(const std::wstring& build) {
        const std::wstring folder = scratch_.File(L"host" + std::to_wstring(++folders_));
        CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_TRUE(CopyFileW(build.c_str(), (folder + L"\\RVXAAPI.DLL").c_str(), FALSE)) << GetLastError();
        return folder;
    }
    void EnableHost(const std::wstring& folder) {
        registry_.SetDword(HKEY_LOCAL_MACHINE, kHostKey, L"Enable", 1, RegView::Wow64);
        if (!folder.empty()) registry_.SetString(HKEY_LOCAL_MACHINE, kHostKey, L"szInstallDir64", folder, RegView::Wow64);
    }
    std::vector<std::string> ManagerCalls() const { return testsupport::ReadJournalLines(journal_); }
    bool FreshInstallComplete() const {
        DWORD type = 0;
        std::vector<BYTE> data;
        return ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kHostKey, L"FreshInstallComplete", type, data,
                                     RegView::Wow64) &&
               type == REG_DWORD && data.size() == 4 && data[0] == 1;
    }
    bool Logged(const std::wstring& text) const {
        for (const testsupport::Entry& entry : journal.entries)
            if (entry.message == text) return true;
        return false;
    }
    std::vector<std::wstring> Messages() const {
        std::vector<std::wstring> messages;
        for (const testsupport::Entry& entry : journal.entries) messages.push_back(entry.message);
        return messages;
    }

    trusttest::ValidationDouble validation_;
    testsupport::TempFolder scratch_;
    ScratchRegistry registry_;
    std::wstring journal_ = scratch_.File(L"manager.txt");
    std::shared_ptr<FakeScm> scm_ = std::make_shared<FakeScm>();
    int folders_ = 0;
};

TEST_F(ServiceStartTest, EnabledHostAsksTheServiceManagerForItsGroupAndReleasesIt) {
    const std::wstring folder = PlaceLibrary(trusttest::SignedFile(L"good", L"RVXAAPI"));
    EnableHost(folder + L"\\");  // a trailing backslash is dropped
    CQzStartServices(scm_).StartAllOobeServices();
    EXPECT_EQ((std::vector<std::string>{"QzDllGetClassObject IServiceManager", "StartServicesByHost KESTRO 5000",
                                        "Release"}),
              ManagerCalls());
    EXPECT_TRUE(FreshInstallComplete());
    EXPECT_TRUE(Logged(L"Called sm->StartServicesByHost: lRet = 0"));
    EXPECT_TRUE(scm_->calls.empty()) << "no Windows service is started on this route";
    EXPECT_EQ(nullptr, GetModuleHandleW((folder + L"\\RVXAAPI.DLL").c_str())) << "the library is freed again";

    SetEnvironmentVariableW(L"WELKIN_RVXAAPI_RESULT", L"1062");
    EXPECT_EQ(1062u, CQzStartServices(scm_).StartAllRVXAOobeServices());
    EXPECT_TRUE(Logged(L"Called sm->StartServicesByHost: lRet = 1062"));
}

TEST_F(ServiceStartTest, ServiceManagerThatCannotBeHadIsLoggedWithItsReason) {
    struct Case {
        const char* what;
        std::wstring build;  // empty: no library file
        const wchar_t* mode;
        DWORD result;
        std::vector<std::string> calls;
    };
    const std::wstring good = trusttest::SignedFile(L"good", L"RVXAAPI");
    const std::string get = "QzDllGetClassObject IServiceManager";
    const Case cases[] = {
        {"unsigned library", trusttest::UnsignedFile(L"RVXAAPI"), nullptr, ERROR_ACCESS_DENIED, {}},
        {"no library in the folder", L"", nullptr, ERROR_ACCESS_DENIED, {}},
        {"signed library without the export", trusttest::SignedFile(L"good", L"trust_payload"), nullptr,
         ERROR_PROC_NOT_FOUND, {}},
        {"refused", good, L"refuse", ERROR_NOT_FOUND, {get}},
        {"success without an object", good, L"no-object", 632, {get}},  // never a call through null
    };
    for (const Case& c : cases) {
        journal.entries.clear();
        DeleteFileW(journal_.c_str());
        SetEnvironmentVariableW(L"WELKIN_RVXAAPI_MODE", c.mode);
        std::wstring folder = scratch_.File(L"empty");
        CreateDirectoryW(folder.c_str(), nullptr);
        if (!c.build.empty()) folder = PlaceLibrary(c.build);
        EnableHost(folder);
        EXPECT_EQ(c.result, CQzStartServices(scm_).StartAllRVXAOobeServices()) << c.what;
        EXPECT_EQ(c.calls, ManagerCalls()) << c.what;
        EXPECT_TRUE(Logged(L"Failed to call sm.CreateObject: lRet = " + std::to_wstring(c.result))) << c.what;
        EXPECT_FALSE(Logged(L"Called sm->StartServicesByHost: lRet = 0")) << c.what;
        EXPECT_EQ(nullptr, GetModuleHandleW((folder + L"\\RVXAAPI.DLL").c_str())) << c.what;
        EXPECT_TRUE(FreshInstallComplete()) << c.what;
    }
}

TEST_F(ServiceStartTest, FolderValueMustBeAStringThatLeavesRoomForTheName) {
    struct Case {
        const char* what;
        DWORD type;
        std::wstring folder;  // empty: no value
        DWORD result;
    };
    const Case cases[] = {
        {"no folder value", REG_SZ, L"", ERROR_FILE_NOT_FOUND},
        {"not a plain string", REG_EXPAND_SZ, L"C:\\Host", ERROR_INVALID_DATA},
        {"too long for a path", REG_SZ, L"C:\\" + std::wstring(245, L'h'), ERROR_FILENAME_EXCED_RANGE},
        {"beyond the value buffer", REG_SZ, L"C:\\" + std::wstring(300, L'h'), ERROR_MORE_DATA},
    };
    for (const Case& c : cases) {
        journal.entries.clear();
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kHostKey, RegView::Wow64);
        EnableHost(L"");
        if (!c.folder.empty())
            registry_.SetString(HKEY_LOCAL_MACHINE, kHostKey, L"szInstallDir64", c.folder, RegView::Wow64, c.type);
        EXPECT_EQ(c.result, CQzStartServices(scm_).StartAllRVXAOobeServices()) << c.what;
        EXPECT_TRUE(Logged(L"Failed to call sm.CreateObject: lRet = " + std::to_wstring(c.result))) << c.what;
        EXPECT_TRUE(FreshInstallComplete()) << c.what;
    }
    EXPECT_TRUE(ManagerCalls().empty());
}

TEST_F(ServiceStartTest, AFolderThatIsNotAbsoluteIsNeitherJudgedNorLoaded) {
    // The signed library under the current folder, where the relative folder value would find it.
    const std::wstring folder = PlaceLibrary(trusttest::SignedFile(L"good", L"RVXAAPI"));
    const std::wstring relative = folder.substr(folder.find_last_of(L'\\') + 1);
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch_.Path().c_str()));
    validation_.ClearJournal();
    EnableHost(relative);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_PATHNAME), CQzStartServices(scm_).StartAllRVXAOobeServices());
    EXPECT_TRUE(Logged(L"Failed to call sm.CreateObject: lRet = 161"));
    EXPECT_TRUE(ManagerCalls().empty());
    EXPECT_TRUE(validation_.Journal().empty()) << "nothing was judged";
    SetCurrentDirectoryW(previous);
}

TEST_F(ServiceStartTest, LibraryAlreadyLoadedFromThatPathIsUsedAsItIs) {
    // Loaded by the process before (here: by the test, without any check); it is not judged again.
    const std::wstring folder = PlaceLibrary(trusttest::UnsignedFile(L"RVXAAPI"));
    const std::wstring path = folder + L"\\RVXAAPI.DLL";
    const HMODULE held = LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, held);
    EnableHost(folder);
    EXPECT_EQ(0u, CQzStartServices(scm_).StartAllRVXAOobeServices());
    EXPECT_EQ(3u, ManagerCalls().size());
    EXPECT_EQ(held, GetModuleHandleW(path.c_str())) << "only welkin's own reference was dropped";
    FreeLibrary(held);
    EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str()));
}

TEST_F(ServiceStartTest, DisabledOrMissingHostStartsTheConfiguredServicesInOrder) {
    registry_.SetString(HKEY_LOCAL_MACHINE, std::wstring(kSvcHost) + L"\\Main", nullptr, L"SvcB;svcA");
    registry_.SetString(HKEY_LOCAL_MACHINE, std::wstring(kSvcHost) + L"\\Extra", nullptr, L"svcC");
    for (const wchar_t* name : {L"svca", L"svcb", L"svcc"}) {
        FakeService service;
        service.status = [](DWORD, DWORD) { return Status(SERVICE_RUNNING); };
        scm_->services[name] = service;
    }
    for (bool keyPresent : {false, true}) {
        scm_->calls.clear();
        if (keyPresent) registry_.SetDword(HKEY_LOCAL_MACHINE, kHostKey, L"Enable", 0, RegView::Wow64);
        CQzStartServices(scm_).StartAllOobeServices();
        std::vector<std::string> opened;
        for (const std::string& call : scm_->calls)
            if (call.rfind("OpenServiceW", 0) == 0) opened.push_back(call);
        EXPECT_EQ((std::vector<std::string>{"OpenServiceW svcc 983551", "OpenServiceW svca 983551",
                                            "OpenServiceW svcb 983551"}),
                  opened);
        EXPECT_FALSE(FreshInstallComplete());
        EXPECT_TRUE(ManagerCalls().empty());
    }
    EXPECT_TRUE(Logged(L"Starting Service: svcc"));
}

TEST_F(ServiceStartTest, EachServiceOutcomeIsLoggedAndNeverFailsTheWalk) {
    auto fixed = [](DWORD state) {
        FakeService service;
        service.status = [state](DWORD, DWORD) { return Status(state); };
        return service;
    };
    FakeService good;
    good.status = [](DWORD, DWORD started) { return Status(started == kNever ? SERVICE_STOPPED : SERVICE_RUNNING); };
    FakeService stuck;
    stuck.status = [](DWORD, DWORD started) {
        return started == kNever ? Status(SERVICE_STOPPED) : Status(SERVICE_START_PENDING, 1, 2000);
    };
    FakeService demand = good;
    demand.startType = SERVICE_DEMAND_START;
    scm_->services = {{L"good", good}, {L"demand", demand}, {L"running", fixed(SERVICE_RUNNING)}, {L"stuck", stuck}};

    struct Case {
        const wchar_t* name;
        std::wstring line;
    };
    const Case cases[] = {
        {L"good", L"Successfully started the service: good"},
        {L"absent", L"Service does not exist ... service:absent"},
        {L"demand", L"Service is not auto start service ... service:demand"},
        {L"running", L"Service is already running ... service:running"},
        {L"stuck", L"Failed to start the service :stuck Error:1460"},
    };
    for (const Case& c : cases) {
        journal.entries.clear();
        EXPECT_EQ(0u, CQzStartServices(scm_).startService(c.name));
        EXPECT_TRUE(Logged(c.line)) << testing::PrintToString(Messages());
    }
    scm_->managerFails = true;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNAL_ERROR), CQzStartServices(scm_).startService(L"good"));
    EXPECT_TRUE(Logged(L"Failed to open SCM handle...."));
}

}  // namespace
