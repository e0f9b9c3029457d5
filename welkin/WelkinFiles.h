#pragma once
// welkin's own file-system helpers: test what a path names, delete files and folder trees (what cannot be deleted
// now is scheduled for deletion at the next restart), bounded copies, and the install folder of the KVR product.
// Nothing here logs; every helper reports through its result.
//
// welkin's FileExists answers with a result code (0 for an existing file) and is unrelated to Basalt::FileExists,
// which answers a bool.
// The tree deletes never enter a folder link (junction, symbolic link): the link itself is removed, what it points
// at is left alone.
#include <windows.h>

#include <memory>
#include <string>

// A new zero-terminated multibyte text of the wide text in the code page; null for a null or empty input or a
// failed conversion.
std::unique_ptr<char[]> WideToMultiByteAlloc(const wchar_t* text, UINT codePage);

// 0 when the path exists and is of the wanted kind; 3 a directory was wanted and a file found, 2 a file was wanted
// and a directory found; the FindFirstFileW error when nothing is found; 87 for a null path.
DWORD CheckPathType(const wchar_t* path, bool wantDirectory);

// 0 for an existing file, 0x80004005 for a directory, the FindFirstFileW error otherwise, 87 for null.
DWORD FileExists(const wchar_t* path);

// Without a target: the source is scheduled for deletion at the next restart. With a target: the source is moved
// (move set) or copied to a "qzinst" temporary file beside the target, the existing target is scheduled for
// deletion and the temporary file scheduled to replace it at the next restart. With move set, an existing source
// file loses its read-only attribute first. 0, 87 no source, 0x80004005 no temporary name, else the failing call's
// error.
DWORD DeleteFileOrDefer(const wchar_t* source, const wchar_t* target, bool move);

// Deletes what the pattern ("<folder>\*.*", at least 4 characters, with a backslash) finds: files (read-only ones
// too; one that cannot be deleted now is scheduled for the next restart) and, with recurse set, folders whose name
// does not begin with ".". 1 when every entry was deleted or scheduled, else 0.
BOOL DeleteDirectoryTree(const wchar_t* pattern, bool recurse);

// Deletes the folder's contents and the folder; a folder that cannot be removed now (5, 145) is scheduled for the
// next restart. Paths of 3 characters or fewer (a drive root) are refused. 1 on success, 0 on failure.
BOOL RemoveDirectoryForce(const wchar_t* folder, bool recurse);

// Copies the text with its terminator; the copied length, or 0 (and an empty buffer) when it does not fit.
size_t CopyToBuffer(const wchar_t* text, wchar_t* buffer, size_t capacity);

// The KVR install folder: HKLM "SOFTWARE\Torvex\KVR" "Install Dir" (64-bit view), else the folder of the KVR
// class's server, else "<Program Files>\Torvex\KVR". 0; 87 no buffer; 232 (buffer emptied) when no folder could be
// had; 122 when it does not fit.
DWORD GetKVRInstallDir(wchar_t* buffer, size_t capacity, bool trailingBackslash);

// The server path registered for the class (identifier text with or without braces): InprocServer32, then
// LocalServer32, each in the default, 32-bit and 64-bit view; surrounding double quotes are dropped. True when a
// non-empty path was found.
bool ModulePathFromCLSID(const wchar_t* classId, wchar_t* buffer, size_t capacity);
