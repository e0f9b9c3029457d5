// The client against the bus double: a real broker with worker threads, a synchronous mode, name and pattern
// matching, replies, older headers, sessions and failures. Every test ends with nothing left on the bus.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "clients/support/ModuleStatus.h"
#include "clients/support/PerfTimer.h"
#include "foundation/basalt/OwnedHandle.h"
#include "tests/clients/messagebus/BusDoubleFixture.h"

namespace {

using orvantest::BusDoubleTest;
using orvantest::Collected;
using Orvan::Message;

constexpr uint64_t kClockStep = 16;

// The bus beneath a client, with an event set as soon as a subscription's release begins.
class ReleaseWatch : public Orvan::MessageBusShim {
public:
    explicit ReleaseWatch(std::shared_ptr<Orvan::MessageBusShim> bus) : bus_(std::move(bus)) {}
    uint32_t publish(const std::shared_ptr<Message>& message, bool alternate) override {
        return bus_->publish(message, alternate);
    }
    uint32_t request(const std::shared_ptr<Message>& message, uint64_t index, void* context, uint64_t timeoutMs,
                     bool alternate) override {
        return bus_->request(message, index, context, timeoutMs, alternate);
    }
    void unregisterReplyCallback() override { bus_->unregisterReplyCallback(); }
    uint32_t subscribe(const std::wstring& name, void* context) override { return bus_->subscribe(name, context); }
    uint32_t subscribeFilter(const std::wstring& pattern, void* context) override {
        return bus_->subscribeFilter(pattern, context);
    }
    void releaseSubscription(uint32_t id) override {
        SetEvent(releasing.Get());
        bus_->releaseSubscription(id);
    }

    const Basalt::KernelHandle releasing{CreateEventW(nullptr, TRUE, FALSE, nullptr)};

private:
    std::shared_ptr<Orvan::MessageBusShim> bus_;
};

// What another thread finishes. Threads caught in a deadlock hold locks that nothing can take back: a wait that runs
// out reports it and ends the program, so a hang shows as a failed run instead of a stuck one.
template <class T>
T Await(std::future<T>& outcome, const char* what) {
    if (outcome.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << what << " did not finish: a deadlock";
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    return outcome.get();
}

TEST_F(BusDoubleTest, WorkersRunFromTheFirstOpenToTheLastClose) {
    EXPECT_EQ(0u, workers());
    auto first = Client();
    EXPECT_EQ(2u, workers());
    auto second = Client();
    EXPECT_EQ(2u, openHandles());
    first.reset();
    EXPECT_EQ(2u, workers());
    second.reset();
    EXPECT_EQ(0u, workers());
}

TEST_F(BusDoubleTest, PublishReachesExactNamesAndPatternsOnAWorkerThread) {
    auto publisher = Client();
    auto subscriber = Client();
    Collected exact, otherCase, pattern, anchored;
    ASSERT_EQ(0u, subscriber->subscribe(L"Core.OOBE.OOBEComplete", exact.Handler()));
    ASSERT_EQ(0u, subscriber->subscribe(L"core.oobe.oobecomplete", otherCase.Handler()));
    ASSERT_EQ(0u, subscriber->subscribeFilter(L"OOBE\\.OOBE", pattern.Handler()));
    ASSERT_EQ(0u, subscriber->subscribeFilter(L"^OOBE", anchored.Handler()));
    ASSERT_EQ(0u, publisher->publish(Orvan::createMessage(L"Core.OOBE.OOBEComplete", L"welkin", L"{\"a\":1}")));
    Idle();
    ASSERT_EQ(1u, exact.Messages().size());
    EXPECT_TRUE(otherCase.Messages().empty());
    EXPECT_EQ(1u, pattern.Messages().size());
    EXPECT_TRUE(anchored.Messages().empty());
    EXPECT_NE(GetCurrentThreadId(), exact.Threads()[0]);
    // The bus overwrote its buffers after the callback: what the handler kept is the client's own copy.
    const auto message = exact.Messages()[0];
    EXPECT_EQ(L"Core.OOBE.OOBEComplete", message->getName());
    EXPECT_EQ(L"welkin", message->getSender());
    EXPECT_EQ(L"{\"a\":1}", message->getData());
    EXPECT_EQ(170u + 14u, message->getHeader()->totalSize);

    const auto published = Journal("publish");
    ASSERT_EQ(1u, published.size());
    EXPECT_NE(std::string::npos, published[0].find("\ttotalOk=1\t")) << published[0];
}

TEST_F(BusDoubleTest, AReplyPublishedAsAMessageGoesOutTwice) {
    auto client = Client();
    Collected seen;
    ASSERT_EQ(0u, client->subscribe(L"Answer", seen.Handler()));
    auto reply = Orvan::createMessage(L"Answer", L"me", L"");
    reply->getHeader()->flags = 1;
    reply->getHeader()->replyCorrelation = 9;
    ASSERT_EQ(0u, client->publish(reply));
    Idle();
    const auto lines = Journal("publish");
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("\tflags=0x11\tcorrelation=9\t")) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find("\tflags=0x10\tcorrelation=0\t")) << lines[1];
    EXPECT_EQ(2u, seen.Messages().size());
}

