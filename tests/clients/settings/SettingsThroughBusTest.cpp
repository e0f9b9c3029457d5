// The settings-manager client through the real bus client and the bus double's settings manager: replies on the
// double's threads, its store, the change notices it publishes, and its faults.
#include <windows.h>

#include <algorithm>
#include <mutex>

#include "clients/settings/SettingsManagerClient.h"
#include "tests/clients/messagebus/BusDoubleFixture.h"

namespace {

using Orvan::PropertyNames;
using Orvan::PropertyResults;
using Orvan::PropertyValues;
using Timeout = Orvan::SettingsManager::Timeout;

class SettingsThroughBusTest : public orvantest::BusDoubleTest {
protected:
    std::shared_ptr<Orvan::MessageBus> Bus() { return std::shared_ptr<Orvan::MessageBus>(Client()); }
};

// What listeners heard, from the double's threads.
class Heard {
public:
    Orvan::PropertySetListener Sets() {
        return [this](const std::wstring& name, const std::wstring& value) { Add(name + L"=" + value); };
    }
    Orvan::PropertyNameListener Names(const std::wstring& tag) {
        return [this, tag](const std::wstring& name) { Add(tag + name); };
    }
    // In order of text: the double's workers deliver in no fixed order.
    std::vector<std::wstring> Take() {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<std::wstring> taken = std::move(heard_);
        heard_.clear();
        std::sort(taken.begin(), taken.end());
        return taken;
    }

private:
    void Add(const std::wstring& line) {
        std::lock_guard<std::mutex> guard(lock_);
        heard_.push_back(line);
    }
    std::mutex lock_;
    std::vector<std::wstring> heard_;
};

TEST_F(SettingsThroughBusTest, PropertiesAreStoredReadAndRemovedWithTheirNotices) {
    const Timeout timeout = 5000;
    auto bus = Bus();
    Heard heard;
    {
        Orvan::SettingsManagerClient subscriber(bus);
        ASSERT_TRUE(subscriber.subscribePropertySetByName(heard.Sets(), L"Core.OOBE"));
        ASSERT_TRUE(subscriber.subscribePropertyDeleteByName(heard.Names(L"deleted "), L"Core.OOBE"));
        ASSERT_TRUE(subscriber.subscribePropertyRemoved(heard.Names(L"removed "), L"Core.OOBE.OOBEComplete"));
        ASSERT_TRUE(subscriber.subscribePropertySet(heard.Names(L"set ")));
    }  // the subscriptions live on in the bus client

    Orvan::SettingsManagerClient client(bus);
    EXPECT_TRUE(client.setProperty(L"Core.OOBE.OOBEComplete", 1ul, timeout));
    EXPECT_TRUE(client.setVolatileProperty(L"Other.Value", 0.5, timeout));
    Idle();
    EXPECT_EQ((std::vector<std::wstring>{L"Core.OOBE.OOBEComplete=1", L"set Core.OOBE.OOBEComplete",
                                         L"set Other.Value"}),
              heard.Take());

    unsigned long value = 0;
    EXPECT_TRUE(client.getProperty(L"Core.OOBE.OOBEComplete", value, timeout));
    EXPECT_EQ(1ul, value);
    double real = 0;
    EXPECT_TRUE(client.getProperty(L"Other.Value", real, timeout));
    EXPECT_EQ(0.5, real);
    std::wstring text;
    EXPECT_FALSE(client.getProperty(L"Missing", text, timeout));

    PropertyValues values;
    EXPECT_EQ((PropertyResults{{L"Core.OOBE.OOBEComplete", true}, {L"Missing", false}}),
              client.getProperties({L"Core.OOBE.OOBEComplete", L"Missing"}, values, timeout));
    EXPECT_TRUE(client.getPropertiesByPrefix(L"O", values, timeout));
    EXPECT_EQ((PropertyValues{{L"Core.OOBE.OOBEComplete", L"1"}, {L"Other.Value", L"0.500000"}}), values);

    EXPECT_TRUE(client.removeProperty(L"Core.OOBE.OOBEComplete", timeout));
    EXPECT_FALSE(client.removeProperty(L"Core.OOBE.OOBEComplete", timeout));
    EXPECT_EQ((PropertyResults{{L"Oth", false}, {L"Other.Value", true}}),
              client.removePropertiesByPrefix(PropertyNames{L"Oth"}, timeout));
    Idle();
    EXPECT_EQ((std::vector<std::wstring>{L"deleted Core.OOBE.OOBEComplete", L"removed Core.OOBE.OOBEComplete"}),
              heard.Take());

    EXPECT_EQ((PropertyResults{{L"a", true}, {L"b", true}}), client.setProperties({{L"a", L"1"}, {L"b", L"2"}}, timeout));
    EXPECT_EQ((PropertyResults{{L"a", true}, {L"c", false}}), client.removeProperties({L"a", L"c"}, timeout));
    Idle();
}

TEST_F(SettingsThroughBusTest, FaultsOfTheSettingsManagerAreRefused) {
    struct Case {
        std::wstring name;  // each case its own property: the double's faults add up
        std::wstring fault;
        bool set, get;
    };
    const Case cases[] = {
        {L"a", L"a:status-false", false, false}, {L"b", L"b:wrong-name", false, false},
        {L"c", L"c:status-number", false, false}, {L"d", L"d:bad-json", false, false},
        {L"e", L"e:non-object", false, false},   {L"f", L"f:missing-value", true, false},
        {L"g", L"g:bus-error", false, false},    {L"h", L"h:bus-timeout", false, false},
        {L"i", L"other:status-false", true, true},
    };
    const Timeout timeout = 300;
    auto bus = Bus();
    Orvan::SettingsManagerClient client(bus);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Configure(L"settings.fault=" + c.fault);
        EXPECT_EQ(c.set, client.setProperty(c.name, std::wstring(L"v"), timeout));
        std::wstring value;
        EXPECT_EQ(c.get, client.getProperty(c.name, value, timeout));
    }
    // A list reply without "responses" is an answer that confirms nothing.
    Configure(L"settings.fault=*:no-responses");
    PropertyValues values;
    EXPECT_TRUE(client.getPropertiesByPrefix(L"", values, timeout));
    EXPECT_TRUE(values.empty());
    Idle();
}

TEST_F(SettingsThroughBusTest, ASlowSettingsManagerIsWaitedForAndASilentOneGivenUpOn) {
    auto bus = Bus();
    Orvan::SettingsManagerClient client(bus);
    Configure(L"settings.fault=p:delay=400");
    const Timeout timeout = 2000;
    ULONGLONG started = GetTickCount64();
    EXPECT_TRUE(client.setProperty(L"p", 1, timeout));
    EXPECT_GE(GetTickCount64() - started + 20, 400u);

    Configure(L"settings.fault=q:no-reply");
    const Timeout shortTimeout = 100;
    started = GetTickCount64();
    EXPECT_FALSE(client.setProperty(L"q", 1, shortTimeout));
    // The reply's deadline: the time-out and its 1000 ms margin, measured on 16 ms clock steps.
    EXPECT_GE(GetTickCount64() - started + 20, 1100u);
    Idle();
}

}  // namespace
