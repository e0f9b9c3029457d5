// The fault table of the real welkin.exe: for each fault the exit code, what it leaves of the OEM configuration
// (commands not yet run still queued, records as they were, no flag set that the run did not earn), and the next
// start with the fault removed, which must complete the work and start no command twice.
//
// Rows covered elsewhere, or whose other sides are:
//   a command that fails (exit code 2 or more), whose program is missing or whose working folder does not exist:
//     WholeRunTest ExitCodeDecidesWhetherACommandIsDone (exit code 1, kept, retried, then done once mended);
//   a second instance: WholeRunTest SecondInstanceReturnsAtOnce (exit code 259, the first one finishes the work);
//   the settings manager silent costs the run about 6 s:
//     CompletionNoticeTest ASettingsManagerThatNeverAnswersCostsTheRunAboutSixSeconds;
//     the bus refusing to open, the property refused: CompletionNoticeTest;
//   the telemetry service refusing or out of memory: TelemetryRunTest ServiceThatRefusesOrFailsLeavesTheRunAsItWas,
//     and every WholeRunTest scenario again with a failing service (the "failing_telemetry." entries);
//   the service manager unsigned with the run flag clear: ServicesRunTest UnsignedServiceManagerIsNeverLoaded.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/foundation/logging/LogFileText.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/support/WinePaths.h"
#include "tests/system/WelkinRun.h"

namespace systemtest {
namespace {

constexpr DWORD kEFail = 0x80004005;
constexpr wchar_t kLoggingKey[] = L"SOFTWARE\\Torvex\\Logging";
constexpr wchar_t kHalvardAppInfo[] = L"SOFTWARE\\Torvex\\Halvard\\AppInfo";
constexpr wchar_t kSvcHostOobe[] = L"SOFTWARE\\Torvex\\Platform\\QzSvcHost\\Oobe";
// This prefix's answer to welkin.exe's version query: a system without delayed automatic start, the one start type
// that Wine's service control manager cannot answer about.
constexpr wchar_t kWelkinVersionKey[] = L"Software\\Wine\\AppDefaults\\welkin.exe";
constexpr wchar_t kNow[] = L" --exit 0 /now";
constexpr wchar_t kNext[] = L" --exit 0 /next";

using testsupport::Narrow;

using RawValues = std::map<std::wstring, std::vector<BYTE>>;

// Every value of one key as stored; empty when the key is absent.
RawValues ValuesOf(const std::wstring& key) {
    RawValues values;
    HKEY open = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &open) != ERROR_SUCCESS) return values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD nameChars = 256, type = 0, size = 0;
        if (RegEnumValueW(open, index, name, &nameChars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        nameChars = 256;
        RegEnumValueW(open, index, name, &nameChars, nullptr, &type, data.data(), &size);
        values[name] = data;
    }
    RegCloseKey(open);
    return values;
}

class FaultTable : public WelkinRun {
protected:
    void TearDown() override {
        SetCurrentDirectoryW(ownFolder_.c_str());
        WelkinRun::TearDown();
    }

    // The OEM configuration of every row: a command due now (with a working folder) and one due at the next start,
    // so that a start that goes well ends with 1 and leaves the rest to the start after it.
    void QueueWork(const wchar_t* oem = kHalvardOem, const wchar_t* userMode = kHalvardUserMode) {
        oem_ = oem;
        userMode_ = userMode;
        SetRecordDword(oem, L"OEMMgr", 1);
        AddCommand(userMode, L"a_now", L"--exit 0 /now", 0, true, Scratch().Path());
        AddCommand(userMode, L"b_next", L"--exit 0 /next", 2, true);
    }
    std::wstring Now() const { return userMode_ + L"\\a_now"; }
    std::wstring Next() const { return userMode_ + L"\\b_next"; }

    // How often each queued command has been started so far.
    size_t Starts(const wchar_t* commandLine) const {
        const auto starts = CommandStarts();
        return std::count_if(starts.begin(), starts.end(), [&](const testsupport::CommandStart& start) {
            return start.commandLine == Narrow(commandLine);
        });
    }

