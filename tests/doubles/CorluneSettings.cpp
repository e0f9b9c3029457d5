#include "tests/doubles/CorluneSettings.h"

#include <windows.h>

#include <cwchar>

#include "tests/doubles/CorluneControl.h"

namespace doubles::corlune {

namespace {

std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return std::wstring();
    const size_t last = text.find_last_not_of(L" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::wstring Variable(const wchar_t* name) {
    wchar_t buffer[4096] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring FileText(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::wstring();
    std::string bytes(64 * 1024, '\0');
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    std::wstring text;
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    text.resize(static_cast<size_t>(length > 0 ? length : 0));
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

}  // namespace

bool Settings::Add(const std::wstring& text) {
    bool wellFormed = true;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find_first_of(L";\n", start);
        const std::wstring pair = Trim(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (!pair.empty()) {
            const size_t equals = pair.find(L'=');
            if (equals == std::wstring::npos)
                wellFormed = false;
            else
                pairs_.emplace_back(Trim(pair.substr(0, equals)), Trim(pair.substr(equals + 1)));
        }
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return wellFormed;
}

Settings Settings::FromEnvironment() {
    Settings settings;
    settings.Add(Variable(kConfigVariable));
    const std::wstring file = Variable(kConfigFileVariable);
    if (!file.empty()) settings.Add(FileText(file));
    return settings;
}

std::wstring Settings::Text(const std::wstring& key, const std::wstring& fallback) const {
    for (auto pair = pairs_.rbegin(); pair != pairs_.rend(); ++pair)
        if (pair->first == key) return pair->second;
    return fallback;
}

uint64_t Settings::Number(const std::wstring& key, uint64_t fallback) const {
    const std::wstring text = Text(key);
    if (text.empty()) return fallback;
    return std::wcstoull(text.c_str(), nullptr, 0);
}

bool Settings::Has(const std::wstring& key) const {
    for (const auto& pair : pairs_)
        if (pair.first == key) return true;
    return false;
}

std::vector<std::wstring> Settings::All(const std::wstring& key) const {
    std::vector<std::wstring> values;
    for (const auto& pair : pairs_)
        if (pair.first == key) values.push_back(pair.second);
    return values;
}

}  // namespace doubles::corlune
