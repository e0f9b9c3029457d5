// The bus library binding over a fake library table: the constructor's steps and failures, the destructor's
// order, the routing of the shim's operations and the two callbacks the library calls back into.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "clients/messagebus/MessageBusLib.h"
#include "clients/messagebus/MessageBusShimImpl.h"
#include "clients/support/ModuleStatus.h"
#include "tests/clients/support/SupportFakes.h"
#include "tests/support/RecordingLogger.h"

namespace {

using Orvan::BusHandle;
using Orvan::MessageHeader;

// What the fake library saw, in order.
struct FakeBus {
    std::vector<std::string> calls;
    uint32_t createdWith = 0;
    bool answerTable = true;
    uint32_t openStatus = 0;
    BusHandle openHandle = reinterpret_cast<BusHandle>(0x77);
    uint32_t closeStatus = 0;
    std::vector<BusHandle> closed;
    uint64_t index = 0, timeout = 0;
    void* context = nullptr;
    Orvan::BusReplyCallback replyCallback = nullptr;
};
FakeBus bus;

uint32_t Open(BusHandle* handle) {
    bus.calls.push_back("open");
    if (bus.openStatus == 0) *handle = bus.openHandle;
    return bus.openStatus;
}
uint32_t Close(BusHandle handle) {
    bus.calls.push_back("close");
    bus.closed.push_back(handle);
    return bus.closeStatus;
}
template <int Entry>
uint32_t Publish(BusHandle, MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t*) {
    bus.calls.push_back("publish" + std::to_string(Entry));
    return 0;
}
template <int Entry>
uint32_t Request(BusHandle, uint64_t index, void* context, Orvan::BusReplyCallback callback, MessageHeader*,
                 const wchar_t*, const wchar_t*, const wchar_t*, uint64_t timeout) {
    bus.calls.push_back("request" + std::to_string(Entry));
    bus.index = index;
    bus.context = context;
    bus.replyCallback = callback;
    bus.timeout = timeout;
    return 0;
}
template <int Entry>
uint32_t Subscribe(BusHandle, void*, Orvan::BusDeliveryCallback, const wchar_t*) {
    bus.calls.push_back("subscribe" + std::to_string(Entry));
    return 40 + Entry;
}
uint32_t Unsubscribe(BusHandle, uint32_t id) {
    bus.calls.push_back("unsubscribe " + std::to_string(id));
    return 0;
}
uint32_t Unregister(BusHandle, Orvan::BusReplyCallback callback) {
    bus.calls.push_back(callback == &Orvan::onBusReply ? "unregister" : "unregister-other");
    return 0;
}

const Orvan::MessageBusFunctions kTable = {Open,         Close,        Publish<2>,  Request<3>, Subscribe<4>,
                                           Subscribe<5>, Unsubscribe,  Unregister,  Publish<8>, Request<9>};

void* CreateObject(uint32_t id) {
    bus.createdWith = id;
    return bus.answerTable ? const_cast<Orvan::MessageBusFunctions*>(&kTable) : nullptr;
}

class BusLibraryTest : public testsupport::LoggingFixture {
protected:
    void SetUp() override {
        LoggingFixture::SetUp();
        bus = FakeBus();
    }
    std::shared_ptr<Orvan::SharedLibrary> Library(Orvan::LibraryLocation location = {L"Corlune.dll", {L"C:\\bus"}},
                                                  std::shared_ptr<Orvan::PathHelpers> helpers = nullptr) {
        dlls->exports = orvantest::ServiceExports(&CreateObject);
        return std::make_shared<Orvan::SharedLibrary>(std::move(location), std::make_shared<Orvan::DllLoader>(dlls),
                                                      std::move(helpers), std::make_shared<Orvan::PathSearch>(files));
    }
    std::string Thrown(std::shared_ptr<Orvan::MessageBusShim> shim = nullptr) {
        try {
            Orvan::MessageBusLib lib(Library(), std::move(shim));
        } catch (const Orvan::ModuleException& error) {
            return error.what();
        }
        return "";
    }

