#include "welkin/welkinmodule.h"

#include <oleauto.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "foundation/basalt/CodePageText.h"
#include "foundation/basalt/FindHandle.h"
#include "foundation/basalt/Format.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/ProcAddress.h"
#include "foundation/basalt/RegValueCodec.h"
#include "foundation/logging/LogStream.h"
#include "welkin/FolderText.h"
#include "welkin/IsduData.h"
#include "welkin/QzIniValueStore.h"
#include "welkin/QzRegWriter.h"
#include "welkin/StoredValue.h"
#include "welkin/WelkinEvents.h"
#include "welkin/WelkinFiles.h"
#include "welkin/processhelper.h"
#include "welkin/utils.h"

using ETWLogging::kSeverityError;
using ETWLogging::kSeverityInformation;
using ETWLogging::kSeverityNormal;
using ETWLogging::LogLine;

namespace {

const wchar_t* const kKVRKeys[kKeyRoleCount] = {
    L"Software\\Torvex\\KVR\\Oem\\Manage",
    L"Software\\Torvex\\KVR\\Oem",
    L"Software\\Torvex\\KVR\\Oem\\Manage\\UserMode",
    L"Software\\Torvex\\KVR\\Oem\\Manage\\UserMode_KVR",
    L"Software\\Torvex\\KVR\\Oem\\Manage\\MUI",
    L"Software\\Torvex\\KVR\\Oem\\Manage\\MUI\\LangList",
    L"Software\\Torvex\\KVR\\Oem\\Manage\\MUI\\AppList",
    L"software\\torvex\\kvr\\appinfo\\substitute\\queryparams",
    L"SOFTWARE\\Torvex\\KVR\\AppInfo\\Substitute",
    L"software\\torvex\\oeminfo",
};

const wchar_t* const kHalvardKeys[kKeyRoleCount] = {
    L"Software\\Torvex\\Halvard\\Oem\\Manage",
    L"Software\\Torvex\\Halvard\\Oem",
    L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode",
    L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode_KVR",
    L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI",
    L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\LangList",
    L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\AppList",
    L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute\\QueryParams",
    L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute",
    L"software\\torvex\\Halvard\\oeminfo",
};

constexpr wchar_t kUninstallKVRKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KVR";
constexpr wchar_t kRetryKey[] = L"Software\\Torvex\\Halvard\\welkin";
constexpr wchar_t kInstanceMutexName[] = L"{47187EF8-6D01-4af1-B8ED-276319089724}";
constexpr wchar_t kTaskName[] = L"welkin";
constexpr int kAnotherInstanceRuns = 259;

DWORD ReadPlainDword(const wchar_t* key, const wchar_t* name, DWORD& value, DWORD flags = 0) {
    DWORD size = sizeof value;
    return QzRegReadValueExW(HKEY_LOCAL_MACHINE, key, name, nullptr, reinterpret_cast<BYTE*>(&value), &size, flags);
}

DWORD WriteDword(const wchar_t* key, const wchar_t* name, DWORD value, DWORD flags) {
    return QzRegWriteValueExW(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value, flags);
}

// A language name must name one subfolder of an application folder: an empty name, "." or ".." or a name with a
// separator would make the clean-up remove the application folder itself or something outside it.
bool IsLanguageFolderName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/") == std::wstring::npos;
}

std::wstring ShellFolder(int csidl) {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder))) return std::wstring();
    return folder;
}

// The retry task's record, as the utility library reads it; the fields at 4 and 44 are the library's to interpret.
struct QzTaskRecord {
    DWORD size = sizeof(QzTaskRecord);
    DWORD valueAt4 = 1;
    DWORD valueAt8 = 0;
    DWORD reserved12 = 0;
    const wchar_t* programPath = nullptr;
    const void* pointerAt24 = nullptr;
    BYTE reserved32[8] = {};
    DWORD valueAt40 = 0;
    DWORD valueAt44 = 2;
    BYTE reserved48[36] = {};
    DWORD valueAt84 = 0;
    BYTE reserved88[64] = {};
};
static_assert(sizeof(QzTaskRecord) == 152);
static_assert(offsetof(QzTaskRecord, programPath) == 16 && offsetof(QzTaskRecord, pointerAt24) == 24);
static_assert(offsetof(QzTaskRecord, valueAt40) == 40 && offsetof(QzTaskRecord, valueAt44) == 44);
static_assert(offsetof(QzTaskRecord, valueAt84) == 84);

constexpr wchar_t kKVROemSubstituteKey[] = L"software\\Torvex\\oeminfo\\substitute";
constexpr wchar_t kHalvardOemSubstituteKey[] = L"software\\Torvex\\Halvard\\oeminfo\\substitute";
constexpr wchar_t kAntiTheftKey[] = L"Software\\TorvexAntiTheft\\Settings\\AppInfo";
constexpr wchar_t kAntiTheftExtraKey[] = L"software\\torvex\\oeminfo\\ATasExtra";
constexpr wchar_t kScannerKey[] =
    L"Software\\Torvex\\Dunmore\\YVCore\\On Access Scanner\\QzShield\\Configuration";
constexpr wchar_t kAntivirusInstallKey[] = L"SOFTWARE\\Torvex\\Skellig\\InstallSettings";
constexpr wchar_t kAntivirusSubstituteKey[] = L"SOFTWARE\\Torvex\\Skellig\\InstallSettings\\Substitute";
constexpr DWORD kIniTextBytes = 260;

// The language selector's export: the machine's LCID through an out-parameter, and a code of its own.
using PomvekGetLcidFn = DWORD(WINAPI*)(DWORD* lcid);

// A string value read into `text` (a buffer of `bytes` bytes), always terminated; empty when the read fails. The
// whole buffer is the capacity: the reader gives text with its terminator, so a text that fills the buffer with it
// fits and a longer one is too long (234).
DWORD ReadText(const wchar_t* key, const wchar_t* name, wchar_t* text, DWORD bytes, DWORD flags) {
    const DWORD chars = bytes / sizeof(wchar_t);
    DWORD size = bytes;
    const DWORD rc = QzRegReadValueExW(HKEY_LOCAL_MACHINE, key, name, nullptr, reinterpret_cast<BYTE*>(text), &size,
                                       flags);
    text[rc == 0 ? std::min<DWORD>(size / sizeof(wchar_t), chars - 1) : 0] = L'\0';
    return rc;
}

