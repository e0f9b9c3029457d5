#include "foundation/basalt/Format.h"

#include <stdio.h>
#include <wchar.h>

namespace Basalt {

int FormattedLength(const wchar_t* format, va_list args) {
    if (!format) return -1;
    va_list copy;
    va_copy(copy, args);
    const int length = _vscwprintf(format, copy);
    va_end(copy);
    return length;
}

size_t FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args, bool* cut) {
    if (cut) *cut = false;
    if (!buffer || capacity == 0) return 0;
    buffer[0] = L'\0';
    if (!format) return 0;
    va_list copy;
    va_copy(copy, args);
    // Room for one character more than is kept tells a text that just fits from one that is cut.
    const int written = _vsnwprintf(buffer, capacity, format, copy);
    va_end(copy);
    // The Microsoft formatter leaves the buffer unterminated when the text does not fit.
    const bool tooLong = written < 0 || static_cast<size_t>(written) >= capacity;
    const size_t length = tooLong ? capacity - 1 : static_cast<size_t>(written);
    buffer[length] = L'\0';
    const size_t kept = wcslen(buffer);
    // -1 also stands for a bad format; only a buffer filled to its end was cut.
    if (cut) *cut = tooLong && kept == capacity - 1;
    return kept;
}

std::wstring FormatV(const wchar_t* format, va_list args) {
    const int length = FormattedLength(format, args);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length), L'\0');
    FormatInto(text.data(), text.size() + 1, format, args);
    return text;
}

std::wstring Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatV(format, args);
    va_end(args);
    return text;
}

}  // namespace Basalt
