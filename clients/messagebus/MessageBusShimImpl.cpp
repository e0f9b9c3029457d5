#include "clients/messagebus/MessageBusShimImpl.h"

#include "clients/support/ModuleStatus.h"
#include "foundation/logging/LogSite.h"

namespace Orvan {

namespace {

std::wstring textOf(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

// The message the library handed over, its header copied (an older header upgraded on the way).
std::shared_ptr<Message> rebuild(const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                                 const wchar_t* data) {
    std::shared_ptr<Message> message = createMessage(textOf(name), textOf(sender), textOf(data));
    if (message) MessageHeader::copyFrom(message->getHeader(), header);
    return message;
}

}  // namespace

uint32_t onBusDelivery(void* context, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                       const wchar_t* data) noexcept {
    return runGuarded([&]() -> uint32_t {
        std::shared_ptr<Message> message = rebuild(header, name, sender, data);
        if (!context) return MODULE_STATUS_INVALID_PARAMETER;
        // A handler that ends its own subscription must not free itself while it runs.
        const std::shared_ptr<MessageHandler> handler = *static_cast<const std::shared_ptr<MessageHandler>*>(context);
        return (*handler)(std::move(message));
    });
}

uint32_t onBusReply(void* context, uint64_t replyIndex, const MessageHeader* header, const wchar_t* name,
                    const wchar_t* sender, const wchar_t* data, uint32_t status) noexcept {
    return runGuarded([&]() -> uint32_t {
        std::shared_ptr<Message> message;
        if (status == MODULE_STATUS_SUCCESS) message = rebuild(header, name, sender, data);
        if (!context) return MODULE_STATUS_INVALID_PARAMETER;
        return (*static_cast<ReplyFunction*>(context))(replyIndex, message, status);
    });
}

MessageBusShimImpl::MessageBusShimImpl(BusHandle handle, const MessageBusFunctions* functions)
    : handle_(handle), functions_(functions) {
    if (!handle_) {
        LOG_AT(ETWLogging::kSeverityError, L"Invalid message bus handle. Throwing ModuleException.");
        throw ModuleException("Invalid message bus handle");
    }
    if (!functions_) {
        LOG_AT(ETWLogging::kSeverityError, L"Invalid message bus functions object. Throwing ModuleException.");
        throw ModuleException("Invalid message bus functions object");
    }
}

MessageBusShimImpl::~MessageBusShimImpl() { functions_->unregisterReplyCallback(handle_, &onBusReply); }

uint32_t MessageBusShimImpl::publish(const std::shared_ptr<Message>& message, bool alternate) {
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    const auto entry = alternate ? functions_->publishAlternate : functions_->publish;
    return entry(handle_, message->getHeader(), message->getName().c_str(), message->getSender().c_str(),
                 message->getData().c_str());
}

uint32_t MessageBusShimImpl::request(const std::shared_ptr<Message>& message, uint64_t replyIndex, void* context,
                                     uint64_t timeoutMs, bool alternate) {
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    const auto entry = alternate ? functions_->requestAlternate : functions_->request;
    return entry(handle_, replyIndex, context, &onBusReply, message->getHeader(), message->getName().c_str(),
                 message->getSender().c_str(), message->getData().c_str(), timeoutMs);
}

void MessageBusShimImpl::unregisterReplyCallback() { functions_->unregisterReplyCallback(handle_, &onBusReply); }

uint32_t MessageBusShimImpl::subscribe(const std::wstring& messageName, void* context) {
    return functions_->subscribe(handle_, context, &onBusDelivery, messageName.c_str());
}

uint32_t MessageBusShimImpl::subscribeFilter(const std::wstring& namePattern, void* context) {
    return functions_->subscribeRegex(handle_, context, &onBusDelivery, namePattern.c_str());
}

void MessageBusShimImpl::releaseSubscription(uint32_t subscriptionId) {
    functions_->unsubscribe(handle_, subscriptionId);
}

}  // namespace Orvan
