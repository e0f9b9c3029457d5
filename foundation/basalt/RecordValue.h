#pragma once
// Reading and writing one registry value kept as a registry record, on an open key through the ANSI registry
// calls. Shared by the registry-value codec (text in the thread's ANSI code page, first raw read of 500 bytes) and
// the scrambled registry key (UTF-8, 256 bytes): a `RecordValueForm` says which.
//
// Read: needs a size or a type (87). The stored type is reported; with a size the payload is deciphered into a
// scratch buffer, then REG_SZ and REG_MULTI_SZ payloads (when converting) come back as UTF-16 text with the rules
// of RegStringPayload.h, any other payload as its bytes (234 when it does not fit; the size says N). A stored value
// that is not REG_BINARY gives 13, a bad record the decoder's code, a missing value the registry's, no memory 14.
//
// Write: null data or a size of 0 -> 87. When converting, REG_SZ and REG_MULTI_SZ UTF-16 data become text in the
// code page first (conversion codes, 14 no memory); the record (8 when its buffer cannot be had) keeps the caller's
// type and is stored as REG_BINARY.
#include <windows.h>

namespace Basalt {

struct RecordValueForm {
    UINT codePage;
    DWORD firstReadSize;
};

DWORD ReadRecordValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size, const RecordValueForm& form,
                      bool convert);
DWORD WriteRecordValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size,
                       const RecordValueForm& form, bool convert);

}  // namespace Basalt
