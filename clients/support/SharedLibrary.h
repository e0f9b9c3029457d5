#pragma once
// One of the suite's service libraries, found, checked, loaded and bound in the constructor and unloaded in the
// destructor; it never exists half loaded. The library is searched over the location's folders ("$(...)" macros
// expanded in place; a folder left relative or with a macro unresolved is skipped), the first folder that holds the
// file wins, a version on the registry's block list is refused, and the load goes through DllLoader (whose DllAPI
// verifies the signature first). Every failure of the constructor throws ModuleException.
#include <windows.h>

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "clients/support/DllLoader.h"
#include "clients/support/PathHelpers.h"
#include "clients/support/PathSearch.h"
#include "foundation/basalt/FileVersionInfo.h"
#include "foundation/basalt/RegKey.h"

namespace Orvan {

struct LibraryLocation {
    std::wstring fileName;
    std::list<std::wstring> searchFolders;
};

// The four exports every service library has; only CreateObject is called.
struct LibraryEntryPoints {
    void* (*CreateObject)(uint32_t id) = nullptr;
    uint32_t (*ReleaseObject)(void* object) = nullptr;
    const wchar_t* (*GetVersionStr)() = nullptr;
    uint32_t (*GetVersionNum)() = nullptr;
};

class SharedLibrary {
public:
    // Empty loader, path helpers and path search mean new default ones; an empty version reader or registry key
    // means a new Basalt::FileVersionInfo or Basalt::CObfuscatedRegKey at each use.
    SharedLibrary(LibraryLocation location, std::shared_ptr<DllLoader> loader = nullptr,
                  std::shared_ptr<PathHelpers> pathHelpers = nullptr, std::shared_ptr<PathSearch> pathSearch = nullptr,
                  std::shared_ptr<Basalt::FileVersionInfo> versionReader = nullptr,
                  std::shared_ptr<Basalt::CRegKey> registryKey = nullptr);
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    virtual ~SharedLibrary();

    virtual LibraryEntryPoints* getEntryPoints();

    // Module statuses: 0, MODULE_STATUS_NOT_FOUND (no folder holds it, a macro cannot be resolved, an export is
    // missing), MODULE_STATUS_NOT_SUPPORTED (blocked version), MODULE_STATUS_UNSUCCESSFUL (load or free failed).
    uint32_t loadLibrary();
    uint32_t importFunctions();
    uint32_t unloadLibrary();
    // Never for the suite's own known libraries; otherwise when the file's version is on the block list under
    // HKLM "SOFTWARE\Torvex\Fenwk\List\<file name in lower case>" (a value named and holding the version text).
    bool isBlockedLibrary(const std::wstring& folder, const std::wstring& fileName);
    bool isBlockedVersion(const std::wstring& folder, const std::wstring& fileName);

    HMODULE module() const { return module_; }

private:
    LibraryLocation location_;
    std::shared_ptr<DllLoader> loader_;
    std::shared_ptr<PathHelpers> pathHelpers_;
    std::shared_ptr<PathSearch> pathSearch_;
    std::shared_ptr<Basalt::CRegKey> registryKey_;
    std::shared_ptr<Basalt::FileVersionInfo> versionReader_;
    HMODULE module_ = nullptr;
    LibraryEntryPoints entryPoints_;
};

}  // namespace Orvan
