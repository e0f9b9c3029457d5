#include <chrono>
#include <limits>
#include <thread>

#include "clients/messagebus/Reply.h"
#include "clients/support/PerfTimer.h"
#include "foundation/logging/LogSite.h"

namespace Orvan {

namespace {

constexpr uint64_t kDeadlineMarginMs = 1000;

// a + b, held at the largest value instead of wrapping round.
uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// A blocked wait on a future costs several kernel round trips here (the future's mutex and condition variable, the
// waker holding the mutex while it wakes the waiter): more than a local bus takes to answer. A reply about to arrive
// is polled for first, for a bounded time, the processor yielded between polls.
constexpr std::chrono::microseconds kPollingTime{500};

void pollBriefly(const std::future<std::shared_ptr<Message>>& future) {
    const auto until = std::chrono::steady_clock::now() + kPollingTime;
    while (future.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
}

std::future_status waitOn(std::future<std::shared_ptr<Message>>& future, uint64_t milliseconds) {
    const uint64_t bounded = milliseconds < ReplyImpl::kLongestWaitMs ? milliseconds : ReplyImpl::kLongestWaitMs;
    return future.wait_for(std::chrono::milliseconds(static_cast<int64_t>(bounded)));
}

}  // namespace

ReplyImpl::ReplyImpl(std::future<std::shared_ptr<Message>> future, const uint64_t& timeoutMs)
    : future_(std::move(future)),
      deadline_(saturatingAdd(saturatingAdd(internal::unbiasedMilliseconds(), kDeadlineMarginMs), timeoutMs)) {}

std::shared_ptr<ReplyImpl> ReplyImpl::create(std::future<std::shared_ptr<Message>> future,
                                             const uint64_t& timeoutMs) {
    return std::make_shared<ReplyImpl>(std::move(future), timeoutMs);
}

uint32_t ReplyImpl::getStatus() { return status_; }

std::shared_ptr<Message> ReplyImpl::getMessage() { return status_ == kReceived ? message_ : nullptr; }

uint32_t ReplyImpl::getReplyMessage() {
    if (!future_.valid()) {
        LOG_AT(ETWLogging::kSeverityError, L"Reply future is in an invalid state. Returning.");
        return kInvalid;
    }
    pollBriefly(future_);
    while (future_.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        const uint64_t now = internal::unbiasedMilliseconds();
        if (now > deadline_) {
            LOG_AT(ETWLogging::kSeverityError, L"Reply future did not get fulfilled on time. Returning.");
            return kTimedOut;
        }
        waitOn(future_, deadline_ - now);
    }
    try {
        message_ = future_.get();
        return message_ ? kReceived : kInvalid;
    } catch (const std::future_error& error) {
        return error.code().value() == kTimeoutErrorValue ? kTimedOut : kInvalid;
    } catch (...) {
        return kInvalid;
    }
}

uint32_t ReplyImpl::wait() {
    if (status_ != kPending) return status_;
    status_ = getReplyMessage();
    return status_;
}

uint32_t ReplyImpl::waitFor(const uint64_t& milliseconds) {
    // The status moves once: a consumed future must not turn a finished reply into another outcome.
    if (status_ != kPending) return status_;
    if (!future_.valid()) {
        LOG_AT(ETWLogging::kSeverityError, L"Reply future is in an invalid state. Returning.");
        status_ = kInvalid;
        return status_;
    }
    if (waitOn(future_, milliseconds) != std::future_status::ready) {
        LOG_AT(ETWLogging::kSeverityWarning, L"Reply waitFor timed out. Returning.");
        return status_;
    }
    status_ = getReplyMessage();
    return status_;
}

}  // namespace Orvan
