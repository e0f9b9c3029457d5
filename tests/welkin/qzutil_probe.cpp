// Loads the utility library the way welkin does, from wherever this program was copied, and exits with the
// identity of the build it bound (126 when nothing loaded, 0 when the library has no identity export).
#include <windows.h>

#include "foundation/basalt/ProcAddress.h"
#include "welkin/QzUtil.h"

int wmain() {
    CQzUtil util;
    if (util.Load() != 0) return ERROR_MOD_NOT_FOUND;
    const auto identity = Basalt::GetProcAddressAs<DWORD (*)()>(util.library, "QzUtilDoubleIdentity");
    return identity ? static_cast<int>(identity()) : 0;
}
