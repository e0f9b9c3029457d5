// Mutated message headers of version 1 and 2 (a fixed seed), with hostile name, sender and data texts, handed to
// the client the way the bus library hands over deliveries and replies. Each header sits at the end of a guarded
// page sized as its version says (100 bytes, 108 for version 2), each text ends there with its terminator, so a
// read beyond either crashes. The message a handler or a Reply receives must be exactly what the header rules
// make of the input, and the session filter must drop exactly the messages of other sessions.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "clients/messagebus/MessageBusClient.h"
#include "clients/messagebus/MessageBusShimImpl.h"
#include "clients/support/ModuleStatus.h"
#include "tests/clients/support/SupportFakes.h"
#include "tests/support/GuardedBytes.h"
#include "tests/support/RecordingLogger.h"

namespace {

using Orvan::Message;
using Orvan::MessageHeader;
using Bytes = std::vector<BYTE>;

constexpr unsigned kSeed = 20261210;
constexpr int kInputs = 10000;
constexpr DWORD kOwnSession = 7;
constexpr uint32_t kTimedOutStatus = 0x8000000D;
constexpr uint32_t kUnknownIndexStatus = 0x8000000A;

// Header bytes 100-107 of a header that had none: extension type 11, size 8, any session.
const Bytes kTemplateExtension = {11, 0, 8, 0, 0, 0, 0, 0};

std::wstring OwnFileName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full = path;
    return full.substr(full.find_last_of(L'\\') + 1);
}

uint16_t VersionOf(const Bytes& header) { return static_cast<uint16_t>(header[10] | header[11] << 8); }

// ---- one input -----------------------------------------------------------------------------------------------------

struct Input {
    std::optional<Bytes> header;  // as the library hands it over; none: a null header
    std::optional<std::wstring> name, sender, data;  // none: a null text
};

// The 108 header bytes the rebuilt message must carry.
Bytes ExpectedHeader(const Input& in) {
    Bytes out(reinterpret_cast<const BYTE*>(&Orvan::kDefaultMessageHeader),
              reinterpret_cast<const BYTE*>(&Orvan::kDefaultMessageHeader) + sizeof(MessageHeader));
    if (!in.header) return out;
    const Bytes& h = *in.header;
    if (VersionOf(h) == 2) return Bytes(h.begin(), h.begin() + 108);
    std::copy(h.begin(), h.begin() + 100, out.begin());
    uint32_t total;
    std::memcpy(&total, &out[2], 4);
    total += 8;
    std::memcpy(&out[2], &total, 4);
    out[10] = 2;
    out[11] = 0;
    std::copy(kTemplateExtension.begin(), kTemplateExtension.end(), out.begin() + 100);
    return out;
}

uint32_t SessionOf(const Bytes& header) {
    uint32_t session;
    std::memcpy(&session, &header[104], 4);
    return session;
}

// The input placed where an over-read faults.
class Placed {
public:
    explicit Placed(const Input& in)
        : header_(Guard(in.header ? *in.header : Bytes())), name_(Text(in.name)), sender_(Text(in.sender)),
          data_(Text(in.data)), input_(in) {}

    const MessageHeader* header() const { return input_.header ? header_->as<MessageHeader>() : nullptr; }
    const wchar_t* name() const { return Pointer(name_, input_.name); }
    const wchar_t* sender() const { return Pointer(sender_, input_.sender); }
    const wchar_t* data() const { return Pointer(data_, input_.data); }

private:
    static std::unique_ptr<testsupport::GuardedBytes> Guard(const Bytes& bytes) {
        return std::make_unique<testsupport::GuardedBytes>(bytes);
    }
    static std::unique_ptr<testsupport::GuardedBytes> Text(const std::optional<std::wstring>& text) {
        const std::wstring terminated = text.value_or(L"") + L'\0';
        return std::make_unique<testsupport::GuardedBytes>(terminated.data(), terminated.size() * sizeof(wchar_t));
    }
    static const wchar_t* Pointer(const std::unique_ptr<testsupport::GuardedBytes>& bytes,
                                  const std::optional<std::wstring>& text) {
        return text ? bytes->as<wchar_t>() : nullptr;
    }

