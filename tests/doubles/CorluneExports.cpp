// The exports of the bus double Corlune.dll: the library's four entry points, its table of ten C functions over
// the broker, and the control exports of CorluneControl.h. No C++ exception leaves an export.
#include <windows.h>

#include "tests/doubles/CorluneBroker.h"
#include "tests/doubles/CorluneControl.h"

using doubles::corlune::Broker;
using Orvan::BusDeliveryCallback;
using Orvan::BusHandle;
using Orvan::BusReplyCallback;
using Orvan::MessageHeader;

namespace {

constexpr uint32_t kUnknownException = 0x8000000F;

template <class Function>
uint32_t Guarded(Function&& function) noexcept {
    try {
        return function();
    } catch (...) {
        return kUnknownException;
    }
}

uint32_t OpenBus(BusHandle* handle) {
    return Guarded([&] { return Broker::Instance().Open(handle); });
}
uint32_t CloseBus(BusHandle handle) {
    return Guarded([&] { return Broker::Instance().Close(handle); });
}
uint32_t Publish(BusHandle handle, MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                 const wchar_t* data) {
    return Guarded([&] { return Broker::Instance().Publish("publish", handle, header, name, sender, data); });
}
uint32_t PublishAlternate(BusHandle handle, MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                          const wchar_t* data) {
    return Guarded([&] { return Broker::Instance().Publish("publishAlternate", handle, header, name, sender, data); });
}
uint32_t Request(BusHandle handle, uint64_t index, void* context, BusReplyCallback callback, MessageHeader* header,
                 const wchar_t* name, const wchar_t* sender, const wchar_t* data, uint64_t timeoutMs) {
    return Guarded([&] {
        return Broker::Instance().Request("request", handle, index, context, callback, header, name, sender, data,
                                          timeoutMs);
    });
}
uint32_t RequestAlternate(BusHandle handle, uint64_t index, void* context, BusReplyCallback callback,
                          MessageHeader* header, const wchar_t* name, const wchar_t* sender, const wchar_t* data,
                          uint64_t timeoutMs) {
    return Guarded([&] {
        return Broker::Instance().Request("requestAlternate", handle, index, context, callback, header, name, sender,
                                          data, timeoutMs);
    });
}
uint32_t Subscribe(BusHandle handle, void* context, BusDeliveryCallback callback, const wchar_t* name) {
    // A failed subscription is id 0, also when something throws.
    const uint32_t id =
        Guarded([&] { return Broker::Instance().Subscribe("subscribe", handle, context, callback, name, false); });
    return id == kUnknownException ? 0 : id;
}
uint32_t SubscribeRegex(BusHandle handle, void* context, BusDeliveryCallback callback, const wchar_t* pattern) {
    const uint32_t id = Guarded(
        [&] { return Broker::Instance().Subscribe("subscribeRegex", handle, context, callback, pattern, true); });
    return id == kUnknownException ? 0 : id;
}
uint32_t Unsubscribe(BusHandle handle, uint32_t id) {
    return Guarded([&] { return Broker::Instance().Unsubscribe(handle, id); });
}
uint32_t UnregisterReplyCallback(BusHandle handle, BusReplyCallback callback) {
    return Guarded([&] { return Broker::Instance().UnregisterReplyCallback(handle, callback); });
}

const Orvan::MessageBusFunctions kTable = {
    OpenBus, CloseBus, Publish, Request, Subscribe, SubscribeRegex, Unsubscribe, UnregisterReplyCallback,
    PublishAlternate, RequestAlternate,
};

}  // namespace

extern "C" {

__declspec(dllexport) void* CreateObject(uint32_t id) {
    try {
        Broker& broker = Broker::Instance();
        const bool answered = id == Orvan::kMessageBusFunctionsId && !broker.FailCreate();
        broker.JournalCreate(id, answered);
        return answered ? const_cast<Orvan::MessageBusFunctions*>(&kTable) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

// Present because every service library has them; the client never calls them.
__declspec(dllexport) uint32_t ReleaseObject(void*) { return 0; }
__declspec(dllexport) const wchar_t* GetVersionStr() { return L"2.1.0.0"; }
__declspec(dllexport) uint32_t GetVersionNum() { return 0x02010000; }

__declspec(dllexport) uint32_t CorluneConfigure(const wchar_t* settings) {
    return Guarded([&] { return Broker::Instance().Configure(settings); });
}
__declspec(dllexport) void CorluneReset() {
    Guarded([] {
        Broker::Instance().Reset();
        return 0u;
    });
}
__declspec(dllexport) uint32_t CorluneInjectDelivery(const wchar_t* name, const wchar_t* sender, const wchar_t* data,
                                                     uint32_t sessionId, uint16_t headerVersion) {
    return Guarded([&] { return Broker::Instance().Inject(name, sender, data, sessionId, headerVersion); });
}
__declspec(dllexport) uint32_t CorluneWaitIdle(uint32_t milliseconds) {
    return Guarded([&] { return Broker::Instance().WaitIdle(milliseconds) ? 1u : 0u; });
}
__declspec(dllexport) uint32_t CorluneOpenHandles() {
    return Guarded([] { return Broker::Instance().OpenHandles(); });
}
__declspec(dllexport) uint32_t CorluneSubscriptions() {
    return Guarded([] { return Broker::Instance().Subscriptions(); });
}
__declspec(dllexport) uint32_t CorluneReplyCallbacks() {
    return Guarded([] { return Broker::Instance().ReplyCallbacks(); });
}
__declspec(dllexport) uint32_t CorluneWorkerThreads() {
    return Guarded([] { return Broker::Instance().Workers(); });
}

}  // extern "C"
