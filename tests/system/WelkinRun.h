#pragma once
// Whole-machine fixture for runs of the real welkin.exe. It installs welkin.exe where the suite puts it (Common
// Files\Torvex\OOBE, the retry task's program), lays out the OEM configuration in the registry (records where welkin
// reads scrambled values), puts the suite's doubles where welkin looks for them, runs the program through the
// process runner and reads back what it left: the full exit code, registry values, log lines and the journals of
// the doubles. TearDown takes every piece away again, so a case can rebuild the machine (ResetMachine).
//
// Public API (for tests deriving from WelkinRun):
//   Registry layout      SetRecordDword, SetRecordString, SetDword, SetString, InstallKVR, AddCommand
//   Whole machines       InstallKVRMachine(), InstallHalvardMachine(): the OEM configuration of a machine of that
//                        family (run flag, KVR install folder with qzoemmap.ini and langmap.dat, common-build partner
//                        data, build-key values, scanner and antivirus keys, isdudata template, one command in
//                        each UserMode key of its family, one in each of the other family's); returns a Machine
//                        with the family's key paths and the values the machine holds (kMachineValues).
//                        InstallSuite(): every double below, signed where welkin checks signatures.
//   Pieces of a machine  SetKVRInstallFolder, WriteOemMapIni, WriteLangMap, ListPartnerData, FamilyKeysOf
//   Suite doubles        InstallUtilityDouble (QzUtil.dll), InstallBus (Corlune.dll and its settings manager),
//                        InstallTelemetryService, InstallSelector (Pomvek.dll, SetSelector for its answers),
//                        InstallInstaller (qzinst.exe: the command double, journaled with the commands),
//                        InstallServiceManager (RVXAAPI.DLL, service host enabled), AddWindowsService
//   Runs                 RunWelkin, StartWelkin, LogToFile, ResetMachine, ClearJournals; InstallQuillon, RunQuillon
//   Readback             RecordDword, RecordString, Dword, String, KeyExists, LogLines, LogText, CommandStarts,
//                        UtilityCalls, BusCalls, SelectorCalls, ManagerCalls, FreshInstallComplete, Telemetry(),
//                        RoadCalls (every double's calls of welkin's runs in one order), CounterCalls
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/ProcessRunner.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TelemetryServiceDouble.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestService.h"

