// Replies: waiting with the deadline fixed at creation, the outcomes of the promise, and a status that moves once.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <limits>
#include <thread>

#include "clients/messagebus/Reply.h"
#include "clients/support/PerfTimer.h"

namespace {

using Orvan::Reply;
using Orvan::ReplyImpl;
using Promise = std::promise<std::shared_ptr<Orvan::Message>>;

constexpr uint64_t kClockStep = 16;  // the interrupt-time clock's step under Wine

std::shared_ptr<Reply> Make(Promise& promise, uint64_t timeout) { return ReplyImpl::create(promise.get_future(), timeout); }

std::exception_ptr FutureError(int value) {
    return std::make_exception_ptr(std::future_error(static_cast<std::future_errc>(value)));
}

// Fulfils the promise after a while from another thread (the bus's threads do this for real).
class LateAnswer {
public:
    LateAnswer(Promise& promise, unsigned milliseconds)
        : thread_([&promise, milliseconds] {
              Sleep(milliseconds);
              promise.set_value(Orvan::createMessage(L"late", L"s", L""));
          }) {}
    ~LateAnswer() { thread_.join(); }

private:
    std::thread thread_;
};

TEST(ReplyTest, OutcomesOfThePromise) {
    const struct {
        const char* what;
        void (*fulfil)(Promise&);
        uint32_t status;
    } cases[] = {
        {"message", [](Promise& p) { p.set_value(Orvan::createMessage(L"r", L"s", L"d")); }, Reply::kReceived},
        {"empty message", [](Promise& p) { p.set_value(nullptr); }, Reply::kInvalid},
        {"bus time-out", [](Promise& p) { p.set_exception(FutureError(Reply::kTimeoutErrorValue)); }, Reply::kTimedOut},
        {"other failure", [](Promise& p) { p.set_exception(FutureError(Reply::kFailureErrorValue)); }, Reply::kInvalid},
        {"broken promise", [](Promise& p) { Promise().swap(p); }, Reply::kInvalid},
    };
    for (const auto& c : cases) {
        Promise promise;
        const auto reply = Make(promise, 5000);
        EXPECT_EQ(Reply::kPending, reply->getStatus()) << c.what;
        EXPECT_FALSE(reply->getMessage());
        c.fulfil(promise);
        EXPECT_EQ(c.status, reply->wait()) << c.what;
        EXPECT_EQ(c.status, reply->getStatus()) << c.what;
        EXPECT_EQ(c.status == Reply::kReceived, static_cast<bool>(reply->getMessage())) << c.what;
    }
}

TEST(ReplyTest, AFutureWithoutStateIsInvalidAtOnce) {
    ReplyImpl wait({}, 5000);
    EXPECT_EQ(Reply::kInvalid, wait.wait());
    ReplyImpl waitFor({}, 5000);
    EXPECT_EQ(Reply::kInvalid, waitFor.waitFor(10));
}

TEST(ReplyTest, NoReplyEndsTwoAfterTheTimeOutPlusTheMargin) {
    Promise promise;
    const uint64_t created = Orvan::internal::unbiasedMilliseconds();
    const auto reply = Make(promise, 200);
    EXPECT_EQ(Reply::kTimedOut, reply->wait());
    EXPECT_GE(Orvan::internal::unbiasedMilliseconds() - created, 1200 - kClockStep);
    EXPECT_EQ(Reply::kTimedOut, reply->wait());
}

TEST(ReplyTest, ShortWaitForLeavesItPendingAndALaterWaitStillSucceeds) {
    Promise promise;
    const auto reply = Make(promise, 5000);
    LateAnswer answer(promise, 150);
    EXPECT_EQ(Reply::kPending, reply->waitFor(10));
    EXPECT_EQ(Reply::kReceived, reply->wait());
    EXPECT_EQ(L"late", reply->getMessage()->getName());
}

TEST(ReplyTest, AFinishedStatusNeverMovesAgain) {
    Promise received;
    const auto first = Make(received, 5000);
    received.set_value(Orvan::createMessage(L"r", L"s", L""));
    EXPECT_EQ(Reply::kReceived, first->wait());
    EXPECT_EQ(Reply::kReceived, first->waitFor(10));  // the future is consumed by now
    EXPECT_TRUE(first->getMessage());

    Promise late;
    const auto second = Make(late, 0);
    EXPECT_EQ(Reply::kTimedOut, second->wait());
    late.set_value(Orvan::createMessage(L"too late", L"s", L""));
    EXPECT_EQ(Reply::kTimedOut, second->waitFor(10));
    EXPECT_EQ(Reply::kTimedOut, second->wait());
    EXPECT_FALSE(second->getMessage());
}

TEST(ReplyTest, HugeTimeOutsNeitherWrapTheDeadlineNorTheWait) {
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    for (const uint64_t timeout : {max, max - 500, max / 2}) {
        Promise promise;
        const auto reply = Make(promise, timeout);
        LateAnswer answer(promise, 1600);  // later than any deadline a wrapped sum would give
        EXPECT_EQ(Reply::kReceived, reply->wait()) << timeout;
    }
    Promise promise;
    const auto reply = Make(promise, 5000);
    LateAnswer answer(promise, 100);
    EXPECT_EQ(Reply::kReceived, reply->waitFor(max));
}

}  // namespace
