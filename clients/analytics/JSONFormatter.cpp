#include "clients/analytics/JSONFormatter.h"

namespace Orvan::Analytics {

namespace {

// The short escape of a character, or 0 when it has none.
wchar_t ShortEscape(wchar_t c) {
    switch (c) {
        case 8: return L'b';
        case 9: return L't';
        case 10: return L'n';
        case 12: return L'f';
        case 13: return L'r';
        case L'"': return L'"';
        case L'/': return L'/';
        case L'\\': return L'\\';
        default: return 0;
    }
}

bool NeedsHexEscape(wchar_t c) { return c < 32 || (c >= 127 && c <= 159); }

}  // namespace

size_t CJSONFormatter::escapedLength(const std::wstring& text) {
    size_t length = 0;
    for (const wchar_t c : text) length += ShortEscape(c) ? 2 : NeedsHexEscape(c) ? 6 : 1;
    return length;
}

void CJSONFormatter::escape(const std::wstring& text, std::wstring& out) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    for (const wchar_t c : text) {
        if (const wchar_t letter = ShortEscape(c)) {
            out += L'\\';
            out += letter;
        } else if (NeedsHexEscape(c)) {
            const wchar_t hex[] = {L'\\', L'u', L'0', L'0', kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
            out.append(hex, 6);
        } else {
            out += c;
        }
    }
}

bool CJSONFormatter::format(const Record& record, std::wstring& text) {
    text.clear();
    if (record.empty()) return false;
    size_t capacity = 6 * record.size() + 1;
    for (const auto& [name, value] : record) capacity += escapedLength(name) + escapedLength(value);
    text.reserve(capacity);
    text += L'{';
    for (const auto& [name, value] : record) {
        text += L'"';
        escape(name, text);
        text.append(L"\":\"", 3);
        escape(value, text);
        text.append(L"\",", 2);
    }
    text.back() = L'}';
    return true;
}

}  // namespace Orvan::Analytics