// A REG_SZ write. The checking writer refuses an empty text (with its log line); `storeEmpty` writes it as "".
void WriteText(const wchar_t* key, const wchar_t* name, const wchar_t* text, DWORD flags, bool storeEmpty = false) {
    const DWORD size = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    const BYTE* data = reinterpret_cast<const BYTE*>(text);
    if (storeEmpty && !*text)
        QzRegWriteValueExWImpl(HKEY_LOCAL_MACHINE, key, name, REG_SZ, data, size, flags);
    else
        QzRegWriteValueExW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, data, size, flags);
}

// One text of an ini section through the ini value store: the path in the ANSI code page, the section in UTF-8,
// `bytes` of capacity. Empty when anything fails.
void QueryIniText(const wchar_t* iniPath, const wchar_t* section, const wchar_t* entry, wchar_t* text, DWORD bytes) {
    text[0] = L'\0';
    CQzIniValueStore store;
    store.section = WideToMultiByteAlloc(section, CP_UTF8);
    store.iniPath = WideToMultiByteAlloc(iniPath, CP_ACP);
    if (!store.section || !store.iniPath || !*entry) return;
    DWORD type = 0, enciphered = 0, size = bytes;
    if (store.QueryValue(entry, &type, reinterpret_cast<BYTE*>(text), &size, &enciphered) != 0 || type != REG_SZ) {
        text[0] = L'\0';
        return;
    }
    text[std::min<DWORD>(size / sizeof(wchar_t), bytes / sizeof(wchar_t) - 1)] = L'\0';
}

std::wstring KeyBelow(const wchar_t* key, const wchar_t* subKey) { return Basalt::Format(L"%s\\%s", key, subKey); }

std::wstring Decimal(DWORD number) { return Basalt::Format(L"%lu", number); }

// Strips trailing backslashes and folds A-Z, for comparing registry paths.
std::wstring KeyPathForComparison(const std::wstring& path) {
    std::wstring folded = path;
    while (!folded.empty() && folded.back() == L'\\') folded.pop_back();
    for (wchar_t& c : folded)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return folded;
}

// The partner values copied one by one as records, each keeping the type it was read with; "buildKey" names the
// ZELT build key. A value that cannot be read is skipped.
void CopyBuildKeyValues(const wchar_t* source, const wchar_t* target, const wchar_t* zeltBuildKey) {
    auto copy = [&](const wchar_t* name, bool text) {
        wchar_t data[130] = {};
        DWORD type = 0;
        DWORD size = text ? sizeof data - sizeof(wchar_t) : sizeof(DWORD);
        if (QzRegReadValueExW(HKEY_LOCAL_MACHINE, source, name, &type, reinterpret_cast<BYTE*>(data), &size,
                              kQzRegRecord) != 0)
            return;
        if (text) size = static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t));
        QzRegWriteValueExW(HKEY_LOCAL_MACHINE, target, name, type, reinterpret_cast<const BYTE*>(data), size,
                           kQzRegRecord);
    };
    DWORD lcid = 0;
    if (ReadPlainDword(source, L"lcid", lcid, kQzRegRecord) == 0 && lcid != 0)
        WriteDword(target, L"lcid", lcid, kQzRegRecord);
    copy(L"culture", true);
    copy(L"toadd", false);
    copy(L"dm", false);
    WriteText(target, L"buildKey", zeltBuildKey, kQzRegRecord);
    for (const wchar_t* name : {L"affid", L"lang", L"terms", L"domain", L"installmedia"}) copy(name, true);
}

}  // namespace

const wchar_t* const* FamilyKeyTable(bool kvrFamily) { return kvrFamily ? kKVRKeys : kHalvardKeys; }

BOOL IsPXSInstalled() {
    wchar_t name[260] = {};
    DWORD size = sizeof name;
    DWORD type = 0;
    return QzRegReadValueExW(HKEY_LOCAL_MACHINE, kUninstallKVRKey, L"DisplayName", &type,
                             reinterpret_cast<BYTE*>(name), &size, kQzRegView32) == ERROR_SUCCESS &&
           type == REG_SZ;
}

void RemoveTrailingBackslash(wchar_t* text) {
    if (!text || !*text) return;
    const size_t length = wcslen(text);
    if (text[length - 1] == L'\\') text[length - 1] = L'\0';
}

bool IsSameOrBelowKey(const std::wstring& inner, const std::wstring& outer) {
    const std::wstring a = KeyPathForComparison(inner), b = KeyPathForComparison(outer);
    return a.compare(0, b.size(), b) == 0 && (a.size() == b.size() || a[b.size()] == L'\\');
}

BOOL IsNotZeroString(const wchar_t* text) { return text && *text && wcscmp(text, L"0") != 0; }

void setServicesDisableFlag() {
    LOG_AT(kSeverityNormal, L"Set DisableServices flag = 0");
    if (IsPXSInstalled()) WriteDword(kKVROemKey, L"DisableServices", 0, kQzRegRecord);
    WriteDword(kHalvardOemKey, L"DisableServices", 0, kQzRegRecord);
}

DWORD QzRegDeleteValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD flags) {
    std::string pathText, nameText;
    const char* path = nullptr;
    const char* name = nullptr;
    DWORD converted = Basalt::ToOptionalAnsi(CP_THREAD_ACP, subKey, pathText, path);
    if (converted == 0) converted = Basalt::ToOptionalAnsi(CP_THREAD_ACP, valueName, nameText, name);
    if (converted != 0) return converted;
    Basalt::RegistryKey key;
    const LONG rc = RegOpenKeyExA(root, path, 0, QzRegViewAccess(flags, KEY_WRITE), key.Receive());
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    return static_cast<DWORD>(RegDeleteValueA(key.Get(), name));
}

