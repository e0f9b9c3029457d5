#pragma once
// The answer to a request on the message bus. The reply message arrives later on a bus thread and fulfils a
// promise; ReplyImpl waits on the matching future until a deadline fixed at creation (time-out + 1000 ms on the
// unbiased interrupt-time clock) and keeps the outcome as a status that moves once from pending:
//   1 pending, 0 reply received, 2 not answered in time, 3 no usable reply (broken or failed promise, empty message).
// A Reply is used by one thread; it may outlive its client (the promise then breaks: status 3).
#include <cstdint>
#include <future>
#include <memory>

#include "clients/messagebus/Message.h"

namespace Orvan {

class Reply {
public:
    static constexpr uint32_t kReceived = 0;
    static constexpr uint32_t kPending = 1;
    static constexpr uint32_t kTimedOut = 2;
    static constexpr uint32_t kInvalid = 3;
    // The error values of the std::future_error a failed reply leaves in the promise: the bus's time-out, and any
    // other failure.
    static constexpr int kTimeoutErrorValue = 105;
    static constexpr int kFailureErrorValue = 120;

    virtual ~Reply() = default;
    virtual uint32_t getStatus() = 0;
    // The message when the status is 0, else empty. Never waits.
    virtual std::shared_ptr<Message> getMessage() = 0;
    // Waits until the reply or the deadline; a finished status is returned unchanged.
    virtual uint32_t wait() = 0;
    // Waits at most `milliseconds`; still pending when nothing arrived. A finished status is returned unchanged.
    virtual uint32_t waitFor(const uint64_t& milliseconds) = 0;
};

class ReplyImpl : public Reply {
public:
    ReplyImpl(std::future<std::shared_ptr<Message>> future, const uint64_t& timeoutMs);
    static std::shared_ptr<ReplyImpl> create(std::future<std::shared_ptr<Message>> future, const uint64_t& timeoutMs);

    uint32_t getStatus() override;
    std::shared_ptr<Message> getMessage() override;
    uint32_t wait() override;
    uint32_t waitFor(const uint64_t& milliseconds) override;

    // Waits until ready or the deadline, then takes the value: 0, 2 or 3.
    uint32_t getReplyMessage();

    // The longest single wait on the future; longer waits are made of several (the library's clock sums must not
    // overflow).
    static constexpr uint64_t kLongestWaitMs = 24ull * 60 * 60 * 1000;

private:
    uint32_t status_ = kPending;
    std::shared_ptr<Message> message_;
    std::future<std::shared_ptr<Message>> future_;
    uint64_t deadline_;
};

}  // namespace Orvan
