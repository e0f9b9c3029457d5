#pragma once
// Folder texts of the suite's install settings: the read of a REG_SZ folder value in the 64-bit registry view, and
// the final form in which welkin hands a folder out.
#include <windows.h>

#include <string>

// HKLM key\name, REG_SZ, at most `bytes` bytes (64-bit view); empty when unreadable, of another type or empty.
std::wstring ReadFolderValue(const wchar_t* key, const wchar_t* name, DWORD bytes);

// The shell folder (SHGetFolderPathW) followed by `tail`; empty when the shell has no such folder.
std::wstring ShellFolderWith(int csidl, const wchar_t* tail);

// One final backslash added (trailing set) or removed (trailing clear), a leading double quote skipped, then copied
// out. 0, or 122 with out emptied when it does not fit (a shortened folder would name another one).
DWORD CopyFolderText(std::wstring folder, wchar_t* out, size_t capacity, bool trailing);
