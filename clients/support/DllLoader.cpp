#include "clients/support/DllLoader.h"

#include "clients/support/ModuleStatus.h"
#include "foundation/logging/LogSite.h"

namespace Orvan {

DllLoader::DllLoader(std::shared_ptr<DllAPI> api) : api_(api ? std::move(api) : std::make_shared<DllAPI>()) {}

bool DllLoader::loadDLL(const std::wstring& path, HMODULE* module) {
    if (!module) {
        LOG_AT(ETWLogging::kSeverityWarning, L"Invalid pHandle specified. Exiting.");
        return false;
    }
    if (api_->getModuleHandleEx(0, path.c_str(), module)) return true;
    const uint32_t status = runGuarded(
        [&] { return api_->loadLibrary(path, module) ? MODULE_STATUS_SUCCESS : MODULE_STATUS_UNSUCCESSFUL; });
    if (status == MODULE_STATUS_SUCCESS) return true;
    LOG_AT(ETWLogging::kSeverityError, L"Failed to load library. Error code: %ls(%lu).", moduleStatusToString(status),
           static_cast<unsigned long>(status));
    return false;
}

FARPROC DllLoader::getProcAddress(HMODULE module, const char* name) {
    FARPROC address = nullptr;
    runGuarded([&] {
        address = api_->getProcAddress(module, name);
        return MODULE_STATUS_SUCCESS;
    });
    if (!address) LOG_AT(ETWLogging::kSeverityWarning, L"getProcAddress was unsuccessful in finding the handle's address");
    return address;
}

bool DllLoader::freeLibrary(HMODULE module) { return api_->freeLibrary(module); }

}  // namespace Orvan