namespace systemtest {

inline constexpr wchar_t kHalvardOem[] = L"Software\\Torvex\\Halvard\\Oem";
inline constexpr wchar_t kKVROem[] = L"Software\\Torvex\\KVR\\Oem";
inline constexpr wchar_t kHalvardUserMode[] = L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode";
inline constexpr wchar_t kHalvardUserModeKVR[] = L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode_KVR";
inline constexpr wchar_t kKVRUserMode[] = L"Software\\Torvex\\KVR\\Oem\\Manage\\UserMode";
inline constexpr wchar_t kRetryKey[] = L"Software\\Torvex\\Halvard\\welkin";
inline constexpr wchar_t kUninstallKVR[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KVR";
inline constexpr wchar_t kServiceHostKey[] = L"SOFTWARE\\Torvex\\RVXAHOST";
inline constexpr wchar_t kScannerKey[] =
    L"Software\\Torvex\\Dunmore\\YVCore\\On Access Scanner\\QzShield\\Configuration";
inline constexpr wchar_t kAntivirusInstallKey[] = L"SOFTWARE\\Torvex\\Skellig\\InstallSettings";
inline constexpr wchar_t kAntivirusSubstituteKey[] = L"SOFTWARE\\Torvex\\Skellig\\InstallSettings\\Substitute";
inline constexpr wchar_t kPartnerDataKey[] = L"SOFTWARE\\Torvex\\Halvard\\CommonBuild\\PartnerDataFile";

enum class Family { KVR, Halvard };

// The registry keys of one family, as welkin's key-path table names them (HKLM).
struct FamilyKeys {
    std::wstring oem, userMode, userModeKVR, mui, langList, appList, queryParams, substitute, oemInfo, appInfo;
};
FamilyKeys FamilyKeysOf(Family family);

// The values a whole machine holds; the selector's GetLCID answer and its map answer are `lcid`.
struct MachineValues {
    DWORD lcid;
    const wchar_t* lcidText;
    const wchar_t* buildKey;
    const wchar_t* terms;        // under the build key's oeminfo key and the KVR OEM substitute key
    const wchar_t* langCode;     // the ini's and the language map's language code of `lcid`
    // The OEM map ini's terms section.
    const wchar_t* iniAffid;
    const wchar_t* iniDomain;
    const wchar_t* iniLangid;
    const wchar_t* iniCulture;
    // langmap.dat's termsinfo of "<lcid>_terms_<terms>".
    const wchar_t* mapAffid;
    const wchar_t* mapDomain;
    const wchar_t* mapCulture;
    // Command tokens: the build's OEM info values that %AFFID% and %LANGID% are replaced by.
    const wchar_t* commandBuildKey;
    const wchar_t* commandAffid;
    const wchar_t* commandLang;
    const wchar_t* isduTemplate;  // under the family's AppInfo key
};
inline constexpr MachineValues kMachineValues{.lcid = 1031,
                                             .lcidText = L"1031",
                                             .buildKey = L"BK-ROAD",
                                             .terms = L"T7",
                                             .langCode = L"de-de",
                                             .iniAffid = L"777",
                                             .iniDomain = L"ini.example",
                                             .iniLangid = L"7",
                                             .iniCulture = L"de-DE",
                                             .mapAffid = L"778",
                                             .mapDomain = L"map.example",
                                             .mapCulture = L"de-AT",
                                             .commandBuildKey = L"CB-1",
                                             .commandAffid = L"A3",
                                             .commandLang = L"fr-fr",
                                             .isduTemplate = L"lcid=%lcid%&lang=%lang%&affid=%affid%"};

// A machine laid out by InstallKVRMachine or InstallHalvardMachine.
struct Machine {
    Family family;
    const wchar_t* name;  // "KVR" or "Halvard"
    FamilyKeys own, other;
    std::wstring kvrFolder;  // the KVR install folder
    // The commands queued under the own family's UserMode_KVR and UserMode keys (run, with tokens) and under the
    // other family's (to be deleted unrun): subkey names.
    std::wstring productCommand = L"product", partnerCommand = L"partner", strayCommand = L"stray";
};

// One line of the road journal (tests/doubles/JournalFile.h): the double ("bus", "command", "manager", "selector",
// "telemetry", "utility", "validation") and its own journal line.
struct RoadCall {
    std::string source;
    std::string line;
};

// One call the bus double journaled: its entry and its key=value fields.
struct BusCall {
    std::string entry;
    std::map<std::string, std::string> fields;
};

class WelkinRun : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Between the cases of one test: back to a machine without welkin's keys and with a fresh installed program.
    void ResetMachine() {
        TearDown();
        SetUp();
    }

    // Registry layout. Record values are stored as welkin's registry records.
    void SetRecordDword(const std::wstring& key, const wchar_t* name, DWORD value);
    void SetRecordString(const std::wstring& key, const wchar_t* name, const std::wstring& value);
    void SetDword(const std::wstring& key, const wchar_t* name, DWORD value);
    void SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value);
    // The KVR product's uninstall entry, in the 32-bit view (or, for the negative case, the 64-bit view).
    void InstallKVR(testsupport::RegView view = testsupport::RegView::Wow32);
    // A UserMode command that runs the command double with the given arguments.
    void AddCommand(const std::wstring& userModeKey, const std::wstring& name, const std::wstring& arguments,
                    DWORD bootCount, bool wait, const std::wstring& curdir = L"");

    // Whole machines (see the header comment). The suite's doubles are not part of them: InstallSuite.
    Machine InstallKVRMachine() { return InstallMachine(Family::KVR); }
    Machine InstallHalvardMachine() { return InstallMachine(Family::Halvard); }
    Machine InstallMachine(Family family);
    void InstallSuite();

    // Pieces of a machine. The KVR install folder is a scratch folder named in "SOFTWARE\Torvex\KVR".
    std::wstring SetKVRInstallFolder();
    void WriteOemMapIni(const std::string& text);
    // A language map enciphered as the suite ships it, into the KVR install folder.
    void WriteLangMap(const wchar_t* fileName, const std::string& xml);
    // A partner data file listed under the common-build key, so the machine counts as a common build.
    void ListPartnerData(const wchar_t* guid, const wchar_t* fileName);

    // The signed utility-library double beside welkin.exe, vouched for by the validation-service double; with
    // `signedBuild` false the unsigned build, which the trust check must refuse.
    void InstallUtilityDouble(bool signedBuild = true);
    // The calls the utility double saw, one line each.
    std::vector<std::string> UtilityCalls() const;

    // The signed bus double beside welkin.exe (the first folder it is searched in), vouched for by the validation
    // double, with the double's settings (tests/doubles/CorluneControl.h).
    void InstallBus(const std::wstring& settings = L"");
    std::vector<BusCall> BusCalls() const;

