#pragma once
// Stand-ins for the Orvan system wrappers, shared by the client-library tests: each answers from what the test
// lays out and records what it was asked.
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "clients/support/DllAPI.h"
#include "clients/support/PathAPI.h"
#include "clients/support/ProcessAPI.h"
#include "clients/support/RegistryAPI.h"
#include "clients/support/ShlObjAPI.h"
#include "foundation/basalt/FileVersionInfo.h"
#include "foundation/basalt/OSVersion.h"

namespace orvantest {

// Files that exist are the ones listed.
class ListedFiles : public Orvan::PathAPI {
public:
    explicit ListedFiles(std::set<std::wstring> files) : files_(std::move(files)) {}
    bool fileExists(const std::wstring& path) override {
        asked.push_back(path);
        return files_.count(path) != 0;
    }
    std::vector<std::wstring> asked;

private:
    std::set<std::wstring> files_;
};

class FixedOSInfo : public Basalt::internal::OSInfoProxy {
public:
    FixedOSInfo(DWORD platform, bool wow64) : platform_(platform), wow64_(wow64) {}
    DWORD getPlatformCode() override { return platform_; }
    bool isWow64Process() override { return wow64_; }

private:
    DWORD platform_;
    bool wow64_;
};

// HKLM string values by "key|value"; anything else fails.
class FixedRegistry : public Orvan::RegistryAPI {
public:
    std::map<std::wstring, std::wstring> strings;
    uint32_t readString(const std::wstring& key, const std::wstring& value, std::wstring& out) override {
        const auto found = strings.find(key + L"|" + value);
        if (found == strings.end()) return 0x80000002;
        out = found->second;
        return 0;
    }
};

// Known folders by id; the text is handed out the way the shell does (CoTaskMemAlloc).
class FixedShell : public Orvan::ShlObjAPI {
public:
    std::vector<std::pair<GUID, std::wstring>> folders;
    HRESULT getKnownFolderPath(REFKNOWNFOLDERID id, DWORD, HANDLE, PWSTR* path) override {
        for (const auto& [folderId, text] : folders) {
            if (!IsEqualGUID(folderId, id)) continue;
            const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
            *path = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
            memcpy(*path, text.c_str(), bytes);
            return S_OK;
        }
        *path = nullptr;
        return E_FAIL;
    }
};

// A module wrapper that loads nothing: "modules" are fake handles, exports come from a table of the test.
class FakeDlls : public Orvan::DllAPI {
public:
    std::map<std::string, FARPROC> exports;
    bool loadSucceeds = true;
    bool alreadyLoaded = false;
    std::vector<std::wstring> loaded;
    int freed = 0;

    bool loadLibrary(const std::wstring& path, HMODULE* module) override {
        if (!loadSucceeds) return false;
        loaded.push_back(path);
        *module = reinterpret_cast<HMODULE>(0x5150000);
        return true;
    }
    FARPROC getProcAddress(HMODULE, const char* name) override {
        const auto found = exports.find(name);
        return found == exports.end() ? nullptr : found->second;
    }
    bool freeLibrary(HMODULE) override {
        ++freed;
        return true;
    }
    bool getModuleHandleEx(DWORD, const wchar_t*, HMODULE* module) override {
        if (!alreadyLoaded) return false;
        *module = reinterpret_cast<HMODULE>(0x5160000);
        return true;
    }
};

class FixedVersion : public Basalt::FileVersionInfo {
public:
    explicit FixedVersion(std::wstring version) : version_(std::move(version)) {}
    bool load(const wchar_t* path) override {
        loadedPath = path;
        return !version_.empty();
    }
    std::wstring getString(const wchar_t* name) override { return std::wstring(name) == L"FileVersion" ? version_ : L""; }
    std::wstring loadedPath;

private:
    std::wstring version_;
};

class FixedSession : public Orvan::ProcessAPI {
public:
    explicit FixedSession(DWORD session, bool found = true) : session_(session), found_(found) {}
    BOOL ProcessIdToSessionId(DWORD, DWORD* session) override {
        if (!found_) return FALSE;
        *session = session_;
        return TRUE;
    }

private:
    DWORD session_;
    bool found_;
};

// Exports a fake service library needs to be bound.
template <class CreateObject>
std::map<std::string, FARPROC> ServiceExports(CreateObject createObject) {
    static auto release = +[](void*) -> uint32_t { return 0; };
    static auto versionText = +[]() -> const wchar_t* { return L"1.0"; };
    static auto versionNumber = +[]() -> uint32_t { return 1; };
    auto asProc = [](auto function) { return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function)); };
    return {{"CreateObject", asProc(createObject)},
            {"ReleaseObject", asProc(release)},
            {"GetVersionStr", asProc(versionText)},
            {"GetVersionNum", asProc(versionNumber)}};
}

}  // namespace orvantest
