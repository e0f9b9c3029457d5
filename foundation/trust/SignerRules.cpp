#include "foundation/trust/SignerRules.h"

#include <cstring>

namespace SignerRules {

std::wstring SerialText(const BYTE* serialLsbFirst, DWORD size) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(size * 2);
    for (DWORD i = size; i > 0; --i) {
        const BYTE b = serialLsbFirst[i - 1];
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0xF]);
    }
    return text;
}

namespace {
bool EqualsIgnoringCase(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}
}  // namespace

bool IsRefusedSerial(const std::wstring& serialText, const wchar_t* const* refused) {
    if (!refused) return false;
    for (; *refused; ++refused) {
        if (EqualsIgnoringCase(serialText.c_str(), *refused)) return true;
    }
    return false;
}

bool IsAcceptedSignerName(const wchar_t* name, const wchar_t* const* accepted) {
    if (!name || !*name) return false;
    if (!accepted) return true;
    for (; *accepted; ++accepted) {
        if (EqualsIgnoringCase(name, *accepted)) return true;
    }
    return false;
}

std::optional<SYSTEMTIME> ParseSigningTime(const BYTE* value, DWORD size) {
    constexpr BYTE kUtcTimeTag = 0x17;
    if (!value || size != 15 || value[0] != kUtcTimeTag || value[1] != 13 || value[14] != 'Z') return std::nullopt;
    int fields[6];
    for (int i = 0; i < 6; ++i) {
        const BYTE hi = value[2 + 2 * i], lo = value[3 + 2 * i];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return std::nullopt;
        fields[i] = (hi - '0') * 10 + (lo - '0');
    }
    SYSTEMTIME time = {};
    time.wYear = static_cast<WORD>(fields[0] < 70 ? 2000 + fields[0] : 1900 + fields[0]);
    time.wMonth = static_cast<WORD>(fields[1]);
    time.wDay = static_cast<WORD>(fields[2]);
    time.wHour = static_cast<WORD>(fields[3]);
    time.wMinute = static_cast<WORD>(fields[4]);
    time.wSecond = static_cast<WORD>(fields[5]);
    return time;
}

bool IsAcceptedRoot(const BYTE* thumbprint, DWORD size, const Thumbprint* accepted, size_t count) {
    if (!accepted || count == 0) return true;
    if (!thumbprint) return false;
    for (size_t i = 0; i < count; ++i) {
        const Thumbprint& entry = accepted[i];
        if (!entry.empty() && entry.size() == size && std::memcmp(entry.data(), thumbprint, size) == 0) return true;
    }
    return false;
}

}  // namespace SignerRules
