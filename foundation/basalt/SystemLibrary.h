#pragma once
// Loading system libraries from the System folder only, and restricting the process's default library search to
// it. The rest of the trusted loading (modules judged by their signature) builds on these in foundation/trust.
#include <windows.h>

// True only when SetDefaultDllDirectories exists and accepted LOAD_LIBRARY_SEARCH_SYSTEM32.
bool EnableSafeDllSearch();

// Loads "<System folder>\<fileName>" with the flags, LOAD_WITH_ALTERED_SEARCH_PATH removed. Null when the name is
// null, the System folder is unknown or the load fails (last error set by the load).
HMODULE LoadSystemLibraryEx(const wchar_t* fileName, HANDLE reserved, DWORD flags);
HMODULE LoadSystemLibrary(const wchar_t* fileName);
