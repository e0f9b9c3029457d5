#pragma once
// Expansion of "$(...)" path macros: the program's own path parts ("$(App.Folder)", "$(App.Path)", ...), the
// platform word, the suite's install folder from the registry and the known folders. A macro this table does not
// know, or whose value is empty, stays in the text as it was. The shell, OS facts and registry are reached through
// the wrappers given to the constructor (an empty one means the system's own).
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "clients/support/RegistryAPI.h"
#include "clients/support/ShlObjAPI.h"
#include "foundation/basalt/OSVersion.h"

namespace Orvan {

class PathHelpers {
public:
    class _Impl;

    PathHelpers(std::shared_ptr<ShlObjAPI> shell = nullptr,
                std::shared_ptr<Basalt::internal::OSInfoProxy> osInfo = nullptr,
                std::shared_ptr<RegistryAPI> registry = nullptr);
    virtual ~PathHelpers();

    // Replaces every macro in the text by its value. Always true.
    virtual bool expand(std::wstring& text);

    // Macro text (exact, case-sensitive) -> the value it stands for.
    using MacroTable = std::unordered_map<std::wstring, std::function<std::wstring(_Impl&)>>;
    static const MacroTable& macroTable();

private:
    std::shared_ptr<_Impl> impl_;
};

class PathHelpers::_Impl {
public:
    _Impl(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<Basalt::internal::OSInfoProxy> osInfo,
          std::shared_ptr<RegistryAPI> registry);

    // "win32", "x64", "PlatformUnknown" for platform codes 0, 1, 2; "" otherwise.
    std::wstring getPlatform();
    // HKLM "SOFTWARE\TORVEX\FENWK" "Install Dir32" under WOW64, else "Install Dir"; "" when unreadable.
    std::wstring getInstallDir();
    // "" when the shell fails.
    std::wstring getKnownFolder(REFKNOWNFOLDERID id);
    // Parts of the program's image path, in this order: drive (1), folder with its backslash (2), name (4),
    // extension (8).
    static std::wstring getModulePathPart(unsigned flags);

private:
    std::shared_ptr<ShlObjAPI> shell_;
    std::shared_ptr<Basalt::internal::OSInfoProxy> osInfo_;
    std::shared_ptr<RegistryAPI> registry_;
};

}  // namespace Orvan
