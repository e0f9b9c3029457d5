#include "welkin/welkinmodule.h"

#include <shlobj.h>

#include <cstddef>
#include <string>
#include <vector>

#include "foundation/basalt/CodePageText.h"
#include "foundation/basalt/FindHandle.h"
#include "foundation/basalt/Format.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/RegValueCodec.h"
#include "foundation/logging/LogStream.h"
#include "welkin/IsduData.h"
#include "welkin/QzRegWriter.h"
#include "welkin/WelkinEvents.h"
#include "welkin/WelkinFiles.h"
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

    if (!IsOOBEDone()) LOG_AT(kSeverityNormal, L"Enter OOBE COMPLETE Stage");

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
