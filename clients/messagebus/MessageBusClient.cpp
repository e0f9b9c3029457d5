#include "clients/messagebus/MessageBusClient.h"

#include <new>
#include <utility>

#include "clients/messagebus/MessageBusLib.h"
#include "clients/support/ModuleStatus.h"
#include "foundation/logging/LogSite.h"

namespace Orvan {

namespace {

std::exception_ptr replyFailure(uint32_t status) {
    const int value = status == MODULE_STATUS_TIMEOUT ? Reply::kTimeoutErrorValue : Reply::kFailureErrorValue;
    return std::make_exception_ptr(std::future_error(static_cast<std::future_errc>(value)));
}

}  // namespace

std::unique_ptr<MessageBus> MessageBusClient::getInstance() {
    try {
        return std::make_unique<MessageBusClient>();
    } catch (const ModuleException& error) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to create message bus client. Caught ModuleException - what: %hs.",
               error.what());
    } catch (const std::bad_alloc&) {
        LOG_AT(ETWLogging::kSeverityError,
               L"Failed to create message bus client. Caught bad_alloc - Failed to alllocate resources.");
    } catch (const std::exception& error) {
        LOG_AT(ETWLogging::kSeverityError,
               L"Faield to create message bus client. Caught standard exception - what: %hs.", error.what());
    } catch (...) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to create message bus client. Caught unexpected exception.");
    }
    return nullptr;
}

MessageBusClient::MessageBusClient() : MessageBusClient(std::make_shared<MessageBusLib>(), nullptr) {}

MessageBusClient::MessageBusClient(std::shared_ptr<MessageBusShim> shim, std::shared_ptr<ProcessAPI> process)
    : shim_(std::move(shim)), process_(process ? std::move(process) : std::make_shared<ProcessAPI>()) {
    replyFunction_ = [this](uint64_t replyIndex, const std::shared_ptr<Message>& message, uint32_t status) {
        return replyCallback(replyIndex, message, status);
    };
    const DWORD pid = process_->GetCurrentProcessId();
    DWORD session = 0;
    if (process_->ProcessIdToSessionId(pid, &session)) {
        sessionId_ = session;
        LOG_AT(ETWLogging::kSeverityNormal, L"Found session id %ld for process %ld", static_cast<long>(session),
               static_cast<long>(pid));
    } else {
        sessionId_ = 0;
        LOG_AT(ETWLogging::kSeverityError, L"Failed to get the session id for process %ld - defaulting to %ld",
               static_cast<long>(pid), 0L);
    }
}

MessageBusClient::~MessageBusClient() {
    runGuarded([this] {
        teardown();
        shim_->unregisterReplyCallback();
        return MODULE_STATUS_SUCCESS;
    });
}

void MessageBusClient::teardown() {
    std::unordered_map<std::wstring, SubscriptionSet> removed;
    {
        std::lock_guard<std::mutex> guard(subscriptionLock_);
        tearingDown_ = true;
        removed = std::exchange(subscriptions_, {});
    }
    for (const auto& [alias, set] : removed) release(set);
}

void MessageBusClient::release(const SubscriptionSet& set) {
    for (const Subscription& subscription : set.subscriptions) shim_->releaseSubscription(subscription.id);
    for (const FilterSubscription& subscription : set.filterSubscriptions) shim_->releaseSubscription(subscription.id);
}

uint32_t MessageBusClient::publish(const std::shared_ptr<Message>& message) { return internalPublish(message, false); }

uint32_t MessageBusClient::publishAlternate(const std::shared_ptr<Message>& message) {
    return internalPublish(message, true);
}

uint32_t MessageBusClient::request(const std::shared_ptr<Message>& message, ReplyHandler handler,
                                   const uint64_t& timeoutMs) {
    return internalRequest(message, std::move(handler), timeoutMs, false);
}
uint32_t MessageBusClient::request(const std::shared_ptr<Message>& message, std::shared_ptr<Reply>& reply,
                                   const uint64_t& timeoutMs) {
    return internalRequest(message, reply, timeoutMs, false);
}
uint32_t MessageBusClient::requestAlternate(const std::shared_ptr<Message>& message, ReplyHandler handler,
                                            const uint64_t& timeoutMs) {
    return internalRequest(message, std::move(handler), timeoutMs, true);
}
uint32_t MessageBusClient::requestAlternate(const std::shared_ptr<Message>& message, std::shared_ptr<Reply>& reply,
                                            const uint64_t& timeoutMs) {
    return internalRequest(message, reply, timeoutMs, true);
}

