// The OEM-configured UserMode commands: counted down, started, waited for and retired from the registry.
#include <cwchar>
#include <string>
#include <vector>

#include "foundation/basalt/Format.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/RegValueCodec.h"
#include "foundation/logging/LogStream.h"
#include "welkin/QzRegWriter.h"
#include "welkin/StoredValue.h"
#include "welkin/processhelper.h"
#include "welkin/welkinmodule.h"

using ETWLogging::kSeverityError;
using ETWLogging::kSeverityInformation;
using ETWLogging::kSeverityNormal;
using ETWLogging::LogLine;

namespace {

constexpr DWORD kRunCommandBytes = 1040;
constexpr DWORD kCurDirBytes = 520;
constexpr DWORD kCmdArgsBytes = 1300;
constexpr size_t kSubkeyNameChars = 520;
constexpr size_t kCommandPathChars = 259;

// A value that is stored but does not read: a REG_BINARY value that is no sound record. Absent and too long values
// count as missing.
bool IsUnreadable(DWORD rc) { return rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && rc != ERROR_MORE_DATA; }

// A string value of a command, plain or a record; empty unless it reads. `unreadable` is set, never cleared.
std::wstring ReadText(const std::wstring& path, const wchar_t* name, DWORD capacityBytes, bool& unreadable) {
    std::vector<wchar_t> text(capacityBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = capacityBytes;
    const DWORD rc = QzRegReadValueExW(HKEY_LOCAL_MACHINE, path.c_str(), name, nullptr,
                                       reinterpret_cast<BYTE*>(text.data()), &size,
                                       RecordFlagOf(HKEY_LOCAL_MACHINE, path.c_str(), name));
    if (rc == ERROR_SUCCESS) return std::wstring(text.data());
    if (IsUnreadable(rc)) unreadable = true;
    return std::wstring();
}

DWORD ReadNumber(const std::wstring& path, const wchar_t* name, bool& unreadable) {
    DWORD number = 0;
    DWORD size = sizeof number;
    const DWORD rc = QzRegReadValueExW(HKEY_LOCAL_MACHINE, path.c_str(), name, nullptr,
                                       reinterpret_cast<BYTE*>(&number), &size,
                                       RecordFlagOf(HKEY_LOCAL_MACHINE, path.c_str(), name));
    if (rc == ERROR_SUCCESS) return number;
    if (IsUnreadable(rc)) unreadable = true;
    return 0;
}

// The working folder: "curdir" with its first two "%s" replaced by the two texts. The registry text is never used
// as a format; any other character, '%' included, stays as it is.
std::wstring WorkingFolder(const std::wstring& curdir, const wchar_t* first, const wchar_t* second) {
    std::wstring folder;
    int substituted = 0;
    for (size_t i = 0; i < curdir.size(); ++i) {
        if (substituted < 2 && curdir[i] == L'%' && i + 1 < curdir.size() && curdir[i + 1] == L's') {
            folder += substituted++ == 0 ? first : second;
            ++i;
        } else {
            folder += curdir[i];
        }
    }
    return folder;
}

// "X:\" (also in its long-path form): without its backslash it would name the drive's current folder, which a
// process cannot be started in.
bool IsDriveRoot(const std::wstring& folder) {
    const std::wstring drive = folder.compare(0, 4, L"\\\\?\\") == 0 ? folder.substr(4) : folder;
    return drive.size() == 3 && drive[1] == L':' && drive[2] == L'\\' &&
           ((drive[0] >= L'A' && drive[0] <= L'Z') || (drive[0] >= L'a' && drive[0] <= L'z'));
}

// The folder inside the quotes of /WorkingDir="...": a trailing backslash (only a drive root keeps one) is doubled,
// so that it does not escape the closing quote for the installer's command-line parser.
std::wstring QuotedFolderText(const std::wstring& folder) {
    return !folder.empty() && folder.back() == L'\\' ? folder + L'\\' : folder;
}

// The name of subkey `index` (at most 520 characters); the registry's result.
LONG SubkeyName(HKEY key, DWORD index, std::wstring& name) {
    wchar_t buffer[kSubkeyNameChars] = {};
    DWORD chars = kSubkeyNameChars;
    const LONG rc = RegEnumKeyExW(key, index, buffer, &chars, nullptr, nullptr, nullptr, nullptr);
    name = buffer;
    return rc;
}

// "%s\%s" of the key and a subkey name; empty when it would not fit a command path (a cut path names another key).
std::wstring SubkeyPath(const wchar_t* key, const wchar_t* name) {
    std::wstring path = std::wstring(key) + L"\\" + name;
    return path.size() <= kCommandPathChars ? path : std::wstring();
}

class CurrentFolderScope {
public:
    explicit CurrentFolderScope(const wchar_t* folder) {
        saved_.resize(1300);
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(saved_.size()), saved_.data());
        saved_.resize(length < 1300 ? length : 0);
        SetCurrentDirectoryW(folder);
    }
    ~CurrentFolderScope() {
        if (!saved_.empty()) SetCurrentDirectoryW(saved_.c_str());
    }
    CurrentFolderScope(const CurrentFolderScope&) = delete;
    CurrentFolderScope& operator=(const CurrentFolderScope&) = delete;

private:
    std::wstring saved_;
};

}  // namespace

