#include "clients/messagebus/MessageBusLib.h"

#include <shlobj.h>

#include "clients/messagebus/MessageBusShimImpl.h"
#include "clients/support/ModuleStatus.h"
#include "clients/support/PerfTimer.h"
#include "clients/support/RegistryAPI.h"
#include "foundation/basalt/OSVersion.h"
#include "foundation/basalt/ShlObjAPI.h"
#include "foundation/logging/LogSite.h"

namespace Orvan {

namespace {

constexpr wchar_t kLibraryFileName[] = L"Corlune.dll";
constexpr wchar_t kFenwkKey[] = L"SOFTWARE\\TORVEX\\FENWK";

}  // namespace

const LibraryLocation& MessageBusLib::defaultLocation() {
    static const LibraryLocation location{kLibraryFileName, {L"$(App.Folder)", L"$(Fenwick.InstallDir)"}};
    return location;
}

LibraryLocation MessageBusLib::loadFromRegistry() {
    Basalt::internal::OSInfoProxy osInfo;
    RegistryAPI registry;
    std::wstring folder;
    if (osInfo.isWow64Process()) {
        if (registry.readString(kFenwkKey, L"Install Dir32", folder) != MODULE_STATUS_SUCCESS)
            LOG_AT(ETWLogging::kSeverityError, L"Failed to retrieve Fenwk WoW64 path from registry");
    } else if (registry.readString(kFenwkKey, L"Install Dir", folder) != MODULE_STATUS_SUCCESS) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to retrieve Fenwk path from registry");
    }
    if (folder.empty()) {
        Basalt::KnownFolderPath common;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramFilesCommon, 0, nullptr, common.Receive())) && common)
            folder = std::wstring(common.Get()) + L"\\Torvex\\Fenwick";
    }
    LOG_AT(ETWLogging::kSeverityInformation, L"Loading MesageBusLib by force from path: %s", folder.c_str());
    return LibraryLocation{kLibraryFileName, {folder}};
}

MessageBusLib::MessageBusLib(std::shared_ptr<SharedLibrary> library, std::shared_ptr<MessageBusShim> shim)
    : library_(std::move(library)), shim_(std::move(shim)) {
    internal::PerfTimer timer(L"MessageBusLib::MessageBusLib");
    if (!library_) {
        const LibraryLocation& location = defaultLocation();
        library_ = std::make_shared<SharedLibrary>(location.searchFolders.empty() ? loadFromRegistry() : location);
    }
    const auto createObject = library_->getEntryPoints()->CreateObject;
    functions_ = createObject ? static_cast<const MessageBusFunctions*>(createObject(kMessageBusFunctionsId)) : nullptr;
    if (!functions_) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to get message bus functions object. Throwing ModuleException.");
        throw ModuleException("Failed to get message bus functions object");
    }
    const uint32_t opened = functions_->openBus(&handle_);
    if (opened != MODULE_STATUS_SUCCESS) {
        LOG_AT(ETWLogging::kSeverityError,
               L"Failed to get message bus handle. Error code: %ls(%lu). Throwing ModuleException.",
               moduleStatusToString(opened), static_cast<unsigned long>(opened));
        throw ModuleException("Failed to get message bus handle");
    }
    if (!shim_) {
        // A throwing constructor leaves nothing open: the handle is closed before the exception leaves.
        try {
            shim_ = std::make_shared<MessageBusShimImpl>(handle_, functions_);
        } catch (...) {
            functions_->closeBus(handle_);
            handle_ = nullptr;
            throw;
        }
    }
}

MessageBusLib::~MessageBusLib() {
    shim_.reset();
    const uint32_t closed = runGuarded([this] { return functions_->closeBus(handle_); });
    if (closed != MODULE_STATUS_SUCCESS)
        LOG_AT(ETWLogging::kSeverityWarning, L"Failed to release message bus. Error code %ls(%lu).",
               moduleStatusToString(closed), static_cast<unsigned long>(closed));
    library_.reset();
}

uint32_t MessageBusLib::publish(const std::shared_ptr<Message>& message, bool alternate) {
    return shim_->publish(message, alternate);
}
uint32_t MessageBusLib::request(const std::shared_ptr<Message>& message, uint64_t replyIndex, void* context,
                                uint64_t timeoutMs, bool alternate) {
    return shim_->request(message, replyIndex, context, timeoutMs, alternate);
}
void MessageBusLib::unregisterReplyCallback() { shim_->unregisterReplyCallback(); }
uint32_t MessageBusLib::subscribe(const std::wstring& messageName, void* context) {
    return shim_->subscribe(messageName, context);
}
uint32_t MessageBusLib::subscribeFilter(const std::wstring& namePattern, void* context) {
    return shim_->subscribeFilter(namePattern, context);
}
void MessageBusLib::releaseSubscription(uint32_t subscriptionId) { shim_->releaseSubscription(subscriptionId); }

}  // namespace Orvan