CwelkinModule::CwelkinModule() {
    kvrFamily_ = IsPXSInstalled();
    if (kvrFamily_) {
        LOG_AT(kSeverityInformation,
               L"CwelkinModule::CwelkinModule: Software\\Torvex\\KVR rge key is available.");
    } else {
        LOG_AT(kSeverityInformation,
               L"CwelkinModule::CwelkinModule: Software\\Torvex\\KVR rge key is NOT available. Refer "
               L"Software\\Torvex\\Halvard reg key");
    }
    keys_ = FamilyKeyTable(kvrFamily_);

    Load();

    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    path[length < MAX_PATH ? length : MAX_PATH - 1] = L'\0';
    LOG_AT(kSeverityInformation,
           L"CwelkinModule::CwelkinModule: Using GetModuleFileName return value as Module Directory.");
    wcsncpy(moduleFolder_, path, kFolderChars - 1);

    GetKVRInstallDir(kvrInstallFolder_, kFolderChars, false);
    LogLine(kSeverityNormal, LOG_HERE) << L"CwelkinModule: KVR Path - " << kvrInstallFolder_;
    RemoveTrailingBackslash(kvrInstallFolder_);

    if (wchar_t* slash = wcsrchr(moduleFolder_, L'\\')) *slash = L'\0';
    result_ = 0;
}

DWORD CwelkinModule::getOemMgrAllowedToRunFlag(DWORD* flag) {
    DWORD value = 0;
    if (ReadPlainDword(IsPXSInstalled() ? kKVROemKey : kHalvardOemKey, L"OEMMgr", value, kQzRegRecord) != 0) {
        LOG_AT(kSeverityError, L"Cannot read OEM Execution value");
        return ERROR_FUNCTION_FAILED;
    }
    if (flag) *flag = value;
    return 0;
}

BOOL CwelkinModule::IsFacMode() {
    DWORD value = 0;
    return ReadPlainDword(Key(kKeyOem), L"facmode", value) == 0 && value == 1;
}

BOOL CwelkinModule::CheckSingleInstance() {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    const DWORD error = GetLastError();
    if (mutex) {
        if (error == ERROR_ALREADY_EXISTS) {
            CloseHandle(mutex);
            return TRUE;
        }
        instanceMutex_.Reset(mutex);
        return FALSE;
    }
    return error == ERROR_ACCESS_DENIED;
}

BOOL CwelkinModule::GetTaskScheduleRetryFlag() {
    wchar_t text[130] = {};
    DWORD size = sizeof text;
    if (QzRegReadValueExW(HKEY_LOCAL_MACHINE, kRetryKey, L"TaskScheduleRetry", nullptr,
                          reinterpret_cast<BYTE*>(text), &size, 0) != 0) {
        LOG_AT(kSeverityError,
               L"GetTaskScheduleRetryFlag: Error reading Retry flag or retry flag registry is missing");
        return FALSE;
    }
    text[129] = L'\0';
    LogLine(kSeverityInformation, LOG_HERE) << L"GetTaskScheduleRetryFlag: Retry flag is " << text;
    return EqualsIgnoringAsciiCase(text, L"1");
}

void CwelkinModule::SetTaskScheduleRetryFlag(BOOL value) {
    const wchar_t* text = value ? L"1" : L"0";
    const DWORD rc = QzRegWriteValueExWImpl(HKEY_LOCAL_MACHINE, kRetryKey, L"TaskScheduleRetry", REG_SZ,
                                            reinterpret_cast<const BYTE*>(text), sizeof(wchar_t), 0);
    if (rc == 0)
        LogLine(kSeverityInformation, LOG_HERE) << L"SetTaskScheduleRetryFlag: Retry flag is reset to " << value;
    else
        LOG_AT(kSeverityError, L"SetTaskScheduleRetryFlag: Error setting reset flag");
}

BOOL CwelkinModule::IsOOBEDone() {
    DWORD value = 0;
    const bool read = ReadPlainDword(Key(kKeyOem), L"OOBEDone", value) == 0;
    LogLine(kSeverityNormal, LOG_HERE) << L"oobe done state is : " << value;
    return read && value == 1;
}

void CwelkinModule::setOemMgrAllowedToRunFlag(DWORD value) {
    if (kvrFamily_) WriteDword(kKVROemKey, L"OEMMgr", value, kQzRegRecord);
    WriteDword(kHalvardOemKey, L"OEMMgr", value, kQzRegRecord);
    result_ = static_cast<int>(value);
}

void CwelkinModule::RequestAnotherRun() {
    anotherRunRequested_ = true;
    setOemMgrAllowedToRunFlag(1);
}

BOOL CwelkinModule::CanManageOemRun() {
    DWORD value = 0;
    if (ReadPlainDword(Key(kKeyOem), L"OEMMgr", value, kQzRegRecord) != 0) {
        value = 0;
        LogLine(kSeverityError, LOG_HERE) << L"Could not read registry value " << L"HKEY_LOCAL_MACHINE\\"
                                          << Key(kKeyOem) << L"\\" << L"OEMMgr";
    }
    LogLine(kSeverityInformation, LOG_HERE) << L"can oem mgr run via OOBESvc status is : " << value;
    if (value == 1 || GetTaskScheduleRetryFlag()) {
        SetTaskScheduleRetryFlag(FALSE);
        return TRUE;
    }
    return FALSE;
}