uint32_t MessageBusClient::internalPublish(const std::shared_ptr<Message>& message, bool alternate) {
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    MessageHeader* const header = message->getHeader();
    // A reply that nobody copied yet also goes out as a plain message, for subscribers of its name.
    const bool copyWanted = MessageHeader::testFlag(header, MessageHeader::kReplyFlag) &&
                            !MessageHeader::testFlag(header, MessageHeader::kNoCopyFlag) &&
                            !MessageHeader::testFlag(header, MessageHeader::kCopyPublishedFlag);
    if (copyWanted) MessageHeader::setFlag(header, MessageHeader::kCopyPublishedFlag);
    const uint32_t status = shim_->publish(message, alternate);
    if (status != MODULE_STATUS_SUCCESS) {
        LOG_AT(ETWLogging::kSeverityError, L"Failed to publish message. Error code %lu.",
               static_cast<unsigned long>(status));
        return status;
    }
    if (copyWanted) {
        MessageHeader::clearFlag(header, MessageHeader::kReplyFlag);
        MessageHeader::clearReplyIndex(header);
        const uint32_t copied = shim_->publish(message, alternate);
        if (copied != MODULE_STATUS_SUCCESS)
            LOG_AT(ETWLogging::kSeverityWarning, L"Failed to publish non-reply copy of the message. Error code %lu.",
                   static_cast<unsigned long>(copied));
    }
    return MODULE_STATUS_SUCCESS;
}

uint32_t MessageBusClient::sendRequest(const std::shared_ptr<Message>& message, const uint64_t& timeoutMs,
                                       bool alternate, bool asynchronous, ReplyHandler handler,
                                       std::future<std::shared_ptr<Message>>& future) {
    uint64_t index = 0;
    {
        std::lock_guard<std::mutex> guard(pendingLock_);
        index = nextReplyIndex_++;
        if (pending_.count(index)) {
            LOG_AT(ETWLogging::kSeverityError, L"Unable to create reply promise. Returning.");
            return MODULE_STATUS_UNSUCCESSFUL;
        }
        PendingReply& entry = pending_[index];
        future = entry.promise.get_future();
        if (asynchronous) {
            auto shared = std::make_shared<std::future<std::shared_ptr<Message>>>(std::move(future));
            entry.task = [shared, handler = std::move(handler)] { asyncReplyTask(shared, handler); };
        }
    }
    // No lock is held here: the bus may answer before request returns, on this thread or another.
    const uint32_t status = shim_->request(message, index, &replyFunction_, timeoutMs, alternate);
    if (status != MODULE_STATUS_SUCCESS) {
        {
            std::lock_guard<std::mutex> guard(pendingLock_);
            pending_.erase(index);
        }
        LOG_AT(ETWLogging::kSeverityError, L"Failed to make request. Error code %lu.", static_cast<unsigned long>(status));
    }
    return status;
}

uint32_t MessageBusClient::internalRequest(const std::shared_ptr<Message>& message, std::shared_ptr<Reply>& reply,
                                           const uint64_t& timeoutMs, bool alternate) {
    std::future<std::shared_ptr<Message>> future;
    const uint32_t status = sendRequest(message, timeoutMs, alternate, false, nullptr, future);
    if (status != MODULE_STATUS_SUCCESS) return status;
    reply = ReplyImpl::create(std::move(future), timeoutMs);
    return MODULE_STATUS_SUCCESS;
}

uint32_t MessageBusClient::internalRequest(const std::shared_ptr<Message>& message, ReplyHandler handler,
                                           const uint64_t& timeoutMs, bool alternate) {
    std::future<std::shared_ptr<Message>> unused;
    return sendRequest(message, timeoutMs, alternate, true, std::move(handler), unused);
}

void MessageBusClient::asyncReplyTask(const std::shared_ptr<std::future<std::shared_ptr<Message>>>& future,
                                      const ReplyHandler& handler) {
    auto reply = std::make_shared<ReplyImpl>(std::move(*future), 0);
    reply->wait();
    if (handler) handler(reply);
}

uint32_t MessageBusClient::replyCallback(uint64_t replyIndex, const std::shared_ptr<Message>& message,
                                         uint32_t status) {
    PendingReply entry;
    {
        std::lock_guard<std::mutex> guard(pendingLock_);
        const auto found = pending_.find(replyIndex);
        if (found == pending_.end()) {
            LOG_AT(ETWLogging::kSeverityWarning, L"Reply index not found. Returning");
            return MODULE_STATUS_NOT_FOUND;
        }
        entry = std::move(found->second);
        pending_.erase(found);
    }
    if (status == MODULE_STATUS_SUCCESS)
        entry.promise.set_value(message);
    else
        entry.promise.set_exception(replyFailure(status));
    if (entry.task) runGuarded([&] {
        entry.task();
        return MODULE_STATUS_SUCCESS;
    });
    return MODULE_STATUS_SUCCESS;
}

