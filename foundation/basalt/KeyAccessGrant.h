#pragma once
// Adds a full-access grant for Everyone (GENERIC_ALL, inherited by subkeys and objects) to a registry key's DACL,
// keeping the entries it has, and with `recurse` to every key below it that opens with KEY_ALL_ACCESS, depth
// first. All security calls go through the given table (the registry key builds one per call; tests hand in
// their own). Results: 0 done, or nothing done on a system outside the NT family; 2 when the table does not load;
// 24 when the key reports an empty descriptor; 14/8 for memory; the first failing call's code otherwise.
#include <windows.h>

#include "foundation/basalt/AdvapiTable.h"

namespace Basalt::internal {

LONG GrantKeyFullAccessWith(AdvapiTable& table, HKEY key, bool recurse);

}  // namespace Basalt::internal