    // The fault is gone: the next starts (each ending with 1 asks for another) complete the OOBE work, and each
    // queued command has been started exactly once over all the starts of the test.
    void ExpectLaterStartsComplete() {
        DWORD exitCode = 1;
        for (int start = 0; start < 3 && exitCode == 1; ++start) exitCode = RunWelkin();
        EXPECT_EQ(0u, exitCode);
        EXPECT_EQ(0u, RecordDword(oem_, L"OEMMgr").value_or(99));
        EXPECT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0));
        EXPECT_FALSE(KeyExists(Now()));
        EXPECT_FALSE(KeyExists(Next()));
        EXPECT_EQ(1u, Starts(kNow));
        EXPECT_EQ(1u, Starts(kNext));
    }

    // Flips the last byte of a stored record (inside its enciphered payload); returns the record as it was.
    std::vector<BYTE> TamperRecord(const std::wstring& key, const wchar_t* name) {
        DWORD type = 0;
        std::vector<BYTE> data;
        EXPECT_TRUE(testsupport::ScratchRegistry::Read(HKEY_LOCAL_MACHINE, key, name, type, data));
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
        if (data.empty()) return data;
        std::vector<BYTE> tampered = data;
        tampered.back() ^= 0x01;
        registry_.SetBinary(HKEY_LOCAL_MACHINE, key, name, tampered);
        return data;
    }

    std::wstring userMode_;
    std::wstring oem_;
    std::wstring ownFolder_ = [] {
        wchar_t folder[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, folder);
        return std::wstring(folder);
    }();
};

TEST_F(FaultTable, UtilityLibraryThatCannotBeTrustedIsNeverLoaded) {
    enum class Place { Nowhere, BesideTheProgram, CurrentFolder };
    struct Case {
        const char* name;
        Place place;
        const wchar_t* variant;  // the signed variant; null: the unsigned build
    };
    const Case cases[] = {
        {"missing", Place::Nowhere, nullptr},
        {"unsigned", Place::BesideTheProgram, nullptr},
        {"tampered after signing", Place::BesideTheProgram, L"tampered"},
        {"unknown signer beside the program", Place::BesideTheProgram, L"stranger"},
        {"unknown signer in the current folder", Place::CurrentFolder, L"stranger"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QueueWork();
        InstallUtilityDouble(false);  // the validation service, and the unsigned build beside the program
        const std::wstring beside = ProgramFolder() + L"\\QzUtil.dll";
        const std::wstring build = c.variant ? trusttest::SignedFile(c.variant, L"QzUtil")
                                             : testsupport::WindowsPathOf(QZUTIL_UNSIGNED_DLL);
        if (c.place == Place::BesideTheProgram) {
            ASSERT_TRUE(CopyFileW(build.c_str(), beside.c_str(), FALSE));
        } else {
            ASSERT_TRUE(DeleteFileW(beside.c_str()));
        }
        const std::wstring planted = Scratch().File(L"planted");
        if (c.place == Place::CurrentFolder) {
            CreateDirectoryW(planted.c_str(), nullptr);
            ASSERT_TRUE(CopyFileW(build.c_str(), (planted + L"\\QzUtil.dll").c_str(), FALSE));
            ASSERT_TRUE(SetCurrentDirectoryW(planted.c_str()));
        }

        // The run goes on without the library: only its retry-task call is missing.
        EXPECT_EQ(1u, RunWelkin());
        EXPECT_TRUE(UtilityCalls().empty());
        EXPECT_EQ(1u, Starts(kNow));
        EXPECT_EQ(0u, Starts(kNext));
        EXPECT_EQ(1u, RecordDword(Next(), L"bootcount").value_or(99));
        EXPECT_EQ(1u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));

        InstallUtilityDouble(true);
        ExpectLaterStartsComplete();
        ASSERT_FALSE(UtilityCalls().empty());
        EXPECT_EQ("QzDeleteTask welkin", UtilityCalls().back());
        SetCurrentDirectoryW(ownFolder_.c_str());
        ResetMachine();
    }
}

