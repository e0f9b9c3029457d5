#pragma once
// Conversions between UTF-16 and a code page for the ANSI registry calls. Counts are in bytes for ANSI text and in
// characters for wide text, terminator included.
//
// Contract of all four: null text or count -> 87. The needed count is computed first; with a null buffer it is
// returned in *count with 0. A count below it -> 234 with *count set to the need. Otherwise the buffer is zeroed
// (*count units), the text converted with its terminator and *count set to the converted length, 0. A failing
// conversion sets *count to 0 and returns the system's error.
#include <windows.h>

#include <cstddef>
#include <string>

DWORD WideToAnsi(UINT codePage, const wchar_t* text, char* out, DWORD* count);
DWORD AnsiToWide(UINT codePage, const char* text, wchar_t* out, DWORD* count);

namespace Basalt {

// The same over exactly `length` units of text that need not be terminated (stored payloads are hostile input);
// the terminator is added to the result.
DWORD WideToAnsiBounded(UINT codePage, const wchar_t* text, std::size_t length, char* out, DWORD* count);
DWORD AnsiToWideBounded(UINT codePage, const char* text, std::size_t length, wchar_t* out, DWORD* count);

// A key path or value name for the ANSI registry calls: a null or empty text stays absent (converted = nullptr),
// otherwise its form in the code page is kept in `storage` and converted points at it. WideToAnsi's codes.
DWORD ToOptionalAnsi(UINT codePage, const wchar_t* text, std::string& storage, const char*& converted);

}  // namespace Basalt