int CwelkinModule::Run() {
    const BOOL facMode = IsFacMode();
    if (CheckSingleInstance()) {
        LOG_AT(kSeverityError, L"Second instance not allowed.");
        return kAnotherInstanceRuns;
    }
    if (!CanManageOemRun()) return result_;

    if (!IsOOBEDone()) {
        LOG_AT(kSeverityNormal, L"Enter OOBE COMPLETE Stage");
        RunLanguageSelector();
        if (IsCommonBuildModel()) OnOOBE();
        EnableOAS();
        WriteInstallTime();
    }

    const int ownProduct = ApplyUserModeSettings(Key(kKeyUserModeKVR));
    DeleteAlternareUserModeSettings(OtherFamilyKey(kKeyUserModeKVR));
    LogLine(kSeverityNormal, LOG_HERE) << L"apply user mode settings for only KVR returned : " << ownProduct;

    const int others = ApplyUserModeSettings(Key(kKeyUserMode));
    DeleteAlternareUserModeSettings(OtherFamilyKey(kKeyUserMode));
    if (others != -1) SendUserModeSettingsEvent();
    LogLine(kSeverityNormal, LOG_HERE) << L"apply user mode settings except KVR returned : " << others;

    DWORD newFlag = 1;
    if (ownProduct == 0 && others == 0) {
        LOG_AT(kSeverityNormal, L"set oobe done = 1 flag");
        const DWORD oobeDoneWritten = WriteDword(kKVROemKey, L"OOBEDone", 1, 0);
        WriteDword(kHalvardOemKey, L"OOBEDone", 1, 0);

        PublishMessage(g_OOBECompleteMessage, L"welkin");
        SetMessageProperty(g_OOBECompleteMessage, 1);

        if (oobeDoneWritten == 0) SendOobeDoneEvent();

        LOG_AT(kSeverityNormal, L"set DisableServices flag = 0");
        WriteDword(kKVROemKey, L"DisableServices", 0, kQzRegRecord);
        WriteDword(kHalvardOemKey, L"DisableServices", 0, kQzRegRecord);

        LOG_AT(kSeverityNormal, L"delete facmode registry  key");
        QzRegDeleteValue(HKEY_LOCAL_MACHINE, kKVROemKey, L"facmode", 0);
        QzRegDeleteValue(HKEY_LOCAL_MACHINE, kHalvardOemKey, L"facmode", 0);

        if (facMode) {
            LOG_AT(kSeverityNormal, L"Facotry mode install sniffed. Remove Torvex language packs.");
            RemoveUnwantedJXVLangPacks();
        }
        newFlag = 0;
    } else {
        LOG_AT(kSeverityError, L"Facmode not set. Event not set. OOBE not done.");
    }

    // Commands still counting down (or a walk cut short) need the next start to run again: writing 0 here would
    // make that start skip Run and strand them.
    if (anotherRunRequested_) newFlag = 1;
    setOemMgrAllowedToRunFlag(newFlag);
    UpdateIsduData();
    RemoveQzAppCfgExe();
    TaskScheduleEntry(GetTaskScheduleRetryFlag());
    return result_;
}

DWORD CwelkinModule::RemoveUnwantedJXVLangPacks() {
    DWORD removeLangPacks = 1;
    if (ReadPlainDword(Key(kKeyMUI), L"RemoveLangPacks", removeLangPacks) == 0 && removeLangPacks == 0) {
        LOG_AT(kSeverityNormal, L"Do not remove torvex language packs");
        return 0;
    }
    LOG_AT(kSeverityNormal, L"Remove torvex language packs");

    // The whole 1300 bytes, and room for a terminator after them.
    wchar_t langPacks[651] = {};
    DWORD size = 1300;
    QzRegReadValueExW(HKEY_LOCAL_MACHINE, Key(kKeyLangList), L"LangPacks", nullptr,
                      reinterpret_cast<BYTE*>(langPacks), &size, 0);
    LogLine(kSeverityInformation, LOG_HERE) << L"Langauge packs = " << langPacks;
    std::vector<std::wstring> languages;
    if (*langPacks) {
        SplitString(langPacks, L",", languages);
        LogLine(kSeverityInformation, LOG_HERE) << L"Number of langauge packs = " << languages.size();
    }
    if (languages.empty()) {
        LOG_AT(kSeverityInformation, L"No langauge packs founds. Nothing to delete.\n");
        return 0;
    }

    Basalt::RegistryKey appList;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key(kKeyAppList), 0, KEY_ALL_ACCESS, appList.Receive()) != ERROR_SUCCESS)
        return 0;
    DWORD valueCount = 0;
    if (RegQueryInfoKeyW(appList.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        valueCount == 0)
        return 0;
    for (DWORD index = 0; index < valueCount; ++index) {
        wchar_t name[1300] = {};
        wchar_t folder[651] = {};
        DWORD nameChars = 1300;
        DWORD dataBytes = 1300;
        const LONG rc = RegEnumValueW(appList.Get(), index, name, &nameChars, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(folder), &dataBytes);
        if (rc != ERROR_SUCCESS) {
            RequestAnotherRun();
            LogLine(kSeverityNormal, LOG_HERE) << L"RegEnumValueW failed. Counter = " << index << L" . Error = "
                                               << static_cast<DWORD>(rc);
            break;
        }
        if (!*folder) continue;
        for (const std::wstring& language : languages) {
            if (!IsLanguageFolderName(language)) {
                LogLine(kSeverityNormal, LOG_HERE) << L"Skipping language pack name that is not a folder name : "
                                                   << language.c_str();
                continue;
            }
            if (EqualsIgnoringAsciiCase(language.c_str(), activeLanguage)) {
                LogLine(kSeverityNormal, LOG_HERE) << L"Active langauge detected and the lcid is " << activeLanguage;
                continue;
            }
            const std::wstring files = Basalt::Format(L"%s\\%s\\*.*", folder, language.c_str());
            LogLine(kSeverityNormal, LOG_HERE) << L"Remove files : " << files.c_str();
            if (files.size() > 3 && CheckPathType(files.c_str(), false) == 0) DeleteDirectoryTree(files.c_str(), false);
            if (QzDeleteFilesDeferedW) QzDeleteFilesDeferedW(files.c_str(), 1);
            const std::wstring subfolder = Basalt::Format(L"%s\\%s", folder, language.c_str());
            LogLine(kSeverityNormal, LOG_HERE) << L"Remove folder : " << subfolder.c_str();
            RemoveDirectoryForce(subfolder.c_str(), true);
            if (QzDeleteDirectoryDeferedW) QzDeleteDirectoryDeferedW(subfolder.c_str(), 1);
        }
    }
    return 0;
}

DWORD CwelkinModule::RemoveQzAppCfgExe() {
    const std::wstring path = ShellFolder(CSIDL_PROGRAM_FILES) + L"\\" + L"Torvex\\KVR\\qzappcfg.exe";
    LogLine(kSeverityNormal, LOG_HERE) << L"Deleting " << path.c_str() << L" if it exists.";
    if (path.size() < 4) return ERROR_INVALID_PARAMETER;
    if (CheckPathType(path.c_str(), false) == 0) DeleteDirectoryTree(path.c_str(), false);
    return 0;
}