// Every record welkin reads, one byte flipped: nothing is decided on it and it is left as it was; the start after
// it is mended completes the work.
TEST_F(FaultTable, TamperedRecordIsNeverTakenNorRewritten) {
    enum class Effect {
        SkipsTheRun,     // the run flag: the start ends with E_FAIL and touches no command
        HoldsTheCommand, // a value of the command due now: kept unstarted, the run asks for another start
        RunsAsIfMissing, // a value that may be missing: the run goes on as without it
    };
    struct Case {
        const char* name;
        bool kvr;
        const wchar_t* command;  // the value's command (its subkey), or null for `key`
        const wchar_t* key;
        const wchar_t* value;
        Effect effect;
        bool tokensStay = false;  // the tokens command runs with its tokens as they stand
    };
    constexpr wchar_t kBuildInfo[] = L"software\\torvex\\Halvard\\oeminfo\\B-9";
    constexpr wchar_t kBuildTerms[] = L"software\\torvex\\Halvard\\oeminfo\\BK9";
    const Case cases[] = {
        {"run flag", false, nullptr, kHalvardOem, L"OEMMgr", Effect::SkipsTheRun},
        {"run flag of the KVR family", true, nullptr, kKVROem, L"OEMMgr", Effect::SkipsTheRun},
        {"command program", false, L"a_now", nullptr, L"runcmd", Effect::HoldsTheCommand},
        {"command boot count", false, L"a_now", nullptr, L"bootcount", Effect::HoldsTheCommand},
        {"command working folder", false, L"a_now", nullptr, L"curdir", Effect::HoldsTheCommand},
        {"command arguments", false, L"a_now", nullptr, L"cmdargs", Effect::HoldsTheCommand},
        {"command wait switch", false, L"a_now", nullptr, L"wait", Effect::HoldsTheCommand},
        {"isdudata template", false, nullptr, kHalvardAppInfo, L"isdudata", Effect::RunsAsIfMissing},
        {"terms of the build", false, nullptr, kBuildTerms, L"terms", Effect::RunsAsIfMissing},
        // OEM values that cannot be had leave a command's tokens as they are.
        {"build key of a command", false, L"c_tokens", nullptr, L"BuildKey", Effect::RunsAsIfMissing, true},
        {"affiliate id of a build", false, nullptr, kBuildInfo, L"affid", Effect::RunsAsIfMissing, true},
        {"language of a build", false, nullptr, kBuildInfo, L"lang", Effect::RunsAsIfMissing, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.kvr) InstallKVR();
        c.kvr ? QueueWork(kKVROem, kKVRUserMode) : QueueWork();
        SetRecordString(kHalvardAppInfo, L"isdudata", L"lcid=%lcid%");
        SetString(std::wstring(kHalvardAppInfo) + L"\\Substitute", L"lcid", L"1031");
        // The language step's OEM map ini and the terms of its build key.
        WriteOemMapIni("[oeminfo]\r\nbuildKey=BK9\r\n[_terms_T1]\r\naffid=9\r\n");
        SetRecordString(kBuildTerms, L"terms", L"T1");
        AddCommand(userMode_, L"c_tokens", L"--exit 0 /t=%AFFID%/%LANGID%", 0, true);
        SetRecordString(userMode_ + L"\\c_tokens", L"BuildKey", L"B-9");
        for (const wchar_t* info : {kBuildInfo, L"software\\torvex\\oeminfo\\B-9"}) {
            SetRecordString(info, L"affid", L"A3");
            SetRecordString(info, L"lang", L"fr");
        }
        const std::wstring key = c.command ? userMode_ + L"\\" + c.command : c.key;
        const wchar_t* value = c.value;
        const std::vector<BYTE> sound = TamperRecord(key, value);
        const RawValues now = ValuesOf(Now()), next = ValuesOf(Next());
        const std::vector<BYTE> damaged = ValuesOf(key)[value];

        const DWORD exitCode = RunWelkin();
        // Never rewritten (a command's own value goes with its key when the command is done).
        const bool retired = c.command && !KeyExists(key);
        if (!retired) {
            EXPECT_EQ(damaged, ValuesOf(key)[value]);
        }
        EXPECT_EQ(0u, Starts(kNext));
        switch (c.effect) {
            case Effect::SkipsTheRun:
                EXPECT_EQ(kEFail, exitCode);
                EXPECT_FALSE(Dword(kHalvardOem, L"OOBEDone").has_value());
                EXPECT_EQ(0u, Starts(kNow));
                EXPECT_EQ(now, ValuesOf(Now()));
                EXPECT_EQ(next, ValuesOf(Next()));
                break;
            case Effect::HoldsTheCommand:
                EXPECT_EQ(1u, exitCode);
                EXPECT_FALSE(Dword(kHalvardOem, L"OOBEDone").has_value());  // not while a command is held
                EXPECT_EQ(0u, Starts(kNow));
                EXPECT_EQ(now, ValuesOf(Now()));
                EXPECT_EQ(1u, RecordDword(Next(), L"bootcount").value_or(99));
                EXPECT_EQ(1u, RecordDword(oem_, L"OEMMgr").value_or(99));
                break;
            case Effect::RunsAsIfMissing:
                EXPECT_EQ(1u, exitCode);
                EXPECT_EQ(1u, Starts(kNow));
                EXPECT_EQ(1u, RecordDword(oem_, L"OEMMgr").value_or(99));
                break;
        }

        if (!retired) registry_.SetBinary(HKEY_LOCAL_MACHINE, key, value, sound);
        ExpectLaterStartsComplete();
        EXPECT_EQ(c.tokensStay ? 1u : 0u, Starts(L" --exit 0 /t=%AFFID%/%LANGID%"));
        EXPECT_EQ(c.tokensStay ? 0u : 1u, Starts(L" --exit 0 /t=A3/fr"));
        ResetMachine();
    }
}