TEST_F(BusDoubleTest, RefusedAndInvalidSubscriptions) {
    Configure(L"refuse.subscribe=Refused.Name;refuse.filter=Refused\\..*");
    auto client = Client();
    auto ignore = [](std::shared_ptr<Message>) { return 0u; };
    EXPECT_EQ(0x80000002u, client->subscribe(L"Refused.Name", ignore));
    EXPECT_EQ(0x80000002u, client->subscribeFilter(L"Refused\\..*", ignore));
    EXPECT_EQ(0x80000008u, client->subscribeFilter(L"(", ignore));
    EXPECT_EQ(0u, subscriptions());
    EXPECT_EQ(0u, client->subscribe(L"Fine", ignore));
    EXPECT_EQ(1u, subscriptions());
    EXPECT_EQ(0u, client->unsubscribe(L"Fine"));
    EXPECT_EQ(0u, subscriptions());
}

TEST_F(BusDoubleTest, RequestGetsItsReplyFromAWorker) {
    auto client = Client();
    std::shared_ptr<Orvan::Reply> reply;
    ASSERT_EQ(0u, client->request(Orvan::createMessage(L"Echo", L"me", L"ping"), reply, 5000));
    ASSERT_EQ(0u, reply->wait());
    EXPECT_EQ(L"Echo.Reply", reply->getMessage()->getName());
    EXPECT_EQ(L"ping", reply->getMessage()->getData());
    EXPECT_EQ(1u, Orvan::MessageHeader::testFlag(reply->getMessage()->getHeader(), 0));

    std::atomic<DWORD> thread{0};
    std::atomic<uint32_t> status{99};
    ASSERT_EQ(0u, client->requestAlternate(Orvan::createMessage(L"Echo", L"me", L"pong"),
                                           [&](std::shared_ptr<Orvan::Reply> r) {
                                               status = r->getStatus();
                                               thread = GetCurrentThreadId();
                                           },
                                           5000));
    Idle();
    EXPECT_EQ(0u, status.load());
    EXPECT_NE(GetCurrentThreadId(), thread.load());
    EXPECT_EQ(1u, Journal("requestAlternate").size());
}