void CwelkinModule::TaskScheduleEntry(BOOL create) {
    if (Load() != 0) return;
    if (!create) {
        LOG_AT(kSeverityNormal, L"TaskScheduleEntry: Deleting the Task Schedule Entry");
        if (QzDeleteTask) QzDeleteTask(kTaskName);
        return;
    }
    LOG_AT(kSeverityNormal, L"TaskScheduleEntry: Creating a Task Schedule Entry");
    const std::wstring program = ShellFolder(CSIDL_PROGRAM_FILES_COMMON) + L"\\Torvex\\OOBE\\welkin.Exe";
    WIN32_FIND_DATAW found;
    const Basalt::FindHandle search(FindFirstFileW(program.c_str(), &found));
    if (!search.Valid() || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        LogLine(kSeverityError, LOG_HERE) << L"CwelkinModule::TaskScheduleEntry:: Couldn't find " << program.c_str();
        return;
    }
    QzTaskRecord record;
    record.programPath = program.c_str();
    if (QzCreateTask) QzCreateTask(kTaskName, &record);
}

BOOL CwelkinModule::IsZELTInstalled() {
    wchar_t version[260] = {};
    const DWORD rc = ReadText(kAntiTheftKey, L"core_version", version, sizeof version, 0);
    if (rc == 0 && *version) return TRUE;
    LOG_AT(kSeverityError, L"Failed to read REG_VALUE_AT_CORE_VERSION, error code - %d", rc);
    return FALSE;
}

void CwelkinModule::WriteLcidText(const wchar_t* key) {
    if (IsNotZeroString(activeLanguage)) WriteText(key, L"lcid", activeLanguage, 0);
}

void CwelkinModule::RunLanguageSelector() {
    LanguageSelectorSystem system;
    RunLanguageSelector(system);
}

void CwelkinModule::RunLanguageSelector(LanguageSelectorSystem& system) {
    wcscpy(activeLanguage, L"0");
    LogLine(kSeverityNormal, LOG_HERE) << L"LCID = " << 0;
    const wchar_t* const kvrQueryParams = FamilyKeyTable(true)[kKeyQueryParams];
    const wchar_t* const kvrSubstitute = FamilyKeyTable(true)[kKeySubstitute];
    const wchar_t* const halvardQueryParams = FamilyKeyTable(false)[kKeyQueryParams];
    const wchar_t* const halvardSubstitute = FamilyKeyTable(false)[kKeySubstitute];

    const std::wstring antiTheftMap = Basalt::Format(L"%s\\%s", kvrInstallFolder_, kAntiTheftLangMapFile);
    LogLine(kSeverityNormal, LOG_HERE) << L"To determine if AT installed, looking for " << antiTheftMap.c_str();
    if (CheckPathType(antiTheftMap.c_str(), false) == 0) RunAntiTheftLanguageStep();

    DWORD lcid = 0;
    const std::wstring oemMap = Basalt::Format(L"%s\\%s", kvrInstallFolder_, L"qzoemmap.ini");
    if (CheckPathType(oemMap.c_str(), false) != 0 && !IsCommonBuildModel()) {
        LogLine(kSeverityError, LOG_HERE) << L"Unable to find " << oemMap.c_str();
        return;
    }

    if (const Basalt::LoadedModule library(LoadLanguageSelector(system)); library) {
        if (auto getLcid = Basalt::GetProcAddressAs<PomvekGetLcidFn>(library.Get(), "GetLCID")) {
            const DWORD code = getLcid(&lcid);
            LogLine(kSeverityNormal, LOG_HERE) << L"GetLCID from pomvek.dll returned: " << lcid << L" lRet: " << code;
        } else {
            lcid = 0;
            LogLine(kSeverityError, LOG_HERE) << L"Unable to get function GetLCID from pomvek.dll  lRet: " << 0;
        }
    } else {
        LOG_AT(kSeverityError, L"Unable to load pomvek.dll");
    }
    wcscpy(activeLanguage, Decimal(lcid).c_str());
    LogLine(kSeverityNormal, LOG_HERE) << L"Copied dwLCID into m_szLCID, which now = " << activeLanguage;

    QueryIniText(oemMap.c_str(), L"LCIDLangCodeMap", activeLanguage, languageCode, kIniTextBytes);
    LogLine(kSeverityNormal, LOG_HERE) << L"LangCodeFromLCID = " << languageCode;
    if (!*languageCode) UpdateLangCode(oemMap.c_str());

    QueryIniText(oemMap.c_str(), L"oeminfo", L"buildKey", buildKey, kIniTextBytes);
    LogLine(kSeverityNormal, LOG_HERE) << L"BuildKey = " << buildKey;
    const std::wstring ownBuildKey = KeyBelow(Key(kKeyOemInfo), buildKey);

    ReadText(ownBuildKey.c_str(), L"terms", terms, kIniTextBytes, kQzRegRecord);
    LogLine(kSeverityNormal, LOG_HERE) << L"TermsValue = " << terms;

    const std::wstring section = Basalt::Format(L"%s_terms_%s", languageCode, terms);
    LogLine(kSeverityNormal, LOG_HERE) << L"Terms = " << section.c_str();
    wchar_t domain[kTextChars] = {}, languageId[kTextChars] = {}, culture[kTextChars] = {};
    QueryIniText(oemMap.c_str(), section.c_str(), L"affid", value, kIniTextBytes);
    QueryIniText(oemMap.c_str(), section.c_str(), L"domain", domain, kIniTextBytes);
    QueryIniText(oemMap.c_str(), section.c_str(), L"langid", languageId, kIniTextBytes);
    LogLine(kSeverityNormal, LOG_HERE) << L"Affid = " << value;
    LogLine(kSeverityNormal, LOG_HERE) << L"Domain = " << domain;
    LogLine(kSeverityNormal, LOG_HERE) << L"LangID (not langcode like en-us) = " << languageId;

    if (IsNotZeroString(activeLanguage)) WriteDword(ownBuildKey.c_str(), L"lcid", wcstoul(activeLanguage, nullptr, 10),
                                                    kQzRegRecord);
    WriteText(ownBuildKey.c_str(), L"lang", languageCode, kQzRegRecord);
    WriteText(ownBuildKey.c_str(), L"affid", value, kQzRegRecord);
    WriteText(ownBuildKey.c_str(), L"langid", languageId, kQzRegRecord);

    QueryIniText(oemMap.c_str(), section.c_str(), L"culture", culture, kIniTextBytes);
    LogLine(kSeverityNormal, LOG_HERE) << L"Culture = " << culture;
    if (kvrFamily_) {
        WriteText(kvrQueryParams, L"culture", culture, 0);
        WriteText(kvrSubstitute, L"culture", culture, 0);
    }
    WriteText(halvardQueryParams, L"culture", culture, 0);
    WriteText(halvardSubstitute, L"culture", culture, 0);
    WriteText(kKVROemSubstituteKey, L"culture", culture, 0);
    WriteText(ownBuildKey.c_str(), L"culture", culture, kQzRegRecord);

    // One family's query parameters and substitute values, in the order the suite expects them.
    auto writeFamily = [&](const wchar_t* queryParams, const wchar_t* substitute) {
        WriteLcidText(queryParams);
        WriteText(queryParams, L"lang", languageCode, 0);
        WriteText(queryParams, L"affid", value, 0);
        WriteText(queryParams, L"langid", languageId, 0);
        WriteText(substitute, L"affid", value, 0);
        WriteLcidText(substitute);
        WriteText(substitute, L"lang", languageCode, 0);
        WriteText(substitute, L"domain", domain, 0);
    };
    if (kvrFamily_) writeFamily(kvrQueryParams, kvrSubstitute);
    writeFamily(halvardQueryParams, halvardSubstitute);
    WriteText(kKVROemSubstituteKey, L"affid", value, 0);
    WriteLcidText(kKVROemSubstituteKey);
    WriteText(kKVROemSubstituteKey, L"lang", languageCode, 0);

    if (IsCommonBuildModel()) WriteRegEntriesforCommonBuild();
    if (IsZELTInstalled()) {
        LOG_AT(kSeverityInformation, L"ZELT is installed: write the registry keys");
        WriteText(kAntiTheftKey, L"Culture", languageCode, 0);
        WriteText(kAntiTheftKey, L"AffiliateID", value, 0);
    }
    CopyPXSBuidKeyValuesToZELTBuildkey(KeyBelow(Key(kKeyOemInfo), buildKey));
}

