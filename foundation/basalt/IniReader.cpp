#include "foundation/basalt/IniReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/basalt/CodePageText.h"
#include "foundation/basalt/Md5.h"
#include "foundation/basalt/RecordCipher.h"
#include "foundation/basalt/RecordKeys.h"

namespace Basalt {

namespace {

constexpr char kMagic[4] = {'Q', 'Z', 'R', 'G'};
// The hex text of a stored header: 36 bytes as 72 digits, then the checksum pair.
constexpr size_t kHeaderTextLength = 74;
constexpr wchar_t kHeaderTextStart[] = L"515A5247";
// fgets reads at most this many bytes of a line at a time.
constexpr int kLineBufferSize = 1024;

constexpr wchar_t kWhiteSpace[] = L" \t\r\n\v\f";

std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::wstring::npos) return std::wstring();
    const size_t last = text.find_last_not_of(kWhiteSpace);
    return text.substr(first, last - first + 1);
}

bool IsWhiteSpace(wchar_t c) { return c != L'\0' && std::wcschr(kWhiteSpace, c) != nullptr; }

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Reads `count` bytes as pairs of hex digits; the output is zero-filled first, so a text that ends early leaves
// zeros (and still succeeds). A pair without digits gives 0; a remainder of white space only is a failure.
bool ReadHexPairs(const std::wstring& text, BYTE* out, size_t count) {
    std::memset(out, 0, count);
    size_t at = 0;
    for (size_t i = 0; i < count; ++i, at += 2) {
        if (at >= text.size()) return true;
        size_t rest = at;
        while (rest < text.size() && IsWhiteSpace(text[rest])) ++rest;
        if (rest == text.size()) return false;
        int value = 0;
        for (size_t k = at; k < at + 2 && k < text.size(); ++k) {
            const int digit = HexDigit(text[k]);
            if (digit < 0) break;
            value = value * 16 + digit;
        }
        out[i] = static_cast<BYTE>(value);
    }
    return true;
}

// Leading white space and a sign are accepted, digits are read up to the first other character; the value wraps
// to 32 bits like the stored "%d" text of a u32.
DWORD ParseSignedDecimal(const std::wstring& text) {
    size_t at = 0;
    while (at < text.size() && IsWhiteSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == L'-' || text[at] == L'+')) negative = text[at++] == L'-';
    DWORD value = 0;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) value = value * 10 + (text[at] - L'0');
    return negative ? 0u - value : value;
}

std::wstring AnsiToWideText(const char* text, size_t length) {
    DWORD count = 0;
    if (AnsiToWideBounded(CP_THREAD_ACP, text, length, nullptr, &count) != ERROR_SUCCESS || count == 0)
        return std::wstring();
    std::vector<wchar_t> wide(count);
    if (AnsiToWideBounded(CP_THREAD_ACP, text, length, wide.data(), &count) != ERROR_SUCCESS) return std::wstring();
    return std::wstring(wide.data());
}

bool WideToAnsiText(const std::wstring& text, std::string& ansi) {
    DWORD count = 0;
    if (WideToAnsiBounded(CP_THREAD_ACP, text.c_str(), text.size(), nullptr, &count) != ERROR_SUCCESS) return false;
    std::vector<char> buffer(count);
    if (WideToAnsiBounded(CP_THREAD_ACP, text.c_str(), text.size(), buffer.data(), &count) != ERROR_SUCCESS)
        return false;
    ansi.assign(buffer.data(), count - 1);
    return true;
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

bool CBaseIniReader::Load(const std::wstring& path) {
    section_.clear();
    entriesAdded_ = 0;
    sectionsSeen_ = 0;
    if (path.empty()) return false;
    file_ = path;
    // Binary, not text mode: text mode would end the file at a 0x1A byte and hide the lines after it.
    std::unique_ptr<FILE, FileCloser> file(_wfopen(path.c_str(), L"rb"));
    if (!file) {
        // A missing file keeps the path so that writes create it.
        if (errno != ENOENT) file_.clear();
        return false;
    }
    char line[kLineBufferSize];
    while (std::fgets(line, kLineBufferSize, file.get())) Parse(line);
    return true;
}

void CBaseIniReader::Parse(const char* line) {
    const std::wstring text = Trim(AnsiToWideText(line, std::strlen(line)));
    if (text.empty() || text[0] == L';') return;
    if (text.size() >= 2 && text.front() == L'[' && text.back() == L']') {
        const std::wstring name = Trim(text.substr(1, text.size() - 2));
        if (!name.empty()) {
            section_ = name;
            ++sectionsSeen_;
        }
        return;
    }
    const size_t equals = text.find(L'=');
    if (equals == std::wstring::npos) return;
    if (AddEntry(section_, Trim(text.substr(0, equals)), Trim(text.substr(equals + 1)), false)) ++entriesAdded_;
}

bool CBaseIniReader::GetDWORD(const std::wstring& section, const std::wstring& key, DWORD& value) {
    return GetDWORD(section + L"." + key, value);
}

bool CBaseIniReader::GetString(const std::wstring& section, const std::wstring& key, std::wstring& value) {
    return GetString(section + L"." + key, value);
}

bool CBaseIniReader::SetString(const std::wstring& section, const std::wstring& key, const std::wstring& text) {
    if (file_.empty()) return false;
    if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), text.c_str(), file_.c_str())) return false;
    return AddEntry(section, key, text, true);
}