TEST_F(BusDoubleTest, SynchronousBusCallsBackInsideTheCallWithoutDeadlock) {
    Configure(L"mode=sync");
    auto client = Client();
    std::shared_ptr<Orvan::Reply> reply;
    ASSERT_EQ(0u, client->request(Orvan::createMessage(L"Echo", L"me", L"now"), reply, 5000));
    EXPECT_EQ(0u, reply->waitFor(0));  // already answered when request returned

    // A handler that uses the client from inside a delivery made on the publisher's own thread.
    Collected seen;
    std::atomic<uint32_t> inner{99};
    ASSERT_EQ(0u, client->subscribe(L"Outer", L"self", [&](std::shared_ptr<Message> m) {
        seen.Add(m);
        inner = client->publish(Orvan::createMessage(L"Inner", L"me", L""));
        return client->unsubscribe(L"self");
    }));
    ASSERT_EQ(0u, client->subscribe(L"Inner", seen.Handler()));
    ASSERT_EQ(0u, client->publish(Orvan::createMessage(L"Outer", L"me", L"")));
    EXPECT_EQ(0u, inner.load());
    EXPECT_EQ((std::vector<std::wstring>{L"Outer", L"Inner"}), seen.Names());
    EXPECT_EQ((std::vector<DWORD>{GetCurrentThreadId(), GetCurrentThreadId()}), seen.Threads());
    EXPECT_EQ(1u, subscriptions());
}

TEST_F(BusDoubleTest, ReplyOutcomes) {
    const struct {
        const wchar_t* settings;
        uint64_t timeout;
        uint32_t requestStatus;
        uint32_t replyStatus;
    } cases[] = {
        {L"reply=timeout", 50, 0, 2},
        {L"reply=fail;reply.status=0x80000006", 5000, 0, 3},
        {L"reply=echo;reply.delay=400", 50, 0, 2},
        {L"reply=echo;reply.delay=50", 5000, 0, 0},
        {L"refuse.request=Echo", 5000, 0x8000000E, 1},
        {L"fail.request=0x80000009", 5000, 0x80000009, 1},
    };
    for (const auto& c : cases) {
        reset();
        Configure(c.settings);
        auto client = Client();
        std::shared_ptr<Orvan::Reply> reply;
        EXPECT_EQ(c.requestStatus, client->request(Orvan::createMessage(L"Echo", L"me", L""), reply, c.timeout))
            << c.settings;
        if (c.requestStatus == 0) {
            EXPECT_EQ(c.replyStatus, reply->wait()) << c.settings;
        }
        Idle();
    }
}

TEST_F(BusDoubleTest, ABusThatNeverAnswersEndsAtTheDeadline) {
    Configure(L"reply=none");
    auto client = Client();
    std::shared_ptr<Orvan::Reply> reply;
    const uint64_t start = Orvan::internal::unbiasedMilliseconds();
    ASSERT_EQ(0u, client->request(Orvan::createMessage(L"Silent", L"me", L""), reply, 100));
    EXPECT_EQ(2u, reply->wait());
    const uint64_t waited = Orvan::internal::unbiasedMilliseconds() - start;
    EXPECT_GE(waited, 1100 - kClockStep);
    EXPECT_LT(waited, 1100 + 2000);
}

TEST_F(BusDoubleTest, OlderHeadersArriveUpgradedAndSessionsAreFiltered) {
    Configure(L"header.version=1");
    auto client = Client(7);
    Collected plain, inSession;
    ASSERT_EQ(0u, client->subscribe(L"Note", plain.Handler()));
    ASSERT_EQ(0u, client->subscribeInSession(L"Note", L"session", inSession.Handler()));
    ASSERT_EQ(0u, client->publish(Orvan::createMessage(L"Note", L"me", L"abc")));
    Idle();
    ASSERT_EQ(1u, plain.Messages().size());
    const Orvan::MessageHeader* header = plain.Messages()[0]->getHeader();
    EXPECT_EQ(2, header->version);
    EXPECT_EQ(108u + 2 * 9 + 6, header->totalSize);
    EXPECT_EQ(11, header->extensionType);

    for (const uint32_t session : {0u, 7u, 8u}) ASSERT_EQ(0u, inject(L"Note", L"other", L"", session, 2));
    Idle();
    std::vector<uint32_t> sessions;
    for (const auto& m : inSession.Messages()) sessions.push_back(m->getHeader()->sessionId);
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 7}), sessions);  // the published one, then injected 0 and 7
    EXPECT_EQ(4u, plain.Messages().size());
}

