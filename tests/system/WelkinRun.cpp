#include "tests/system/WelkinRun.h"

#include <shlobj.h>

#include <cstdio>
#include <sstream>

#include "foundation/basalt/IniReader.h"
#include "foundation/basalt/RegValueCodec.h"
#include "tests/foundation/logging/LogFileText.h"
#include "tests/doubles/CorluneControl.h"
#include "tests/doubles/JournalFile.h"
#include "tests/doubles/PomvekIds.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/support/LangMapFile.h"
#include "tests/support/ScrambledRecord.h"
#include "tests/support/WinePaths.h"

namespace systemtest {

using logtest::LogsRoot;
using testsupport::RegView;
using testsupport::ScratchRegistry;

namespace {

constexpr wchar_t kIdleWaiterKey[] = L"Software\\Torvex\\Halvard\\OOBEAutoTune";

// This prefix's answer to welkin.exe's version query, which a services case may set.
constexpr wchar_t kWelkinVersionKey[] = L"Software\\Wine\\AppDefaults\\welkin.exe";

std::wstring ShellFolder(int csidl) {
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

std::wstring CommonFilesFolder() { return ShellFolder(CSIDL_PROGRAM_FILES_COMMON); }
std::wstring SelectorFolder() { return CommonFilesFolder() + L"\\Torvex\\Platform"; }
std::wstring InstallerFolder() { return ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86) + L"\\Torvex\\Installer"; }
// The partner data folder that goes with a KVR install folder: on its drive.
std::wstring PartnerDataFolder(const std::wstring& kvrFolder) {
    const wchar_t drive = kvrFolder.empty() ? L'C' : kvrFolder[0];
    return std::wstring(1, drive) + L":\\Programdata\\Torvex\\KVR\\Regwiz\\PartnerData";
}

std::vector<BusCall> ReadBusCalls(const std::wstring& journal) {
    std::vector<BusCall> calls;
    for (const std::string& line : testsupport::ReadJournalLines(journal)) {
        std::istringstream in(line);
        BusCall call;
        std::getline(in, call.entry, '\t');
        for (std::string field; std::getline(in, field, '\t');) {
            const size_t equals = field.find('=');
            if (equals != std::string::npos) call.fields[field.substr(0, equals)] = field.substr(equals + 1);
        }
        calls.push_back(std::move(call));
    }
    return calls;
}

void WalkLogs(const std::wstring& folder, std::wstring& text) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            WalkLogs(path, text);
        else if (name.size() > 4 && name.compare(name.size() - 4, 4, L".log") == 0)
            text += logtest::TextAfterMark(testsupport::TempFolder::ReadAll(path));
    } while (FindNextFileW(search, &found));
    FindClose(search);
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
    busJournal_ = scratch_.File(L"bus.txt");
    managerJournal_ = scratch_.File(L"manager.txt");
    selectorJournal_ = scratch_.File(L"selector.txt");
    roadJournal_ = scratch_.File(L"road.txt");
    counterJournal_ = scratch_.File(L"counters.txt");
    wchar_t variant[16] = {};
    failingTelemetry_ =
        GetEnvironmentVariableW(L"WELKIN_SYSTEM_TELEMETRY", variant, 16) && std::wstring(variant) == L"failing";
    if (failingTelemetry_) InstallTelemetryService({{testsupport::TelemetryServiceDouble::kResult, L"0x80004005"}});
}

void WelkinRun::InstallTelemetryService(const std::map<std::wstring, std::wstring>& settings, bool signedServer) {
    TrustSignedDoubles();
    telemetry_.Register(signedServer ? trusttest::SignedFile(L"good", L"telemetry_service")
                                     : testsupport::WindowsPathOf(TELEMETRY_DOUBLE_DLL));
    telemetrySettings_ = settings;
}

