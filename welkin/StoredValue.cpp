#include "welkin/StoredValue.h"

#include "foundation/basalt/RegValueCodec.h"

DWORD RecordFlagOf(HKEY root, const wchar_t* path, const wchar_t* name) {
    // A plain query of the type alone: a record is REG_BINARY in the registry whatever type it keeps.
    DWORD storedType = REG_NONE;
    if (QzRegReadValueExW(root, path, name, &storedType, nullptr, nullptr, 0) != ERROR_SUCCESS) return 0;
    return storedType == REG_BINARY ? kQzRegRecord : 0;
}