    std::shared_ptr<orvantest::FakeDlls> dlls = std::make_shared<orvantest::FakeDlls>();
    // One library in the bus folder, one planted where an unresolved install-folder macro would name it.
    std::shared_ptr<orvantest::ListedFiles> files = std::make_shared<orvantest::ListedFiles>(
        std::set<std::wstring>{L"C:\\bus\\Corlune.dll", L"$(Fenwick.InstallDir)\\Corlune.dll"});
};

using Calls = std::vector<std::string>;

TEST_F(BusLibraryTest, OpensWithTheTableAndClosesAfterDroppingTheShim) {
    {
        Orvan::MessageBusLib lib(Library());
        EXPECT_EQ(2001000u, bus.createdWith);
        EXPECT_EQ(Calls{"open"}, bus.calls);
    }
    EXPECT_EQ((Calls{"open", "unregister", "close"}), bus.calls);
    EXPECT_EQ(std::vector<BusHandle>{bus.openHandle}, bus.closed);
}

TEST_F(BusLibraryTest, ConstructorFailuresThrowAndLeaveNoHandleOpen) {
    bus.answerTable = false;
    EXPECT_EQ("Failed to get message bus functions object", Thrown());
    EXPECT_TRUE(bus.calls.empty());

    bus = FakeBus();
    bus.openStatus = 0x80000002;
    EXPECT_EQ("Failed to get message bus handle", Thrown());
    EXPECT_EQ(Calls{"open"}, bus.calls);
    EXPECT_TRUE(Logged(L"Failed to get message bus handle. Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650). "
                       L"Throwing ModuleException."));

    // The bus opened but the shim over it cannot be made: the handle is closed before the exception leaves.
    bus = FakeBus();
    bus.openHandle = nullptr;
    EXPECT_EQ("Invalid message bus handle", Thrown());
    EXPECT_EQ((Calls{"open", "close"}), bus.calls);
}

TEST_F(BusLibraryTest, WithoutAnInstallFolderNothingOutsideTheProgramFolderIsCheckedOrLoaded) {
    auto noInstallFolder = std::make_shared<Orvan::PathHelpers>(std::make_shared<orvantest::FixedShell>(),
                                                                std::make_shared<orvantest::FixedOSInfo>(1, false),
                                                                std::make_shared<orvantest::FixedRegistry>());
    EXPECT_THROW(Library(Orvan::MessageBusLib::defaultLocation(), noInstallFolder), Orvan::ModuleException);
    ASSERT_EQ(1u, files->asked.size()) << "the program's own folder only";
    EXPECT_EQ(std::wstring::npos, files->asked[0].find(L"$(")) << files->asked[0];
    EXPECT_TRUE(dlls->loaded.empty());
    EXPECT_TRUE(Logged(L"Skipping search folder $(Fenwick.InstallDir): not absolute or a macro left unresolved."));
}

TEST_F(BusLibraryTest, TheConstructorIsTimed) {
    Orvan::MessageBusLib lib(Library());
    bool timed = false;
    for (const auto& e : journal.entries)
        timed = timed || e.message.rfind(L"M12NPerfTimer|MessageBusLib::MessageBusLib|", 0) == 0;
    EXPECT_TRUE(timed);
}

TEST_F(BusLibraryTest, AFailedCloseIsOnlyLogged) {
    bus.closeStatus = 0x80000007;
    { Orvan::MessageBusLib lib(Library()); }
    EXPECT_TRUE(Logged(L"Failed to release message bus. Error code MODULE_STATUS_INVALID_HANDLE(2147483655)."));
}

TEST_F(BusLibraryTest, ShimOperationsReachTheirTableEntries) {
    Orvan::MessageBusLib lib(Library());
    const auto message = Orvan::createMessage(L"n", L"s", L"d");
    bus.calls.clear();
    EXPECT_EQ(0u, lib.publish(message, false));
    EXPECT_EQ(0u, lib.publish(message, true));
    int context = 0;
    EXPECT_EQ(0u, lib.request(message, 12, &context, 345, false));
    EXPECT_EQ(12u, bus.index);
    EXPECT_EQ(&context, bus.context);
    EXPECT_EQ(345u, bus.timeout);
    EXPECT_EQ(&Orvan::onBusReply, bus.replyCallback);
    EXPECT_EQ(0u, lib.request(message, 13, &context, 1, true));
    EXPECT_EQ(44u, lib.subscribe(L"n", &context));
    EXPECT_EQ(45u, lib.subscribeFilter(L"n.*", &context));
    lib.releaseSubscription(44);
    lib.unregisterReplyCallback();
    EXPECT_EQ((Calls{"publish2", "publish8", "request3", "request9", "subscribe4", "subscribe5", "unsubscribe 44",
                     "unregister"}),
              bus.calls);
    bus.calls.clear();
    EXPECT_EQ(0x80000008u, lib.publish(nullptr, false));
    EXPECT_EQ(0x80000008u, lib.request(nullptr, 1, &context, 1, false));
    EXPECT_TRUE(bus.calls.empty());
}

class ForwardingProbe : public Orvan::MessageBusShim {
public:
    std::vector<std::string>& calls;
    explicit ForwardingProbe(std::vector<std::string>& c) : calls(c) {}
    uint32_t publish(const std::shared_ptr<Orvan::Message>&, bool alternate) override {
        calls.push_back(alternate ? "publish alt" : "publish");
        return 5;
    }
    uint32_t request(const std::shared_ptr<Orvan::Message>&, uint64_t index, void*, uint64_t timeout, bool) override {
        calls.push_back("request " + std::to_string(index) + " " + std::to_string(timeout));
        return 6;
    }
    void unregisterReplyCallback() override { calls.push_back("unregister"); }
    uint32_t subscribe(const std::wstring&, void*) override { return 7; }
    uint32_t subscribeFilter(const std::wstring&, void*) override { return 8; }
    void releaseSubscription(uint32_t id) override { calls.push_back("release " + std::to_string(id)); }
};

TEST_F(BusLibraryTest, AGivenShimIsUsedAsItIsButTheHandleIsStillOpenedAndClosed) {
    std::vector<std::string> forwarded;
    {
        Orvan::MessageBusLib lib(Library(), std::make_shared<ForwardingProbe>(forwarded));
        EXPECT_EQ(5u, lib.publish(nullptr, true));
        EXPECT_EQ(6u, lib.request(nullptr, 3, nullptr, 9, false));
        EXPECT_EQ(7u, lib.subscribe(L"x", nullptr));
        EXPECT_EQ(8u, lib.subscribeFilter(L"x", nullptr));
        lib.releaseSubscription(7);
        lib.unregisterReplyCallback();
    }
    EXPECT_EQ((Calls{"publish alt", "request 3 9", "release 7", "unregister"}), forwarded);
    EXPECT_EQ((Calls{"open", "close"}), bus.calls);
}

TEST(BusCallbackTest, ReplyCallbackHandsOverStatusAndMessage) {
    struct Seen {
        uint64_t index = 0;
        std::shared_ptr<Orvan::Message> message;
        uint32_t status = 0;
        int calls = 0;
    } seen;
    Orvan::ReplyFunction reply = [&](uint64_t index, const std::shared_ptr<Orvan::Message>& message, uint32_t status) {
        seen = {index, message, status, seen.calls + 1};
        return 21u;
    };
    MessageHeader header = Orvan::kDefaultMessageHeader;
    header.replyCorrelation = 4;
    header.totalSize = 999;
    EXPECT_EQ(21u, Orvan::onBusReply(&reply, 4, &header, L"r", L"s", L"d", 0));
    ASSERT_TRUE(seen.message);
    EXPECT_EQ(L"r", seen.message->getName());
    EXPECT_EQ(999u, seen.message->getHeader()->totalSize);
    EXPECT_EQ(4u, seen.message->getHeader()->replyCorrelation);

    EXPECT_EQ(21u, Orvan::onBusReply(&reply, 5, nullptr, nullptr, nullptr, nullptr, 0x8000000D));
    EXPECT_EQ(5u, seen.index);
    EXPECT_FALSE(seen.message);
    EXPECT_EQ(0x8000000Du, seen.status);

    EXPECT_EQ(0x80000008u, Orvan::onBusReply(nullptr, 6, &header, L"r", L"s", L"d", 0));
    EXPECT_EQ(2, seen.calls);
}

TEST(BusCallbackTest, DeliveryUpgradesOlderHeadersAndContainsHandlerExceptions) {
    std::shared_ptr<Orvan::Message> delivered;
    auto handler = std::make_shared<Orvan::MessageHandler>([&](std::shared_ptr<Orvan::Message> message) {
        delivered = std::move(message);
        return 3u;
    });
    BYTE older[100] = {};
    MessageHeader fields{};
    fields.version = 1;
    fields.totalSize = 120;
    std::memcpy(older, &fields, sizeof(older));
    EXPECT_EQ(3u, Orvan::onBusDelivery(&handler, reinterpret_cast<const MessageHeader*>(older), L"n", L"s", L"d"));
    ASSERT_TRUE(delivered);
    EXPECT_EQ(2, delivered->getHeader()->version);
    EXPECT_EQ(128u, delivered->getHeader()->totalSize);
    EXPECT_EQ(L"d", delivered->getData());

    auto throwing = std::make_shared<Orvan::MessageHandler>(
        [](std::shared_ptr<Orvan::Message>) -> uint32_t { throw std::bad_alloc(); });
    EXPECT_EQ(0x8000000Fu, Orvan::onBusDelivery(&throwing, &Orvan::kDefaultMessageHeader, L"n", L"s", L"d"));
}

}  // namespace