    // The telemetry service double registered as the service, with its settings (TelemetryServiceDouble's names)
    // passed to welkin: the signed build, vouched for by the validation double; with `signedServer` false the
    // unsigned build, which the trust check must refuse. Every scenario gets it failing when the environment names
    // WELKIN_SYSTEM_TELEMETRY=failing.
    void InstallTelemetryService(const std::map<std::wstring, std::wstring>& settings = {}, bool signedServer = true);
    const testsupport::TelemetryServiceDouble& Telemetry() const { return telemetry_; }

    // The language-selector double as Common Files\Torvex\Platform\Pomvek.dll, journaling; its answers are set
    // with SetSelector (tests/doubles/PomvekIds.h names).
    void InstallSelector();
    void SetSelector(const wchar_t* name, DWORD value);
    std::vector<std::string> SelectorCalls() const;

    // The command double as the suite installer Common Files (x86)\Torvex\Installer\qzinst.exe; its starts are in
    // CommandStarts with the commands'. Its path:
    void InstallInstaller();
    std::wstring InstallerPath() const;

    // RVXAAPI.DLL (signed or not) in a host folder, the service host enabled and pointing at it.
    void InstallServiceManager(bool signedBuild = true);
    std::vector<std::string> ManagerCalls() const;
    std::optional<DWORD> FreshInstallComplete() const;
    // A Windows service running the service double in `mode`, deleted again at TearDown.
    testsupport::TestService& AddWindowsService(const std::wstring& name, DWORD startType,
                                                const std::wstring& mode = L"good");

    // quillon.exe beside welkin.exe; with `fakeCounters` the performance-data double as pdh.dll beside it, which
    // RunQuillon has Wine load instead of its own.
    void InstallQuillon(bool fakeCounters);
    // Runs it with the idle waiter's settings stored as records and the double's sample kind ("busy" or "idle");
    // returns its full exit code (the test fails on a time-out).
    DWORD RunQuillon(const std::map<std::wstring, DWORD>& settings, const std::wstring& samples = L"busy",
                     DWORD timeoutMs = 180000);
    std::vector<std::string> CounterCalls() const;

    // welkin logs through the file logger at every severity, each line with its file, line and function fields.
    void LogToFile();
    // The lines of welkin's log file, without their line ends.
    std::vector<std::wstring> LogLines() const;
    // Every log line welkin wrote in this machine's log folders.
    std::wstring LogText() const;

    // Readback: empty when absent or unreadable.
    std::optional<DWORD> RecordDword(const std::wstring& key, const wchar_t* name) const;
    std::optional<std::wstring> RecordString(const std::wstring& key, const wchar_t* name) const;
    std::optional<DWORD> Dword(const std::wstring& key, const wchar_t* name) const;
    std::optional<std::wstring> String(const std::wstring& key, const wchar_t* name) const;
    static bool KeyExists(const std::wstring& key);

    // Runs the installed welkin.exe once and returns its full exit code (the test fails on a time-out).
    DWORD RunWelkin(DWORD timeoutMs = 60000);
    // Empties every double's journal and welkin's log files, so the next start's calls stand alone.
    void ClearJournals();
    std::unique_ptr<testsupport::RunningProcess> StartWelkin(DWORD timeoutMs = 60000);

    std::vector<testsupport::CommandStart> CommandStarts() const;
    std::vector<RoadCall> RoadCalls() const;
    std::wstring CommandDouble() const { return commandDouble_; }
    std::wstring ProgramFolder() const { return programFolder_; }
    std::wstring ProgramPath() const { return programFolder_ + L"\\welkin.exe"; }
    const testsupport::TempFolder& Scratch() const { return scratch_; }
    std::wstring CommandJournal() const { return commandJournal_; }

    testsupport::ScratchRegistry registry_;

private:
    // The validation-service double vouching for every signed file, made once per machine.
    void TrustSignedDoubles();

    testsupport::TempFolder scratch_;
    std::wstring programFolder_;
    std::wstring commandDouble_;
    std::wstring commandJournal_;
    std::wstring utilityJournal_;
    std::wstring busJournal_;
    std::wstring busSettings_;
    std::wstring managerJournal_;
    std::wstring selectorJournal_;
    std::wstring roadJournal_;
    std::wstring counterJournal_;
    bool fakeCounters_ = false;
    std::wstring kvrFolder_;
    bool selectorInstalled_ = false;
    bool installerInstalled_ = false;
    std::unique_ptr<trusttest::ValidationDouble> validation_;
    std::vector<std::unique_ptr<testsupport::TestService>> services_;
    testsupport::TelemetryServiceDouble telemetry_{scratch_.File(L"telemetry.txt")};
    std::map<std::wstring, std::wstring> telemetrySettings_;
    bool failingTelemetry_ = false;
    bool startedSinceSetUp_ = false;
};

}  // namespace systemtest
