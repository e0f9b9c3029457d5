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

size_t FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
    if (!buffer || capacity == 0) return 0;
    buffer[0] = L'\0';
    if (!format) return 0;
    va_list copy;
    va_copy(copy, args);
    const int written = _vsnwprintf(buffer, capacity - 1, format, copy);
    va_end(copy);
    // The Microsoft formatter leaves the buffer unterminated when the text does not fit.
    const size_t length = written < 0 ? capacity - 1 : static_cast<size_t>(written);
    buffer[length] = L'\0';
    return wcslen(buffer);
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