TEST_F(BusDoubleTest, SessionIdsStampedByTheBusReachTheFilter) {
    Configure(L"session=8");
    auto client = Client(7);
    Collected inSession;
    ASSERT_EQ(0u, client->subscribeInSession(L"Note", inSession.Handler()));
    ASSERT_EQ(0u, client->publish(Orvan::createMessage(L"Note", L"me", L"")));
    Idle();
    EXPECT_TRUE(inSession.Messages().empty());
    EXPECT_EQ(1u, Journal("deliver").size());
}

TEST_F(BusDoubleTest, DestroyingTheClientWaitsForARunningDelivery) {
    auto publisher = Client();
    auto subscriber = Client();
    std::atomic<bool> started{false}, finished{false};
    ASSERT_EQ(0u, subscriber->subscribe(L"Slow", [&](std::shared_ptr<Message>) {
        started = true;
        Sleep(300);
        finished = true;
        return 0u;
    }));
    ASSERT_EQ(0u, publisher->publish(Orvan::createMessage(L"Slow", L"me", L"")));
    while (!started) Sleep(5);
    subscriber.reset();
    EXPECT_TRUE(finished.load());
    ASSERT_EQ(0u, publisher->publish(Orvan::createMessage(L"Slow", L"me", L"")));
    Idle();
    EXPECT_EQ(1u, Journal("deliver").size());
}

