#pragma once
// Path and folder helpers of the Basalt library: split a path, test what a path names, create a folder with its
// missing parents, delete files by pattern, remove a folder tree, read the current folder. Nothing here logs;
// failures are reported by the result (and, for CreateFolderPath, a Win32 code).
// The recursive deletes never follow a reparse point (junction, symbolic link): the link itself is removed, what it
// points at is left alone. They also refuse to work on a drive or share root.
#include <windows.h>

#include <string>

namespace Basalt {

// False for a null or empty path or when the attributes cannot be read; true for anything but a folder.
bool FileExists(const wchar_t* path);
// False for a null or empty path or when the attributes cannot be read; else whether it is a folder.
bool IsDirectory(const wchar_t* path);
// Whether the run time's stat of the path says "regular file".
bool IsRegularFile(const std::wstring& path);

// Deletes what the wildcard pattern finds; read-only files too. With recurse set, folders found are removed with
// everything in them; without it they are left alone. True only when everything meant to go went.
bool DeleteMatchingFiles(const wchar_t* pattern, bool recurse);

// Creates the folder and its missing parents; a relative path is made absolute against the current folder (a path
// with a backslash but no drive is taken from the current drive's root). error (when given): 0 on creation, 183
// when the folder existed (still true), 87 for a null or empty path, else the code of CreateDirectoryW.
bool CreateFolderPath(const wchar_t* path, DWORD* error);
// Creates the parents first, then the folder; 0 when it is a folder afterwards (or the path has no backslash at
// all). A file where a folder should be gives 183.
DWORD CreateFolderRecursive(const std::wstring& path);

// Whether the path, made absolute, is a drive root ("C:\", "C:\x\..", "\\?\C:\") or a share root
// ("\\server\share"): the recursive deletes refuse to work on these.
bool IsDriveOrShareRoot(const std::wstring& path);

// Whether the path starts at a drive root ("C:\", "C:/") or names a share or device ("\\server\share",
// "\\?\C:\"): nothing about it depends on the current drive or folder.
bool IsAbsolutePath(const std::wstring& path);

// Deletes a folder with everything in it. False when anything was left.
bool RemoveFolderTree(const wchar_t* folder);

// Splits at the last backslash: folder = the text before it (with the backslash when keepBackslash is set),
// fileName = the text after it. False (outputs untouched) when there is no backslash.
bool SplitPath(const std::wstring& path, std::wstring& folder, bool keepBackslash, std::wstring& fileName);

// The current folder; empty when it cannot be read.
std::wstring GetCurrentFolder();

// The full path of a loaded module (null: the program's file), however long; empty when it cannot be read.
std::wstring ModuleFilePath(HMODULE module);

}  // namespace Basalt