    std::unique_ptr<testsupport::GuardedBytes> header_, name_, sender_, data_;
    const Input& input_;
};

// ---- mutations -----------------------------------------------------------------------------------------------------

class Mutator {
public:
    explicit Mutator(unsigned seed) : random_(seed) {}

    std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(random_() % bound); }
    uint32_t Any() { return static_cast<uint32_t>(random_()); }

    Input Next() {
        Input in;
        in.name = Text();
        in.sender = Text();
        in.data = Text();
        if (Below(12) == 0) in.name.reset();
        if (Below(12) == 0) in.sender.reset();
        if (Below(12) == 0) in.data.reset();
        if (Below(20) == 0) return in;  // no header at all
        in.header = Valid(in);
        const std::size_t rounds = 1 + Below(2);
        for (std::size_t i = 0; i < rounds; ++i) Mutate(*in.header);
        // The library's buffer is as long as its version says, now and then with bytes behind it.
        in.header->resize(VersionOf(*in.header) == 2 ? 108 : 100, 0);
        if (Below(8) == 0)
            for (std::size_t n = 1 + Below(16); n > 0; --n) in.header->push_back(static_cast<BYTE>(Any()));
        return in;
    }

private:
    std::wstring Text() {
        std::wstring text;
        const std::size_t length = Below(3) == 0 ? 0 : Below(10) == 0 ? 1000 + Below(4000) : 1 + Below(40);
        for (std::size_t i = 0; i < length; ++i) {
            wchar_t c;
            switch (Below(4)) {
                case 0: c = static_cast<wchar_t>(0xD800 + Below(0x800)); break;  // a lone surrogate
                case 1: c = static_cast<wchar_t>(1 + Below(0xFFFF)); break;
                default: c = static_cast<wchar_t>(L'.' + Below(76)); break;
            }
            text.push_back(c);
        }
        return text;
    }

    Bytes Valid(const Input& in) {
        MessageHeader header = Orvan::kDefaultMessageHeader;
        header.totalSize = Orvan::messageTotalSize(in.name.value_or(L"").size(), in.sender.value_or(L"").size(),
                                                   in.data.value_or(L"").size());
        static const uint32_t kFlags[] = {0, 0x01, 0x09, 0x11, 0x19};
        header.flags = Below(4) ? kFlags[Below(5)] : Any();
        header.replyCorrelation = Below(2) ? 0 : (uint64_t{Any()} << 32 | Any());
        static const uint32_t kSessions[] = {0, kOwnSession, kOwnSession + 1, 1};
        header.sessionId = Below(5) ? kSessions[Below(4)] : Any();
        Bytes bytes(reinterpret_cast<const BYTE*>(&header), reinterpret_cast<const BYTE*>(&header) + sizeof header);
        if (Below(3) == 0) {  // a version-1 header: the first 100 bytes
            bytes.resize(100);
            bytes[10] = 1;
            uint32_t total = header.totalSize - 8;
            std::memcpy(&bytes[2], &total, 4);
        }
        return bytes;
    }

    void Put32(Bytes& h, std::size_t at, uint32_t value) {
        if (at + 4 <= h.size()) std::memcpy(&h[at], &value, 4);
    }

    void Mutate(Bytes& h) {
        switch (Below(6)) {
            case 0:  // bytes flipped, the version included
                for (std::size_t n = 1 + Below(3); n > 0; --n) h[Below(h.size())] ^= static_cast<BYTE>(1 + Below(255));
                break;
            case 1: {  // another version: a version-2 header cut to 100 bytes, a version-1 header given 108
                static const uint16_t kVersions[] = {0, 1, 2, 3, 0x0102, 0xFFFF};
                const uint16_t version = kVersions[Below(6)];
                h[10] = static_cast<BYTE>(version);
                h[11] = static_cast<BYTE>(version >> 8);
                if (version == 2 && h.size() < 108)
                    for (std::size_t k = h.size(); k < 108; ++k) h.push_back(static_cast<BYTE>(Below(2) ? 0 : Any()));
                break;
            }
            case 2: {  // a total size that lies
                static const uint32_t kSizes[] = {0, 8, 0xFFFFFFF8u, 0xFFFFFFFFu, 100, 108};
                Put32(h, 2, Below(2) ? kSizes[Below(6)] : Any());
                break;
            }
            case 3:  // the extension's tag, size and session
                if (h.size() >= 108) {
                    h[100 + Below(4)] = static_cast<BYTE>(Any());
                    Put32(h, 104, Below(2) ? kOwnSession + static_cast<uint32_t>(Below(3)) - 1 : Any());
                }
                break;
            case 4:  // flags and the reply correlation
                Put32(h, 6, Any());
                Put32(h, 92 + 4 * Below(2), Any());
                break;
            default:  // reserved bytes and the unnamed word
                h[Below(2)] = static_cast<BYTE>(Any());
                h[12 + Below(80)] = static_cast<BYTE>(Any());
                break;
        }
    }

    std::mt19937 random_;
};