void CwelkinModule::RunAntiTheftLanguageStep() {
    DWORD lcid = 0;
    wchar_t antiTheftLanguage[kLangMapTextChars] = {};
    GetCurrentLcidAndLangCode(&lcid, antiTheftLanguage);
    wcscpy(activeLanguage, Decimal(lcid).c_str());

    wchar_t antiTheftBuildKey[260] = {};
    if (ReadText(kAntiTheftExtraKey, L"ATBuildKey", antiTheftBuildKey, sizeof antiTheftBuildKey, 0) != 0) return;
    LogLine(kSeverityNormal, LOG_HERE) << L"ATBuildKey = " << antiTheftBuildKey << L" :: oeminfo registry = "
                                       << Key(kKeyOemInfo);
    LogLine(kSeverityNormal, LOG_HERE) << L"BuildKey Registry = "
                                       << KeyBelow(Key(kKeyOemInfo), antiTheftBuildKey).c_str();
    ReadText(kAntiTheftExtraKey, L"ATTerms", terms, kIniTextBytes, 0);
    GetAffidFromTerms(kAntiTheftLangMapFile, lcid, terms, value);
    LogLine(kSeverityInformation, LOG_HERE) << L"affid returned from GetAffidFromTerms is    " << value;

    const wchar_t* const* kvr = FamilyKeyTable(true);
    const wchar_t* const* halvard = FamilyKeyTable(false);
    if (!IsPXSInstalled()) {
        auto writeLanguage = [&](const wchar_t* key, bool storeEmpty) {
            WriteLcidText(key);
            WriteText(key, L"lang", antiTheftLanguage, 0, storeEmpty);
        };
        if (kvrFamily_) {
            writeLanguage(kvr[kKeyQueryParams], false);
            writeLanguage(kvr[kKeySubstitute], false);
        }
        writeLanguage(halvard[kKeyQueryParams], false);
        writeLanguage(halvard[kKeySubstitute], false);
        if (kvrFamily_) writeLanguage(kKVROemSubstituteKey, false);
        writeLanguage(kHalvardOemSubstituteKey, true);

        LOG_AT(kSeverityInformation, L"Get AT culture from at_langmap.dat");
        wchar_t culture[kLangMapTextChars] = {};
        GetCurrentCulture(culture);
        LogLine(kSeverityInformation, LOG_HERE) << L"Found AT culture " << culture;
        if (kvrFamily_) WriteText(kvr[kKeyQueryParams], L"culture", culture, 0);
        WriteText(halvard[kKeyQueryParams], L"culture", culture, 0);
    }
    for (const wchar_t* oemInfo : {kvrFamily_ ? kvr[kKeyOemInfo] : nullptr, halvard[kKeyOemInfo]}) {
        if (!oemInfo) continue;
        const std::wstring key = KeyBelow(oemInfo, antiTheftBuildKey);
        WriteDword(key.c_str(), L"lcid", lcid, kQzRegRecord);
        WriteText(key.c_str(), L"lang", antiTheftLanguage, kQzRegRecord, true);
        WriteText(key.c_str(), L"affid", value, kQzRegRecord, true);
    }
}

BOOL CwelkinModule::UpdateLangCode(const wchar_t* iniPath) {
    LOG_AT(kSeverityNormal, L"UpdateLangCode:: Trying to read lcid from  REG_KVR_SUBSTITUTE");
    const wchar_t* const substitute = FamilyKeyTable(true)[kKeySubstitute];
    if (ReadText(substitute, L"lcid", activeLanguage, kIniTextBytes,
                 RecordFlagOf(HKEY_LOCAL_MACHINE, substitute, L"lcid")) != 0) {
        LOG_AT(kSeverityNormal, L"Failed to retrieve lcid from REG_KVR_SUBSTITUTE");
        return FALSE;
    }
    QueryIniText(iniPath, L"LCIDLangCodeMap", activeLanguage, languageCode, kIniTextBytes);
    return TRUE;
}