int CwelkinModule::ApplyUserModeSettings(const wchar_t* userModeKey) {
    int result = 0;
    CQzProcessHelper helper;

    LogLine(kSeverityNormal, LOG_HERE) << L"Open registry key " << userModeKey;
    Basalt::RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, userModeKey, 0, KEY_ALL_ACCESS, key.Receive()) != ERROR_SUCCESS) {
        LogLine(kSeverityNormal, LOG_HERE) << L"Error open registry key " << userModeKey;
        return 0;
    }
    LogLine(kSeverityNormal, LOG_HERE) << L"Enumerate subkeys for " << userModeKey;
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        LogLine(kSeverityNormal, LOG_HERE) << L"Enumerate subkeys failed for " << userModeKey;
        return 0;
    }
    if (subkeys == 0) {
        LogLine(kSeverityNormal, LOG_HERE) << L"No subkeys exist for " << userModeKey;
        return 0;
    }
    LogLine(kSeverityNormal, LOG_HERE) << L"subkeys exist for " << userModeKey << L". Count = " << subkeys;

    // A command that is done is retired at once, before the next one starts: a start that ends early (killed while
    // it waits for a later command) must not leave it to run again. Each retired key moves the later ones down.
    DWORD retired = 0;
    for (DWORD index = 0; index < subkeys; ++index) {
        std::wstring name;
        const LONG enumerated = SubkeyName(key.Get(), index - retired, name);
        if (enumerated != ERROR_SUCCESS) {
            RequestAnotherRun();
            LogLine(kSeverityNormal, LOG_HERE) << L"RegEnumKeyExW failed. Counter = " << index << L" . Error = "
                                               << static_cast<DWORD>(enumerated);
            break;
        }
        const std::wstring path = SubkeyPath(userModeKey, name.c_str());
        if (path.empty()) {
            LogLine(kSeverityNormal, LOG_HERE) << L"Skipping registry key with too long a path : " << name.c_str();
            continue;
        }

        // A command whose values do not read is kept unstarted for another run; held on its program or count, it
        // keeps its count too.
        auto hold = [&] {
            result = -1;
            LogLine(kSeverityError, LOG_HERE) << L"unreadable value, retry again (registry key) >> :" << path.c_str();
        };
        bool commandUnreadable = false, valueUnreadable = false;
        const std::wstring command = ReadText(path, L"runcmd", kRunCommandBytes, commandUnreadable);
        LogLine(kSeverityNormal, LOG_HERE) << L"registry value is " << command.c_str();
        DWORD bootCount = ReadNumber(path, L"bootcount", valueUnreadable);
        LogLine(kSeverityNormal, LOG_HERE) << L"registry value is " << bootCount;
        if (commandUnreadable || (valueUnreadable && !command.empty())) {
            hold();
            continue;
        }
        if (bootCount != 0) --bootCount;
        LogLine(kSeverityNormal, LOG_HERE) << L"Boot count after decrementing by 1 is " << bootCount;
        QzRegWriteValueExW(HKEY_LOCAL_MACHINE, path.c_str(), L"bootcount", REG_DWORD,
                           reinterpret_cast<const BYTE*>(&bootCount), sizeof bootCount, kQzRegRecord);
        if (!command.empty() && bootCount > 0) RequestAnotherRun();
        if (command.empty() || bootCount > 0) {
            LogLine(kSeverityNormal, LOG_HERE) << L"No action for >> : " << command.c_str();
            continue;
        }

        const std::wstring curdir = ReadText(path, L"curdir", kCurDirBytes, valueUnreadable);
        wchar_t commandLine[kCommandLineChars] = {};
        wcsncpy(commandLine, ReadText(path, L"cmdargs", kCmdArgsBytes, valueUnreadable).c_str(),
                kCommandLineChars - 1);
        const bool wait = ReadNumber(path, L"wait", valueUnreadable) != 0;
        if (valueUnreadable) {
            hold();
            continue;
        }
        ReplaceMacros(commandLine, path.c_str());
        const std::wstring arguments = commandLine;

        std::wstring folder = WorkingFolder(curdir, languageCode, value);
        LogLine(kSeverityNormal, LOG_HERE) << L"cur dir is >> : " << folder.c_str();
        LogLine(kSeverityNormal, LOG_HERE) << L"Run command >> : " << command.c_str();
        LogLine(kSeverityNormal, LOG_HERE) << L"Arguments >> : " << arguments.c_str();
        if (!IsDriveRoot(folder) && !folder.empty() && folder.back() == L'\\') folder.pop_back();

        std::wstring fullArguments = command.find(L"qzinst") != std::wstring::npos
                                         ? Basalt::Format(L" /WorkingDir=\"%s\" %s", QuotedFolderText(folder).c_str(),
                                                          arguments.c_str())
                                         : Basalt::Format(L" %s", arguments.c_str());
        LogLine(kSeverityInformation, LOG_HERE) << L" szFullArgsToRun : " << fullArguments.c_str();
        LogLine(kSeverityNormal, LOG_HERE) << L"Wait >> : " << wait;

        DWORD exitCode = 0;
        {
            CurrentFolderScope inFolder(folder.c_str());
            exitCode = helper._CreateProcessAndWaitEx(command.c_str(), fullArguments.data(), folder.c_str(), wait);
        }
        setOemMgrAllowedToRunFlag(1);

        if (exitCode <= 1) {
            LogLine(kSeverityNormal, LOG_HERE) << L"add to delete queue (registry key) >> :" << path.c_str();
            LogLine(kSeverityNormal, LOG_HERE) << L"deleting registry key : " << path.c_str();
            if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS) ++retired;
        } else {
            result = -1;
            LogLine(kSeverityNormal, LOG_HERE) << L"retry again (registry key) >> :" << path.c_str();
        }
    }
    return result;
}

