#pragma once
// The shim over the bus library's table, for one open bus handle (owned by MessageBusLib, not by this object).
// Deliveries and replies come back through onBusDelivery and onBusReply, which rebuild an Orvan::Message (an older
// header upgraded) and call the handler or reply function at the context. No exception leaves them: whatever is
// thrown becomes MODULE_STATUS_UNKNOWN_EXCEPTION for the library.
#include <functional>

#include "clients/messagebus/MessageBusFunctions.h"
#include "clients/messagebus/MessageBusShim.h"

namespace Orvan {

// A subscriber's handler. A delivery context points at a std::shared_ptr<MessageHandler>, which must stay in place
// until the subscription is released; each delivery takes a share of the handler for as long as it runs.
using MessageHandler = std::function<uint32_t(std::shared_ptr<Message>)>;
// What a reply context points at: (reply index, the reply message or empty, status).
using ReplyFunction = std::function<uint32_t(uint64_t, const std::shared_ptr<Message>&, uint32_t)>;

uint32_t onBusDelivery(void* context, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                       const wchar_t* data) noexcept;
uint32_t onBusReply(void* context, uint64_t replyIndex, const MessageHeader* header, const wchar_t* name,
                    const wchar_t* sender, const wchar_t* data, uint32_t status) noexcept;

class MessageBusShimImpl : public MessageBusShim {
public:
    // Throws ModuleException for a zero handle or a null table.
    MessageBusShimImpl(BusHandle handle, const MessageBusFunctions* functions);
    // Unregisters the reply callback.
    ~MessageBusShimImpl() override;

    uint32_t publish(const std::shared_ptr<Message>& message, bool alternate) override;
    uint32_t request(const std::shared_ptr<Message>& message, uint64_t replyIndex, void* context, uint64_t timeoutMs,
                     bool alternate) override;
    void unregisterReplyCallback() override;
    uint32_t subscribe(const std::wstring& messageName, void* context) override;
    uint32_t subscribeFilter(const std::wstring& namePattern, void* context) override;
    void releaseSubscription(uint32_t subscriptionId) override;

private:
    BusHandle handle_;
    const MessageBusFunctions* functions_;
};

}  // namespace Orvan
