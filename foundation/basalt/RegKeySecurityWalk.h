#pragma once
// Applies a security descriptor to a registry key and, on request, to every key below it, depth first (a key
// before its subkeys). The setter comes from a security-function table that binds advapi32 at run time: the table
// hands out its RegSetKeySecurity pointer and whether it loaded, as a KeySecurityFunctions value.
//
// Result: 1 when the table is not loaded or lacks the function; else the first non-zero result of the setter, or 0.
// Subkeys are enumerated by index from 0 (ANSI names) and opened with KEY_ALL_ACCESS; one that does not open is
// skipped.
#include <windows.h>

using RegSetKeySecurityFunction = LONG(WINAPI*)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);

struct KeySecurityFunctions {
    RegSetKeySecurityFunction regSetKeySecurity = nullptr;
    bool loaded = false;
};

DWORD EnumRegKeysRecursive(const KeySecurityFunctions& table, HKEY key, SECURITY_INFORMATION information,
                           PSECURITY_DESCRIPTOR descriptor, bool descend);
