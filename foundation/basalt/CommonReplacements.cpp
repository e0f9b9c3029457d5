#include "foundation/basalt/CommonReplacements.h"

#include <knownfolders.h>

#include <cstdlib>
#include <regex>

namespace Basalt {

namespace {

using Expansion = std::function<std::wstring(const CommonReplacements::_Impl&)>;

// At least one character, none of them a dollar sign or a parenthesis.
const std::wregex& MacroPattern() {
    static const std::wregex pattern(L"\\$\\([^$()]+\\)");
    return pattern;
}

Expansion PathParts(unsigned parts) {
    return [parts](const CommonReplacements::_Impl& impl) { return impl.programPath(parts); };
}

Expansion Folder(const KNOWNFOLDERID& folder) {
    return [&folder](const CommonReplacements::_Impl& impl) { return impl.knownFolder(folder); };
}

const std::unordered_map<std::wstring, Expansion>& BuiltInTable() {
    static const std::unordered_map<std::wstring, Expansion> table = {
        {L"$(OS.Platform)", [](const CommonReplacements::_Impl& impl) { return impl.platformWord(); }},
        {L"$(App.Binary)", PathParts(4 | 8)},
        {L"$(App.Name)", PathParts(4)},
        {L"$(App.Folder)", PathParts(1 | 2)},
        {L"$(App.Path)", PathParts(1 | 2 | 4 | 8)},
        {L"$(FOLDERID_Profile)", Folder(FOLDERID_Profile)},
        {L"$(FOLDERID_Desktop)", Folder(FOLDERID_Desktop)},
        {L"$(FOLDERID_Documents)", Folder(FOLDERID_Documents)},
        {L"$(FOLDERID_LocalAppDataLow)", Folder(FOLDERID_LocalAppDataLow)},
        {L"$(FOLDERID_LocalAppData)", Folder(FOLDERID_LocalAppData)},
        {L"$(FOLDERID_RoamingAppData)", Folder(FOLDERID_RoamingAppData)},
        {L"$(FOLDERID_ProgramData)", Folder(FOLDERID_ProgramData)},
        {L"$(FOLDERID_ProgramFiles)", Folder(FOLDERID_ProgramFiles)},
        {L"$(FOLDERID_ProgramFilesX64)", Folder(FOLDERID_ProgramFilesX64)},
        {L"$(FOLDERID_ProgramFilesX86)", Folder(FOLDERID_ProgramFilesX86)},
        {L"$(FOLDERID_ProgramFilesCommon)", Folder(FOLDERID_ProgramFilesCommon)},
        {L"$(FOLDERID_ProgramFilesCommonX64)", Folder(FOLDERID_ProgramFilesCommonX64)},
        {L"$(FOLDERID_ProgramFilesCommonX86)", Folder(FOLDERID_ProgramFilesCommonX86)},
    };
    return table;
}

struct ProgramPathParts {
    wchar_t drive[4] = {};
    wchar_t folder[257] = {};
    wchar_t name[257] = {};
    wchar_t extension[257] = {};
};

// Split once per process; an unreadable path leaves every part empty.
const ProgramPathParts& ProgramParts() {
    static const ProgramPathParts parts = [] {
        ProgramPathParts split;
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return split;
        if (_wsplitpath_s(path, split.drive, 4, split.folder, 257, split.name, 257, split.extension, 257) != 0)
            return ProgramPathParts();
        return split;
    }();
    return parts;
}

}  // namespace

CommonReplacements::CommonReplacements(std::shared_ptr<ShlObjAPI> shell,
                                       std::shared_ptr<internal::OSInfoProxy> osInfo)
    : impl_(std::make_shared<_Impl>(std::move(shell), std::move(osInfo))) {}

CommonReplacements::~CommonReplacements() = default;

bool CommonReplacements::expand(std::wstring& text, const Table& callerTable) {
    return impl_->expand(text, callerTable);
}

bool CommonReplacements::expand(std::wstring& text) { return impl_->expand(text, Table()); }

CommonReplacements::Statistics CommonReplacements::getStatistics() const { return impl_->counters; }

CommonReplacements::_Impl::_Impl(std::shared_ptr<ShlObjAPI> shellApi, std::shared_ptr<internal::OSInfoProxy> os)
    : shell(shellApi ? std::move(shellApi) : std::make_shared<ShlObjAPI>()),
      osInfo(os ? std::move(os) : std::make_shared<internal::OSInfoProxy>()) {}

bool CommonReplacements::_Impl::expand(std::wstring& text, const Table& callerTable) {
    counters = Statistics();
    std::wstring output;
    auto rest = text.cbegin();
    std::wsmatch match;
    while (std::regex_search(rest, text.cend(), match, MacroPattern())) {
        ++counters.found;
        const std::wstring macro = match.str();
        std::wstring value;
        if (const auto own = callerTable.find(macro); own != callerTable.end()) {
            if (own->second) value = own->second();
        } else if (const auto builtIn = BuiltInTable().find(macro); builtIn != BuiltInTable().end()) {
            value = builtIn->second(*this);
        }
        if (value.empty()) value = macro;
        if (value != macro) ++counters.replaced;
        output.append(match.prefix().first, match.prefix().second);
        output += value;
        rest = match.suffix().first;
    }
    output.append(rest, text.cend());
    text = std::move(output);
    return true;
}

std::wstring CommonReplacements::_Impl::programPath(unsigned parts) const {
    const ProgramPathParts& split = ProgramParts();
    std::wstring path;
    if (parts & 1) path += split.drive;
    if (parts & 2) path += split.folder;
    if (parts & 4) path += split.name;
    if (parts & 8) path += split.extension;
    return path;
}

std::wstring CommonReplacements::_Impl::platformWord() const {
    switch (osInfo->getPlatformCode()) {
        case internal::kPlatformWin32:
            return L"win32";
        case internal::kPlatformX64:
            return L"x64";
        case internal::kPlatformUnknown:
            return L"PlatformUnknown";
        default:
            return std::wstring();
    }
}

std::wstring CommonReplacements::_Impl::knownFolder(REFKNOWNFOLDERID folder) const {
    KnownFolderPath path;
    if (FAILED(shell->SHGetKnownFolderPath(folder, 0, nullptr, path.Receive())) || !path) return std::wstring();
    return path.Get();
}

}  // namespace Basalt
