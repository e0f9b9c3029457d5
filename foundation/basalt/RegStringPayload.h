#pragma once
// String data between its stored form (text in a code page, each string with its NUL; a multi-string ends with one
// more NUL) and the UTF-16 form that callers of the registry readers and writers see (sizes in bytes, terminators
// included). Shared by the registry-value codec (the thread's ANSI code page) and the scrambled registry key (UTF-8).
#include <windows.h>

#include <string>

namespace Basalt {

// Converts `length` stored bytes into the caller's buffer; *size is the buffer's size in bytes on entry and the
// bytes written or needed on return. Never reads past `length`: a string without its NUL ends there.
// Single string: 0, or 234 when it does not fit. Multi-string: the strings one after another and a final NUL;
// when any of it does not fit a given buffer, the whole buffer is zeroed and the result is 234. A null data
// pointer asks for the size only.
DWORD WidenStringPayload(UINT codePage, bool multiString, const char* stored, DWORD length, BYTE* data, DWORD* size);

// Builds the stored form of caller data: a single string up to its terminator, terminator included (the size is
// not used); a multi-string from its strings within `size` bytes up to the empty one, plus the final NUL.
// Conversion failures return their code; may throw std::bad_alloc.
DWORD NarrowStringPayload(UINT codePage, bool multiString, const BYTE* data, DWORD size, std::string& stored);

}  // namespace Basalt
