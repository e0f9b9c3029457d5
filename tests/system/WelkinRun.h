#pragma once
// Whole-run fixture: lays out an OEM configuration in the registry (records where welkin reads scrambled values),
// installs welkin.exe where the suite puts it (Common Files\Torvex\OOBE, the retry task's program), optionally with
// the utility-library double beside it, runs it through the process runner and reads back what it left: the full
// exit code, registry values, the command double's journal and the utility double's journal.
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

namespace systemtest {

inline constexpr wchar_t kHalvardOem[] = L"Software\\Torvex\\Halvard\\Oem";
inline constexpr wchar_t kKVROem[] = L"Software\\Torvex\\KVR\\Oem";
inline constexpr wchar_t kHalvardUserMode[] = L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode";
inline constexpr wchar_t kHalvardUserModeKVR[] = L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode_KVR";
inline constexpr wchar_t kKVRUserMode[] = L"Software\\Torvex\\KVR\\Oem\\Manage\\UserMode";
inline constexpr wchar_t kRetryKey[] = L"Software\\Torvex\\Halvard\\welkin";
inline constexpr wchar_t kUninstallKVR[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KVR";

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

    // The signed utility-library double beside welkin.exe, vouched for by the validation-service double; with
    // `signedBuild` false the unsigned build, which the trust check must refuse.
    void InstallUtilityDouble(bool signedBuild = true);
    // The calls the utility double saw, one line each.
    std::vector<std::string> UtilityCalls() const;

    // The telemetry service double registered as the service, with its settings (TelemetryServiceDouble's names)
    // passed to welkin. Every scenario gets it failing when the environment names WELKIN_SYSTEM_TELEMETRY=failing.
    void InstallTelemetryService(const std::map<std::wstring, std::wstring>& settings = {});
    const testsupport::TelemetryServiceDouble& Telemetry() const { return telemetry_; }

    // welkin logs through the file logger at every severity, each line with its file, line and function fields.
    void LogToFile();
    // The lines of welkin's log file, without their line ends.
    std::vector<std::wstring> LogLines() const;

    // Readback: empty when absent or unreadable.
    std::optional<DWORD> RecordDword(const std::wstring& key, const wchar_t* name) const;
    std::optional<DWORD> Dword(const std::wstring& key, const wchar_t* name) const;
    std::optional<std::wstring> String(const std::wstring& key, const wchar_t* name) const;
    static bool KeyExists(const std::wstring& key);

    // Runs the installed welkin.exe once and returns its full exit code (the test fails on a time-out).
    DWORD RunWelkin(DWORD timeoutMs = 60000);
    std::unique_ptr<testsupport::RunningProcess> StartWelkin(DWORD timeoutMs = 60000);

    std::vector<testsupport::CommandStart> CommandStarts() const;
    std::wstring CommandDouble() const { return commandDouble_; }
    std::wstring ProgramFolder() const { return programFolder_; }
    std::wstring ProgramPath() const { return programFolder_ + L"\\welkin.exe"; }
    const testsupport::TempFolder& Scratch() const { return scratch_; }
    std::wstring CommandJournal() const { return commandJournal_; }

    testsupport::ScratchRegistry registry_;

private:
    testsupport::TempFolder scratch_;
    std::wstring programFolder_;
    std::wstring commandDouble_;
    std::wstring commandJournal_;
    std::wstring utilityJournal_;
    std::unique_ptr<trusttest::ValidationDouble> validation_;
    testsupport::TelemetryServiceDouble telemetry_{scratch_.File(L"telemetry.txt")};
    std::map<std::wstring, std::wstring> telemetrySettings_;
    bool failingTelemetry_ = false;
    bool startedSinceSetUp_ = false;
};

}  // namespace systemtest
