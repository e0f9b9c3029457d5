#include "tests/system/WelkinRun.h"

#include <shlobj.h>

#include "foundation/basalt/IniReader.h"
#include "foundation/basalt/RegValueCodec.h"
#include "tests/foundation/logging/LogFileText.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/support/ScrambledRecord.h"
#include "tests/support/WinePaths.h"

namespace systemtest {

using logtest::LogsRoot;
using testsupport::RegView;
using testsupport::ScratchRegistry;

namespace {

std::wstring CommonFilesFolder() {
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

void Copy(const char* linuxPath, const std::wstring& target) {
    ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(linuxPath).c_str(), target.c_str(), FALSE))
        << "copy failed: " << GetLastError();
}

}  // namespace

void WelkinRun::SetUp() {
    programFolder_ = CommonFilesFolder() + L"\\Torvex\\OOBE";
    SHCreateDirectoryExW(nullptr, programFolder_.c_str(), nullptr);
    Copy(WELKIN_EXE, ProgramPath());
    commandDouble_ = scratch_.File(L"command_double.exe");
    Copy(COMMAND_DOUBLE_EXE, commandDouble_);
    commandJournal_ = scratch_.File(L"commands.txt");
    utilityJournal_ = scratch_.File(L"utility.txt");
    wchar_t variant[16] = {};
    failingTelemetry_ =
        GetEnvironmentVariableW(L"WELKIN_SYSTEM_TELEMETRY", variant, 16) && std::wstring(variant) == L"failing";
    if (failingTelemetry_) InstallTelemetryService({{testsupport::TelemetryServiceDouble::kResult, L"0x80004005"}});
}

void WelkinRun::InstallTelemetryService(const std::map<std::wstring, std::wstring>& settings) {
    telemetry_.Register(testsupport::WindowsPathOf(TELEMETRY_DOUBLE_DLL));
    telemetrySettings_ = settings;
}

void WelkinRun::TearDown() {
    for (const wchar_t* key : {L"Software\\Torvex", L"Software\\Wow6432Node\\Torvex"})
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, key, RegView::Wow64);
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kUninstallKVR, RegView::Wow32);
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kUninstallKVR, RegView::Wow64);
    testsupport::TempFolder::RemoveTree(programFolder_);
    testsupport::TempFolder::RemoveTree(LogsRoot());
    DeleteFileW(commandJournal_.c_str());
    DeleteFileW(utilityJournal_.c_str());
    validation_.reset();
    // Every start sends at least one event: a failing service that saw none was never reached.
    if (failingTelemetry_ && startedSinceSetUp_) {
        EXPECT_FALSE(telemetry_.SentRecords().empty()) << "the failing service was never called";
    }
    telemetry_.Unregister();
    telemetry_.ClearJournal();
    telemetrySettings_.clear();
    startedSinceSetUp_ = false;
}

void WelkinRun::InstallUtilityDouble(bool signedBuild) {
    validation_ = std::make_unique<trusttest::ValidationDouble>();
    validation_->Install(L"15.5", trusttest::SignedFolder(L"good"));
    validation_->SetMode(trusttest::ValidationDouble::kVouchSigned);
    const std::wstring build = signedBuild ? trusttest::SignedFolder(L"good") + L"\\QzUtil.dll"
                                           : testsupport::WindowsPathOf(QZUTIL_UNSIGNED_DLL);
    ASSERT_TRUE(CopyFileW(build.c_str(), (programFolder_ + L"\\QzUtil.dll").c_str(), FALSE)) << GetLastError();
}

void WelkinRun::LogToFile() {
    SetRecordDword(L"SOFTWARE\\Torvex\\Logging", L"Logging Mechanism", 1);
    const int created = SHCreateDirectoryExW(nullptr, LogsRoot().c_str(), nullptr);
    ASSERT_TRUE(created == ERROR_SUCCESS || created == ERROR_ALREADY_EXISTS) << created;
    Basalt::CObfuscatedIniReader global;
    global.Load(LogsRoot() + L"\\log.ini");
    ASSERT_TRUE(global.SetDWORD(L"Config", L"Severity", 1));
    ASSERT_TRUE(global.SetDWORD(L"Config", L"Options", 4 | 8 | 16 | 32));
}

