// The real welkin.exe, one scenario per prefix clone: registry laid out, program run, exit code and leftovers read.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/system/WelkinRun.h"

namespace systemtest {
namespace {

using testsupport::Narrow;

constexpr DWORD kEFail = 0x80004005;
constexpr DWORD kAnotherInstance = 259;
constexpr wchar_t kRegExe[] = L"C:\\windows\\system32\\reg.exe";


TEST_F(WelkinRun, RunFlagThatIsNotARecordOfOneSkipsTheRun) {
    SetDword(kHalvardOem, L"OEMMgr", 1);  // a plain DWORD: the run flag is read as a record only
    AddCommand(kHalvardUserMode, L"never", L"--exit 0", 0, true);
    EXPECT_EQ(kEFail, RunWelkin());
    EXPECT_TRUE(CommandStarts().empty());
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"DisableServices").value_or(99));
    EXPECT_FALSE(RecordDword(kKVROem, L"DisableServices").has_value());
    EXPECT_EQ(1u, Dword(kHalvardOem, L"OEMMgr").value_or(0));  // untouched
}

TEST_F(WelkinRun, EntryLinesNameTheProgramEntryAndItsFile) {
    LogToFile();
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    EXPECT_EQ(0u, RunWelkin());
    const auto lines = LogLines();
    for (const wchar_t* message :
         {L"GetModuleFileName: ", L"Version: 1.0.0.1", L"Execute welkin main logic", L"Start Post Oobe Services"}) {
        SCOPED_TRACE(Narrow(message));
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::wstring& text) {
            return text.find(message) != std::wstring::npos;
        });
        ASSERT_NE(lines.end(), line);
        EXPECT_NE(std::wstring::npos, line->find(L"[" + std::wstring(32, L' ') + L"wWinMain()]")) << Narrow(*line);
        EXPECT_NE(std::wstring::npos, line->find(L"[          welkin.cpp:")) << Narrow(*line);
    }
}

TEST_F(WelkinRun, AbsentOrZeroRunFlagGivesEFail) {
    EXPECT_EQ(kEFail, RunWelkin());
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"DisableServices").value_or(99));

    SetRecordDword(kHalvardOem, L"OEMMgr", 0);
    registry_.SetDword(HKEY_LOCAL_MACHINE, kHalvardOem, L"DisableServices", 7);
    EXPECT_EQ(kEFail, RunWelkin());
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"DisableServices").value_or(99));
    EXPECT_FALSE(Dword(kHalvardOem, L"OOBEDone").has_value());
}

TEST_F(WelkinRun, DoneOobeWithoutCommandsCompletesAgain) {
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    SetDword(kHalvardOem, L"OOBEDone", 1);
    SetDword(kHalvardOem, L"facmode", 0);
    EXPECT_EQ(0u, RunWelkin());
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
    EXPECT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0));
    EXPECT_EQ(1u, Dword(kKVROem, L"OOBEDone").value_or(0));  // both families, whichever is used
    EXPECT_EQ(0u, RecordDword(kKVROem, L"DisableServices").value_or(99));
    EXPECT_FALSE(Dword(kHalvardOem, L"facmode").has_value());
    EXPECT_FALSE(RecordDword(kKVROem, L"OEMMgr").has_value());  // the run flag goes to the KVR key only for KVR
}

TEST_F(WelkinRun, RunFlagOtherThanOneNeedsTheRetryFlag) {
    SetRecordDword(kHalvardOem, L"OEMMgr", 2);
    SetString(kRetryKey, L"TaskScheduleRetry", L"0");
    EXPECT_EQ(0u, RunWelkin());
    EXPECT_EQ(2u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
    EXPECT_FALSE(Dword(kHalvardOem, L"OOBEDone").has_value());

    SetString(kRetryKey, L"TaskScheduleRetry", L"1");
    EXPECT_EQ(0u, RunWelkin());
    EXPECT_EQ(L"0", String(kRetryKey, L"TaskScheduleRetry").value_or(L"?"));
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
    EXPECT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0));
}

