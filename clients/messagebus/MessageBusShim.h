#pragma once
// The transport the message-bus client talks to. MessageBusShimImpl maps it onto the bus library's table;
// MessageBusLib owns the library and the bus handle and forwards to an inner shim; tests put their own beneath.
#include <cstdint>
#include <memory>
#include <string>

#include "clients/messagebus/Message.h"

namespace Orvan {

class MessageBusShim {
public:
    virtual ~MessageBusShim() = default;
    virtual uint32_t publish(const std::shared_ptr<Message>& message, bool alternate) = 0;
    // context: the address of the caller's reply function, handed back with every reply of this request.
    virtual uint32_t request(const std::shared_ptr<Message>& message, uint64_t replyIndex, void* context,
                             uint64_t timeoutMs, bool alternate) = 0;
    // Once it returns, no reply callback of this shim starts.
    virtual void unregisterReplyCallback() = 0;
    // context: the address of the subscriber's shared handler (MessageHandler). 0 when refused.
    virtual uint32_t subscribe(const std::wstring& messageName, void* context) = 0;
    virtual uint32_t subscribeFilter(const std::wstring& namePattern, void* context) = 0;
    // Once it returns, no delivery of this subscription starts and none runs on another thread (the bus waits for
    // them), so the context may go; a delivery on the calling thread is not waited for.
    virtual void releaseSubscription(uint32_t subscriptionId) = 0;
};

}  // namespace Orvan