// ---- the suite -----------------------------------------------------------------------------------------------------

// A shim that keeps what the client hands to the bus: subscription contexts and the reply context.
class CapturingShim : public Orvan::MessageBusShim {
public:
    std::vector<void*> subscriptions;
    void* replyContext = nullptr;
    uint64_t lastIndex = 0;

    uint32_t publish(const std::shared_ptr<Message>&, bool) override { return 0; }
    uint32_t request(const std::shared_ptr<Message>&, uint64_t index, void* context, uint64_t, bool) override {
        replyContext = context;
        lastIndex = index;
        return 0;
    }
    void unregisterReplyCallback() override {}
    uint32_t subscribe(const std::wstring&, void* context) override { return Keep(context); }
    uint32_t subscribeFilter(const std::wstring&, void* context) override { return Keep(context); }
    void releaseSubscription(uint32_t) override {}

private:
    uint32_t Keep(void* context) {
        subscriptions.push_back(context);
        return static_cast<uint32_t>(subscriptions.size());
    }
};

class MessageHeaderMutationTest : public testsupport::LoggingFixture {
protected:
    // The message must be the input's, rebuilt by the rules.
    void ExpectRebuilt(const Input& in, const std::shared_ptr<Message>& message) {
        ASSERT_TRUE(message);
        ASSERT_EQ(in.name.value_or(L""), message->getName());
        const std::wstring sender = in.sender.value_or(L"");
        ASSERT_EQ(sender.empty() ? ownFileName_ : sender, message->getSender());
        ASSERT_EQ(in.data.value_or(L""), message->getData());
        const BYTE* header = reinterpret_cast<const BYTE*>(message->getHeader());
        ASSERT_EQ(ExpectedHeader(in), Bytes(header, header + sizeof(MessageHeader)));
    }

    const std::wstring ownFileName_ = OwnFileName();
};

