#include "welkin/QzUtil.h"

#include <shlobj.h>

#include <cwchar>
#include <memory>
#include <string>

#include "foundation/basalt/FindHandle.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/Format.h"
#include "foundation/basalt/RegValueCodec.h"
#include "foundation/basalt/ProcAddress.h"
#include "welkin/FolderText.h"
#include "welkin/QzRegWriter.h"
#include "welkin/TrustedModule.h"

namespace {

constexpr wchar_t kPlatformKey[] = L"SOFTWARE\\Torvex\\Platform";
constexpr wchar_t kInstallDirValue[] = L"qzutil64_install_dir";
constexpr wchar_t kKVRKey[] = L"SOFTWARE\\Torvex\\KVR";
constexpr size_t kPathChars = MAX_PATH;
constexpr size_t kSearchChars = 520;

const QzAdminCheck kTokenAdminCheck;

struct SidFree {
    void operator()(void* sid) const { FreeSid(sid); }
};

struct Version {
    unsigned long part[4];
    bool GreaterThan(const Version& other) const {
        for (int i = 0; i < 4; ++i)
            if (part[i] != other.part[i]) return part[i] > other.part[i];
        return false;
    }
};

bool ParseVersion(const wchar_t* name, Version& version) {
    return *name && swscanf(name, L"%lu,%lu,%lu,%lu", &version.part[0], &version.part[1], &version.part[2],
                            &version.part[3]) == 4;
}

}  // namespace

BOOL QzAdminCheck::IsAdmin(CQzUtil& util) const { return IsUserAdmin(util, nullptr); }

CQzUtil::CQzUtil() : CQzUtil(kTokenAdminCheck) {}

CQzUtil::CQzUtil(const QzAdminCheck& adminCheck) : adminCheck_(adminCheck) { InitializeCriticalSection(&lock); }

CQzUtil::~CQzUtil() {
    if (library) FreeLibrary(library);
    DeleteCriticalSection(&lock);
}

bool CQzUtil::Bind() {
    if (!library) return false;
#define QZUTIL_BIND(type, name) name = Basalt::GetProcAddressAs<type>(library, #name);
    QZUTIL_EXPORTS_BEFORE_GAP(QZUTIL_BIND)
    QZUTIL_EXPORTS_AFTER_GAP(QZUTIL_BIND)
#undef QZUTIL_BIND
    return true;
}

DWORD CQzUtil::Load() {
    if (LoadModuleFromFolder(*this, nullptr) != ERROR_SUCCESS && !LoadFromInstallDir()) {
        wchar_t platform[kPathChars] = {};
        if (GetPlatformFolder(platform, kPathChars, true) != ERROR_SUCCESS || !*platform) return ERROR_MOD_NOT_FOUND;
        if (!LoadFromVersionFolder(platform) && LoadModuleFromFolder(*this, platform) != ERROR_SUCCESS)
            return ERROR_MOD_NOT_FOUND;
    }
    Bind();
    return ERROR_SUCCESS;
}

bool CQzUtil::LoadFromInstallDir() {
    const std::wstring installed = ReadFolderValue(kPlatformKey, kInstallDirValue, 520);
    return !installed.empty() && LoadModuleFromFolder(*this, installed.c_str()) == ERROR_SUCCESS;
}

bool CQzUtil::LoadFromVersionFolder(const wchar_t* platform) {
    const std::wstring search = std::wstring(platform) + L"qzutil";
    wchar_t found[kPathChars] = {};
    if (!FindHighestVersionFolder(search.c_str(), found, kPathChars) ||
        LoadModuleFromFolder(*this, found) != ERROR_SUCCESS)
        return false;
    if (adminCheck_.IsAdmin(*this)) {
        const DWORD bytes = static_cast<DWORD>((std::wcslen(found) + 1) * sizeof(wchar_t));
        QzRegWriteValueExWImpl(HKEY_LOCAL_MACHINE, kPlatformKey, kInstallDirValue, REG_SZ,
                               reinterpret_cast<const BYTE*>(found), bytes, kQzRegView64);
    }
    return true;
}

