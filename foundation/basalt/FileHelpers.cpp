#include "foundation/basalt/FileHelpers.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <vector>

#include "foundation/basalt/FindHandle.h"

namespace Basalt {

namespace {

constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr size_t kLongPathPrefixLength = 4;

bool HasLongPathPrefix(const std::wstring& path) { return path.compare(0, kLongPathPrefixLength, kLongPathPrefix) == 0; }

std::wstring FullPathOf(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD needed = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (needed == 0) return path;
        if (needed < buffer.size()) return std::wstring(buffer.data(), needed);
        buffer.resize(needed + 1);
    }
}

}  // namespace

bool IsAbsolutePath(const std::wstring& path) {
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (path.size() < 3) return false;
    const wchar_t letter = static_cast<wchar_t>(path[0] | 0x20);
    const bool fromDrive = letter >= L'a' && letter <= L'z' && path[1] == L':' && separator(path[2]);
    const bool fromShare = separator(path[0]) && separator(path[1]) && !separator(path[2]);
    return fromDrive || fromShare;
}

bool IsDriveOrShareRoot(const std::wstring& path) {
    std::wstring work = path;
    if (HasLongPathPrefix(work)) {
        work.erase(0, kLongPathPrefixLength);
        if (work.compare(0, 4, L"UNC\\") == 0) work.replace(0, 3, L"\\");
    }
    work = FullPathOf(work);
    while (!work.empty() && work.back() == L'\\') work.pop_back();
    if (work.empty()) return true;
    if (work.size() == 2 && work[1] == L':') return true;
    if (work.compare(0, 2, L"\\\\") == 0) {
        const size_t server = work.find(L'\\', 2);
        return server == std::wstring::npos || work.find(L'\\', server + 1) == std::wstring::npos;
    }
    return false;
}

namespace {

bool IsDotName(const std::wstring& name) { return name == L"." || name == L".."; }

// A junction or directory link is removed as a link; what it points at is never entered.
bool RemoveFolderLink(const std::wstring& link, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(link.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return RemoveDirectoryW(link.c_str()) != FALSE;
}

}  // namespace

bool FileExists(const wchar_t* path) {
    if (!path || !*path) return false;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const wchar_t* path) {
    if (!path || !*path) return false;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const std::wstring& path) {
    struct _stat64 facts;
    return _wstat64(path.c_str(), &facts) == 0 && (facts.st_mode & _S_IFREG);
}

bool DeleteMatchingFiles(const wchar_t* pattern, bool recurse) {
    if (!pattern || !*pattern) return false;
    const std::wstring text(pattern);
    if (IsDotName(text)) return false;
    const size_t lastSlash = text.rfind(L'\\');
    if (lastSlash == std::wstring::npos || lastSlash + 1 == text.size()) return false;
    const std::wstring folder = text.substr(0, lastSlash + 1);
    if (recurse && IsDriveOrShareRoot(folder)) return false;

    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(pattern, &found));
    if (!search.Valid()) return false;
    bool allDeleted = true;
    do {
        const std::wstring name(found.cFileName);
        const std::wstring full = folder + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (IsDotName(name) || !recurse) continue;
            const bool removed = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                                     ? RemoveFolderLink(full, found.dwFileAttributes)
                                     : RemoveFolderTree(full.c_str());
            if (!removed) allDeleted = false;
            continue;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(full.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (!DeleteFileW(full.c_str())) allDeleted = false;
    } while (FindNextFileW(search.Get(), &found));
    return allDeleted;
}

bool CreateFolderPath(const wchar_t* path, DWORD* error) {
    DWORD code = 0;
    bool created = false;
    if (!path || !*path) {
        code = ERROR_INVALID_PARAMETER;
    } else if (IsDirectory(path)) {
        code = ERROR_ALREADY_EXISTS;
        created = true;
    } else {
        const std::wstring given(path);
        std::wstring absolute;
        const bool hasDrive = given.size() > 1 && given[1] == L':' && given.find(L'\\') != std::wstring::npos;
        // A share path ("\\server\share\...") is already absolute; it must not be put on the current drive.
        if (HasLongPathPrefix(given) || hasDrive || given.compare(0, 2, L"\\\\") == 0) {
            absolute = given;
        } else {
            const std::wstring current = GetCurrentFolder();
            if (given.find(L'\\') == std::wstring::npos)
                absolute = current + L"\\" + given;
            else if (given[0] == L'\\')
                absolute = current.substr(0, 2) + given;
            else
                absolute = current.substr(0, 2) + L"\\" + given;
        }
        code = CreateFolderRecursive(absolute);
        created = code == 0;
    }
    if (error) *error = code;
    return created;
}

DWORD CreateFolderRecursive(const std::wstring& path) {
    if (IsDirectory(path.c_str())) return 0;
    const bool prefixed = HasLongPathPrefix(path);
    const std::wstring work = prefixed ? path.substr(kLongPathPrefixLength) : path;
    const size_t lastSlash = work.rfind(L'\\');
    if (lastSlash == std::wstring::npos) return 0;
    if (work.find(L'\\') != lastSlash) {
        const std::wstring parent = (prefixed ? kLongPathPrefix : L"") + work.substr(0, lastSlash);
        const DWORD code = CreateFolderRecursive(parent);
        if (code != 0) return code;
    }
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        const DWORD code = GetLastError();
        // Something already there is only a success when it is a folder: a file in its place is no folder.
        if (code != ERROR_ALREADY_EXISTS || !IsDirectory(path.c_str())) return code;
    }
    return 0;
}

bool RemoveFolderTree(const wchar_t* folder) {
    if (!folder || !*folder) return false;
    const std::wstring text(folder);
    if (IsDotName(text)) return false;
    const DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveFolderLink(text, attributes);
    // A drive or share root is refused here: the recursive delete does not work on roots.
    if (!DeleteMatchingFiles((text + L"\\*.*").c_str(), true)) return false;
    const DWORD now = GetFileAttributesW(folder);
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(folder, now & ~FILE_ATTRIBUTE_READONLY);
    return RemoveDirectoryW(folder) != FALSE;
}

bool SplitPath(const std::wstring& path, std::wstring& folder, bool keepBackslash, std::wstring& fileName) {
    const size_t lastSlash = path.rfind(L'\\');
    if (lastSlash == std::wstring::npos) return false;
    folder = path.substr(0, keepBackslash ? lastSlash + 1 : lastSlash);
    fileName = path.substr(lastSlash + 1);
    return true;
}

std::wstring GetCurrentFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

std::wstring ModuleFilePath(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace Basalt
