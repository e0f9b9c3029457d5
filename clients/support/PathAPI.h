#pragma once
// The file wrapper of the Orvan libraries: the Basalt file helpers and the file calls the libraries make, each
// replaceable by a test. Operations 7-19 are the Win32 calls of the same name with the same arguments and result.
#include <windows.h>

#include <string>

namespace Orvan {

class PathAPI {
public:
    virtual ~PathAPI() = default;

    virtual bool fileExists(const std::wstring& path);
    // GetFileAttributesW (INVALID_FILE_ATTRIBUTES when it fails).
    virtual DWORD getFileAttributes(const std::wstring& path);
    // The text before the last backslash; "" when there is none.
    virtual std::wstring getFolderPart(const std::wstring& path);
    // Basalt::DeleteMatchingFiles: deletes what the wildcard pattern finds (folders too with recurse set).
    virtual bool findFiles(const std::wstring& pattern, bool recurse);
    virtual bool createFolderPath(const std::wstring& path);
    virtual bool removeFolderTree(const std::wstring& path);

    virtual HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile);
    virtual BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
    virtual BOOL DeleteFileW(LPCWSTR name);
    virtual BOOL ReadDirectoryChangesW(HANDLE folder, LPVOID buffer, DWORD length, BOOL watchSubtree, DWORD filter,
                                       LPDWORD returned, LPOVERLAPPED overlapped,
                                       LPOVERLAPPED_COMPLETION_ROUTINE completion);
    virtual LPWSTR PathFindFileNameW(LPCWSTR path);
    virtual DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD capacity);
    virtual DWORD SleepEx(DWORD milliseconds, BOOL alertable);
    virtual BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
    virtual BOOL CloseHandle(HANDLE handle);
    virtual HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
    virtual BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
    virtual BOOL FindClose(HANDLE find);
    virtual DWORD GetLastError();

    // Reads the file as text through a wide stream (one character per byte, text mode: CRLF reads as one line
    // end). `text` holds exactly the characters read. False when the file cannot be opened.
    virtual bool readTextFile(const std::wstring& path, std::wstring& text);
    // Replaces the file with the text and a line end. False when the file cannot be opened for writing.
    virtual bool writeTextFile(const std::wstring& path, const std::wstring& text);
};

}  // namespace Orvan