int CwelkinModule::WriteRegEntriesforCommonBuild() {
    DWORD lcid = GetLCID();
    wcscpy(activeLanguage, Decimal(lcid).c_str());
    LogLine(kSeverityNormal, LOG_HERE) << L"LCID = " << lcid;
    const std::wstring langMap = Basalt::Format(L"%s\\%s", kvrInstallFolder_, kLangMapFile);
    LogLine(kSeverityNormal, LOG_HERE) << L" looking for " << langMap.c_str();

    std::wstring clientOSV;
    {
        CQzUtil util;
        if (util.Load() == 0 && util.QzGetOSVersion2) {
            DWORD version = 6;
            util.QzGetOSVersion2(&version);
            clientOSV = Decimal(version);
        }
    }
    if (CheckPathType(langMap.c_str(), false) != 0) return 0;

    GetBuildKeyFromLangmapDat(buildKey);
    const std::wstring ownBuildKey = KeyBelow(Key(kKeyOemInfo), buildKey);
    LogLine(kSeverityNormal, LOG_HERE) << L"BuildKey = " << buildKey << L" :: oeminfo registry = " << Key(kKeyOemInfo);
    LogLine(kSeverityNormal, LOG_HERE) << L"BuildKey Registry = " << ownBuildKey.c_str();

    ReadText(kKVROemSubstituteKey, L"terms", terms, sizeof terms, 0);
    const std::wstring lcidTerms = Basalt::Format(L"%s_terms_%s", activeLanguage, terms);
    LogLine(kSeverityInformation, LOG_HERE) << L"LCID Terms    " << lcidTerms.c_str();

    GetCurrentLcidAndLangCodeFromLangmapDat(lcidTerms.c_str(), &lcid, languageCode);
    LogLine(kSeverityInformation, LOG_HERE) << L"LangCode returned    " << languageCode;
    wcscpy(activeLanguage, Decimal(lcid).c_str());
    wchar_t domain[kLangMapTextChars] = {}, culture[kLangMapTextChars] = {};
    GetAffidFromLcidTermsFromLangmapDat(langMap.c_str(), lcidTerms.c_str(), value);
    LogLine(kSeverityInformation, LOG_HERE) << L"affid returned from GetAffidFromLcidTermsFromLangmapDat is    "
                                            << value;
    GetDomainFromLangmapDat(lcidTerms.c_str(), domain);
    LogLine(kSeverityInformation, LOG_HERE) << L"Domain returned from GetDomainFromLangmapDat is    " << domain;

    const wchar_t* const* kvr = FamilyKeyTable(true);
    const wchar_t* const* halvard = FamilyKeyTable(false);
    if (kvrFamily_) {
        WriteLcidText(kvr[kKeyQueryParams]);
        WriteText(kvr[kKeyQueryParams], L"lang", languageCode, 0);
        WriteText(kvr[kKeyQueryParams], L"affid", value, 0);
        WriteText(kvr[kKeyQueryParams], L"domain", domain, 0);
        WriteText(kvr[kKeyQueryParams], L"ClientOSV", clientOSV.c_str(), 0);
        WriteLcidText(kvr[kKeySubstitute]);
        WriteText(kvr[kKeySubstitute], L"lang", languageCode, 0);
        WriteText(kvr[kKeySubstitute], L"domain", domain, 0);
        WriteText(kvr[kKeySubstitute], L"affid", value, 0);
        WriteText(kvr[kKeySubstitute], L"ClientOSV", clientOSV.c_str(), 0);
    }
    WriteLcidText(halvard[kKeyQueryParams]);
    WriteText(halvard[kKeyQueryParams], L"lang", languageCode, 0);
    WriteText(halvard[kKeyQueryParams], L"affid", value, 0);
    WriteText(halvard[kKeyQueryParams], L"domain", domain, 0);
    WriteText(halvard[kKeyQueryParams], L"ClientOSV", clientOSV.c_str(), 0);
    WriteLcidText(halvard[kKeySubstitute]);
    WriteText(halvard[kKeySubstitute], L"lang", languageCode, 0);
    WriteText(halvard[kKeySubstitute], L"ClientOSV", clientOSV.c_str(), 0);
    if (kvrFamily_) {
        WriteLcidText(kKVROemSubstituteKey);
        WriteText(kKVROemSubstituteKey, L"lang", languageCode, 0);
    }
    WriteLcidText(kHalvardOemSubstituteKey);
    WriteText(kHalvardOemSubstituteKey, L"lang", languageCode, 0, true);

    LOG_AT(kSeverityInformation, L"Get culture from langmap.dat");
    GetCurrentCultureFromLangmapDat(lcidTerms.c_str(), culture);
    LogLine(kSeverityInformation, LOG_HERE) << L"Found culture " << culture;
    WriteText(ownBuildKey.c_str(), L"lang", languageCode, kQzRegRecord);
    WriteText(ownBuildKey.c_str(), L"affid", value, kQzRegRecord);
    WriteText(ownBuildKey.c_str(), L"culture", culture, 0);
    if (kvrFamily_) WriteText(kvr[kKeyQueryParams], L"culture", culture, 0);
    WriteText(halvard[kKeyQueryParams], L"culture", culture, 0);

    for (const wchar_t* oemInfo : {kvrFamily_ ? kvr[kKeyOemInfo] : nullptr, halvard[kKeyOemInfo]}) {
        if (!oemInfo) continue;
        const std::wstring key = KeyBelow(oemInfo, buildKey);
        WriteDword(key.c_str(), L"lcid", lcid, kQzRegRecord);
        WriteText(key.c_str(), L"lang", languageCode, kQzRegRecord);
        WriteText(key.c_str(), L"affid", value, kQzRegRecord);
    }
    return 0;
}