TEST_F(MessageHeaderMutationTest, DeliveriesCarryTheRebuiltHeaderAndTheSessionFilterDropsOtherSessions) {
    auto shim = std::make_shared<CapturingShim>();
    Orvan::MessageBusClient client(shim, std::make_shared<orvantest::FixedSession>(kOwnSession));
    std::shared_ptr<Message> filtered, plain;
    uint32_t answer = 0;
    ASSERT_EQ(0u, client.subscribeInSession(L"n", [&](std::shared_ptr<Message> m) {
        filtered = std::move(m);
        return answer;
    }));
    ASSERT_EQ(0u, client.subscribe(L"n", [&](std::shared_ptr<Message> m) {
        plain = std::move(m);
        return answer ^ 1;
    }));
    ASSERT_EQ(2u, shim->subscriptions.size());

    Mutator mutator(kSeed);
    int dropped = 0, passed = 0;
    for (int n = 0; n < kInputs; ++n) {
        const Input in = mutator.Next();
        SCOPED_TRACE(testing::Message() << "seed " << kSeed << ", input " << n << ", header "
                                        << (in.header ? testing::PrintToString(*in.header) : "null"));
        const Placed placed(in);
        answer = mutator.Any() & ~1u;
        filtered.reset();
        plain.reset();

        const uint32_t session = SessionOf(ExpectedHeader(in));
        const bool drop = session != 0 && session != kOwnSession;
        ASSERT_EQ(drop ? 0u : answer, Orvan::onBusDelivery(shim->subscriptions[0], placed.header(), placed.name(),
                                                           placed.sender(), placed.data()));
        if (drop) {
            ASSERT_FALSE(filtered);
        } else {
            ExpectRebuilt(in, filtered);
        }
        ASSERT_EQ(answer ^ 1, Orvan::onBusDelivery(shim->subscriptions[1], placed.header(), placed.name(),
                                                   placed.sender(), placed.data()));
        ExpectRebuilt(in, plain);
        ASSERT_EQ(Orvan::MODULE_STATUS_INVALID_PARAMETER,
                  Orvan::onBusDelivery(nullptr, placed.header(), placed.name(), placed.sender(), placed.data()));
        (drop ? dropped : passed)++;
    }
    EXPECT_GT(dropped, kInputs / 20);
    EXPECT_GT(passed, kInputs / 20);
    std::printf("seed %u: %d deliveries dropped by the session filter, %d passed\n", kSeed, dropped, passed);
}

TEST_F(MessageHeaderMutationTest, RepliesCarryTheRebuiltHeaderOrTheirFailure) {
    auto shim = std::make_shared<CapturingShim>();
    Orvan::MessageBusClient client(shim, std::make_shared<orvantest::FixedSession>(kOwnSession));
    Mutator mutator(kSeed + 1);
    const uint64_t timeout = 60000;
    for (int n = 0; n < kInputs; ++n) {
        const Input in = mutator.Next();
        SCOPED_TRACE(testing::Message() << "seed " << kSeed + 1 << ", input " << n << ", header "
                                        << (in.header ? testing::PrintToString(*in.header) : "null"));
        const Placed placed(in);
        std::shared_ptr<Orvan::Reply> reply;
        ASSERT_EQ(0u, client.request(Orvan::createMessage(L"q", L"", L"{}"), reply, timeout));
        ASSERT_TRUE(reply);
        const uint64_t index = shim->lastIndex;

        // A reply for an index nobody asked for, or with no reply function, changes nothing.
        if (mutator.Below(8) == 0) {
            ASSERT_EQ(kUnknownIndexStatus, Orvan::onBusReply(shim->replyContext, index + 1 + mutator.Below(1000),
                                                             placed.header(), placed.name(), placed.sender(),
                                                             placed.data(), 0));
            ASSERT_EQ(Orvan::MODULE_STATUS_INVALID_PARAMETER,
                      Orvan::onBusReply(nullptr, index, placed.header(), placed.name(), placed.sender(),
                                        placed.data(), 0));
            ASSERT_EQ(Orvan::Reply::kPending, reply->waitFor(0));
        }

        static const uint32_t kFailures[] = {kTimedOutStatus, 0x80000002, 0x8000000F, 1};
        const uint32_t status = mutator.Below(4) ? 0 : kFailures[mutator.Below(4)];
        ASSERT_EQ(0u, Orvan::onBusReply(shim->replyContext, index, placed.header(), placed.name(), placed.sender(),
                                        placed.data(), status));
        const uint32_t want = status == 0                 ? Orvan::Reply::kReceived
                              : status == kTimedOutStatus ? Orvan::Reply::kTimedOut
                                                          : Orvan::Reply::kInvalid;
        ASSERT_EQ(want, reply->wait());
        if (status == 0) {
            ExpectRebuilt(in, reply->getMessage());
        } else {
            ASSERT_FALSE(reply->getMessage());
        }
        if (n % 256 == 0) {
            std::lock_guard<std::mutex> guard(journal.lock);
            journal.entries.clear();
        }
    }
}

}  // namespace
