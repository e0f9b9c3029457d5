// Lays out and shows registry configurations for the demo, in a .reg-style text:
//
//     ; comment
//     [HKLM\Software\Torvex\Halvard\Oem]          a key in the 64-bit view ([HKLM32\...] for the 32-bit view)
//     "facmode"=dword:00000001                    plain values: dword:<hex>, sz:"text"
//     "OEMMgr"=record:dword:00000001              scrambled records: record:dword:<hex>, record:sz:"text"
//     [-HKLM\Software\Torvex\Halvard\Oem\Manage]  deletes the key and everything below it
//
// %NAME% in a text is replaced by the environment variable NAME.
//     regtool load <file>       applies a configuration
//     regtool dump <key>...     prints each key with its values and subkeys, records decoded
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/basalt/Format.h"
#include "foundation/basalt/RegKeyHolder.h"
#include "foundation/basalt/RegValueCodec.h"

namespace {

struct KeyName {
    HKEY root = HKEY_LOCAL_MACHINE;
    REGSAM view = KEY_WOW64_64KEY;
    DWORD viewFlag = kQzRegView64;
    std::wstring path;
};

std::wstring Widen(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::wstring Expand(const std::wstring& text) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring expanded(needed, L'\0');
    ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    expanded.resize(needed ? needed - 1 : 0);
    return expanded;
}

bool ParseKey(const std::wstring& text, KeyName& key) {
    const size_t slash = text.find(L'\\');
    const std::wstring root = text.substr(0, slash);
    key.path = slash == std::wstring::npos ? L"" : text.substr(slash + 1);
    if (root == L"HKLM32") {
        key.view = KEY_WOW64_32KEY;
        key.viewFlag = kQzRegView32;
    } else if (root != L"HKLM") {
        return false;
    }
    return true;
}

void Print(FILE* stream, const std::wstring& text) {
    const std::string bytes = [&text] {
        const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
        std::string utf8(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), n, nullptr,
                            nullptr);
        return utf8;
    }();
    fwrite(bytes.data(), 1, bytes.size(), stream);
    fflush(stream);
}

void Fail(const std::wstring& what, DWORD code) {
    Print(stderr, Basalt::Format(L"regtool: %s (error %lu)\n", what.c_str(), code));
    ExitProcess(1);
}

void DeleteKey(const KeyName& key) {
    HKEY open = nullptr;
    if (RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_ALL_ACCESS | key.view, &open) != ERROR_SUCCESS) return;
    RegDeleteTreeW(open, nullptr);
    RegCloseKey(open);
    RegDeleteKeyExW(key.root, key.path.c_str(), key.view, 0);
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += static_cast<char>(c);
    return narrow;
}

// One value line: "name"=[record:](dword:<hex>|sz:"text")
void SetValue(const KeyName& key, const std::wstring& line) {
    const size_t close = line.find(L'"', 1);
    const size_t equals = line.find(L'=', close);
    if (line[0] != L'"' || close == std::wstring::npos || equals == std::wstring::npos) Fail(L"bad line: " + line, 0);
    const std::wstring name = line.substr(1, close - 1);
    std::wstring data = line.substr(equals + 1);
    DWORD flags = key.viewFlag;
    if (data.rfind(L"record:", 0) == 0) {
        flags |= kQzRegRecord;
        data.erase(0, 7);
    }
    Basalt::RegKeyHolder holder;
    const std::string path = Narrow(key.path);
    if (holder.Create(key.root, path.c_str(), KEY_ALL_ACCESS | key.view, nullptr) != ERROR_SUCCESS)
        Fail(L"cannot create " + key.path, holder.Status());
    DWORD rc = 0;
    if (data.rfind(L"dword:", 0) == 0) {
        const DWORD number = wcstoul(data.c_str() + 6, nullptr, 16);
        rc = WriteScrambledRegValue(holder, Narrow(name).c_str(), REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                    sizeof number, flags, true);
    } else if (data.rfind(L"sz:\"", 0) == 0 && data.size() >= 5 && data.back() == L'"') {
        const std::wstring text = Expand(data.substr(4, data.size() - 5));
        rc = WriteScrambledRegValue(holder, Narrow(name).c_str(), REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), flags, true);
    } else {
        Fail(L"unknown value kind: " + line, 0);
    }
    if (rc != 0) Fail(L"cannot write " + name + L" under " + key.path, rc);
}