void WelkinRun::TearDown() {
    // A failed case shows what its runs left: every double's calls in order, and welkin's log when one was written.
    if (HasFailure()) {
        std::printf("road journal:\n%s\nwelkin's log:\n%ls\n", testsupport::TempFolder::ReadAll(roadJournal_).c_str(),
                    LogText().c_str());
        std::fflush(stdout);
    }
    for (const wchar_t* key : {L"Software\\Torvex", L"Software\\Wow6432Node\\Torvex"})
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, key, RegView::Wow64);
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kUninstallKVR, RegView::Wow32);
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kUninstallKVR, RegView::Wow64);
    testsupport::TempFolder::RemoveTree(programFolder_);
    testsupport::TempFolder::RemoveTree(LogsRoot());
    DeleteFileW(commandJournal_.c_str());
    DeleteFileW(utilityJournal_.c_str());
    DeleteFileW(busJournal_.c_str());
    DeleteFileW(managerJournal_.c_str());
    DeleteFileW(selectorJournal_.c_str());
    DeleteFileW(roadJournal_.c_str());
    DeleteFileW(counterJournal_.c_str());
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kIdleWaiterKey);
    fakeCounters_ = false;
    busSettings_.clear();
    services_.clear();
    ScratchRegistry::Wipe(HKEY_CURRENT_USER, kWelkinVersionKey);
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, doubles::kPomvekDoubleKey, RegView::Wow64);
    if (selectorInstalled_) testsupport::TempFolder::RemoveTree(SelectorFolder());
    if (installerInstalled_) testsupport::TempFolder::RemoveTree(InstallerFolder());
    selectorInstalled_ = installerInstalled_ = false;
    if (!kvrFolder_.empty()) {
        testsupport::TempFolder::RemoveTree(PartnerDataFolder(kvrFolder_));
        testsupport::TempFolder::RemoveTree(kvrFolder_);
    }
    kvrFolder_.clear();
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

void WelkinRun::TrustSignedDoubles() {
    if (validation_) return;
    validation_ = std::make_unique<trusttest::ValidationDouble>();
    validation_->Install(L"15.5", trusttest::SignedFolder(L"good"));
    validation_->SetMode(trusttest::ValidationDouble::kVouchSigned);
}

