#include "foundation/basalt/CodePageText.h"

#include <climits>
#include <cstring>
#include <cwchar>

namespace {

DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// One direction of the conversion: `convert(out, room)` converts the text without its terminator and returns the
// units written (the need with a null buffer), 0 on failure.
template <typename Unit, typename Convert>
DWORD ConvertTerminated(std::size_t length, Unit* out, DWORD* count, Convert convert) {
    if (count == nullptr) return ERROR_INVALID_PARAMETER;
    if (length >= INT_MAX) return ERROR_INVALID_PARAMETER;
    int body = 0;
    if (length != 0 && (body = convert(nullptr, 0)) <= 0) {
        *count = 0;
        return LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
    }
    const DWORD needed = static_cast<DWORD>(body) + 1;
    if (out == nullptr) {
        *count = needed;
        return ERROR_SUCCESS;
    }
    if (*count < needed) {
        *count = needed;
        return ERROR_MORE_DATA;
    }
    std::memset(out, 0, std::size_t{*count} * sizeof(Unit));
    if (length != 0 && (body = convert(out, body)) <= 0) {
        *count = 0;
        return LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
    }
    *count = static_cast<DWORD>(body) + 1;
    return ERROR_SUCCESS;
}

}  // namespace

namespace Basalt {

DWORD WideToAnsiBounded(UINT codePage, const wchar_t* text, std::size_t length, char* out, DWORD* count) {
    if (text == nullptr) return ERROR_INVALID_PARAMETER;
    return ConvertTerminated(length, out, count, [&](char* to, int room) {
        return WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), to, room, nullptr, nullptr);
    });
}

DWORD AnsiToWideBounded(UINT codePage, const char* text, std::size_t length, wchar_t* out, DWORD* count) {
    if (text == nullptr) return ERROR_INVALID_PARAMETER;
    return ConvertTerminated(length, out, count, [&](wchar_t* to, int room) {
        return MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), to, room);
    });
}

}  // namespace Basalt

DWORD WideToAnsi(UINT codePage, const wchar_t* text, char* out, DWORD* count) {
    if (text == nullptr) return ERROR_INVALID_PARAMETER;
    return Basalt::WideToAnsiBounded(codePage, text, std::wcslen(text), out, count);
}

DWORD AnsiToWide(UINT codePage, const char* text, wchar_t* out, DWORD* count) {
    if (text == nullptr) return ERROR_INVALID_PARAMETER;
    return Basalt::AnsiToWideBounded(codePage, text, std::strlen(text), out, count);
}

namespace Basalt {

DWORD ToOptionalAnsi(UINT codePage, const wchar_t* text, std::string& storage, const char*& converted) {
    converted = nullptr;
    if (text == nullptr || *text == L'\0') return ERROR_SUCCESS;
    DWORD count = 0;
    DWORD rc = WideToAnsi(codePage, text, nullptr, &count);
    if (rc != ERROR_SUCCESS) return rc;
    storage.resize(count);
    rc = WideToAnsi(codePage, text, storage.data(), &count);
    if (rc != ERROR_SUCCESS) return rc;
    converted = storage.c_str();
    return ERROR_SUCCESS;
}

}  // namespace Basalt