TEST_F(WelkinRun, BootCountIsCountedDownAndTheCommandRunsOnce) {
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    AddCommand(kHalvardUserMode, L"later", L"--exit 0 /later", 3, true);
    const std::wstring key = std::wstring(kHalvardUserMode) + L"\\later";

    // Each start that finds the count above zero lowers it and asks for another start.
    for (DWORD expectedCount : {2u, 1u}) {
        EXPECT_EQ(1u, RunWelkin());
        EXPECT_EQ(expectedCount, RecordDword(key, L"bootcount").value_or(99));
        EXPECT_EQ(1u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
        EXPECT_TRUE(CommandStarts().empty());
    }
    EXPECT_EQ(0u, RunWelkin());
    EXPECT_FALSE(KeyExists(key));
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
    EXPECT_EQ(kEFail, RunWelkin());  // done: later starts skip the run
    ASSERT_EQ(1u, CommandStarts().size());
    EXPECT_EQ(" --exit 0 /later", CommandStarts()[0].commandLine);
}

// A PC maker's commands written plain, without records: the family's own starts on the first start with its values
// and is retired, the other family's is deleted unrun, and the OOBE work completes.
TEST_F(WelkinRun, CommandsWithPlainValuesAreTakenAsTheyAre) {
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    const std::wstring key = std::wstring(kHalvardUserMode) + L"\\plain";
    const std::wstring stray = std::wstring(kKVRUserMode) + L"\\stray";
    const std::wstring folder = Scratch().File(L"work");
    CreateDirectoryW(folder.c_str(), nullptr);
    SetString(key, L"runcmd", CommandDouble());
    SetString(key, L"cmdargs", L"--exit 0 /plain");
    SetString(key, L"curdir", folder);
    SetDword(key, L"bootcount", 0);
    SetDword(key, L"wait", 1);
    SetString(stray, L"runcmd", CommandDouble());
    SetString(stray, L"cmdargs", L"--exit 0 /stray");

    EXPECT_EQ(0u, RunWelkin());
    const auto starts = CommandStarts();
    ASSERT_EQ(1u, starts.size());
    EXPECT_EQ(" --exit 0 /plain", starts[0].commandLine);
    EXPECT_NE(std::string::npos, starts[0].folder.find(Narrow(folder.substr(2))));
    EXPECT_FALSE(KeyExists(key));
    EXPECT_FALSE(KeyExists(stray));
    EXPECT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0));
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
}

// A command that fails (exit code 2 or more, or no start at all) stays queued and is started again at every start;
// once the fault is mended the next start runs it and completes, and a command that was done never runs again.
TEST_F(WelkinRun, ExitCodeDecidesWhetherACommandIsDone) {
    enum class Fault { None, MissingProgram, MissingFolder };
    struct Case {
        const char* name;
        const wchar_t* arguments;
        Fault fault;
        bool done;
    };
    const Case cases[] = {{"exit 0", L"--exit 0", Fault::None, true},
                          {"exit 1", L"--exit 1", Fault::None, true},
                          {"exit 2", L"--exit 2", Fault::None, false},
                          {"exit 3", L"--exit 3", Fault::None, false},
                          {"program missing", L"--exit 0", Fault::MissingProgram, false},
                          {"working folder missing", L"--exit 0", Fault::MissingFolder, false}};
    int caseNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring folder = Scratch().File(L"work" + std::to_wstring(++caseNumber));
        if (c.fault != Fault::MissingFolder) CreateDirectoryW(folder.c_str(), nullptr);
        SetRecordDword(kHalvardOem, L"OEMMgr", 1);
        AddCommand(kHalvardUserMode, L"a_done", L"--exit 0 /done", 0, true);
        AddCommand(kHalvardUserMode, L"cmd", c.arguments, 0, true, folder);
        const std::wstring key = std::wstring(kHalvardUserMode) + L"\\cmd";
        if (c.fault == Fault::MissingProgram) SetRecordString(key, L"runcmd", Scratch().File(L"absent.exe"));
        EXPECT_EQ(c.done ? 0u : 1u, RunWelkin());
        EXPECT_EQ(!c.done, KeyExists(key));
        EXPECT_EQ(c.done, Dword(kHalvardOem, L"OOBEDone").has_value());
        if (!c.done) {
            EXPECT_EQ(0u, RecordDword(key, L"bootcount").value_or(99));
            // A command to retry starts again at the next run.
            EXPECT_EQ(1u, RunWelkin());
            EXPECT_TRUE(KeyExists(key));
            switch (c.fault) {
                case Fault::None: SetRecordString(key, L"cmdargs", L"--exit 0"); break;
                case Fault::MissingProgram: SetRecordString(key, L"runcmd", CommandDouble()); break;
                case Fault::MissingFolder: CreateDirectoryW(folder.c_str(), nullptr); break;
            }
            EXPECT_EQ(0u, RunWelkin());
            EXPECT_FALSE(KeyExists(key));
            EXPECT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0));
            EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
        }
        const auto starts = CommandStarts();
        EXPECT_EQ(1, std::count_if(starts.begin(), starts.end(), [](const testsupport::CommandStart& start) {
                      return start.commandLine == " --exit 0 /done";
                  }));
        ResetMachine();
    }
}

