// Transport choice and the connector's own properties, with transports of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "clients/analytics/SDKConnector.h"

namespace {

using Orvan::Analytics::CSDKConnector;
using Orvan::Analytics::Record;
using Orvan::Analytics::internal::CBaseTransport;
using Orvan::Analytics::internal::TransportList;

class FakeTransport : public CBaseTransport {
public:
    FakeTransport(const wchar_t* name, bool works) : CBaseTransport(name, 7), works_(works) {}
    bool initialize() override {
        ++initialized;
        return works_;
    }
    bool send(const Record&) override { return works_; }
    void shutdown() override { ++shutDown; }
    int initialized = 0;
    int shutDown = 0;

private:
    bool works_;
};

TEST(SDKConnector, FirstTransportThatInitialisesIsChosen) {
    auto broken = std::make_shared<FakeTransport>(L"broken", false);
    auto good = std::make_shared<FakeTransport>(L"good", true);
    auto later = std::make_shared<FakeTransport>(L"later", true);
    EXPECT_EQ(CSDKConnector::findAvailableTransport({broken, good, later}), good);
    EXPECT_EQ(broken->shutDown, 1);  // a refusing transport is shut down before the next is tried
    EXPECT_EQ(good->shutDown, 0);
    EXPECT_EQ(later->initialized, 0);

    auto other = std::make_shared<FakeTransport>(L"other", false);
    EXPECT_EQ(CSDKConnector::findAvailableTransport({broken, other}), nullptr);
    EXPECT_EQ(other->shutDown, 1);
    EXPECT_EQ(CSDKConnector::findAvailableTransport(TransportList()), nullptr);
}

TEST(SDKConnector, WithoutTheServiceTheNullTransportTakesTheRecord) {
    CSDKConnector connector;
    Record record = {{L"__caller.name", L"forged"}, {L"kept", L"yes"}};
    EXPECT_FALSE(connector.send(record));  // not connected
    EXPECT_EQ(record.size(), 2u);

    ASSERT_TRUE(connector.connect());
    EXPECT_TRUE(connector.send(record));
    EXPECT_EQ(record[L"__transport.name"], L"NULL-Pattern v1");
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring doubled;
    for (const wchar_t* c = path; *c; ++c) doubled += *c == L'\\' ? std::wstring(L"\\\\") : std::wstring(1, *c);
    EXPECT_EQ(record[L"__caller.name"], doubled);
    EXPECT_EQ(record[L"kept"], L"yes");

    connector.disconnect();
    EXPECT_FALSE(connector.send(record));
    ASSERT_TRUE(connector.connect());  // a connector can connect again
    EXPECT_TRUE(connector.send(record));
}

}  // namespace
