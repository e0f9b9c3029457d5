#include "tools/regtool/RegText.h"

#include <cwctype>

namespace {

// Strict UTF-8 to UTF-16; false for bytes that are not UTF-8.
bool Widen(const std::string& utf8, std::wstring& wide) {
    wide.clear();
    if (utf8.empty()) return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
    if (n <= 0) return false;
    wide.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                               wide.data(), n) == n;
}

bool ParseHex(const std::wstring& digits, DWORD& number) {
    if (digits.empty() || digits.size() > 8) return false;
    number = 0;
    for (wchar_t c : digits) {
        if (!iswxdigit(c) || c > 0x7F) return false;
        number = number * 16 + static_cast<DWORD>(c <= L'9' ? c - L'0' : (c | 0x20) - L'a' + 10);
    }
    return true;
}

// "name"=[record:](dword:<hex>|sz:"text")
bool ParseValue(const std::wstring& line, RegTextAction& action) {
    if (line.size() < 2 || line[0] != L'"') return false;
    const size_t close = line.find(L'"', 1);
    if (close == std::wstring::npos || close == 1 || close + 1 >= line.size() || line[close + 1] != L'=') return false;
    action.name = line.substr(1, close - 1);
    std::wstring data = line.substr(close + 2);
    if (data.compare(0, 7, L"record:") == 0) {
        action.record = true;
        data.erase(0, 7);
    }
    if (data.compare(0, 6, L"dword:") == 0) {
        action.type = REG_DWORD;
        return ParseHex(data.substr(6), action.number);
    }
    if (data.compare(0, 4, L"sz:\"") == 0 && data.size() >= 5 && data.back() == L'"') {
        action.type = REG_SZ;
        action.text = data.substr(4, data.size() - 5);
        return true;
    }
    return false;
}

}  // namespace

bool ParseRegTextIni(const std::wstring& text, RegTextIni& ini) {
    if (text.compare(0, 4, L"INI:") != 0) return false;
    const size_t colon = text.find(L':', 4);
    if (colon == std::wstring::npos || colon == 4 || colon + 1 >= text.size()) return false;
    ini.section = text.substr(4, colon - 4);
    ini.path = text.substr(colon + 1);
    return true;
}

bool ParseRegTextKey(const std::wstring& text, RegTextKey& key) {
    for (auto [root, wow32] : {std::pair<const wchar_t*, bool>{L"HKLM\\", false}, {L"HKLM32\\", true}}) {
        const std::wstring prefix(root);
        if (text.compare(0, prefix.size(), prefix) == 0 && text.size() > prefix.size()) {
            key.wow32 = wow32;
            key.path = text.substr(prefix.size());
            return true;
        }
    }
    return false;
}

RegText ParseRegText(const std::string& utf8) {
    RegText result;
    RegTextKey key;
    bool haveKey = false;
    RegTextIni ini;
    bool haveIni = false;
    size_t number = 0;
    auto fail = [&](const wchar_t* why) {
        result.actions.clear();
        result.errorLine = number;
        result.error = why;
        return result;
    };
    for (size_t start = 0; start < utf8.size();) {
        size_t end = utf8.find('\n', start);
        if (end == std::string::npos) end = utf8.size();
        std::wstring line;
        ++number;
        if (!Widen(utf8.substr(start, end - start), line)) return fail(L"not UTF-8");
        start = end + 1;
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) line.pop_back();
        if (line.empty() || line[0] == L';') continue;
        if (line.find(L'\0') != std::wstring::npos) return fail(L"a NUL character");
        if (line[0] == L'[') {
            const bool remove = line.size() > 1 && line[1] == L'-';
            const size_t from = remove ? 2 : 1;
            if (line.back() != L']' || line.size() < from + 1) return fail(L"a key line must end with ]");
            haveIni = !remove && ParseRegTextIni(line.substr(1, line.size() - 2), ini);
            if (haveIni) {
                haveKey = false;
                continue;
            }
            RegTextKey named;
            if (!ParseRegTextKey(line.substr(from, line.size() - from - 1), named)) return fail(L"unknown key root");
            if (remove) {
                RegTextAction action;
                action.kind = RegTextAction::Kind::DeleteKey;
                action.key = named;
                result.actions.push_back(action);
                haveKey = false;
            } else {
                key = named;
                haveKey = true;
            }
            continue;
        }
        if (!haveKey && !haveIni) return fail(L"a value outside a key");
        RegTextAction action;
        if (haveIni) {
            action.kind = RegTextAction::Kind::SetIniValue;
            action.ini = ini;
        } else {
            action.key = key;
        }
        if (!ParseValue(line, action)) return fail(L"not a value line");
        if (haveIni && !action.record) return fail(L"an ini value must be a record");
        result.actions.push_back(action);
    }
    return result;
}
