#include "clients/support/PathAPI.h"

#include <shlwapi.h>

#include <fstream>
#include <ostream>

#include "foundation/basalt/FileHelpers.h"

namespace Orvan {

bool PathAPI::fileExists(const std::wstring& path) { return Basalt::FileExists(path.c_str()); }

DWORD PathAPI::getFileAttributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

std::wstring PathAPI::getFolderPart(const std::wstring& path) {
    std::wstring folder, fileName;
    return Basalt::SplitPath(path, folder, false, fileName) ? folder : std::wstring();
}

bool PathAPI::findFiles(const std::wstring& pattern, bool recurse) {
    return Basalt::DeleteMatchingFiles(pattern.c_str(), recurse);
}

bool PathAPI::createFolderPath(const std::wstring& path) { return Basalt::CreateFolderPath(path.c_str(), nullptr); }

bool PathAPI::removeFolderTree(const std::wstring& path) { return Basalt::RemoveFolderTree(path.c_str()); }

HANDLE PathAPI::CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE templateFile) {
    return ::CreateFileW(name, access, share, security, disposition, flags, templateFile);
}
BOOL PathAPI::MoveFileW(LPCWSTR from, LPCWSTR to) { return ::MoveFileW(from, to); }
BOOL PathAPI::DeleteFileW(LPCWSTR name) { return ::DeleteFileW(name); }
BOOL PathAPI::ReadDirectoryChangesW(HANDLE folder, LPVOID buffer, DWORD length, BOOL watchSubtree, DWORD filter,
                                    LPDWORD returned, LPOVERLAPPED overlapped,
                                    LPOVERLAPPED_COMPLETION_ROUTINE completion) {
    return ::ReadDirectoryChangesW(folder, buffer, length, watchSubtree, filter, returned, overlapped, completion);
}
LPWSTR PathAPI::PathFindFileNameW(LPCWSTR path) { return ::PathFindFileNameW(path); }
DWORD PathAPI::GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD capacity) {
    return ::GetLongPathNameW(shortPath, longPath, capacity);
}
DWORD PathAPI::SleepEx(DWORD milliseconds, BOOL alertable) { return ::SleepEx(milliseconds, alertable); }
BOOL PathAPI::CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) { return ::CancelIoEx(file, overlapped); }
BOOL PathAPI::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }
HANDLE PathAPI::FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) { return ::FindFirstFileW(pattern, data); }
BOOL PathAPI::FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) { return ::FindNextFileW(find, data); }
BOOL PathAPI::FindClose(HANDLE find) { return ::FindClose(find); }
DWORD PathAPI::GetLastError() { return ::GetLastError(); }

bool PathAPI::readTextFile(const std::wstring& path, std::wstring& text) {
    std::wifstream stream(path.c_str());
    if (!stream.is_open()) return false;
    stream.seekg(0, std::ios::end);
    const std::streamoff length = stream.tellg();
    stream.seekg(0, std::ios::beg);
    text.assign(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
    if (!text.empty()) stream.read(text.data(), static_cast<std::streamsize>(text.size()));
    // Text mode turns CRLF into one character: fewer characters arrive than the file has bytes.
    text.resize(static_cast<size_t>(stream.gcount()));
    return true;
}

bool PathAPI::writeTextFile(const std::wstring& path, const std::wstring& text) {
    std::wofstream stream(path.c_str(), std::ios::out | std::ios::trunc);
    if (!stream.is_open()) return false;
    stream << text << std::endl;
    return true;
}

}  // namespace Orvan
