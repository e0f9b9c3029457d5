#pragma once
// The C interface of the suite's message-bus library: CreateObject(kMessageBusFunctionsId) hands out this table,
// and the library calls back into the two callback kinds below on its own threads. Every entry but openBus takes
// the bus handle first. Strings are NUL-terminated UTF-16; statuses are module statuses (0 = success).
#include <cstdint>

#include "clients/messagebus/Message.h"

namespace Orvan {

inline constexpr uint32_t kMessageBusFunctionsId = 2001000;

using BusHandle = void*;

// context: the subscriber's handler. The strings and the header are valid only during the call.
using BusDeliveryCallback = uint32_t (*)(void* context, const MessageHeader* header, const wchar_t* name,
                                         const wchar_t* sender, const wchar_t* data);
// context: the client's reply function. On a failure status the strings may be null.
using BusReplyCallback = uint32_t (*)(void* context, uint64_t replyIndex, const MessageHeader* header,
                                      const wchar_t* name, const wchar_t* sender, const wchar_t* data,
                                      uint32_t status);

struct MessageBusFunctions {
    uint32_t (*openBus)(BusHandle* handle);
    uint32_t (*closeBus)(BusHandle handle);
    uint32_t (*publish)(BusHandle handle, MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                        const wchar_t* data);
    uint32_t (*request)(BusHandle handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                        MessageHeader* header, const wchar_t* name, const wchar_t* sender, const wchar_t* data,
                        uint64_t timeoutMs);
    // Subscription id; 0 means refused.
    uint32_t (*subscribe)(BusHandle handle, void* context, BusDeliveryCallback callback, const wchar_t* name);
    uint32_t (*subscribeRegex)(BusHandle handle, void* context, BusDeliveryCallback callback,
                               const wchar_t* pattern);
    uint32_t (*unsubscribe)(BusHandle handle, uint32_t subscriptionId);
    uint32_t (*unregisterReplyCallback)(BusHandle handle, BusReplyCallback callback);
    uint32_t (*publishAlternate)(BusHandle handle, MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                                 const wchar_t* data);
    uint32_t (*requestAlternate)(BusHandle handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                                 MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                                 const wchar_t* data, uint64_t timeoutMs);
};
static_assert(sizeof(MessageBusFunctions) == 10 * sizeof(void*), "ten entries, in the library's order");

}  // namespace Orvan
