#pragma once
// The one registry writer of welkin: wide key paths, value names and string data, written through the ANSI registry
// calls (strings in the thread's ANSI code page), the key created with its missing parents. Flag word:
//   1  store the value as a registry record (RegValueCodec.h), REG_BINARY keeping the caller's type;
//   2  repair the key's security when this call created the key;
//   4  repair it in every case (a key that existed is repaired with all its subkeys);
//   8  32-bit registry view (wins over 16);  16  64-bit registry view.
// The repair gives Everyone (S-1-1-0) GENERIC_ALL, inherited by subkeys, on top of the entries the DACL has; with
// subkeys, the top key's repaired descriptor is written onto each of them. A failed repair never stops the write.
//
// Results: Win32 codes (122 is reported as 234, 14 when a conversion buffer cannot be had); QzRegWriteValueExW
// gives 0xFFFFFFFF, after a log line, for an empty or null REG_SZ string, which the raw writer stores as "".
#include <windows.h>

#include <memory>

#include "foundation/basalt/AdvapiTable.h"
#include "foundation/basalt/RegKeyHolder.h"
#include "welkin/AdvapiFunctions.h"

inline constexpr DWORD kQzRegRepairNewKey = 2;
inline constexpr DWORD kQzRegRepairAlways = 4;
inline constexpr DWORD kQzRegRefusedEmptyString = 0xFFFFFFFF;

DWORD QzRegWriteValueExW(HKEY hive, const wchar_t* subKey, const wchar_t* valueName, DWORD type, const BYTE* data,
                         DWORD size, DWORD flags);
DWORD QzRegWriteValueExWImpl(HKEY hive, const wchar_t* subKey, const wchar_t* valueName, DWORD type,
                             const BYTE* data, DWORD size, DWORD flags);

// The DACL repair of one open key, and of its whole subtree with `descend`. The holder's status when it is not 0;
// 2 when the security functions cannot all be bound; else the first failing step's code. An empty binder stands
// for the system's own loader.
DWORD QzRegFixKeySecurity(const Basalt::RegKeyHolder& key, bool descend,
                          std::shared_ptr<Basalt::AdvapiBinder> binder = nullptr);

// The old DACL (null for none) plus an entry that sets `access` for Everyone, inherited by subkeys and objects, and
// a new absolute descriptor holding it. On success the caller frees acl and descriptor with LocalFree and the SID
// with FreeSid; on failure nothing is handed out. 87 for a null out-pointer.
DWORD BuildGrantAccessAcl(CAdvapiFunctions& functions, PACL oldDacl, PACL* newAcl, PSECURITY_DESCRIPTOR* descriptor,
                          PSID* sid, DWORD access);