template <class Record, class Add>
uint32_t MessageBusClient::addSubscription(const std::wstring& alias, std::list<Record> SubscriptionSet::*records,
                                           Record record, Add add) {
    // Held while the bus registers: a delivery may come before the id is stored, and the record is its context.
    std::lock_guard<std::mutex> guard(subscriptionLock_);
    if (tearingDown_) return MODULE_STATUS_UNSUCCESSFUL;
    std::list<Record>& list = subscriptions_[alias].*records;
    Record& added = list.emplace_back(std::move(record));
    added.id = add(&added.handler);
    if (added.id != 0) return MODULE_STATUS_SUCCESS;
    list.pop_back();
    return MODULE_STATUS_UNSUCCESSFUL;
}

uint32_t MessageBusClient::subscribe(const std::wstring& messageName, const std::wstring& alias,
                                     SubscriptionHandler handler) {
    const uint32_t status = addSubscription(
        alias, &SubscriptionSet::subscriptions,
        Subscription{0, messageName, std::make_shared<MessageHandler>(std::move(handler))},
        [&](void* context) { return shim_->subscribe(messageName, context); });
    if (status != MODULE_STATUS_SUCCESS)
        LOG_AT(ETWLogging::kSeverityError, L"Failed to subscribe. Alias: %ls Message name: %ls", alias.c_str(),
               messageName.c_str());
    return status;
}

uint32_t MessageBusClient::subscribe(const std::wstring& messageName, SubscriptionHandler handler) {
    return subscribe(messageName, messageName, std::move(handler));
}

uint32_t MessageBusClient::subscribeInSession(const std::wstring& messageName, const std::wstring& alias,
                                              SubscriptionHandler handler) {
    return subscribe(messageName, alias, sessionFilter(std::move(handler)));
}

uint32_t MessageBusClient::subscribeInSession(const std::wstring& messageName, SubscriptionHandler handler) {
    return subscribeInSession(messageName, messageName, std::move(handler));
}

uint32_t MessageBusClient::subscribeFilter(const std::wstring& namePattern, const std::wstring& alias,
                                           SubscriptionHandler handler) {
    std::wregex compiled;
    try {
        compiled.assign(namePattern, std::regex::ECMAScript | std::regex::nosubs | std::regex::optimize);
    } catch (const std::regex_error& error) {
        LOG_AT(ETWLogging::kSeverityError, L"subscribeFilter failed. Regex error with regex \"%ls\" [caught: %hs]",
               namePattern.c_str(), error.what());
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    const uint32_t status = addSubscription(
        alias, &SubscriptionSet::filterSubscriptions,
        FilterSubscription{0, namePattern, std::move(compiled), std::make_shared<MessageHandler>(std::move(handler))},
        [&](void* context) { return shim_->subscribeFilter(namePattern, context); });
    if (status != MODULE_STATUS_SUCCESS)
        LOG_AT(ETWLogging::kSeverityError, L"Failed to subscribeFilter. Alias: %ls Message nameRegex: %ls",
               alias.c_str(), namePattern.c_str());
    return status;
}

uint32_t MessageBusClient::subscribeFilter(const std::wstring& namePattern, SubscriptionHandler handler) {
    return subscribeFilter(namePattern, namePattern, std::move(handler));
}

uint32_t MessageBusClient::subscribeFilterInSession(const std::wstring& namePattern, const std::wstring& alias,
                                                    SubscriptionHandler handler) {
    return subscribeFilter(namePattern, alias, sessionFilter(std::move(handler)));
}

uint32_t MessageBusClient::subscribeFilterInSession(const std::wstring& namePattern, SubscriptionHandler handler) {
    return subscribeFilterInSession(namePattern, namePattern, std::move(handler));
}

SubscriptionHandler MessageBusClient::sessionFilter(SubscriptionHandler handler) const {
    if (sessionId_ == 0) return handler;
    return [session = sessionId_, handler = std::move(handler)](std::shared_ptr<Message> message) -> uint32_t {
        if (message) {
            const MessageHeader* const header = message->getHeader();
            if (MessageHeader::getExtension(header, MessageHeader::kCurrentVersion) && header->sessionId != 0 &&
                header->sessionId != session)
                return MODULE_STATUS_SUCCESS;
        }
        return handler(std::move(message));
    };
}

uint32_t MessageBusClient::unsubscribe(const std::wstring& alias) {
    std::unique_lock<std::mutex> lock(subscriptionLock_);
    const auto found = subscriptions_.find(alias);
    if (found == subscriptions_.end()) {
        lock.unlock();
        LOG_AT(ETWLogging::kSeverityWarning, L"Subscription not found. Alias: %ls.", alias.c_str());
        return MODULE_STATUS_SUCCESS;
    }
    // The records move out whole, so every context stays where the bus knows it until the release below.
    const SubscriptionSet removed = std::move(found->second);
    subscriptions_.erase(found);
    lock.unlock();
    release(removed);
    return MODULE_STATUS_SUCCESS;
}

}  // namespace Orvan
