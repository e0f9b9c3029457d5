#pragma once
// What the rest of the system holds to use the suite's message bus: publish, request (with a reply handed back at
// once and fulfilled later, or a handler called when the reply arrives), subscribe by exact name or by ECMAScript
// name pattern (optionally only for this session's messages), unsubscribe by alias. Results are module statuses.
// Handlers run on the bus library's threads; a handler result is the library's.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "clients/messagebus/Message.h"
#include "clients/messagebus/Reply.h"

namespace Orvan {

using SubscriptionHandler = std::function<uint32_t(std::shared_ptr<Message>)>;
using ReplyHandler = std::function<void(std::shared_ptr<Reply>)>;

class MessageBus {
public:
    virtual ~MessageBus() = default;

    virtual uint32_t publish(const std::shared_ptr<Message>& message) = 0;
    virtual uint32_t publishAlternate(const std::shared_ptr<Message>& message) = 0;
    // The handler gets the Reply, finished, on the bus thread that delivers it.
    virtual uint32_t request(const std::shared_ptr<Message>& message, ReplyHandler handler,
                             const uint64_t& timeoutMs) = 0;
    // `reply` is set when the request went out (status 0); the call does not wait.
    virtual uint32_t request(const std::shared_ptr<Message>& message, std::shared_ptr<Reply>& reply,
                             const uint64_t& timeoutMs) = 0;
    virtual uint32_t requestAlternate(const std::shared_ptr<Message>& message, ReplyHandler handler,
                                      const uint64_t& timeoutMs) = 0;
    virtual uint32_t requestAlternate(const std::shared_ptr<Message>& message, std::shared_ptr<Reply>& reply,
                                      const uint64_t& timeoutMs) = 0;
    virtual uint32_t subscribe(const std::wstring& messageName, const std::wstring& alias,
                               SubscriptionHandler handler) = 0;
    virtual uint32_t subscribe(const std::wstring& messageName, SubscriptionHandler handler) = 0;
    // Messages stamped with another session than this process's are dropped.
    virtual uint32_t subscribeInSession(const std::wstring& messageName, const std::wstring& alias,
                                        SubscriptionHandler handler) = 0;
    virtual uint32_t subscribeInSession(const std::wstring& messageName, SubscriptionHandler handler) = 0;
    virtual uint32_t subscribeFilter(const std::wstring& namePattern, const std::wstring& alias,
                                     SubscriptionHandler handler) = 0;
    virtual uint32_t subscribeFilter(const std::wstring& namePattern, SubscriptionHandler handler) = 0;
    virtual uint32_t subscribeFilterInSession(const std::wstring& namePattern, const std::wstring& alias,
                                              SubscriptionHandler handler) = 0;
    virtual uint32_t subscribeFilterInSession(const std::wstring& namePattern, SubscriptionHandler handler) = 0;
    // Releases every subscription under the alias. Always 0.
    virtual uint32_t unsubscribe(const std::wstring& alias) = 0;
};

}  // namespace Orvan