TEST_F(FaultTable, KilledWhileWaitingForACommand) {
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    AddCommand(kHalvardUserMode, L"a_done", L"--exit 0 /done", 0, true);
    AddCommand(kHalvardUserMode, L"b_slow", L"--sleep 6000 --exit 0 /slow", 0, true);
    AddCommand(kHalvardUserMode, L"c_later", L"--exit 0 /later", 0, true);
    const std::wstring slow = std::wstring(kHalvardUserMode) + L"\\b_slow";
    const RawValues slowValues = [&] {
        RawValues values = ValuesOf(slow);
        values.erase(L"bootcount");  // written back before the start
        return values;
    }();
    {
        auto killed = StartWelkin(100);
        ASSERT_TRUE(killed->Started());
        for (int i = 0; i < 1200 && CommandStarts().size() < 2; ++i) Sleep(25);
        ASSERT_EQ(2u, CommandStarts().size()) << "welkin never reached its second command";
        EXPECT_EQ(0xDEADu, killed->Wait().exitCode);  // terminated while it waits
    }
    // The command that was done is retired; the one it was waiting for and the one after it are still queued.
    EXPECT_FALSE(KeyExists(std::wstring(kHalvardUserMode) + L"\\a_done"));
    RawValues left = ValuesOf(slow);
    EXPECT_EQ(0u, RecordDword(slow, L"bootcount").value_or(99));
    left.erase(L"bootcount");
    EXPECT_EQ(slowValues, left);
    EXPECT_TRUE(KeyExists(std::wstring(kHalvardUserMode) + L"\\c_later"));
    EXPECT_EQ(1u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
    EXPECT_FALSE(Dword(kHalvardOem, L"OOBEDone").has_value());

    EXPECT_EQ(0u, RunWelkin());
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
    EXPECT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0));
    std::map<std::string, int> starts;
    for (const auto& start : CommandStarts()) ++starts[start.commandLine];
    // The slow command never ended for welkin: it runs again; the done one does not.
    const std::map<std::string, int> expected = {
        {" --exit 0 /done", 1}, {" --sleep 6000 --exit 0 /slow", 2}, {" --exit 0 /later", 1}};
    EXPECT_EQ(expected, starts);
}

// The file logger is chosen but cannot write: its folder cannot be made, or its file cannot be opened. The logger
// falls silent and the run is the same.
TEST_F(FaultTable, LogThatCannotBeWrittenChangesNothing) {
    const std::wstring root = logtest::LogsRoot();
    const std::wstring logFile = root + L"\\welkin\\welkin\\welkin000.log";
    struct Case {
        const char* name;
        std::wstring inTheWay;  // made before the run, removed as the mend
        bool folder;
        bool heldOpen;  // a file held open without sharing for the length of the faulted run
    };
    const Case cases[] = {
        {"a file where the logs root belongs", root, false, false},
        {"a file where welkin's group folder belongs", root + L"\\welkin", false, false},
        {"a folder where the log file belongs", logFile, true, false},
        {"the log file held open by another", logFile, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetRecordDword(kLoggingKey, L"Logging Mechanism", 1);
        const std::wstring parent = c.inTheWay.substr(0, c.inTheWay.rfind(L'\\'));
        SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.folder) {
            ASSERT_TRUE(CreateDirectoryW(c.inTheWay.c_str(), nullptr)) << GetLastError();
        } else {
            held = CreateFileW(c.inTheWay.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, held) << GetLastError();
            if (!c.heldOpen) {
                CloseHandle(held);
                held = INVALID_HANDLE_VALUE;
            }
        }
        QueueWork();

        EXPECT_EQ(1u, RunWelkin());
        EXPECT_EQ(1u, Starts(kNow));
        EXPECT_FALSE(KeyExists(Now()));
        EXPECT_EQ(1u, RecordDword(Next(), L"bootcount").value_or(99));
        EXPECT_EQ(1u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
        const DWORD attributes = GetFileAttributesW(c.inTheWay.c_str());
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes);
        EXPECT_EQ(c.folder, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);

        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        ASSERT_TRUE(c.folder ? RemoveDirectoryW(c.inTheWay.c_str()) : DeleteFileW(c.inTheWay.c_str()));
        ExpectLaterStartsComplete();
        EXPECT_FALSE(LogLines().empty());  // the logger writes again
        ResetMachine();
    }
}

