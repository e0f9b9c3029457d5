#include "clients/analytics/JSONFormatter.h"

#include <array>

namespace Orvan::Analytics {

namespace {

// For each character below 160: 0 when it is copied, 'u' for the \u00XX form, else the letter of its short escape.
// Everything from 160 up is copied.
constexpr std::array<char, 160> MakeEscapeTable() {
    std::array<char, 160> table = {};
    for (int c = 0; c < 32; ++c) table[c] = 'u';
    for (int c = 127; c < 160; ++c) table[c] = 'u';
    table[8] = 'b';
    table[9] = 't';
    table[10] = 'n';
    table[12] = 'f';
    table[13] = 'r';
    table['"'] = '"';
    table['/'] = '/';
    table['\\'] = '\\';
    return table;
}
constexpr std::array<char, 160> kEscape = MakeEscapeTable();

// Characters each one adds when escaped.
constexpr std::array<unsigned char, 160> MakeExtraTable() {
    std::array<unsigned char, 160> extra = {};
    for (size_t c = 0; c < extra.size(); ++c) extra[c] = kEscape[c] == 0 ? 0 : kEscape[c] == 'u' ? 5 : 1;
    return extra;
}
constexpr std::array<unsigned char, 160> kExtra = MakeExtraTable();

inline char EscapeOf(wchar_t c) { return c < 160 ? kEscape[c] : 0; }

// Writes the escaped text at `out`, which has room for it; returns the end. Character by character: the texts are
// short, and a library copy call per run of plain characters costs more than the copying.
wchar_t* WriteEscaped(const std::wstring& text, wchar_t* out) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    for (const wchar_t c : text) {
        const char escape = EscapeOf(c);
        if (!escape) {
            *out++ = c;
        } else if (escape == 'u') {
            const wchar_t hex[] = {L'\\', L'u', L'0', L'0', kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
            for (const wchar_t h : hex) *out++ = h;
        } else {
            *out++ = L'\\';
            *out++ = static_cast<wchar_t>(escape);
        }
    }
    return out;
}

}  // namespace

size_t CJSONFormatter::escapedLength(const std::wstring& text) {
    size_t length = text.size();
    for (const wchar_t c : text) length += c < 160 ? kExtra[c] : 0;
    return length;
}

void CJSONFormatter::escape(const std::wstring& text, std::wstring& out) {
    const size_t start = out.size();
    out.resize(start + escapedLength(text));
    WriteEscaped(text, out.data() + start);
}

bool CJSONFormatter::format(const Record& record, std::wstring& text) {
    text.clear();
    if (record.empty()) return false;
    // Room for the longest possible result (every character a six-character escape), written in one pass and cut
    // to what was written: one scan of the texts instead of a measuring scan and a writing scan.
    // Per pair: two quotes around the name, quote-colon-quote, quote-comma; then the opening brace.
    size_t room = 6 * record.size() + 1;
    for (const auto& [name, value] : record) room += 6 * (name.size() + value.size());
    text.resize(room);
    wchar_t* const begin = text.data();
    wchar_t* out = begin;
    *out++ = L'{';
    for (const auto& [name, value] : record) {
        *out++ = L'"';
        out = WriteEscaped(name, out);
        *out++ = L'"';
        *out++ = L':';
        *out++ = L'"';
        out = WriteEscaped(value, out);
        *out++ = L'"';
        *out++ = L',';
    }
    out[-1] = L'}';
    text.resize(static_cast<size_t>(out - begin));
    return true;
}

}  // namespace Orvan::Analytics