TEST_F(WelkinRun, InstallerCommandGetsTheWorkingFolderSwitch) {
    const std::wstring installer = Scratch().File(L"qzinst_setup.exe");
    ASSERT_TRUE(CopyFileW(CommandDouble().c_str(), installer.c_str(), FALSE));
    const std::wstring work = Scratch().File(L"work");
    CreateDirectoryW(work.c_str(), nullptr);
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    AddCommand(kHalvardUserMode, L"inst", L"--exit 0 /oobe", 0, true, work + L"\\");
    AddCommand(kHalvardUserMode, L"plain", L"--exit 0 /plain", 0, true, work);
    SetRecordString(std::wstring(kHalvardUserMode) + L"\\inst", L"runcmd", installer);
    EXPECT_EQ(0u, RunWelkin());
    const auto starts = CommandStarts();
    ASSERT_EQ(2u, starts.size());
    EXPECT_EQ(" /WorkingDir=\"" + Narrow(work) + "\" --exit 0 /oobe", starts[0].commandLine);
    EXPECT_EQ(" --exit 0 /plain", starts[1].commandLine);
    for (const auto& start : starts) EXPECT_NE(std::string::npos, start.folder.find(Narrow(work.substr(2))));
}

TEST_F(WelkinRun, WorkingFolderTextIsNeverAFormat) {
    const std::wstring odd = Scratch().File(L"w%d%x%n");
    ASSERT_TRUE(CreateDirectoryW(odd.c_str(), nullptr));
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    AddCommand(kHalvardUserMode, L"odd", L"--exit 0", 0, true, odd);
    EXPECT_EQ(0u, RunWelkin());
    ASSERT_EQ(1u, CommandStarts().size());
    EXPECT_NE(std::string::npos, CommandStarts()[0].folder.find("w%d%x%n"));
}

// A drive root keeps its backslash: the installer is started in C:\ and told C:\ (the backslash doubled before the
// closing quote), and the command is retired instead of failing at every start.
TEST_F(WelkinRun, CommandWithADriveRootAsWorkingFolderStartsThereAndIsRetired) {
    const std::wstring installer = Scratch().File(L"qzinst_setup.exe");
    ASSERT_TRUE(CopyFileW(CommandDouble().c_str(), installer.c_str(), FALSE));
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    AddCommand(kHalvardUserMode, L"root", L"--exit 0", 0, true, L"C:\\");
    SetRecordString(std::wstring(kHalvardUserMode) + L"\\root", L"runcmd", installer);
    EXPECT_EQ(0u, RunWelkin());
    ASSERT_EQ(1u, CommandStarts().size());
    EXPECT_EQ("C:\\", CommandStarts()[0].folder);
    EXPECT_EQ(" /WorkingDir=\"C:\\\\\" --exit 0", CommandStarts()[0].commandLine);
    EXPECT_FALSE(KeyExists(std::wstring(kHalvardUserMode) + L"\\root"));
}

TEST_F(WelkinRun, CommandWithoutWorkingFolderStarts) {
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    AddCommand(kHalvardUserMode, L"nodir", L"--exit 0", 0, true);
    EXPECT_EQ(0u, RunWelkin());
    EXPECT_EQ(1u, CommandStarts().size());
    EXPECT_FALSE(KeyExists(std::wstring(kHalvardUserMode) + L"\\nodir"));
}