// A suite service or library that is missing, untrusted, silent or failing: welkin only logs it, the run's work and
// results are those of a good one, and the start after it is mended completes.
TEST_F(FaultTable, SuiteServiceFaultLeavesTheRunsWorkAsItWas) {
    using testsupport::TelemetryServiceDouble;
    const std::wstring propertySet = L"Set Core.OOBE.OOBEComplete message successfully!";
    struct Case {
        const char* name;
        std::function<void()> fault;
        std::function<void()> mend;
        std::function<bool()> served;  // the mended service did its part in the last start
    };
    const auto busServed = [&] { return LogText().find(propertySet) != std::wstring::npos; };
    const auto managerServed = [&] {
        const auto calls = ManagerCalls();
        return std::find(calls.begin(), calls.end(), "StartServicesByHost KESTRO 5000") != calls.end();
    };
    const auto telemetryServed = [&] { return !Telemetry().SentRecords().empty(); };
    const auto goodBus = [&] { InstallBus(); };
    const auto goodManager = [&] { InstallServiceManager(true); };
    const auto goodTelemetry = [&] {
        InstallTelemetryService();
        Telemetry().ClearJournal();
    };
    const Case cases[] = {
        {"bus library missing", [] {}, goodBus, busServed},
        {"bus library unsigned",
         [&] {
             InstallBus();
             const std::wstring beside = ProgramFolder() + L"\\Corlune.dll";
             ASSERT_TRUE(CopyFileW(trusttest::UnsignedFile(L"Corlune").c_str(), beside.c_str(), FALSE));
         },
         goodBus, busServed},
        {"settings manager silent", [&] { InstallBus(L"settings.fault=SETTINGS_MANAGER_SET_PROPERTY:no-reply"); },
         goodBus, busServed},
        {"service manager missing",
         [&] {
             InstallServiceManager(true);
             ASSERT_TRUE(DeleteFileW(Scratch().File(L"RVXAHost\\RVXAAPI.DLL").c_str()));
         },
         goodManager, managerServed},
        {"service manager unsigned", [&] { InstallServiceManager(false); }, goodManager, managerServed},
        {"telemetry service missing", [] {}, goodTelemetry, telemetryServed},
        {"telemetry service failing",
         [&] { InstallTelemetryService({{TelemetryServiceDouble::kResult, L"0x80004005"}}); }, goodTelemetry,
         telemetryServed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogToFile();
        QueueWork();
        c.fault();

        EXPECT_EQ(1u, RunWelkin());
        EXPECT_EQ(1u, Starts(kNow));
        EXPECT_FALSE(KeyExists(Now()));
        EXPECT_EQ(1u, RecordDword(Next(), L"bootcount").value_or(99));
        EXPECT_EQ(1u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
        EXPECT_EQ(0u, RecordDword(kHalvardOem, L"DisableServices").value_or(99));
        EXPECT_TRUE(ManagerCalls().empty());

        c.mend();
        ExpectLaterStartsComplete();
        EXPECT_TRUE(c.served());
        ResetMachine();
    }
}

// A configured service that never leaves its start: welkin gives up on it after ten seconds without progress and
// goes on with the next one; the run's result is that of its work.
TEST_F(FaultTable, ServiceStuckStartingIsGivenUpAndTheNextOneStarted) {
    LogToFile();
    registry_.SetString(HKEY_CURRENT_USER, kWelkinVersionKey, L"Version", L"winxp64");
    // The stuck one is started first (the list is taken in name order); it reports stopped by itself only long
    // after welkin must have given up.
    testsupport::TestService& stuck = AddWindowsService(L"WelkinFault1Stuck", SERVICE_AUTO_START, L"stuck 0 30000");
    testsupport::TestService& good = AddWindowsService(L"WelkinFault2Good", SERVICE_AUTO_START);
    ASSERT_TRUE(good.Created() && stuck.Created());
    SetString(kSvcHostOobe, nullptr, L"WelkinFault1Stuck;WelkinFault2Good");
    QueueWork();

    EXPECT_EQ(1u, RunWelkin());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), stuck.State()) << "ended by the service, not by welkin";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), good.State());
    const auto lines = LogLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.find(L"Failed to start the service :welkinfault1stuck Error:1460") != std::wstring::npos;
    }));
    EXPECT_EQ(1u, Starts(kNow));
    EXPECT_EQ(1u, RecordDword(Next(), L"bootcount").value_or(99));
    EXPECT_EQ(1u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));

    SetString(kSvcHostOobe, nullptr, L"WelkinFault2Good");
    ExpectLaterStartsComplete();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), good.State());
}

}  // namespace
}  // namespace systemtest