void CwelkinModule::DeleteAlternareUserModeSettings(const wchar_t* userModeKey) {
    LogLine(kSeverityNormal, LOG_HERE)
        << L"CwelkinModule::DeleteUserModeSettings:: Delete the UserMode reg keys from laternate location of: "
        << userModeKey;
    Basalt::RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, userModeKey, 0, KEY_ALL_ACCESS, key.Receive()) != ERROR_SUCCESS) {
        LogLine(kSeverityNormal, LOG_HERE)
            << L"CwelkinModule::DeleteAlternareUserModeSettings::Error open registry key " << userModeKey;
        return;
    }
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys == 0) {
        LogLine(kSeverityNormal, LOG_HERE)
            << L"CwelkinModule::DeleteAlternareUserModeSettings:: No subkeys exist for " << userModeKey;
        return;
    }
    std::vector<std::wstring> deleteQueue;
    for (DWORD index = 0; index < subkeys; ++index) {
        std::wstring name;
        const LONG enumerated = SubkeyName(key.Get(), index, name);
        if (enumerated != ERROR_SUCCESS) {
            LogLine(kSeverityNormal, LOG_HERE)
                << L"CwelkinModule::DeleteAlternareUserModeSettings:: RegEnumKeyExW failed. Counter = " << index
                << L" . Error = " << static_cast<DWORD>(enumerated);
            return;
        }
        const std::wstring path = SubkeyPath(userModeKey, name.c_str());
        if (path.empty()) {
            LogLine(kSeverityNormal, LOG_HERE)
                << L"CwelkinModule::DeleteAlternareUserModeSettings::Skipping registry key with too long a path : "
                << name.c_str();
            continue;
        }
        bool unreadable = false;  // an unreadable command is left in place like an empty one
        const std::wstring command = ReadText(path, L"runcmd", kRunCommandBytes, unreadable);
        if (command.empty()) {
            LogLine(kSeverityNormal, LOG_HERE) << L"CwelkinModule::DeleteAlternareUserModeSettings::No action for >> : "
                                               << command.c_str();
            continue;
        }
        deleteQueue.push_back(path);
    }
    for (const std::wstring& path : deleteQueue) {
        LogLine(kSeverityNormal, LOG_HERE)
            << L"CwelkinModule::DeleteAlternareUserModeSettings::deleting registry key : " << path.c_str();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    }
}