void WelkinRun::InstallUtilityDouble(bool signedBuild) {
    TrustSignedDoubles();
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

std::optional<std::wstring> WelkinRun::RecordString(const std::wstring& key, const wchar_t* name) const {
    wchar_t text[2100] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    if (QzRegReadValueExW(HKEY_LOCAL_MACHINE, key.c_str(), name, &type, reinterpret_cast<BYTE*>(text), &size,
                          kQzRegRecord) != 0 ||
        type != REG_SZ)
        return std::nullopt;
    return std::wstring(text);
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
    options.environment[doubles::corlune::kJournalVariable] = busJournal_;
    if (!busSettings_.empty()) options.environment[doubles::corlune::kConfigVariable] = busSettings_;
    options.environment[L"WELKIN_RVXAAPI_JOURNAL"] = managerJournal_;
    options.environment[doubles::kRoadJournalVariable] = roadJournal_;
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

FamilyKeys FamilyKeysOf(Family family) {
    if (family == Family::KVR)
        return {L"Software\\Torvex\\KVR\\Oem",
                L"Software\\Torvex\\KVR\\Oem\\Manage\\UserMode",
                L"Software\\Torvex\\KVR\\Oem\\Manage\\UserMode_KVR",
                L"Software\\Torvex\\KVR\\Oem\\Manage\\MUI",
                L"Software\\Torvex\\KVR\\Oem\\Manage\\MUI\\LangList",
                L"Software\\Torvex\\KVR\\Oem\\Manage\\MUI\\AppList",
                L"software\\torvex\\kvr\\appinfo\\substitute\\queryparams",
                L"SOFTWARE\\Torvex\\KVR\\AppInfo\\Substitute",
                L"software\\torvex\\oeminfo",
                L"SOFTWARE\\Torvex\\KVR\\AppInfo"};
    return {L"Software\\Torvex\\Halvard\\Oem",
            L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode",
            L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode_KVR",
            L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI",
            L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\LangList",
            L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\AppList",
            L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute\\QueryParams",
            L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute",
            L"software\\torvex\\Halvard\\oeminfo",
            L"SOFTWARE\\Torvex\\Halvard\\AppInfo"};
}

namespace {

std::string Narrow(const wchar_t* text) { return std::string(text, text + wcslen(text)); }

}  // namespace

Machine WelkinRun::InstallMachine(Family family) {
    const MachineValues& v = kMachineValues;
    Machine machine{family, family == Family::KVR ? L"KVR" : L"Halvard", FamilyKeysOf(family),
                    FamilyKeysOf(family == Family::KVR ? Family::Halvard : Family::KVR), SetKVRInstallFolder()};
    if (family == Family::KVR) InstallKVR();
    // Not yet through OOBE, started by the service host with the run flag set.
    SetRecordDword(machine.own.oem, L"OEMMgr", 1);
    SetDword(machine.own.oem, L"facmode", 0);

    // The language step: the OEM map ini keyed by the selector's LCID and the build's terms.
    const std::string lang = Narrow(v.langCode), terms = Narrow(v.terms);
    WriteOemMapIni("[LCIDLangCodeMap]\r\n" + Narrow(v.lcidText) + "=" + lang + "\r\n[oeminfo]\r\nbuildKey=" +
                   Narrow(v.buildKey) + "\r\n[" + lang + "_terms_" + terms + "]\r\naffid=" + Narrow(v.iniAffid) +
                   "\r\ndomain=" + Narrow(v.iniDomain) + "\r\nlangid=" + Narrow(v.iniLangid) +
                   "\r\nculture=" + Narrow(v.iniCulture) + "\r\n");
    SetRecordString(machine.own.oemInfo + L"\\" + v.buildKey, L"terms", v.terms);
    // A common build: a partner data file, and the OEM language map it reads.
    ListPartnerData(L"{6A1C1E02-58D4-4C43-9B43-3C1D0F5E7A11}", L"pd.dat");
    SetString(L"software\\Torvex\\oeminfo\\substitute", L"terms", v.terms);
    WriteLangMap(L"langmap.dat",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?><packageinfo buildkey=\"" + Narrow(v.buildKey) +
                     "\"><packagedetails><terms><termsinfo lcidterms=\"" + Narrow(v.lcidText) + "_terms_" + terms +
                     "\" lcid=\"" + Narrow(v.lcidText) + "\" terms=\"" + terms + "\" affid=\"" + Narrow(v.mapAffid) +
                     "\" domain=\"" + Narrow(v.mapDomain) + "\" culture=\"" + Narrow(v.mapCulture) + "\" lang=\"" +
                     lang + "\"/></terms></packagedetails></packageinfo>");

    // On-access scanning to enable, and the antivirus product's install time to stamp.
    SetDword(kScannerKey, L"OASEnabled", 1);
    SetString(kAntivirusInstallKey, L"Install Dir", L"C:\\AV");
    SetString(kAntivirusSubstituteKey, L"placeholder", L"x");

    SetRecordString(machine.own.appInfo, L"isdudata", v.isduTemplate);

    // The PC maker's commands: one for the own product, one with the build's tokens; the other family's are stale.
    AddCommand(machine.own.userModeKVR, machine.productCommand, L"--exit 0 /product", 0, true);
    AddCommand(machine.own.userMode, machine.partnerCommand, L"--exit 0 /affid=%AFFID% /lang=%LANGID%", 0, true);
    SetRecordString(machine.own.userMode + L"\\" + machine.partnerCommand, L"BuildKey", v.commandBuildKey);
    SetRecordString(machine.own.oemInfo + L"\\" + v.commandBuildKey, L"affid", v.commandAffid);
    SetRecordString(machine.own.oemInfo + L"\\" + v.commandBuildKey, L"lang", v.commandLang);
    AddCommand(machine.other.userModeKVR, machine.strayCommand, L"--exit 0 /stray", 0, true);
    AddCommand(machine.other.userMode, machine.strayCommand, L"--exit 0 /stray", 0, true);
    return machine;
}

void WelkinRun::InstallSuite() {
    InstallUtilityDouble();
    InstallBus();
    InstallTelemetryService();
    InstallSelector();
    SetSelector(L"GetLCIDValue", kMachineValues.lcid);
    SetSelector(L"MapLcid", kMachineValues.lcid);
    InstallInstaller();
    InstallServiceManager();
}

std::wstring WelkinRun::SetKVRInstallFolder() {
    if (kvrFolder_.empty()) {
        kvrFolder_ = scratch_.File(L"kvr");
        CreateDirectoryW(kvrFolder_.c_str(), nullptr);
    }
    SetString(L"SOFTWARE\\Torvex\\KVR", L"Install Dir", kvrFolder_);
    return kvrFolder_;
}

void WelkinRun::WriteOemMapIni(const std::string& text) {
    scratch_.Write(L"kvr\\qzoemmap.ini", text);
    SetKVRInstallFolder();
}

void WelkinRun::WriteLangMap(const wchar_t* fileName, const std::string& xml) {
    scratch_.Write(std::wstring(L"kvr\\") + fileName, testsupport::EncipheredLangMap(xml));
    SetKVRInstallFolder();
}

void WelkinRun::ListPartnerData(const wchar_t* guid, const wchar_t* fileName) {
    const std::wstring folder = PartnerDataFolder(SetKVRInstallFolder());
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    const HANDLE file =
        CreateFileW((folder + L"\\" + fileName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
    CloseHandle(file);
    SetString(std::wstring(kPartnerDataKey) + L"\\" + guid, L"GuidFilename", fileName);
}

void WelkinRun::InstallBus(const std::wstring& settings) {
    TrustSignedDoubles();
    const std::wstring build = trusttest::SignedFolder(L"good") + L"\\Corlune.dll";
    ASSERT_TRUE(CopyFileW(build.c_str(), (programFolder_ + L"\\Corlune.dll").c_str(), FALSE)) << GetLastError();
    busSettings_ = settings;
}

std::vector<BusCall> WelkinRun::BusCalls() const { return ReadBusCalls(busJournal_); }

void WelkinRun::InstallSelector() {
    const std::wstring folder = SelectorFolder();
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(POMVEK_DLL).c_str(), (folder + L"\\Pomvek.dll").c_str(), FALSE))
        << GetLastError();
    selectorInstalled_ = true;
    registry_.SetString(HKEY_LOCAL_MACHINE, doubles::kPomvekDoubleKey, L"Journal", selectorJournal_, RegView::Wow64);
}

void WelkinRun::SetSelector(const wchar_t* name, DWORD value) {
    registry_.SetDword(HKEY_LOCAL_MACHINE, doubles::kPomvekDoubleKey, name, value, RegView::Wow64);
}

std::vector<std::string> WelkinRun::SelectorCalls() const {
    return testsupport::ReadJournalLines(selectorJournal_);
}

void WelkinRun::InstallInstaller() {
    SHCreateDirectoryExW(nullptr, InstallerFolder().c_str(), nullptr);
    installerInstalled_ = true;
    ASSERT_TRUE(CopyFileW(commandDouble_.c_str(), InstallerPath().c_str(), FALSE)) << GetLastError();
}

std::wstring WelkinRun::InstallerPath() const { return InstallerFolder() + L"\\qzinst.exe"; }

void WelkinRun::InstallServiceManager(bool signedBuild) {
    TrustSignedDoubles();
    const std::wstring folder = Scratch().File(L"RVXAHost");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring build =
        signedBuild ? trusttest::SignedFile(L"good", L"RVXAAPI") : trusttest::UnsignedFile(L"RVXAAPI");
    ASSERT_TRUE(CopyFileW(build.c_str(), (folder + L"\\RVXAAPI.DLL").c_str(), FALSE)) << GetLastError();
    registry_.SetDword(HKEY_LOCAL_MACHINE, kServiceHostKey, L"Enable", 1, RegView::Wow64);
    registry_.SetString(HKEY_LOCAL_MACHINE, kServiceHostKey, L"szInstallDir64", folder, RegView::Wow64);
}

std::vector<std::string> WelkinRun::ManagerCalls() const { return testsupport::ReadJournalLines(managerJournal_); }

std::optional<DWORD> WelkinRun::FreshInstallComplete() const {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kServiceHostKey, L"FreshInstallComplete", type, data,
                               RegView::Wow64) ||
        type != REG_DWORD || data.size() != 4)
        return std::nullopt;
    return *reinterpret_cast<const DWORD*>(data.data());
}