TEST_F(BusDoubleTest, AHandlerThatCallsTheClientWhileItsSubscriptionIsReleasedFinishes) {
    constexpr DWORD kHandlerGraceMs = 500;
    enum class Owner { Unsubscribes, Destroys, UnsubscribesInAnotherDelivery };
    enum class Call { Subscribe, SubscribeFilter, Unsubscribe };
    const struct {
        Owner owner;
        Call call;
        uint32_t result;  // of the handler's call
    } cases[] = {
        {Owner::Unsubscribes, Call::Subscribe, 0},
        {Owner::Unsubscribes, Call::SubscribeFilter, 0},
        {Owner::Unsubscribes, Call::Unsubscribe, 0},
        {Owner::Destroys, Call::Subscribe, 0x80000002},  // the client is going: refused
        {Owner::Destroys, Call::SubscribeFilter, 0x80000002},
        {Owner::Destroys, Call::Unsubscribe, 0},
        {Owner::UnsubscribesInAnotherDelivery, Call::Subscribe, 0},
        {Owner::UnsubscribesInAnotherDelivery, Call::SubscribeFilter, 0},
        {Owner::UnsubscribesInAnotherDelivery, Call::Unsubscribe, 0},
    };
    const auto ignore = [](std::shared_ptr<Message>) { return 0u; };
    for (const auto& c : cases) {
        const auto watch = std::make_shared<ReleaseWatch>(Lib());
        auto client = Client(watch);
        Orvan::MessageBus* const bus = client.get();
        std::promise<void> entered;
        std::promise<uint32_t> called;
        std::promise<bool> ownerDone;  // whether the handler had returned by then
        std::atomic<bool> returned{false};
        // Set once the owner has seen whether the handler had returned: until then the handler stays in its
        // delivery (for a grace time that a release which waits for it runs out), so a release that does not wait
        // is seen returning first every time.
        const Basalt::KernelHandle ownerLooked(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        const auto ownerReturns = [&] {
            const bool handlerReturned = returned.load();
            SetEvent(ownerLooked.Get());
            ownerDone.set_value(handlerReturned);
        };
        auto enteredFuture = entered.get_future();
        auto calledFuture = called.get_future();
        auto ownerFuture = ownerDone.get_future();
        ASSERT_EQ(0u, client->subscribe(L"Busy", L"busy", [&](std::shared_ptr<Message>) {
            entered.set_value();
            WaitForSingleObject(watch->releasing.Get(), 10000);
            called.set_value(c.call == Call::Subscribe         ? bus->subscribe(L"Later", ignore)
                             : c.call == Call::SubscribeFilter ? bus->subscribeFilter(L"^Later$", ignore)
                                                               : bus->unsubscribe(L"busy"));
            WaitForSingleObject(ownerLooked.Get(), kHandlerGraceMs);
            returned = true;
            return 0u;
        }));
        ASSERT_EQ(0u, client->subscribe(L"Trigger", [&](std::shared_ptr<Message>) {
            bus->unsubscribe(L"busy");
            ownerReturns();
            return 0u;
        }));
        ASSERT_EQ(0u, client->publish(Orvan::createMessage(L"Busy", L"me", L"")));
        Await(enteredFuture, "the delivery");
        std::thread owner;
        if (c.owner == Owner::UnsubscribesInAnotherDelivery) {
            ASSERT_EQ(0u, client->publish(Orvan::createMessage(L"Trigger", L"me", L"")));
        } else {
            owner = std::thread([&] {
                if (c.owner == Owner::Unsubscribes)
                    bus->unsubscribe(L"busy");
                else
                    client.reset();
                ownerReturns();
            });
        }
        // The release waited for the running delivery, and its handler's call went through meanwhile.
        EXPECT_TRUE(Await(ownerFuture, "the owner's release")) << static_cast<int>(c.owner);
        EXPECT_EQ(c.result, Await(calledFuture, "the handler's call"))
            << static_cast<int>(c.owner) << " " << static_cast<int>(c.call);
        if (owner.joinable()) owner.join();
        client.reset();
        Idle();
        EXPECT_EQ(0u, subscriptions());
    }
}

TEST_F(BusDoubleTest, AHandlerThatEndsItsOwnSubscriptionLivesUntilItReturns) {
    struct Probe {
        Orvan::MessageBus* bus = nullptr;
        std::atomic<bool> sentinelGone{false};
        std::promise<bool> aliveAfterUnsubscribe;
    };
    struct Sentinel {
        explicit Sentinel(Probe* watcher) : probe(watcher) {}
        ~Sentinel() { probe->sentinelGone = true; }
        Probe* probe;
    };
    for (const wchar_t* mode : {L"mode=async", L"mode=sync"}) {
        Configure(mode);
        auto client = Client();
        Probe probe;
        probe.bus = client.get();
        auto alive = probe.aliveAfterUnsubscribe.get_future();
        auto sentinel = std::make_shared<Sentinel>(&probe);
        auto handler = [sentinel = std::move(sentinel), &probe](std::shared_ptr<Message>) {
            Probe* const own = &probe;  // kept on the stack: nothing of the handler is read after unsubscribe
            own->bus->unsubscribe(L"once");
            own->aliveAfterUnsubscribe.set_value(!own->sentinelGone.load());
            return 0u;
        };
        ASSERT_EQ(0u, client->subscribe(L"Once", L"once", std::move(handler)));
        ASSERT_EQ(0u, client->publish(Orvan::createMessage(L"Once", L"me", L"")));
        EXPECT_TRUE(Await(alive, "the handler")) << mode;
        Idle();
        EXPECT_TRUE(probe.sentinelGone.load()) << mode;  // freed once it returned
        ASSERT_EQ(0u, client->publish(Orvan::createMessage(L"Once", L"me", L"")));
        Idle();
        EXPECT_EQ(0u, subscriptions()) << mode;
    }
    EXPECT_EQ(2u, Journal("deliver").size());
}

TEST_F(BusDoubleTest, LibraryFailuresThrowAndLeaveNothingOpen) {
    const struct {
        const wchar_t* settings;
        const char* what;
    } cases[] = {
        {L"fail.create=1", "Failed to get message bus functions object"},
        {L"fail.open=0x80000002", "Failed to get message bus handle"},
    };
    for (const auto& c : cases) {
        reset();
        Configure(c.settings);
        try {
            Orvan::MessageBusLib lib(library);
            ADD_FAILURE() << c.what;
        } catch (const Orvan::ModuleException& error) {
            EXPECT_STREQ(c.what, error.what());
        }
        EXPECT_EQ(0u, openHandles());
    }
    reset();
}

}  // namespace
