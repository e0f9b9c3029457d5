#pragma once
// The message-bus client over a MessageBusShim. Replies reach the waiting caller through a promise and future; the
// subscription table and the pending replies are guarded by two mutexes that are never held together, and the
// pending lock is never held while the shim is called. A delivery's context is the address of its record's shared
// handler: the record lives until the shim has released the subscription, and the delivery holds a share of the
// handler until it returns, so a handler may end its own subscription. Subscriptions are released with the table
// unlocked (the bus waits there for running deliveries, whose handlers may call this client). Once destruction has
// begun, a new subscription is refused (MODULE_STATUS_UNSUCCESSFUL).
#include <cstdint>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <regex>
#include <unordered_map>

#include "clients/messagebus/MessageBus.h"
#include "clients/messagebus/MessageBusShim.h"
#include "clients/messagebus/MessageBusShimImpl.h"
#include "clients/support/ProcessAPI.h"

namespace Orvan {

struct Subscription {
    uint32_t id = 0;
    std::wstring messageName;
    std::shared_ptr<MessageHandler> handler;  // its address is the bus context
};

struct FilterSubscription {
    uint32_t id = 0;
    std::wstring namePattern;
    std::wregex pattern;
    std::shared_ptr<MessageHandler> handler;
};

struct SubscriptionSet {
    std::list<Subscription> subscriptions;
    std::list<FilterSubscription> filterSubscriptions;
};

struct PendingReply {
    std::promise<std::shared_ptr<Message>> promise;
    std::function<void()> task;  // empty for a synchronous request
};

class MessageBusClient : public MessageBus {
public:
    // A new client on every call; empty (and a log line) when the library cannot be loaded or the bus opened.
    static std::unique_ptr<MessageBus> getInstance();

    // Loads the library and opens the bus (MessageBusLib); its ModuleException passes through.
    MessageBusClient();
    // An empty process wrapper means the system's own.
    MessageBusClient(std::shared_ptr<MessageBusShim> shim, std::shared_ptr<ProcessAPI> process);
    MessageBusClient(const MessageBusClient&) = delete;
    MessageBusClient& operator=(const MessageBusClient&) = delete;
    // Releases every subscription and the reply callback before the shim goes.
    ~MessageBusClient() override;

    uint32_t publish(const std::shared_ptr<Message>& message) override;
    uint32_t publishAlternate(const std::shared_ptr<Message>& message) override;
    uint32_t request(const std::shared_ptr<Message>& message, ReplyHandler handler,
                     const uint64_t& timeoutMs) override;
    uint32_t request(const std::shared_ptr<Message>& message, std::shared_ptr<Reply>& reply,
                     const uint64_t& timeoutMs) override;
    uint32_t requestAlternate(const std::shared_ptr<Message>& message, ReplyHandler handler,
                              const uint64_t& timeoutMs) override;
    uint32_t requestAlternate(const std::shared_ptr<Message>& message, std::shared_ptr<Reply>& reply,
                              const uint64_t& timeoutMs) override;
    uint32_t subscribe(const std::wstring& messageName, const std::wstring& alias,
                       SubscriptionHandler handler) override;
    uint32_t subscribe(const std::wstring& messageName, SubscriptionHandler handler) override;
    uint32_t subscribeInSession(const std::wstring& messageName, const std::wstring& alias,
                                SubscriptionHandler handler) override;
    uint32_t subscribeInSession(const std::wstring& messageName, SubscriptionHandler handler) override;
    uint32_t subscribeFilter(const std::wstring& namePattern, const std::wstring& alias,
                             SubscriptionHandler handler) override;
    uint32_t subscribeFilter(const std::wstring& namePattern, SubscriptionHandler handler) override;
    uint32_t subscribeFilterInSession(const std::wstring& namePattern, const std::wstring& alias,
                                      SubscriptionHandler handler) override;
    uint32_t subscribeFilterInSession(const std::wstring& namePattern, SubscriptionHandler handler) override;
    uint32_t unsubscribe(const std::wstring& alias) override;

    uint32_t internalPublish(const std::shared_ptr<Message>& message, bool alternate);
    uint32_t internalRequest(const std::shared_ptr<Message>& message, std::shared_ptr<Reply>& reply,
                             const uint64_t& timeoutMs, bool alternate);
    uint32_t internalRequest(const std::shared_ptr<Message>& message, ReplyHandler handler,
                             const uint64_t& timeoutMs, bool alternate);
    // Called through onBusReply on a bus thread: fulfils the pending reply of the index.
    uint32_t replyCallback(uint64_t replyIndex, const std::shared_ptr<Message>& message, uint32_t status);

    // 0 when it could not be found (then nothing is filtered).
    uint32_t sessionId() const { return sessionId_; }

private:
    // Registers {promise, task} under a new index and sends the request; 0 with the future handed out.
    uint32_t sendRequest(const std::shared_ptr<Message>& message, const uint64_t& timeoutMs, bool alternate,
                         bool asynchronous, ReplyHandler handler, std::future<std::shared_ptr<Message>>& future);
    static void asyncReplyTask(const std::shared_ptr<std::future<std::shared_ptr<Message>>>& future,
                               const ReplyHandler& handler);
    // Appends the record under the alias and registers it with the bus through `add` (its context: the record's
    // handler); the record is gone again when refused.
    template <class Record, class Add>
    uint32_t addSubscription(const std::wstring& alias, std::list<Record> SubscriptionSet::*records, Record record,
                             Add add);
    // Every subscription of the set, plain ones first; the caller holds no lock.
    void release(const SubscriptionSet& set);
    // The handler wrapped so that messages of another session are dropped.
    SubscriptionHandler sessionFilter(SubscriptionHandler handler) const;
    void teardown();

    std::shared_ptr<MessageBusShim> shim_;
    std::shared_ptr<ProcessAPI> process_;
    std::mutex subscriptionLock_;
    std::unordered_map<std::wstring, SubscriptionSet> subscriptions_;
    bool tearingDown_ = false;  // under the subscription lock: no new subscription once set
    uint64_t nextReplyIndex_ = 0;
    ReplyFunction replyFunction_;
    std::mutex pendingLock_;
    std::unordered_map<uint64_t, PendingReply> pending_;
    uint32_t sessionId_ = 0;
};

}  // namespace Orvan