void Load(const char* file) {
    std::ifstream in(file);
    if (!in) Fail(L"cannot read the configuration", GetLastError());
    KeyName key;
    bool haveKey = false;
    for (std::string raw; std::getline(in, raw);) {
        std::wstring line = Widen(raw);
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) line.pop_back();
        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            const bool remove = line.size() > 1 && line[1] == L'-';
            const std::wstring name = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
            if (!ParseKey(name, key)) Fail(L"unknown root in " + line, 0);
            haveKey = !remove;
            if (remove) DeleteKey(key);
            continue;
        }
        if (!haveKey) Fail(L"value outside a key: " + line, 0);
        SetValue(key, line);
    }
}

std::wstring Show(const KeyName& key, const std::wstring& path, const std::wstring& name, DWORD rawType,
                  const std::vector<BYTE>& raw) {
    auto asText = [](const std::vector<BYTE>& bytes) {
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return text;
    };
    auto dword = [](const std::vector<BYTE>& bytes) {
        DWORD v = 0;
        memcpy(&v, bytes.data(), bytes.size() < 4 ? bytes.size() : 4);
        return Basalt::Format(L"%08lx (%lu)", v, v);
    };
    if (rawType == REG_BINARY) {
        DWORD type = 0, size = 0;
        if (QzRegReadValueExW(key.root, path.c_str(), name.c_str(), &type, nullptr, &size, key.viewFlag | kQzRegRecord) ==
            0) {
            std::vector<BYTE> data(size + 2, 0);
            QzRegReadValueExW(key.root, path.c_str(), name.c_str(), &type, data.data(), &size,
                              key.viewFlag | kQzRegRecord);
            data.resize(size);
            if (type == REG_DWORD) return L"record:dword:" + dword(data);
            if (type == REG_SZ) return L"record:sz:\"" + asText(data) + L"\"";
            return L"record of type " + std::to_wstring(type);
        }
        return L"hex, " + std::to_wstring(raw.size()) + L" bytes";
    }
    if (rawType == REG_DWORD) return L"dword:" + dword(raw);
    if (rawType == REG_SZ || rawType == REG_EXPAND_SZ) return L"sz:\"" + asText(raw) + L"\"";
    return L"type " + std::to_wstring(rawType) + L", " + std::to_wstring(raw.size()) + L" bytes";
}

void Dump(const KeyName& key, const std::wstring& path, const std::wstring& shownRoot) {
    HKEY open = nullptr;
    if (RegOpenKeyExW(key.root, path.c_str(), 0, KEY_READ | key.view, &open) != ERROR_SUCCESS) {
        Print(stdout, Basalt::Format(L"[%s\\%s]  (absent)\n", shownRoot.c_str(), path.c_str()));
        return;
    }
    Print(stdout, Basalt::Format(L"[%s\\%s]\n", shownRoot.c_str(), path.c_str()));
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD nameChars = 512, type = 0, size = 0;
        if (RegEnumValueW(open, i, name, &nameChars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size, 0);
        nameChars = 512;
        RegEnumValueW(open, i, name, &nameChars, nullptr, &type, data.data(), &size);
        Print(stdout, Basalt::Format(L"  \"%s\"=%s\n", name, Show(key, path, name, type, data).c_str()));
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t child[512];
        DWORD chars = 512;
        if (RegEnumKeyExW(open, i, child, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.push_back(child);
    }
    RegCloseKey(open);
    for (const auto& child : children) Dump(key, path + L"\\" + child, shownRoot);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && wcscmp(argv[1], L"load") == 0) {
        Load(Narrow(argv[2]).c_str());
        return 0;
    }
    if (argc >= 3 && wcscmp(argv[1], L"dump") == 0) {
        for (int i = 2; i < argc; ++i) {
            KeyName key;
            if (!ParseKey(argv[i], key)) Fail(std::wstring(L"unknown root in ") + argv[i], 0);
            const std::wstring root(argv[i], wcschr(argv[i], L'\\') ? wcschr(argv[i], L'\\') - argv[i] : wcslen(argv[i]));
            Dump(key, key.path, root);
        }
        return 0;
    }
    Print(stderr, L"usage: regtool load <file> | regtool dump <key>...\n");
    return 2;
}
