// The message-bus client over a recording shim: publishing with the non-reply copy, request indexes and replies,
// subscriptions and their failures, the session filter and teardown.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "clients/messagebus/MessageBusClient.h"
#include "clients/support/ModuleStatus.h"
#include "tests/clients/support/SupportFakes.h"
#include "tests/support/RecordingLogger.h"

namespace {

using Orvan::Message;
using Orvan::MessageHeader;

class RecordingShim : public Orvan::MessageBusShim {
public:
    struct Published {
        uint32_t flags;
        uint64_t correlation;
        bool alternate;
    };
    struct Requested {
        uint64_t index;
        void* context;
        uint64_t timeout;
        bool alternate;
    };
    std::vector<Published> published;
    std::deque<uint32_t> publishResults;
    std::vector<Requested> requested;
    std::deque<uint32_t> requestResults;
    uint32_t nextId = 100;
    bool refuseSubscriptions = false;
    std::vector<void*> contexts;
    std::vector<std::string> calls;

    uint32_t publish(const std::shared_ptr<Message>& message, bool alternate) override {
        if (!message) return 0x80000008;
        published.push_back({message->getHeader()->flags, message->getHeader()->replyCorrelation, alternate});
        return Next(publishResults);
    }
    uint32_t request(const std::shared_ptr<Message>& message, uint64_t index, void* context, uint64_t timeout,
                     bool alternate) override {
        if (!message) return 0x80000008;
        requested.push_back({index, context, timeout, alternate});
        return Next(requestResults);
    }
    void unregisterReplyCallback() override { calls.push_back("unregister"); }
    uint32_t subscribe(const std::wstring&, void* context) override { return Subscribed(context); }
    uint32_t subscribeFilter(const std::wstring&, void* context) override { return Subscribed(context); }
    void releaseSubscription(uint32_t id) override { calls.push_back("release " + std::to_string(id)); }

