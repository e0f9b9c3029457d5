#include "clients/support/PathHelpers.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <regex>

#include "clients/support/ModuleStatus.h"
#include "foundation/basalt/ShlObjAPI.h"

namespace Orvan {

namespace {

constexpr wchar_t kFenwkKey[] = L"SOFTWARE\\TORVEX\\FENWK";

struct ModulePathParts {
    std::wstring drive, folder, name, extension;
};

const ModulePathParts& modulePathParts() {
    static const ModulePathParts parts = [] {
        ModulePathParts found;
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return found;
        wchar_t drive[_MAX_DRIVE] = {}, folder[_MAX_DIR] = {}, name[_MAX_FNAME] = {}, extension[_MAX_EXT] = {};
        if (_wsplitpath_s(path, drive, _MAX_DRIVE, folder, _MAX_DIR, name, _MAX_FNAME, extension, _MAX_EXT) != 0)
            return found;
        found = {drive, folder, name, extension};
        return found;
    }();
    return parts;
}

const std::wregex& macroPattern() {
    static const std::wregex pattern(L"\\$\\([^$()]+\\)", std::regex::ECMAScript);
    return pattern;
}

}  // namespace

PathHelpers::_Impl::_Impl(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<Basalt::internal::OSInfoProxy> osInfo,
                          std::shared_ptr<RegistryAPI> registry)
    : shell_(shell ? std::move(shell) : std::make_shared<ShlObjAPI>()),
      osInfo_(osInfo ? std::move(osInfo) : std::make_shared<Basalt::internal::OSInfoProxy>()),
      registry_(registry ? std::move(registry) : std::make_shared<RegistryAPI>()) {}

std::wstring PathHelpers::_Impl::getPlatform() {
    switch (osInfo_->getPlatformCode()) {
        case 0: return L"win32";
        case 1: return L"x64";
        case 2: return L"PlatformUnknown";
        default: return std::wstring();
    }
}

std::wstring PathHelpers::_Impl::getInstallDir() {
    const wchar_t* const value = osInfo_->isWow64Process() ? L"Install Dir32" : L"Install Dir";
    std::wstring folder;
    if (registry_->readString(kFenwkKey, value, folder) != MODULE_STATUS_SUCCESS) return std::wstring();
    return folder;
}

std::wstring PathHelpers::_Impl::getKnownFolder(REFKNOWNFOLDERID id) {
    Basalt::KnownFolderPath path;
    const HRESULT result = shell_->getKnownFolderPath(id, 0, nullptr, path.Receive());
    if (FAILED(result) || !path) return std::wstring();
    return path.Get();
}

std::wstring PathHelpers::_Impl::getModulePathPart(unsigned flags) {
    const ModulePathParts& parts = modulePathParts();
    std::wstring text;
    if (flags & 1) text += parts.drive;
    if (flags & 2) text += parts.folder;
    if (flags & 4) text += parts.name;
    if (flags & 8) text += parts.extension;
    return text;
}

const PathHelpers::MacroTable& PathHelpers::macroTable() {
    static const MacroTable table = [] {
        MacroTable rows{
            {L"$(OS.Platform)", [](_Impl& impl) { return impl.getPlatform(); }},
            {L"$(App.Binary)", [](_Impl&) { return _Impl::getModulePathPart(4 | 8); }},
            {L"$(App.Name)", [](_Impl&) { return _Impl::getModulePathPart(4); }},
            {L"$(App.Folder)", [](_Impl&) { return _Impl::getModulePathPart(1 | 2); }},
            {L"$(App.Path)", [](_Impl&) { return _Impl::getModulePathPart(1 | 2 | 4 | 8); }},
            {L"$(Fenwick.InstallDir)", [](_Impl& impl) { return impl.getInstallDir(); }},
        };
        const struct {
            const wchar_t* macro;
            const KNOWNFOLDERID* id;
        } known[] = {
            {L"$(FOLDERID_Profile)", &FOLDERID_Profile},
            {L"$(FOLDERID_Desktop)", &FOLDERID_Desktop},
            {L"$(FOLDERID_Documents)", &FOLDERID_Documents},
            {L"$(FOLDERID_LocalAppDataLow)", &FOLDERID_LocalAppDataLow},
            {L"$(FOLDERID_LocalAppData)", &FOLDERID_LocalAppData},
            {L"$(FOLDERID_RoamingAppData)", &FOLDERID_RoamingAppData},
            {L"$(FOLDERID_ProgramData)", &FOLDERID_ProgramData},
            {L"$(FOLDERID_ProgramFiles)", &FOLDERID_ProgramFiles},
            {L"$(FOLDERID_ProgramFilesX64)", &FOLDERID_ProgramFilesX64},
            {L"$(FOLDERID_ProgramFilesX86)", &FOLDERID_ProgramFilesX86},
            {L"$(FOLDERID_ProgramFilesCommon)", &FOLDERID_ProgramFilesCommon},
            {L"$(FOLDERID_ProgramFilesCommonX64)", &FOLDERID_ProgramFilesCommonX64},
            {L"$(FOLDERID_ProgramFilesCommonX86)", &FOLDERID_ProgramFilesCommonX86},
        };
        for (const auto& row : known) {
            const KNOWNFOLDERID* const id = row.id;
            rows.emplace(row.macro, [id](_Impl& impl) { return impl.getKnownFolder(*id); });
        }
        return rows;
    }();
    return table;
}

PathHelpers::PathHelpers(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<Basalt::internal::OSInfoProxy> osInfo,
                         std::shared_ptr<RegistryAPI> registry)
    : impl_(std::make_shared<_Impl>(std::move(shell), std::move(osInfo), std::move(registry))) {}

PathHelpers::~PathHelpers() = default;

bool PathHelpers::expand(std::wstring& text) {
    const std::wstring source = text;
    text.clear();
    const MacroTable& table = macroTable();
    auto rest = source.cbegin();
    std::wsmatch match;
    while (std::regex_search(rest, source.cend(), match, macroPattern())) {
        text.append(rest, match[0].first);
        const std::wstring macro = match.str(0);
        const auto row = table.find(macro);
        const std::wstring value = row != table.end() ? row->second(*impl_) : std::wstring();
        text += value.empty() ? macro : value;
        rest = match[0].second;
    }
    text.append(rest, source.cend());
    return true;
}

}  // namespace Orvan