DWORD LoadModuleFromFolder(CQzUtil& util, const wchar_t* folder) {
    std::wstring path;
    if (!folder || !*folder) {
        wchar_t program[kPathChars] = {};
        const DWORD length = GetModuleFileNameW(nullptr, program, kPathChars);
        if (length == 0) return GetLastError();
        if (length >= kPathChars) return ERROR_FILENAME_EXCED_RANGE;
        path.assign(program, length);
        path.resize(path.rfind(L'\\') + 1);
    } else {
        path = folder;
        if (path.back() != L'\\') path.push_back(L'\\');
    }
    path += util.libraryName;
    // A shortened path would name another file than the one judged and loaded.
    if (path.size() >= kPathChars) return ERROR_FILENAME_EXCED_RANGE;

    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return ERROR_FILE_NOT_FOUND;
    HMODULE module = nullptr;
    const DWORD result = LoadTrustedModule(path, [](const wchar_t* file) { return LoadLibraryW(file); }, module);
    if (result == ERROR_SUCCESS) util.library = module;
    return result;
}

BOOL FindHighestVersionFolder(const wchar_t* parent, wchar_t* out, size_t capacity) {
    if (!parent || !*parent || !out || capacity == 0) return FALSE;
    const std::wstring pattern = Basalt::Format(L"%s\\*,*,*,*", parent);
    if (pattern.size() >= kSearchChars) return FALSE;
    WIN32_FIND_DATAW found;
    Basalt::FindHandle search(FindFirstFileW(pattern.c_str(), &found));
    if (!search.Valid()) return FALSE;
    std::wstring best;
    Version bestVersion = {};
    do {
        Version version;
        if (found.dwFileAttributes != FILE_ATTRIBUTE_DIRECTORY || !ParseVersion(found.cFileName, version)) continue;
        if (best.empty() || version.GreaterThan(bestVersion)) {
            best = found.cFileName;
            bestVersion = version;
        }
    } while (FindNextFileW(search.Get(), &found));
    if (best.empty()) return FALSE;
    const std::wstring result = std::wstring(parent) + L"\\" + best;
    if (result.size() >= capacity) return FALSE;
    std::wmemcpy(out, result.c_str(), result.size() + 1);
    return TRUE;
}

DWORD GetPlatformFolder(wchar_t* out, size_t capacity, bool trailingBackslash) {
    if (!out || capacity == 0) return ERROR_INVALID_PARAMETER;
    std::wstring folder = ReadFolderValue(kKVRKey, L"CommonFiles Dir", 1040);
    if (folder.empty()) folder = ShellFolderWith(CSIDL_PROGRAM_FILES_COMMON, L"\\Torvex\\Platform");
    if (folder.empty()) {
        out[0] = L'\0';
        return ERROR_NO_DATA;
    }
    return CopyFolderText(folder, out, capacity, trailingBackslash);
}

BOOL IsUserAdmin(CQzUtil&, BOOL* presentNotEnabled) {
    Basalt::KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return FALSE;
    DWORD bytes = 0;
    GetTokenInformation(token.Get(), TokenGroups, nullptr, 0, &bytes);
    if (bytes == 0) return FALSE;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[bytes]);
    if (!buffer || !GetTokenInformation(token.Get(), TokenGroups, buffer.get(), bytes, &bytes)) return FALSE;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID rawSid = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &rawSid))
        return FALSE;
    std::unique_ptr<void, SidFree> administrators(rawSid);
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.get());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (!EqualSid(groups->Groups[i].Sid, administrators.get())) continue;
        if (groups->Groups[i].Attributes & SE_GROUP_ENABLED) return TRUE;
        if (presentNotEnabled) *presentNotEnabled = 1;
        return FALSE;
    }
    return FALSE;
}