bool CBaseIniReader::SetDWORD(const std::wstring& section, const std::wstring& key, DWORD value) {
    return CBaseIniReader::SetString(section, key, std::to_wstring(static_cast<std::int32_t>(value)));
}

CObfuscatedIniReader::~CObfuscatedIniReader() {
    entries_.clear();
    pendingHeaders_.clear();
}

bool CObfuscatedIniReader::Load(const std::wstring& path) {
    entries_.clear();
    pendingHeaders_.clear();
    const bool loaded = CBaseIniReader::Load(path);
    if (loaded) DecodePendingHeaders();
    pendingHeaders_.clear();
    return loaded;
}

void CObfuscatedIniReader::DecodePendingHeaders() {
    for (const auto& [name, headerText] : pendingHeaders_) {
        const size_t dot = name.find(L'.');
        auto section = entries_.find(name.substr(0, dot));
        if (section == entries_.end()) continue;
        auto found = section->second.find(name.substr(dot + 1));
        if (found == section->second.end()) continue;
        Entry& entry = found->second;

        IniRecordHeader header;
        if (!ReadHexPairs(headerText, reinterpret_cast<BYTE*>(&header), sizeof header)) continue;
        if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.version != 1 || header.enciphered == 0)
            continue;
        if (header.type == REG_SZ) {
            // The stored text has two digits per byte and the checksum pair at its end.
            const size_t length = entry.value.empty() ? 0 : (entry.value.size() - 1) / 2;
            std::vector<BYTE> payload(length);
            std::vector<BYTE> plain(length + 1, 0);
            if (!ReadHexPairs(entry.value, payload.data(), length)) continue;
            if (DecodeRecord(payload.data(), static_cast<DWORD>(length), plain.data(),
                             static_cast<DWORD>(plain.size()), header) != 0)
                continue;
            entry = {AnsiToWideText(reinterpret_cast<const char*>(plain.data()), length), true, REG_SZ};
        } else if (header.type == REG_DWORD) {
            BYTE payload[4];
            std::uint32_t number = 0;
            if (!ReadHexPairs(entry.value, payload, sizeof payload)) continue;
            if (DecodeRecord(payload, sizeof payload, reinterpret_cast<BYTE*>(&number), sizeof number, header) != 0)
                continue;
            entry = {std::to_wstring(static_cast<std::int32_t>(number)), true, REG_DWORD};
        }
    }
}

const CObfuscatedIniReader::Entry* CObfuscatedIniReader::Find(const std::wstring& name) const {
    const size_t dot = name.find(L'.');
    const std::wstring sectionName = dot == std::wstring::npos ? std::wstring() : name.substr(0, dot);
    const std::wstring key = dot == std::wstring::npos ? std::wstring() : name.substr(dot + 1);
    const auto section = entries_.find(sectionName);
    if (section == entries_.end()) return nullptr;
    const auto entry = section->second.find(key);
    return entry == section->second.end() ? nullptr : &entry->second;
}

bool CObfuscatedIniReader::GetString(const std::wstring& name, std::wstring& value) {
    const Entry* entry = Find(name);
    if (!entry || !entry->isRecord) return false;
    value = entry->value;
    return true;
}

