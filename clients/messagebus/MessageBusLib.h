#pragma once
// The message-bus library bound for one client: it loads the library (after its trust check, through
// SharedLibrary), asks CreateObject(2001000) for the function table, opens a bus handle and puts a shim over it.
// Everything exists from the end of the constructor to the destructor; a constructor that throws ModuleException
// leaves no handle open. The destructor drops the shim, closes the handle and releases the library.
#include <memory>

#include "clients/messagebus/MessageBusFunctions.h"
#include "clients/messagebus/MessageBusShim.h"
#include "clients/support/SharedLibrary.h"

namespace Orvan {

class MessageBusLib : public MessageBusShim {
public:
    // No library: "Corlune.dll" searched in "$(App.Folder)" then "$(Fenwick.InstallDir)" (only when the registry
    // names that folder). No shim: a MessageBusShimImpl over the handle and the table.
    explicit MessageBusLib(std::shared_ptr<SharedLibrary> library = nullptr,
                           std::shared_ptr<MessageBusShim> shim = nullptr);
    ~MessageBusLib() override;

    uint32_t publish(const std::shared_ptr<Message>& message, bool alternate) override;
    uint32_t request(const std::shared_ptr<Message>& message, uint64_t replyIndex, void* context, uint64_t timeoutMs,
                     bool alternate) override;
    void unregisterReplyCallback() override;
    uint32_t subscribe(const std::wstring& messageName, void* context) override;
    uint32_t subscribeFilter(const std::wstring& namePattern, void* context) override;
    void releaseSubscription(uint32_t subscriptionId) override;

    // The library's folder from the registry (HKLM "SOFTWARE\TORVEX\FENWK"), else the common program files'
    // "Torvex\Fenwick".
    static LibraryLocation loadFromRegistry();
    // "Corlune.dll" in "$(App.Folder)", then "$(Fenwick.InstallDir)".
    static const LibraryLocation& defaultLocation();

private:
    std::shared_ptr<SharedLibrary> library_;
    std::shared_ptr<MessageBusShim> shim_;
    BusHandle handle_ = nullptr;
    const MessageBusFunctions* functions_ = nullptr;
};

}  // namespace Orvan
