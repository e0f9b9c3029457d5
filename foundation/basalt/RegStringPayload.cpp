#include "foundation/basalt/RegStringPayload.h"

#include "foundation/basalt/CodePageText.h"

#include <cstring>
#include <cwchar>

namespace Basalt {

namespace {

DWORD WidenSingle(UINT codePage, const char* stored, DWORD length, BYTE* data, DWORD* size) {
    DWORD count = *size / sizeof(wchar_t);
    const DWORD rc = AnsiToWideBounded(codePage, stored, strnlen(stored, length), reinterpret_cast<wchar_t*>(data),
                                       &count);
    *size = count * sizeof(wchar_t);
    return rc;
}

DWORD WidenMulti(UINT codePage, const char* stored, DWORD length, BYTE* data, DWORD* size) {
    const DWORD room = *size;
    DWORD used = 0;
    DWORD total = 0;
    bool overflow = false;
    for (DWORD at = 0; at < length;) {
        const std::size_t chars = strnlen(stored + at, length - at);
        if (chars == 0) break;
        DWORD need = 0;
        DWORD rc = AnsiToWideBounded(codePage, stored + at, chars, nullptr, &need);
        if (rc != ERROR_SUCCESS) return rc;
        const DWORD bytes = need * sizeof(wchar_t);
        if (data != nullptr && !overflow && bytes <= room - used) {
            rc = AnsiToWideBounded(codePage, stored + at, chars, reinterpret_cast<wchar_t*>(data + used), &need);
            if (rc != ERROR_SUCCESS) return rc;
            used += bytes;
        } else {
            overflow = true;
        }
        total += bytes;
        at += static_cast<DWORD>(chars) + 1;
    }
    total += sizeof(wchar_t);
    *size = total;
    if (data == nullptr) return ERROR_SUCCESS;
    // The final NUL must fit too: a list without it would be read past its end.
    if (overflow || room - used < sizeof(wchar_t)) {
        std::memset(data, 0, room);
        return ERROR_MORE_DATA;
    }
    std::memset(data + used, 0, sizeof(wchar_t));
    return ERROR_SUCCESS;
}

DWORD AppendNarrowed(UINT codePage, const wchar_t* text, std::size_t chars, std::string& stored) {
    DWORD need = 0;
    DWORD rc = WideToAnsiBounded(codePage, text, chars, nullptr, &need);
    if (rc != ERROR_SUCCESS) return rc;
    const std::size_t at = stored.size();
    stored.resize(at + need);
    rc = WideToAnsiBounded(codePage, text, chars, stored.data() + at, &need);
    stored.resize(at + need);  // the converted length, terminator included
    return rc;
}

}  // namespace

DWORD WidenStringPayload(UINT codePage, bool multiString, const char* stored, DWORD length, BYTE* data, DWORD* size) {
    if (stored == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
    return multiString ? WidenMulti(codePage, stored, length, data, size)
                       : WidenSingle(codePage, stored, length, data, size);
}

DWORD NarrowStringPayload(UINT codePage, bool multiString, const BYTE* data, DWORD size, std::string& stored) {
    stored.clear();
    if (data == nullptr) return ERROR_INVALID_PARAMETER;
    const auto* text = reinterpret_cast<const wchar_t*>(data);
    if (!multiString) return AppendNarrowed(codePage, text, std::wcslen(text), stored);
    const std::size_t units = size / sizeof(wchar_t);
    for (std::size_t at = 0; at < units;) {
        const std::size_t chars = wcsnlen(text + at, units - at);
        if (chars == 0) break;
        const DWORD rc = AppendNarrowed(codePage, text + at, chars, stored);
        if (rc != ERROR_SUCCESS) return rc;
        at += chars + 1;
    }
    stored.push_back('\0');
    return ERROR_SUCCESS;
}

}  // namespace Basalt
