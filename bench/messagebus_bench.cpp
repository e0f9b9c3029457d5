// The message-bus client against the bus double, beside the same work done by calling the double's table directly:
// a synchronous request/reply round trip (client: request + Reply::wait; floor: entry 3 and a C callback that sets
// a flag the caller polls for), with the double's worker threads and in its synchronous mode; and publish
// throughput to one subscriber. The double is the unsigned build, loaded without its signature check (the check's own cost is
// trust_check_bench's).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "bench/BenchHarness.h"
#include "clients/messagebus/MessageBusClient.h"
#include "clients/messagebus/MessageBusLib.h"
#include "foundation/basalt/ProcAddress.h"
#include "foundation/basalt/OwnedHandle.h"
#include "tests/doubles/CorluneControl.h"
#include "tests/support/WinePaths.h"

namespace {

class UncheckedDlls : public Orvan::DllAPI {
public:
    bool loadLibrary(const std::wstring& path, HMODULE* module) override {
        *module = LoadLibraryExW(path.c_str(), nullptr, 0);
        return *module != nullptr;
    }
};

class AlwaysSessionOne : public Orvan::ProcessAPI {
public:
    BOOL ProcessIdToSessionId(DWORD, DWORD* session) override {
        *session = 1;
        return TRUE;
    }
};

// The floor's reply: a flag that the bus's callback sets and the caller polls for, the cheapest hand-over there is.
uint32_t SignalReply(void* context, uint64_t, const Orvan::MessageHeader*, const wchar_t*, const wchar_t*,
                     const wchar_t*, uint32_t) {
    static_cast<std::atomic<bool>*>(context)->store(true);
    return 0;
}

std::atomic<uint64_t> g_delivered{0};
uint32_t CountDelivery(void*, const Orvan::MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t*) {
    ++g_delivered;
    return 0;
}

void WaitFor(uint64_t count) {
    while (g_delivered.load() < count) Sleep(0);
}

struct Bus {
    std::shared_ptr<Orvan::SharedLibrary> library;
    const Orvan::MessageBusFunctions* table = nullptr;
    doubles::corlune::Configure configure = nullptr;
    doubles::corlune::Reset reset = nullptr;

    Bus() {
        library = std::make_shared<Orvan::SharedLibrary>(
            Orvan::LibraryLocation{L"Corlune.dll", {testsupport::WindowsPathOf(CORLUNE_UNSIGNED_DIR)}},
            std::make_shared<Orvan::DllLoader>(std::make_shared<UncheckedDlls>()));
        table = static_cast<const Orvan::MessageBusFunctions*>(
            library->getEntryPoints()->CreateObject(Orvan::kMessageBusFunctionsId));
        configure = Basalt::GetProcAddressAs<doubles::corlune::Configure>(library->module(),
                                                                           doubles::corlune::kConfigureExport);
        reset = Basalt::GetProcAddressAs<doubles::corlune::Reset>(library->module(), doubles::corlune::kResetExport);
    }
    std::unique_ptr<Orvan::MessageBusClient> Client() {
        return std::make_unique<Orvan::MessageBusClient>(std::make_shared<Orvan::MessageBusLib>(library),
                                                         std::make_shared<AlwaysSessionOne>());
    }
};

void RoundTrips(Bus& bus, const char* mode) {
    const std::string suffix = std::string(" (") + mode + ")";
    const auto message = Orvan::createMessage(L"Bench.Echo", L"bench", L"{\"name\":\"value\"}");
    const uint64_t timeout = 5000;
    bench::Figures client, direct;
    {
        auto bus_client = bus.Client();
        client = bench::Measure(
            [&](uint64_t n) {
                for (uint64_t i = 0; i < n; ++i) {
                    std::shared_ptr<Orvan::Reply> reply;
                    if (bus_client->request(message, reply, timeout) != 0 || reply->wait() != 0) std::abort();
                }
            },
            200);
    }
    {
        Orvan::BusHandle handle = nullptr;
        bus.table->openBus(&handle);
        std::atomic<bool> answered{false};
        direct = bench::Measure(
            [&](uint64_t n) {
                for (uint64_t i = 0; i < n; ++i) {
                    if (bus.table->request(handle, i, &answered, &SignalReply, message->getHeader(),
                                           message->getName().c_str(), message->getSender().c_str(),
                                           message->getData().c_str(), timeout) != 0)
                        std::abort();
                    while (!answered.exchange(false)) std::this_thread::yield();
                }
            },
            200);
        bus.table->unregisterReplyCallback(handle, &SignalReply);
        bus.table->closeBus(handle);
    }
    bench::Report("request/reply round trip via the client" + suffix, client);
    bench::Report("request/reply round trip on the table (floor)" + suffix, direct);
    bench::ReportValue("client / floor, medians" + suffix, client.medianNs / direct.medianNs, "x");
}

void PublishThroughput(Bus& bus) {
    const uint64_t count = 20000;
    const auto message = Orvan::createMessage(L"Bench.Note", L"bench", L"{\"name\":\"value\"}");
    double clientNs = 0, directNs = 0;
    {
        auto publisher = bus.Client();
        auto subscriber = bus.Client();
        std::atomic<uint64_t> received{0};
        subscriber->subscribe(L"Bench.Note", [&](std::shared_ptr<Orvan::Message>) {
            ++received;
            return 0u;
        });
        const double start = bench::NowNs();
        for (uint64_t i = 0; i < count; ++i) publisher->publish(message);
        while (received.load() < count) Sleep(0);
        clientNs = bench::NowNs() - start;
    }
    {
        Orvan::BusHandle publisherHandle = nullptr, subscriberHandle = nullptr;
        bus.table->openBus(&publisherHandle);
        bus.table->openBus(&subscriberHandle);
        const uint32_t id = bus.table->subscribe(subscriberHandle, nullptr, &CountDelivery, L"Bench.Note");
        g_delivered = 0;
        const double start = bench::NowNs();
        for (uint64_t i = 0; i < count; ++i)
            bus.table->publish(publisherHandle, message->getHeader(), message->getName().c_str(),
                               message->getSender().c_str(), message->getData().c_str());
        WaitFor(count);
        directNs = bench::NowNs() - start;
        bus.table->unsubscribe(subscriberHandle, id);
        bus.table->closeBus(subscriberHandle);
        bus.table->closeBus(publisherHandle);
    }
    bench::ReportValue("publish to one subscriber via the client", count / (clientNs / 1e9), "messages/s");
    bench::ReportValue("publish to one subscriber on the table (floor)", count / (directNs / 1e9), "messages/s");
}

}  // namespace

int wmain() {
    Bus bus;
    if (!bus.table || !bus.configure || !bus.reset) {
        std::fprintf(stderr, "the bus double did not load\n");
        return 1;
    }
    RoundTrips(bus, "bus worker threads");
    bus.configure(L"mode=sync");
    RoundTrips(bus, "synchronous bus");
    bus.reset();
    PublishThroughput(bus);
    return 0;
}