TEST_F(WelkinRun, SubkeyTooLongForACommandPathIsSkipped) {
    struct Case {
        const wchar_t* userModeKey;
        const wchar_t* logged;  // the start of the walk's line
    };
    // The own family's walk and the other family's walk (which only deletes) both skip it and say so.
    const Case cases[] = {
        {kHalvardUserMode, L"Skipping registry key with too long a path : "},
        {kKVRUserMode,
         L"CwelkinModule::DeleteAlternareUserModeSettings::Skipping registry key with too long a path : "}};
    const std::wstring longName(230, L'n');
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.userModeKey));
        LogToFile();
        SetRecordDword(kHalvardOem, L"OEMMgr", 1);
        AddCommand(c.userModeKey, longName, L"--exit 0", 2, true);
        const std::wstring key = std::wstring(c.userModeKey) + L"\\" + longName;
        auto rawCount = [&key] {
            DWORD type = 0;
            std::vector<BYTE> data;
            testsupport::ScratchRegistry::Read(HKEY_LOCAL_MACHINE, key, L"bootcount", type, data);
            return data;
        };
        const std::vector<BYTE> before = rawCount();
        ASSERT_FALSE(before.empty());
        EXPECT_EQ(0u, RunWelkin());
        EXPECT_TRUE(CommandStarts().empty());
        EXPECT_TRUE(KeyExists(key));
        EXPECT_EQ(before, rawCount());  // neither counted down nor read under a cut path
        HKEY userMode = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.userModeKey, 0, KEY_READ, &userMode));
        DWORD subkeys = 0;
        RegQueryInfoKeyW(userMode, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(userMode);
        EXPECT_EQ(1u, subkeys);  // no key made under a shortened name
        const auto lines = LogLines();
        const std::wstring logged = std::wstring(c.logged) + longName;
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
            return line.size() >= logged.size() &&
                   line.compare(line.size() - logged.size(), logged.size(), logged) == 0;
        }));
        ResetMachine();
    }
}

// A command deletes the next one's key while the walk is under way: the walk ends early, and the start that
// completes the OOBE work still asks for another start, for the commands it could not see.
TEST_F(WelkinRun, ACommandWalkCutShortAsksForAnotherStart) {
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    const std::wstring first = std::wstring(kHalvardUserMode) + L"\\a_first";
    SetRecordString(first, L"runcmd", kRegExe);
    SetRecordString(first, L"cmdargs", L"delete HKLM\\" + std::wstring(kHalvardUserMode) + L"\\b_second /f");
    SetRecordDword(first, L"wait", 1);
    AddCommand(kHalvardUserMode, L"b_second", L"--exit 0", 0, true);
    EXPECT_EQ(1u, RunWelkin());
    EXPECT_FALSE(KeyExists(first));
    EXPECT_FALSE(KeyExists(std::wstring(kHalvardUserMode) + L"\\b_second"));
    EXPECT_TRUE(CommandStarts().empty());
    EXPECT_EQ(1u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
}

TEST_F(WelkinRun, OtherFamilysCommandsAreDeletedUnrun) {
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    AddCommand(kKVRUserMode, L"foreign", L"--exit 0 /foreign", 0, true);
    SetRecordString(std::wstring(kKVRUserMode) + L"\\empty", L"cmdargs", L"x");
    EXPECT_EQ(0u, RunWelkin());
    EXPECT_TRUE(CommandStarts().empty());
    EXPECT_FALSE(KeyExists(std::wstring(kKVRUserMode) + L"\\foreign"));
    EXPECT_TRUE(KeyExists(std::wstring(kKVRUserMode) + L"\\empty"));  // no command: left in place
}

TEST_F(WelkinRun, KVRFamilyIsChosenOnlyThroughTheThirtyTwoBitEntry) {
    struct Case {
        testsupport::RegView view;
        bool kvr;
    };
    for (const Case& c : {Case{testsupport::RegView::Wow64, false}, Case{testsupport::RegView::Wow32, true}}) {
        InstallKVR(c.view);
        SetRecordDword(c.kvr ? kKVROem : kHalvardOem, L"OEMMgr", 1);
        AddCommand(kKVRUserMode, L"kvr", L"--exit 0 /kvr", 0, true);
        AddCommand(kHalvardUserMode, L"halvard", L"--exit 0 /halvard", 0, true);
        EXPECT_EQ(0u, RunWelkin());
        const auto starts = CommandStarts();
        ASSERT_EQ(1u, starts.size());
        EXPECT_EQ(c.kvr ? " --exit 0 /kvr" : " --exit 0 /halvard", starts[0].commandLine);
        // The run flag is written to the KVR key only for the KVR family, to the Halvard key always.
        EXPECT_EQ(c.kvr, RecordDword(kKVROem, L"OEMMgr").has_value());
        EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
        ResetMachine();
    }
}

TEST_F(WelkinRun, SecondInstanceReturnsAtOnce) {
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    // Long enough for a second Wine process to start on a busy machine.
    AddCommand(kHalvardUserMode, L"slow", L"--sleep 15000 --exit 0", 0, true);
    auto first = StartWelkin();
    ASSERT_TRUE(first->Started());
    for (int i = 0; i < 1200 && CommandStarts().empty(); ++i) Sleep(25);
    ASSERT_EQ(1u, CommandStarts().size()) << "the first instance never started its command";
    SetRecordDword(kHalvardOem, L"DisableServices", 7);
    EXPECT_EQ(kAnotherInstance, RunWelkin());
    // The second start still ran its closing steps, while the first is still waiting for its command.
    ASSERT_FALSE(Dword(kHalvardOem, L"OOBEDone").has_value()) << "the first instance finished too early to tell";
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"DisableServices").value_or(99));
    EXPECT_EQ(0u, first->Wait().exitCode);
    EXPECT_EQ(1u, CommandStarts().size());
    // The first start did the work: the next one finds nothing left and starts nothing again.
    EXPECT_EQ(kEFail, RunWelkin());
    EXPECT_EQ(1u, CommandStarts().size());
    EXPECT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0));
}

