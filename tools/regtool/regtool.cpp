// Lays out and shows registry configurations for the demo, in the .reg-style text of RegText.h; %NAME% in a text
// is replaced by the environment variable NAME.
//     regtool load <file>       applies a configuration (nothing is applied when a line cannot be read)
//     regtool dump <key>...     prints each key with its values and subkeys, records decoded
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/Format.h"
#include "foundation/basalt/IniReader.h"
#include "foundation/basalt/RegKeyHolder.h"
#include "foundation/basalt/RegValueCodec.h"
#include "tools/regtool/RegText.h"

namespace {

struct KeyName {
    HKEY root = HKEY_LOCAL_MACHINE;
    REGSAM view = KEY_WOW64_64KEY;
    DWORD viewFlag = kQzRegView64;
    std::wstring path;
};

KeyName KeyFor(const RegTextKey& named) {
    KeyName key;
    key.path = named.path;
    if (named.wow32) {
        key.view = KEY_WOW64_32KEY;
        key.viewFlag = kQzRegView32;
    }
    return key;
}

std::wstring Expand(const std::wstring& text) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring expanded(needed, L'\0');
    ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    expanded.resize(needed ? needed - 1 : 0);
    return expanded;
}

bool ParseKey(const std::wstring& text, KeyName& key) {
    RegTextKey named;
    if (!ParseRegTextKey(text, named)) return false;
    key = KeyFor(named);
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

void SetValue(const RegTextAction& action) {
    const KeyName key = KeyFor(action.key);
    const DWORD flags = key.viewFlag | (action.record ? kQzRegRecord : 0);
    Basalt::RegKeyHolder holder;
    const std::string path = Narrow(key.path);
    if (holder.Create(key.root, path.c_str(), KEY_ALL_ACCESS | key.view, nullptr) != ERROR_SUCCESS)
        Fail(L"cannot create " + key.path, holder.Status());
    const std::string name = Narrow(action.name);
    DWORD rc = 0;
    if (action.type == REG_DWORD) {
        rc = WriteScrambledRegValue(holder, name.c_str(), REG_DWORD, reinterpret_cast<const BYTE*>(&action.number),
                                    sizeof action.number, flags, true);
    } else {
        const std::wstring text = Expand(action.text);
        rc = WriteScrambledRegValue(holder, name.c_str(), REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), flags, true);
    }
    if (rc != 0) Fail(L"cannot write " + action.name + L" under " + key.path, rc);
}

// A scrambled ini record; the file's folder is made when missing.
void SetIniValue(const RegTextAction& action) {
    const std::wstring path = Expand(action.ini.path);
    std::wstring folder, file;
    if (Basalt::SplitPath(path, folder, false, file)) Basalt::CreateFolderPath(folder.c_str(), nullptr);
    Basalt::CObfuscatedIniReader ini;
    ini.Load(path);
    const bool written = action.type == REG_DWORD ? ini.SetDWORD(action.ini.section, action.name, action.number)
                                                  : ini.SetString(action.ini.section, action.name, Expand(action.text));
    if (!written) Fail(L"cannot write " + action.name + L" into " + path, GetLastError());
}

void Load(const char* file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) Fail(L"cannot read the configuration", GetLastError());
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const RegText text = ParseRegText(bytes.str());
    if (!text.Read()) Fail(Basalt::Format(L"line %zu: %s", text.errorLine, text.error.c_str()), 0);
    for (const RegTextAction& action : text.actions) {
        if (action.kind == RegTextAction::Kind::DeleteKey)
            DeleteKey(KeyFor(action.key));
        else if (action.kind == RegTextAction::Kind::SetIniValue)
            SetIniValue(action);
        else
            SetValue(action);
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
