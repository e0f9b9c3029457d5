#include "clients/support/SharedLibrary.h"

#include <array>
#include <cwctype>

#include "clients/support/ModuleStatus.h"
#include "foundation/basalt/ObfuscatedRegKey.h"
#include "foundation/logging/LogSite.h"

namespace Orvan {

namespace {

constexpr wchar_t kBlockListKey[] = L"SOFTWARE\\Torvex\\Fenwk\\List\\";
constexpr REGSAM kReadAccess = 0x20019;  // KEY_READ

const std::array<std::wstring, 4>& knownLibraries() {
    static const std::array<std::wstring, 4> names = {L"ombrith.dll", L"vesprin.dll", L"haldrick.dll",
                                                      L"corlune.dll"};
    return names;
}

std::wstring lowerCase(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

template <class Pointer>
bool bindExport(DllLoader& loader, HMODULE module, const char* name, Pointer& slot) {
    // Through void*: FARPROC and the real signature are unrelated function types.
    slot = reinterpret_cast<Pointer>(reinterpret_cast<void*>(loader.getProcAddress(module, name)));
    return slot != nullptr;
}

}  // namespace

SharedLibrary::SharedLibrary(LibraryLocation location, std::shared_ptr<DllLoader> loader,
                             std::shared_ptr<PathHelpers> pathHelpers, std::shared_ptr<PathSearch> pathSearch,
                             std::shared_ptr<Basalt::FileVersionInfo> versionReader,
                             std::shared_ptr<Basalt::CRegKey> registryKey)
    : location_(std::move(location)),
      loader_(loader ? std::move(loader) : std::make_shared<DllLoader>()),
      pathHelpers_(pathHelpers ? std::move(pathHelpers) : std::make_shared<PathHelpers>()),
      pathSearch_(pathSearch ? std::move(pathSearch) : std::make_shared<PathSearch>()),
      registryKey_(std::move(registryKey)),
      versionReader_(std::move(versionReader)) {
    if (loadLibrary() != MODULE_STATUS_SUCCESS) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to load library: %ls. Throwing ModuleException.",
               location_.fileName.c_str());
        throw ModuleException("Failed to load library");
    }
    if (importFunctions() != MODULE_STATUS_SUCCESS) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to import functions from library: %ls. Throwing ModuleException.",
               location_.fileName.c_str());
        runGuarded([this] { return unloadLibrary(); });
        throw ModuleException("Failed to import functions from library");
    }
}

SharedLibrary::~SharedLibrary() {
    runGuarded([this] { return unloadLibrary(); });
}

LibraryEntryPoints* SharedLibrary::getEntryPoints() { return &entryPoints_; }

uint32_t SharedLibrary::loadLibrary() {
    for (std::wstring& folder : location_.searchFolders) {
        const std::wstring unexpanded = folder;
        if (!pathHelpers_->expand(folder)) {
            LOG_AT(ETWLogging::kSeverityError, L"Failed to resolve file path, %ls, for library: %ls.",
                   unexpanded.c_str(), location_.fileName.c_str());
            return MODULE_STATUS_NOT_FOUND;
        }
    }
    pathSearch_->addSearchPaths(location_.searchFolders);
    std::wstring folder;
    if (!pathSearch_->findFilePath(location_.fileName, folder)) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to find valid path for library: %ls.", location_.fileName.c_str());
        return MODULE_STATUS_NOT_FOUND;
    }
    LOG_AT(ETWLogging::kSeverityNormal, L"Loading %ls from %ls.", location_.fileName.c_str(), folder.c_str());
    const std::wstring path = folder + L"\\" + location_.fileName;
    if (isBlockedLibrary(folder, location_.fileName)) {
        LOG_AT(ETWLogging::kSeverityInformation, L"Blocked library: %ls.", path.c_str());
        return MODULE_STATUS_NOT_SUPPORTED;
    }
    if (!loader_->loadDLL(path, &module_)) {
        module_ = nullptr;
        LOG_AT(ETWLogging::kSeverityError, L"Failed to load library: %ls.", location_.fileName.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

uint32_t SharedLibrary::importFunctions() {
    auto missing = [this](const char* name) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to load %hs function from library: %ls.", name,
               location_.fileName.c_str());
        return MODULE_STATUS_NOT_FOUND;
    };
    LibraryEntryPoints& e = entryPoints_;
    if (!bindExport(*loader_, module_, "CreateObject", e.CreateObject)) return missing("CreateObject");
    if (!bindExport(*loader_, module_, "ReleaseObject", e.ReleaseObject)) return missing("ReleaseObject");
    if (!bindExport(*loader_, module_, "GetVersionStr", e.GetVersionStr)) return missing("GetVersionStr");
    if (!bindExport(*loader_, module_, "GetVersionNum", e.GetVersionNum)) return missing("GetVersionNum");
    return MODULE_STATUS_SUCCESS;
}

uint32_t SharedLibrary::unloadLibrary() {
    if (!module_) return MODULE_STATUS_SUCCESS;
    if (!loader_->freeLibrary(module_)) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to free library: %ls.", location_.fileName.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    module_ = nullptr;
    entryPoints_ = LibraryEntryPoints();
    return MODULE_STATUS_SUCCESS;
}

bool SharedLibrary::isBlockedLibrary(const std::wstring& folder, const std::wstring& fileName) {
    if (fileName.empty() || folder.empty()) return false;
    const std::wstring lowerFolder = lowerCase(folder);
    const std::wstring lowerName = lowerCase(fileName);
    for (const std::wstring& known : knownLibraries())
        if (lowerName == known) return false;
    return isBlockedVersion(lowerFolder, lowerName);
}

bool SharedLibrary::isBlockedVersion(const std::wstring& folder, const std::wstring& fileName) {
    std::shared_ptr<Basalt::FileVersionInfo> reader =
        versionReader_ ? versionReader_ : std::make_shared<Basalt::FileVersionInfo>();
    const std::wstring path = folder + L"\\" + fileName;
    if (!reader->load(path.c_str())) return false;
    const std::wstring version = reader->getString(L"FileVersion");
    std::shared_ptr<Basalt::CRegKey> key =
        registryKey_ ? registryKey_ : std::make_shared<Basalt::CObfuscatedRegKey>();
    const std::wstring keyPath = kBlockListKey + fileName;
    if (key->Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), kReadAccess) != ERROR_SUCCESS) return false;
    std::wstring listed;
    const LONG read = key->QueryStringValue(version.c_str(), listed);
    key->Close();
    return read == ERROR_SUCCESS && listed == version;
}

}  // namespace Orvan