testsupport::TestService& WelkinRun::AddWindowsService(const std::wstring& name, DWORD startType,
                                                      const std::wstring& mode) {
    const std::wstring program = L"\"" + testsupport::WindowsPathOf(SERVICE_DOUBLE_EXE) + L"\" " + mode;
    services_.push_back(std::make_unique<testsupport::TestService>(name, program, startType));
    return *services_.back();
}

std::wstring WelkinRun::LogText() const {
    std::wstring text;
    WalkLogs(LogsRoot(), text);
    return text;
}

void WelkinRun::ClearJournals() {
    for (const std::wstring& journal : {commandJournal_, utilityJournal_, busJournal_, managerJournal_,
                                        selectorJournal_, roadJournal_, counterJournal_})
        DeleteFileW(journal.c_str());
    telemetry_.ClearJournal();
    // welkin's own log files; the log settings beside them stay.
    testsupport::TempFolder::RemoveTree(LogsRoot() + L"\\welkin");
}

std::vector<RoadCall> WelkinRun::RoadCalls() const {
    std::vector<RoadCall> calls;
    for (const std::string& line : testsupport::ReadJournalLines(roadJournal_)) {
        const size_t tab = line.find('\t');
        calls.push_back({line.substr(0, tab), tab == std::string::npos ? std::string() : line.substr(tab + 1)});
    }
    return calls;
}