std::vector<std::wstring> WelkinRun::LogLines() const {
    const std::wstring text = logtest::TextAfterMark(
        testsupport::TempFolder::ReadAll(LogsRoot() + L"\\welkin\\welkin\\welkin000.log"));
    std::vector<std::wstring> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find(L"\r\n", at);
        lines.push_back(text.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at));
        at = end == std::wstring::npos ? text.size() : end + 2;
    }
    return lines;
}

std::vector<std::string> WelkinRun::UtilityCalls() const { return testsupport::ReadJournalLines(utilityJournal_); }

void WelkinRun::SetRecordDword(const std::wstring& key, const wchar_t* name, DWORD value) {
    registry_.SetBinary(HKEY_LOCAL_MACHINE, key, name, testsupport::ScrambledRecord(REG_DWORD, &value, sizeof value));
}

void WelkinRun::SetRecordString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    // Records keep text in the ANSI code page with its terminator.
    std::string ansi(value.begin(), value.end());
    registry_.SetBinary(HKEY_LOCAL_MACHINE, key, name,
                        testsupport::ScrambledRecord(REG_SZ, ansi.c_str(), static_cast<DWORD>(ansi.size() + 1)));
}

void WelkinRun::SetDword(const std::wstring& key, const wchar_t* name, DWORD value) {
    registry_.SetDword(HKEY_LOCAL_MACHINE, key, name, value);
}

void WelkinRun::SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    registry_.SetString(HKEY_LOCAL_MACHINE, key, name, value);
}

void WelkinRun::InstallKVR(RegView view) {
    registry_.SetString(HKEY_LOCAL_MACHINE, kUninstallKVR, L"DisplayName", L"KVR", view);
}

void WelkinRun::AddCommand(const std::wstring& userModeKey, const std::wstring& name, const std::wstring& arguments,
                           DWORD bootCount, bool wait, const std::wstring& curdir) {
    const std::wstring key = userModeKey + L"\\" + name;
    SetRecordString(key, L"runcmd", commandDouble_);
    SetRecordString(key, L"cmdargs", arguments);
    SetRecordDword(key, L"bootcount", bootCount);
    SetRecordDword(key, L"wait", wait ? 1 : 0);
    if (!curdir.empty()) SetRecordString(key, L"curdir", curdir);
}

std::optional<DWORD> WelkinRun::RecordDword(const std::wstring& key, const wchar_t* name) const {
    DWORD value = 0, size = sizeof value, type = 0;
    if (QzRegReadValueExW(HKEY_LOCAL_MACHINE, key.c_str(), name, &type, reinterpret_cast<BYTE*>(&value), &size,
                          kQzRegRecord) != 0 ||
        type != REG_DWORD)
        return std::nullopt;
    return value;
}

std::optional<DWORD> WelkinRun::Dword(const std::wstring& key, const wchar_t* name) const {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ScratchRegistry::Read(HKEY_LOCAL_MACHINE, key, name, type, data) || type != REG_DWORD || data.size() != 4)
        return std::nullopt;
    return *reinterpret_cast<const DWORD*>(data.data());
}

std::optional<std::wstring> WelkinRun::String(const std::wstring& key, const wchar_t* name) const {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ScratchRegistry::Read(HKEY_LOCAL_MACHINE, key, name, type, data) || type != REG_SZ) return std::nullopt;
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

bool WelkinRun::KeyExists(const std::wstring& key) { return ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, key); }

std::unique_ptr<testsupport::RunningProcess> WelkinRun::StartWelkin(DWORD timeoutMs) {
    testsupport::ProcessOptions options;
    options.timeoutMs = timeoutMs;
    options.environment[L"WELKIN_COMMAND_JOURNAL"] = commandJournal_;
    options.environment[L"WELKIN_QZUTIL_JOURNAL"] = utilityJournal_;
    options.environment[testsupport::TelemetryServiceDouble::kJournal] = telemetry_.JournalPath();
    for (const auto& [name, value] : telemetrySettings_) options.environment[name] = value;
    startedSinceSetUp_ = true;
    return std::make_unique<testsupport::RunningProcess>(ProgramPath(), options);
}

DWORD WelkinRun::RunWelkin(DWORD timeoutMs) {
    const testsupport::ProcessResult result = StartWelkin(timeoutMs)->Wait();
    EXPECT_TRUE(result.started) << result.startError;
    EXPECT_FALSE(result.timedOut);
    return result.exitCode;
}

std::vector<testsupport::CommandStart> WelkinRun::CommandStarts() const {
    return testsupport::ReadCommandStarts(commandJournal_);
}

}  // namespace systemtest
