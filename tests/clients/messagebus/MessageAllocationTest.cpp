// createMessage when allocations fail: a program of its own, since its global allocator can be told to fail and the
// sender-name cache is made only by the first call in the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "clients/messagebus/Message.h"

namespace {

// Allocations this thread may still make before one fails; -1: none fails.
thread_local int t_allocationsBeforeFailure = -1;

}  // namespace

void* operator new(std::size_t size) {
    if (t_allocationsBeforeFailure == 0) {
        t_allocationsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (t_allocationsBeforeFailure > 0) --t_allocationsBeforeFailure;
    void* const block = std::malloc(size != 0 ? size : 1);
    if (!block) throw std::bad_alloc();
    return block;
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

TEST(MessageAllocationTest, EveryFailingAllocationGivesAnEmptyResultAndTheCacheIsMadeLater) {
    const std::wstring name = L"Core.OOBE.OOBEComplete", noSender, data = L"{\"name\":\"value\"}";
    // From the first call on: the first allocations are the cache's, the later ones the message's.
    for (int allowed = 0; allowed < 12; ++allowed) {
        std::shared_ptr<Orvan::Message> message;
        bool threw = false;
        t_allocationsBeforeFailure = allowed;
        try {
            message = Orvan::createMessage(name, noSender, data);
        } catch (...) {
            threw = true;
        }
        t_allocationsBeforeFailure = -1;
        EXPECT_FALSE(threw) << allowed;
        if (message) {
            EXPECT_EQ(Orvan::getOwnModuleFileName(), message->getSender()) << allowed;
        }
    }
    const auto message = Orvan::createMessage(name, noSender, data);
    ASSERT_TRUE(message);
    EXPECT_EQ(L"clients_message_allocation_tests.exe", message->getSender());
}

}  // namespace