void WelkinRun::InstallQuillon(bool fakeCounters) {
    Copy(QUILLON_EXE, programFolder_ + L"\\quillon.exe");
    const std::wstring pdh = programFolder_ + L"\\pdh.dll";
    if (fakeCounters)
        Copy(PDH_DOUBLE_DLL, pdh);
    else
        DeleteFileW(pdh.c_str());
    fakeCounters_ = fakeCounters;
}

DWORD WelkinRun::RunQuillon(const std::map<std::wstring, DWORD>& settings, const std::wstring& samples,
                            DWORD timeoutMs) {
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kIdleWaiterKey);
    registry_.Create(HKEY_LOCAL_MACHINE, kIdleWaiterKey);
    for (const auto& [name, value] : settings)
        registry_.SetBinary(HKEY_LOCAL_MACHINE, kIdleWaiterKey, name.c_str(),
                            testsupport::ScrambledRecord(REG_DWORD, &value, sizeof value));
    testsupport::ProcessOptions options;
    options.timeoutMs = timeoutMs;
    options.environment[L"WELKIN_PDH_JOURNAL"] = counterJournal_;
    options.environment[L"WELKIN_PDH_SAMPLES"] = samples;
    if (fakeCounters_) {
        // Wine's own pdh.dll comes first unless the native one is named; the prefix's overrides stay.
        wchar_t overrides[512] = {};
        const DWORD length = GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 512);
        const std::wstring before = length > 0 && length < 512 ? std::wstring(overrides) + L";" : L"";
        options.environment[L"WINEDLLOVERRIDES"] = before + L"pdh=n";
    }
    const testsupport::ProcessResult result = testsupport::RunProcess(programFolder_ + L"\\quillon.exe", options);
    EXPECT_TRUE(result.started) << result.startError;
    EXPECT_FALSE(result.timedOut);
    return result.exitCode;
}

std::vector<std::string> WelkinRun::CounterCalls() const { return testsupport::ReadJournalLines(counterJournal_); }

}  // namespace systemtest
