#pragma once
// The project's one printf-style formatter for wide text. It keeps the Microsoft meaning of the conversions: in a
// wide format "%s" is a wide string ("%hs" narrow, "%ls" wide), "%I64u" and "%llu" 64-bit. The C99 family of the
// MinGW runtime reads "%s" as a narrow string, so nothing in the project formats wide text any other way.
#include <cstdarg>
#include <cstddef>
#include <string>

namespace Basalt {

// Number of characters the formatted text needs (terminator not counted); -1 when the format is invalid.
int FormattedLength(const wchar_t* format, va_list args);

// Formats into a buffer of `capacity` characters; the text is cut to capacity - 1 characters and always terminated.
// Returns the number of characters written (terminator not counted). `cut` (when given) tells whether the text was
// longer than the buffer could hold.
size_t FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args, bool* cut = nullptr);

// Measures with the counting formatter, then formats into a string of exactly that length ("" on a bad format).
std::wstring FormatV(const wchar_t* format, va_list args);
std::wstring Format(const wchar_t* format, ...);

}  // namespace Basalt