    // Delivers as the library would, to the subscription made n-th.
    uint32_t Deliver(size_t n, const MessageHeader& header, const wchar_t* name = L"n") {
        return Orvan::onBusDelivery(contexts.at(n), &header, name, L"sender", L"data");
    }
    uint32_t Reply(uint64_t index, uint32_t status, const wchar_t* data = L"answer") {
        return Orvan::onBusReply(requested.at(0).context, index, &Orvan::kDefaultMessageHeader,
                                 status ? nullptr : L"reply", status ? nullptr : L"bus", status ? nullptr : data,
                                 status);
    }

private:
    static uint32_t Next(std::deque<uint32_t>& results) {
        if (results.empty()) return 0;
        const uint32_t result = results.front();
        results.pop_front();
        return result;
    }
    uint32_t Subscribed(void* context) {
        if (refuseSubscriptions) return 0;
        contexts.push_back(context);
        return nextId++;
    }
};

class ClientTest : public testsupport::LoggingFixture {
protected:
    std::unique_ptr<Orvan::MessageBusClient> Client(DWORD session = 0, bool found = true) {
        return std::make_unique<Orvan::MessageBusClient>(shim, std::make_shared<orvantest::FixedSession>(session, found));
    }
    std::shared_ptr<Message> MessageWithFlags(uint32_t flags) {
        auto message = Orvan::createMessage(L"Some.Reply", L"s", L"d");
        message->getHeader()->flags = flags;
        message->getHeader()->replyCorrelation = 42;
        return message;
    }
    bool Logged(DWORD severity, const std::wstring& text) {
        for (const auto& e : journal.entries)
            if (e.severity == severity && e.message == text) return true;
        return false;
    }
    std::shared_ptr<RecordingShim> shim = std::make_shared<RecordingShim>();
};

TEST_F(ClientTest, PublishingAnEmptyMessageCallsNothing) {
    auto client = Client();
    EXPECT_EQ(0x80000008u, client->publish(nullptr));
    EXPECT_TRUE(shim->published.empty());
}

TEST_F(ClientTest, AnUncopiedReplyIsAlsoPublishedAsAPlainMessage) {
    const struct {
        uint32_t flags;
        std::vector<uint32_t> sentFlags;
        std::vector<uint64_t> sentCorrelations;
    } cases[] = {
        {0x01, {0x11, 0x10}, {42, 0}},
        {0x09, {0x09}, {42}},
        {0x11, {0x11}, {42}},
        {0x00, {0x00}, {42}},
    };
    for (const auto& c : cases) {
        shim->published.clear();
        auto client = Client();
        EXPECT_EQ(0u, client->publishAlternate(MessageWithFlags(c.flags)));
        std::vector<uint32_t> flags;
        std::vector<uint64_t> correlations;
        for (const auto& p : shim->published) {
            flags.push_back(p.flags);
            correlations.push_back(p.correlation);
            EXPECT_TRUE(p.alternate);
        }
        EXPECT_EQ(c.sentFlags, flags) << c.flags;
        EXPECT_EQ(c.sentCorrelations, correlations) << c.flags;
    }
}

TEST_F(ClientTest, PublishFailuresOfTheFirstAndTheCopy) {
    auto client = Client();
    shim->publishResults = {0x80000002};
    EXPECT_EQ(0x80000002u, client->publish(MessageWithFlags(0x01)));
    EXPECT_EQ(1u, shim->published.size());
    EXPECT_TRUE(Logged(4, L"Failed to publish message. Error code 2147483650."));

    shim->published.clear();
    shim->publishResults = {0, 0x8000000E};
    EXPECT_EQ(0u, client->publish(MessageWithFlags(0x01)));
    EXPECT_EQ(2u, shim->published.size());
    EXPECT_TRUE(Logged(2, L"Failed to publish non-reply copy of the message. Error code 2147483662."));
}

TEST_F(ClientTest, RequestsTakeIndexesInOrderAndAFailedOneUsesItsIndex) {
    auto client = Client();
    const auto message = Orvan::createMessage(L"q", L"s", L"");
    std::shared_ptr<Orvan::Reply> reply;
    shim->requestResults = {0, 0x80000002, 0};
    EXPECT_EQ(0u, client->request(message, reply, 50));
    ASSERT_TRUE(reply);
    std::shared_ptr<Orvan::Reply> refused;
    EXPECT_EQ(0x80000002u, client->requestAlternate(message, refused, 50));
    EXPECT_FALSE(refused);
    EXPECT_EQ(0u, client->request(message, [](std::shared_ptr<Orvan::Reply>) {}, 60));
    ASSERT_EQ(3u, shim->requested.size());
    EXPECT_EQ(0u, shim->requested[0].index);
    EXPECT_EQ(1u, shim->requested[1].index);
    EXPECT_TRUE(shim->requested[1].alternate);
    EXPECT_EQ(2u, shim->requested[2].index);
    EXPECT_EQ(60u, shim->requested[2].timeout);
    EXPECT_EQ(shim->requested[0].context, shim->requested[2].context);
    EXPECT_TRUE(Logged(4, L"Failed to make request. Error code 2147483650."));
    // The refused request left nothing pending: a reply for its index is unknown.
    EXPECT_EQ(0x8000000Au, shim->Reply(1, 0));
    EXPECT_EQ(0x80000008u, client->request(nullptr, reply, 50));
}

TEST_F(ClientTest, RepliesFulfilTheirRequestOnce) {
    auto client = Client();
    const auto message = Orvan::createMessage(L"q", L"s", L"");
    std::shared_ptr<Orvan::Reply> ok, late, failed;
    ASSERT_EQ(0u, client->request(message, ok, 5000));
    ASSERT_EQ(0u, client->request(message, late, 5000));
    ASSERT_EQ(0u, client->request(message, failed, 5000));
    EXPECT_EQ(0u, shim->Reply(0, 0));
    EXPECT_EQ(0u, shim->Reply(1, 0x8000000D));
    EXPECT_EQ(0u, shim->Reply(2, 0x80000002));
    EXPECT_EQ(0x8000000Au, shim->Reply(0, 0));
    EXPECT_TRUE(Logged(2, L"Reply index not found. Returning"));
    EXPECT_EQ(0u, ok->wait());
    EXPECT_EQ(L"answer", ok->getMessage()->getData());
    EXPECT_EQ(2u, late->wait());
    EXPECT_EQ(3u, failed->wait());
}

TEST_F(ClientTest, AsynchronousRequestHandsTheFinishedReplyToItsHandler) {
    auto client = Client();
    std::vector<std::pair<uint32_t, std::wstring>> seen;
    auto handler = [&](std::shared_ptr<Orvan::Reply> reply) {
        seen.emplace_back(reply->getStatus(), reply->getMessage() ? reply->getMessage()->getData() : L"-");
        throw std::runtime_error("handler failures stay in the handler");
    };
    ASSERT_EQ(0u, client->request(Orvan::createMessage(L"q", L"s", L""), handler, 100));
    ASSERT_EQ(0u, client->requestAlternate(Orvan::createMessage(L"q", L"s", L""), handler, 100));
    EXPECT_EQ(0u, shim->Reply(0, 0, L"first"));
    EXPECT_EQ(0u, shim->Reply(1, 0x8000000D));
    EXPECT_EQ((std::vector<std::pair<uint32_t, std::wstring>>{{0, L"first"}, {2, L"-"}}), seen);
}

TEST_F(ClientTest, ARefusedSubscriptionLeavesAnEmptyAlias) {
    auto client = Client();
    shim->refuseSubscriptions = true;
    auto handler = [](std::shared_ptr<Message>) { return 0u; };
    EXPECT_EQ(0x80000002u, client->subscribe(L"name", L"alias", handler));
    EXPECT_TRUE(Logged(4, L"Failed to subscribe. Alias: alias Message name: name"));
    EXPECT_EQ(0x80000002u, client->subscribeFilter(L"na.*", L"alias", handler));
    EXPECT_EQ(0u, client->unsubscribe(L"alias"));
    EXPECT_TRUE(shim->calls.empty());
    EXPECT_EQ(0u, client->unsubscribe(L"alias"));
    EXPECT_TRUE(Logged(2, L"Subscription not found. Alias: alias."));
}

TEST_F(ClientTest, AnInvalidPatternIsRefusedBeforeTheBusIsAsked) {
    auto client = Client();
    EXPECT_EQ(0x80000008u, client->subscribeFilter(L"(", [](std::shared_ptr<Message>) { return 0u; }));
    EXPECT_TRUE(shim->contexts.empty());
    EXPECT_EQ(0u, client->unsubscribe(L"("));
    EXPECT_TRUE(Logged(2, L"Subscription not found. Alias: (."));
}

TEST_F(ClientTest, UnsubscribeReleasesEverySubscriptionOfTheAlias) {
    auto client = Client();
    auto handler = [](std::shared_ptr<Message>) { return 0u; };
    ASSERT_EQ(0u, client->subscribeFilter(L"a.*", L"alias", handler));  // 100
    ASSERT_EQ(0u, client->subscribe(L"a", L"alias", handler));          // 101
    ASSERT_EQ(0u, client->subscribe(L"b", handler));                    // 102, alias "b"
    EXPECT_EQ(0u, client->unsubscribe(L"alias"));
    EXPECT_EQ((std::vector<std::string>{"release 101", "release 100"}), shim->calls);
}

TEST_F(ClientTest, SessionFilterDropsOtherSessionsOnly) {
    auto client = Client(7);
    EXPECT_EQ(7u, client->sessionId());
    std::vector<uint32_t> filtered, plain, filteredPattern;
    auto into = [](std::vector<uint32_t>& seen) {
        return [&seen](std::shared_ptr<Message> m) {
            seen.push_back(m->getHeader()->sessionId);
            return 5u;
        };
    };
    ASSERT_EQ(0u, client->subscribeInSession(L"n", into(filtered)));
    ASSERT_EQ(0u, client->subscribe(L"n", L"plain", into(plain)));
    ASSERT_EQ(0u, client->subscribeFilterInSession(L"n", L"pattern", into(filteredPattern)));
    for (const uint32_t session : {0u, 7u, 8u}) {
        MessageHeader header = Orvan::kDefaultMessageHeader;
        header.sessionId = session;
        const uint32_t dropped = session == 8 ? 0u : 5u;
        EXPECT_EQ(dropped, shim->Deliver(0, header));
        EXPECT_EQ(5u, shim->Deliver(1, header));
        EXPECT_EQ(dropped, shim->Deliver(2, header));
    }
    EXPECT_EQ((std::vector<uint32_t>{0, 7}), filtered);
    EXPECT_EQ((std::vector<uint32_t>{0, 7, 8}), plain);
    EXPECT_EQ((std::vector<uint32_t>{0, 7}), filteredPattern);
}

TEST_F(ClientTest, WithoutASessionIdNothingIsFiltered) {
    auto client = Client(7, false);
    EXPECT_EQ(0u, client->sessionId());
    EXPECT_TRUE(Logged(4, L"Failed to get the session id for process " + std::to_wstring(GetCurrentProcessId()) +
                              L" - defaulting to 0"));
    int seen = 0;
    ASSERT_EQ(0u, client->subscribeInSession(L"n", [&](std::shared_ptr<Message>) { return static_cast<uint32_t>(++seen); }));
    MessageHeader header = Orvan::kDefaultMessageHeader;
    header.sessionId = 8;
    EXPECT_EQ(1u, shim->Deliver(0, header));
}

TEST_F(ClientTest, HandlerExceptionsBecomeUnknownExceptionForTheBus) {
    auto client = Client();
    ASSERT_EQ(0u, client->subscribe(L"n", [](std::shared_ptr<Message>) -> uint32_t { throw 1; }));
    EXPECT_EQ(0x8000000Fu, shim->Deliver(0, Orvan::kDefaultMessageHeader));
}

TEST_F(ClientTest, DestructionReleasesSubscriptionsThenTheReplyCallbackAndBreaksPendingReplies) {
    auto client = Client();
    auto handler = [](std::shared_ptr<Message>) { return 0u; };
    ASSERT_EQ(0u, client->subscribeFilter(L"x.*", L"one", handler));
    ASSERT_EQ(0u, client->subscribe(L"x", L"one", handler));
    std::shared_ptr<Orvan::Reply> pending;
    ASSERT_EQ(0u, client->request(Orvan::createMessage(L"q", L"s", L""), pending, 60000));
    client.reset();
    EXPECT_EQ((std::vector<std::string>{"release 101", "release 100", "unregister"}), shim->calls);
    EXPECT_EQ(3u, pending->wait());  // at once, not after a minute
}

}  // namespace