TEST_F(WelkinRun, FactoryModeRemovesLanguagePacks) {
    const std::wstring apps = Scratch().File(L"apps");
    for (const wchar_t* language : {L"de-DE", L"fr-FR", L"it-IT"})
        Scratch().Write(std::wstring(L"apps\\") + language + L"\\strings.dll", "x");
    struct Case {
        bool removeDisabled;
    };
    for (const Case& c : {Case{true}, Case{false}}) {
        SetRecordDword(kHalvardOem, L"OEMMgr", 1);
        SetDword(kHalvardOem, L"facmode", 1);
        SetDword(kKVROem, L"facmode", 1);
        if (c.removeDisabled) SetDword(L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI", L"RemoveLangPacks", 0);
        SetString(L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\LangList", L"LangPacks", L"de-DE,fr-FR");
        SetString(L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\AppList", L"suite", apps);
        EXPECT_EQ(0u, RunWelkin());
        const bool removed = !c.removeDisabled;
        EXPECT_EQ(removed, GetFileAttributesW((apps + L"\\de-DE").c_str()) == INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(removed, GetFileAttributesW((apps + L"\\fr-FR").c_str()) == INVALID_FILE_ATTRIBUTES);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((apps + L"\\it-IT").c_str()));  // not listed
        EXPECT_FALSE(Dword(kHalvardOem, L"facmode").has_value());
        EXPECT_FALSE(Dword(kKVROem, L"facmode").has_value());
        ResetMachine();
    }
}

TEST_F(WelkinRun, RetryTaskIsDeletedAfterAnOrdinaryRun) {
    InstallUtilityDouble();
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    EXPECT_EQ(0u, RunWelkin());
    const auto calls = UtilityCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ("QzDeleteTask welkin", calls.back());
}

TEST_F(WelkinRun, RetryTaskIsCreatedWhenTheRetryFlagReadsOneAtTheEnd) {
    InstallUtilityDouble();
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    // A command of the suite asks for the retry while the run is under way.
    const std::wstring key = std::wstring(kHalvardUserMode) + L"\\retry";
    SetRecordString(key, L"runcmd", kRegExe);
    SetRecordString(key, L"cmdargs",
                    L"add HKLM\\Software\\Torvex\\Halvard\\welkin /v TaskScheduleRetry /t REG_SZ /d 1 /f");
    SetRecordDword(key, L"wait", 1);
    EXPECT_EQ(0u, RunWelkin());
    const auto calls = UtilityCalls();
    ASSERT_FALSE(calls.empty());
    // The record: size 152, 1, 0, the program path, no pointer at 24, 0, 2, 0.
    const std::string program = Narrow(ProgramFolder()) + "\\welkin.Exe";
    EXPECT_EQ("QzCreateTask welkin 152 1 0 " + program + " null 0 2 0", calls.back());
}

TEST_F(WelkinRun, LanguagePacksAreAlsoDeferredThroughTheUtilityLibrary) {
    InstallUtilityDouble();
    const std::wstring apps = Scratch().File(L"apps");
    Scratch().Write(L"apps\\de-DE\\strings.dll", "x");
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    SetDword(kHalvardOem, L"facmode", 1);
    SetString(L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\LangList", L"LangPacks", L"de-DE");
    SetString(L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\AppList", L"suite", apps);
    EXPECT_EQ(0u, RunWelkin());
    const auto calls = UtilityCalls();
    const std::string folder = Narrow(apps) + "\\de-DE";
    EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), "QzDeleteFilesDeferedW " + folder + "\\*.* 1"));
    EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), "QzDeleteDirectoryDeferedW " + folder + " 1"));
}

TEST_F(WelkinRun, UnsignedUtilityLibraryIsNeverLoaded) {
    InstallUtilityDouble(false);
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    EXPECT_EQ(0u, RunWelkin());  // the run goes on without the library
    EXPECT_TRUE(UtilityCalls().empty());
    EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
}

}  // namespace
}  // namespace systemtest
