#include "welkin/WelkinFiles.h"

#include <shlobj.h>

#include <cwchar>
#include <new>
#include <string>

#include "foundation/basalt/CodePageText.h"
#include "foundation/basalt/FindHandle.h"
#include "foundation/basalt/RegKeyHolder.h"
#include "welkin/FolderText.h"

namespace {

constexpr size_t kMaxEntryPath = 260;
constexpr DWORD kInstallDirBytes = 1040;
constexpr size_t kClassServerChars = 520;
constexpr wchar_t kKVRKey[] = L"SOFTWARE\\Torvex\\KVR";
constexpr wchar_t kKVRClassId[] = L"{7323885B-407F-4839-9695-96F545FF6286}";

void ClearReadOnly(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool IsExistingFile(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDotName(const wchar_t* name) { return name[0] == L'.'; }

// The kind test of CheckPathType and FileExists: the attributes of the first match, or the search's error.
DWORD FirstMatch(const wchar_t* path, DWORD& attributes) {
    WIN32_FIND_DATAW found;
    Basalt::FindHandle search(FindFirstFileW(path, &found));
    if (!search.Valid()) return GetLastError();
    attributes = found.dwFileAttributes;
    return ERROR_SUCCESS;
}

}  // namespace

std::unique_ptr<char[]> WideToMultiByteAlloc(const wchar_t* text, UINT codePage) {
    if (text == nullptr || *text == L'\0') return nullptr;
    const int needed = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return nullptr;
    std::unique_ptr<char[]> converted(new (std::nothrow) char[static_cast<size_t>(needed) + 1]());
    if (!converted) return nullptr;
    if (WideCharToMultiByte(codePage, 0, text, -1, converted.get(), needed, nullptr, nullptr) <= 0) return nullptr;
    return converted;
}

DWORD CheckPathType(const wchar_t* path, bool wantDirectory) {
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD attributes = 0;
    const DWORD rc = FirstMatch(path, attributes);
    if (rc != ERROR_SUCCESS) return rc;
    const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (wantDirectory && !isDirectory) return ERROR_PATH_NOT_FOUND;
    if (!wantDirectory && isDirectory) return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

DWORD FileExists(const wchar_t* path) {
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD attributes = 0;
    const DWORD rc = FirstMatch(path, attributes);
    if (rc != ERROR_SUCCESS) return rc;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? static_cast<DWORD>(E_FAIL) : ERROR_SUCCESS;
}

DWORD DeleteFileOrDefer(const wchar_t* source, const wchar_t* target, bool move) {
    if (source == nullptr || *source == L'\0') return ERROR_INVALID_PARAMETER;
    if (move && IsExistingFile(source)) ClearReadOnly(source);
    if (target == nullptr || *target == L'\0')
        return MoveFileExW(source, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? ERROR_SUCCESS : GetLastError();

    if (IsExistingFile(target)) {
        ClearReadOnly(target);
        if (!MoveFileExW(target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return GetLastError();
    }
    const std::wstring targetText = target;
    const size_t slash = targetText.rfind(L'\\');
    const std::wstring folder = slash == std::wstring::npos ? std::wstring(L".") : targetText.substr(0, slash);
    wchar_t temporary[MAX_PATH] = {};
    if (GetTempFileNameW(folder.c_str(), L"qzinst", 0, temporary) == 0) return static_cast<DWORD>(E_FAIL);
    const BOOL placed = move ? MoveFileExW(source, temporary,
                                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)
                             : CopyFileW(source, temporary, FALSE);
    if (!placed) return GetLastError();
    return MoveFileExW(temporary, target, MOVEFILE_DELAY_UNTIL_REBOOT) ? ERROR_SUCCESS : GetLastError();
}

BOOL DeleteDirectoryTree(const wchar_t* pattern, bool recurse) {
    if (pattern == nullptr) return FALSE;
    const std::wstring patternText = pattern;
    const size_t slash = patternText.rfind(L'\\');
    if (patternText.size() < 4 || slash == std::wstring::npos) return FALSE;
    const std::wstring folder = patternText.substr(0, slash + 1);

    WIN32_FIND_DATAW found;
    Basalt::FindHandle search(FindFirstFileW(pattern, &found));
    if (!search.Valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    BOOL result = TRUE;
    do {
        const bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isDirectory && IsDotName(found.cFileName)) continue;
        const std::wstring full = folder + found.cFileName;
        // A cut path would name another entry: leave it and say so.
        if (full.size() >= kMaxEntryPath) {
            result = FALSE;
            continue;
        }
        if (!isDirectory) {
            ClearReadOnly(full.c_str());
            if (DeleteFileW(full.c_str())) continue;
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_DRIVE) continue;
            if (DeleteFileOrDefer(full.c_str(), nullptr, true) != ERROR_SUCCESS) result = FALSE;
        } else if (recurse) {
            // A folder link goes as a link: what it points at lies outside this tree.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                ClearReadOnly(full.c_str());
                if (!RemoveDirectoryW(full.c_str())) result = FALSE;
            } else if (!RemoveDirectoryForce(full.c_str(), true)) {
                result = FALSE;
            }
        }
    } while (FindNextFileW(search.Get(), &found));
    return result;
}

BOOL RemoveDirectoryForce(const wchar_t* folder, bool recurse) {
    if (folder == nullptr || std::wcslen(folder) <= 3) return FALSE;
    const BOOL contents = DeleteDirectoryTree((std::wstring(folder) + L"\\*.*").c_str(), recurse);
    ClearReadOnly(folder);
    if (RemoveDirectoryW(folder)) return contents;
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_DIR_NOT_EMPTY) return contents;
    const bool scheduled = MoveFileExW(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    return contents && scheduled;
}

size_t CopyToBuffer(const wchar_t* text, wchar_t* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    const size_t length = text ? std::wcslen(text) : 0;
    if (text == nullptr || length >= capacity) {
        buffer[0] = L'\0';
        return 0;
    }
    std::wmemcpy(buffer, text, length + 1);
    return length;
}

DWORD GetKVRInstallDir(wchar_t* buffer, size_t capacity, bool trailingBackslash) {
    if (buffer == nullptr || capacity == 0) return ERROR_INVALID_PARAMETER;
    std::wstring folder = ReadFolderValue(kKVRKey, L"Install Dir", kInstallDirBytes);
    wchar_t server[kClassServerChars] = {};
    if (folder.empty() && ModulePathFromCLSID(kKVRClassId, server, kClassServerChars)) {
        folder = server;
        const size_t slash = folder.rfind(L'\\');
        folder.resize(slash == std::wstring::npos ? 0 : slash + 1);
    }
    if (folder.empty()) folder = ShellFolderWith(CSIDL_PROGRAM_FILES, L"\\Torvex\\KVR");
    if (folder.empty()) {
        buffer[0] = L'\0';
        return ERROR_NO_DATA;
    }
    return CopyFolderText(folder, buffer, capacity, trailingBackslash);
}

bool ModulePathFromCLSID(const wchar_t* classId, wchar_t* buffer, size_t capacity) {
    if (classId == nullptr || buffer == nullptr || capacity == 0) return false;
    buffer[0] = L'\0';
    const std::wstring id = classId[0] == L'{' ? std::wstring(classId) : L"{" + std::wstring(classId) + L"}";
    for (const char* suffix : {"\\InprocServer32", "\\LocalServer32"}) {
        std::string storage;
        const char* ansiId = nullptr;
        if (Basalt::ToOptionalAnsi(CP_THREAD_ACP, id.c_str(), storage, ansiId) != ERROR_SUCCESS) return false;
        const std::string path = std::string("CLSID\\") + ansiId + suffix;
        Basalt::RegKeyHolder key;
        bool opened = false;
        for (REGSAM access : {KEY_QUERY_VALUE, KEY_QUERY_VALUE | KEY_WOW64_32KEY, KEY_QUERY_VALUE | KEY_WOW64_64KEY}) {
            if (key.Open(HKEY_CLASSES_ROOT, path.c_str(), access) == ERROR_SUCCESS) {
                opened = true;
                break;
            }
        }
        if (!opened) continue;
        // Room for a terminator the stored text may lack.
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>((capacity - 1) * sizeof(wchar_t));
        std::wstring text(capacity, L'\0');
        if (RegQueryValueExW(key.Key(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            continue;
        text.resize(std::wcslen(text.c_str()));
        if (text.size() > 2 && text.front() == L'"' && text.back() == L'"') text = text.substr(1, text.size() - 2);
        if (text.empty()) continue;
        CopyToBuffer(text.c_str(), buffer, capacity);
        return true;
    }
    return false;
}