void CwelkinModule::OnOOBE() {
    const std::wstring workingFolder = Basalt::Format(L"%s\\%s", kvrInstallFolder_, L"OnOOBE");
    const std::wstring commonFiles = ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86);
    if (commonFiles.empty()) {
        // Without the folder there is no installer path to start.
        LOG_AT(kSeverityError, L"OnOOBE: the Common Files (x86) folder is unknown; the installer is not started");
        return;
    }
    const std::wstring installer = commonFiles + L"\\Torvex\\Installer\\qzinst.exe";
    std::wstring arguments = Basalt::Format(
        L" OnOOBE.inf /longpath /install /DoNotDeleteSetupFiles /WorkingDir=\"%s\"", workingFolder.c_str());
    CQzProcessHelper()._CreateProcessAndWaitEx(installer.c_str(), arguments.data(), nullptr, true);
}

void CwelkinModule::EnableOAS() {
    DWORD enabled = 0;
    wchar_t installFolder[520] = {};
    if (ReadPlainDword(kScannerKey, L"OASEnabled", enabled) == 0 &&
        ReadText(kAntivirusInstallKey, L"Install Dir", installFolder, sizeof installFolder, 0) == 0) {
        LOG_AT(kSeverityNormal, L"Enable OAS");
        WriteDword(kScannerKey, L"OASEnabled", 3, 0);
    } else {
        LOG_AT(kSeverityNormal, L"OAS entry not found. Not resetting to enable state.");
    }
}

void CwelkinModule::WriteInstallTime() {
    {
        Basalt::RegistryKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAntivirusSubstituteKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
            LOG_AT(kSeverityNormal, L"Schedule Scan entry not present. Do not reset the install date.");
            return;
        }
    }
    LOG_AT(kSeverityNormal, L"Schedule Scan entry present. Reset schedule scan install date.");
    SYSTEMTIME now;
    GetLocalTime(&now);
    double installTime = 0;
    if (!SystemTimeToVariantTime(&now, &installTime)) return;
    QzRegWriteValueExW(HKEY_LOCAL_MACHINE, kAntivirusSubstituteKey, L"InstallTime", REG_BINARY,
                       reinterpret_cast<const BYTE*>(&installTime), sizeof installTime, 0);
}

BOOL CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey(std::wstring pxsBuildKey) {
    const std::wstring appData = ShellFolder(CSIDL_COMMON_APPDATA);
    if (appData.empty()) {
        LOG_AT(kSeverityError,
               L"CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey(): Couldn't get path to C:\\ProgramData");
        return FALSE;
    }
    const std::wstring ini = Basalt::Format(L"%s\\%s\\%s\\%s\\%s", appData.c_str(),
                                            kvrFamily_ ? L"Torvex\\KVR" : L"Torvex\\Halvard", L"RegWiz", L"RegApp",
                                            L"ZELT.ini");
    if (CheckPathType(ini.c_str(), false) != 0) {
        LogLine(kSeverityNormal, LOG_HERE)
            << L"CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey(): Bail out as ZELT.ini file doesn't exist at:"
            << ini.c_str();
        return FALSE;
    }
    LogLine(kSeverityNormal, LOG_HERE) << L"CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey(): ZELT.ini is located at"
                                       << ini.c_str();
    wchar_t zeltBuildKey[260] = {};
    QueryIniText(ini.c_str(), L"oeminfo", L"buildKey", zeltBuildKey, sizeof zeltBuildKey);
    LogLine(kSeverityNormal, LOG_HERE) << L"CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey() ZELT BuildKey = "
                                       << zeltBuildKey;
    const std::wstring target = KeyBelow(Key(kKeyOemInfo), zeltBuildKey);

    Basalt::RegistryKey existing;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, target.c_str(), 0, KEY_READ, existing.Receive()) == ERROR_SUCCESS) {
        LogLine(kSeverityNormal, LOG_HERE) << L"CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey() ZELT BuildKey "
                                              L"already exists, so just bail out. Key location is: "
                                           << zeltBuildKey;
        return FALSE;
    }
    // A target inside the source (an empty PXS build key makes the source the oeminfo key itself) would be copied
    // into itself without end.
    if (IsSameOrBelowKey(target, pxsBuildKey)) {
        LogLine(kSeverityError, LOG_HERE) << L"CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey :: "
                                          << target.c_str() << L" lies inside " << pxsBuildKey.c_str()
                                          << L"; nothing is copied";
        return FALSE;
    }

    Basalt::RegistryKey targetKey;
    DWORD disposition = 0;
    const LONG created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, target.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                         nullptr, targetKey.Receive(), &disposition);
    if (created != ERROR_SUCCESS) {
        LogLine(kSeverityError, LOG_HERE) << L" CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey :: Error creating  "
                                          << target.c_str() << L" registry key " << L" GetLastError returned "
                                          << static_cast<DWORD>(created);
        return FALSE;
    }
    // A key this call made is removed again when the copy fails, so that the next start tries once more.
    auto undo = [&] {
        targetKey.Reset();
        if (disposition == REG_CREATED_NEW_KEY) SHDeleteKeyW(HKEY_LOCAL_MACHINE, target.c_str());
        return FALSE;
    };

    Basalt::RegistryKey sourceKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, pxsBuildKey.c_str(), 0, KEY_READ, sourceKey.Receive()) != ERROR_SUCCESS) {
        LogLine(kSeverityError, LOG_HERE) << L" CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey :: Error opening "
                                          << pxsBuildKey.c_str() << L" registry key ";
        return undo();
    }
    const DWORD copied = SHCopyKeyW(sourceKey.Get(), nullptr, targetKey.Get(), 0);
    sourceKey.Reset();
    if (copied != ERROR_SUCCESS) {
        LogLine(kSeverityError, LOG_HERE) << L"  CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey :: Error copying "
                                             L"PXSBuildKey registry keys to ZELTBuildKey registry "
                                          << copied;
        return undo();
    }
    targetKey.Reset();
    CopyBuildKeyValues(pxsBuildKey.c_str(), target.c_str(), zeltBuildKey);
    LOG_AT(kSeverityNormal,
           L"CwelkinModule::CopyPXSBuidKeyValuesToZELTBuildkey():: Successfully copied PXS BuildKey to ZELT BuildKey");
    return TRUE;
}