bool CObfuscatedIniReader::GetDWORD(const std::wstring& name, DWORD& value) {
    std::wstring text;
    if (!GetString(name, text)) return false;
    value = ParseSignedDecimal(text);
    return true;
}

bool CObfuscatedIniReader::GetSection(const std::wstring& section, std::map<std::wstring, std::wstring>& entries) {
    const auto found = entries_.find(section);
    if (found == entries_.end()) return false;
    for (const auto& [key, entry] : found->second) entries[key] = entry.value;
    return true;
}

bool CObfuscatedIniReader::AddEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                                    bool replace) {
    auto existing = entries_.find(section);
    if (existing != entries_.end() && !replace && existing->second.count(key)) return false;
    if (!key.empty() && key[0] == L'_' && value.size() == kHeaderTextLength &&
        value.compare(0, std::wcslen(kHeaderTextStart), kHeaderTextStart) == 0) {
        pendingHeaders_[section + L"." + key.substr(1)] = value;
        return false;
    }
    entries_[section][key] = {value, false, REG_SZ};
    return true;
}

bool CObfuscatedIniReader::WriteRecord(const std::wstring& section, const std::wstring& key, const BYTE* payload,
                                       DWORD length, DWORD type) {
    if (File().empty()) return false;
    std::vector<BYTE> enciphered(length);
    IniRecordHeader header;
    if (EncodeRecord(payload, length, type, enciphered.data(), length, header) != 0) return false;
    const std::wstring headerKey = L"_" + key;
    return WritePrivateProfileStructW(section.c_str(), headerKey.c_str(), &header, sizeof header, File().c_str()) &&
           WritePrivateProfileStructW(section.c_str(), key.c_str(), enciphered.data(), length, File().c_str());
}

bool CObfuscatedIniReader::SetString(const std::wstring& section, const std::wstring& key, const std::wstring& text) {
    std::string ansi;
    if (!WideToAnsiText(text, ansi)) return false;
    if (!WriteRecord(section, key, reinterpret_cast<const BYTE*>(ansi.data()), static_cast<DWORD>(ansi.size()),
                     REG_SZ))
        return false;
    entries_[section][key] = {text, true, REG_SZ};
    return true;
}

bool CObfuscatedIniReader::SetDWORD(const std::wstring& section, const std::wstring& key, DWORD value) {
    const std::uint32_t number = value;
    if (!WriteRecord(section, key, reinterpret_cast<const BYTE*>(&number), sizeof number, REG_DWORD)) return false;
    entries_[section][key] = {std::to_wstring(static_cast<std::int32_t>(value)), true, REG_DWORD};
    return true;
}

DWORD CObfuscatedIniReader::EncodeRecord(const BYTE* payload, DWORD length, DWORD type, BYTE* output,
                                         DWORD outputSize, IniRecordHeader& header) {
    if (outputSize < length) return ERROR_INVALID_PARAMETER;
    RecordCipher cipher(kIniRecordKey, static_cast<int>(std::strlen(kIniRecordKey)), 1);
    if (!cipher.Encipher(payload, output, length)) return 6000;
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = 1;
    header.length = length;
    header.type = type;
    header.enciphered = 1;
    if (Md5Digest(output, length, header.digest, sizeof header.digest) != 0) return 6000;
    return 0;
}

DWORD CObfuscatedIniReader::DecodeRecord(const BYTE* payload, DWORD length, BYTE* output, DWORD outputSize,
                                         IniRecordHeader& header) {
    std::uint8_t expected[sizeof header.digest];
    std::memcpy(expected, header.digest, sizeof expected);
    std::memset(header.digest, 0, sizeof header.digest);
    if (Md5Matches(payload, length, expected, sizeof expected) != 0) return ERROR_INVALID_DATA;
    if (length != header.length || std::memcmp(header.magic, kMagic, sizeof kMagic) != 0) return ERROR_INVALID_DATA;
    if (!output) return 0;
    if (header.length > outputSize) return ERROR_MORE_DATA;
    RecordCipher cipher(kIniRecordKey, static_cast<int>(std::strlen(kIniRecordKey)), 1);
    if (!cipher.Decipher(payload, output, length)) return 6001;
    return 0;
}

}  // namespace Basalt
