// Subscriptions to the settings manager's notices: what reaches the bus, which notices reach a listener, and what a
// notice body must hold before a listener hears of it.
#include "clients/settings/SettingsManagerClient.h"

#include <memory>

#include "clients/messagebus/Message.h"
#include "tests/clients/settings/SettingsClientFixture.h"

namespace {

using settingstest::ClientLine;
using Orvan::MODULE_STATUS_DATA_ERROR;
using Orvan::MODULE_STATUS_SUCCESS;

struct Heard {
    std::vector<std::wstring> names;
    std::vector<std::pair<std::wstring, std::wstring>> sets;
    Orvan::PropertyNameListener nameListener() {
        return [this](const std::wstring& name) { names.push_back(name); };
    }
    Orvan::PropertySetListener setListener() {
        return [this](const std::wstring& name, const std::wstring& value) { sets.emplace_back(name, value); };
    }
};

class SettingsSubscriptionTest : public settingstest::SettingsClientFixture {};

TEST_F(SettingsSubscriptionTest, EachSubscriptionReachesTheBusUnderItsNameOrPattern) {
    Heard heard;
    EXPECT_TRUE(client().subscribePropertySet(heard.nameListener(), L"a"));
    EXPECT_TRUE(client().subscribePropertySet(heard.nameListener()));
    EXPECT_TRUE(client().subscribePropertyRemoved(heard.nameListener(), L"a"));
    EXPECT_TRUE(client().subscribePropertyRemoved(heard.nameListener()));
    EXPECT_TRUE(client().subscribePropertySetByName(heard.setListener(), L"a.b"));
    EXPECT_TRUE(client().subscribePropertyDeleteByName(heard.nameListener(), L"a.b"));
    const std::vector<std::pair<std::wstring, bool>> expected = {
        {L"SETTINGS_MANAGER_PROPERTY_SET", false},
        {L"SETTINGS_MANAGER_PROPERTY_SET", false},
        {L"SETTINGS_MANAGER_PROPERTY_REMOVED", false},
        {L"SETTINGS_MANAGER_PROPERTY_REMOVED", false},
        {L"^SettingsManager.Notify.Set.a.b.*", true},
        {L"^SettingsManager.Notify.Delete.a.b.*", true},
    };
    std::vector<std::pair<std::wstring, bool>> made;
    for (const settingstest::ShimSubscription& s : shim().subscriptions) made.emplace_back(s.nameOrPattern, s.filter);
    EXPECT_EQ(expected, made);

    EXPECT_TRUE(client().unsubscribePropertySetByName(L"a.b"));
    EXPECT_TRUE(shim().subscriptions[4].released);
    EXPECT_FALSE(shim().subscriptions[5].released);
    EXPECT_TRUE(client().unsubscribePropertyDeleteByName(L"a.b"));
    EXPECT_TRUE(shim().subscriptions[5].released);
}

TEST_F(SettingsSubscriptionTest, EmptyNamesSubscribeAndWithdrawNothing) {
    Heard heard;
    EXPECT_TRUE(client().subscribePropertySetByName(heard.setListener(), L""));
    EXPECT_TRUE(client().subscribePropertyDeleteByName(heard.nameListener(), L""));
    EXPECT_TRUE(client().unsubscribePropertySetByName(L""));
    EXPECT_TRUE(client().unsubscribePropertyDeleteByName(L""));
    EXPECT_TRUE(shim().subscriptions.empty());
}

TEST_F(SettingsSubscriptionTest, RefusedSubscriptionsAndInvalidPatternsGiveFalse) {
    Heard heard;
    EXPECT_FALSE(client().subscribePropertySetByName(heard.setListener(), L"a("));
    EXPECT_TRUE(shim().subscriptions.empty());
    shim().refuseSubscriptions = true;
    EXPECT_FALSE(client().subscribePropertySet(heard.nameListener()));
    EXPECT_FALSE(client().subscribePropertyRemoved(heard.nameListener(), L"a"));
    EXPECT_FALSE(client().subscribePropertySetByName(heard.setListener(), L"a"));
    EXPECT_FALSE(client().subscribePropertyDeleteByName(heard.nameListener(), L"a"));
}

TEST_F(SettingsSubscriptionTest, NoticesReachTheListenersTheirNamesSelect) {
    Heard oneName, allNames, removed, byName, deleted;
    ASSERT_TRUE(client().subscribePropertySet(oneName.nameListener(), L"ab"));
    ASSERT_TRUE(client().subscribePropertySet(allNames.nameListener()));
    ASSERT_TRUE(client().subscribePropertyRemoved(removed.nameListener(), L"ab"));
    ASSERT_TRUE(client().subscribePropertySetByName(byName.setListener(), L"ab"));
    ASSERT_TRUE(client().subscribePropertyDeleteByName(deleted.nameListener(), L"ab"));

    using Statuses = std::vector<std::uint32_t>;
    EXPECT_EQ((Statuses{0, 0}), shim().deliver(L"SETTINGS_MANAGER_PROPERTY_SET", LR"({"name":"ab","value":"1"})"));
    EXPECT_EQ((Statuses{0, 0}), shim().deliver(L"SETTINGS_MANAGER_PROPERTY_SET", LR"({"name":"abc"})"));
    EXPECT_EQ((Statuses{0}), shim().deliver(L"SETTINGS_MANAGER_PROPERTY_REMOVED", LR"({"name":"AB"})"));
    EXPECT_EQ((Statuses{0}), shim().deliver(L"SETTINGS_MANAGER_PROPERTY_REMOVED", LR"({"name":"ab"})"));
    // The pattern selects; a longer name that begins with the subscribed one is heard too, and the body's own name
    // is what the listener gets.
    EXPECT_EQ((Statuses{0}), shim().deliver(L"SettingsManager.Notify.Set.ab", LR"({"name":"ab","value":"v1"})"));
    EXPECT_EQ((Statuses{0}), shim().deliver(L"SettingsManager.Notify.Set.abc", LR"({"name":"other","value":"v2"})"));
    EXPECT_EQ(Statuses{}, shim().deliver(L"SettingsManager.Notify.Set.a", LR"({"name":"a","value":"v3"})"));
    EXPECT_EQ((Statuses{0}), shim().deliver(L"SettingsManager.Notify.Delete.ab", LR"({"name":"ab"})"));

    EXPECT_EQ((std::vector<std::wstring>{L"ab"}), oneName.names);
    EXPECT_EQ((std::vector<std::wstring>{L"ab", L"abc"}), allNames.names);
    EXPECT_EQ((std::vector<std::wstring>{L"ab"}), removed.names);
    EXPECT_EQ((std::vector<std::pair<std::wstring, std::wstring>>{{L"ab", L"v1"}, {L"other", L"v2"}}), byName.sets);
    EXPECT_EQ((std::vector<std::wstring>{L"ab"}), deleted.names);
    EXPECT_EQ(std::vector<ClientLine>{}, TakeClientLines());
}

TEST_F(SettingsSubscriptionTest, ASubscriptionOutlivesTheClientThatMadeIt) {
    Heard heard;
    ASSERT_TRUE(client().subscribePropertySetByName(heard.setListener(), L"p"));
    clientHolder.reset();  // the bus client lives on in the fixture
    EXPECT_EQ((std::vector<std::uint32_t>{0}),
              shim().deliver(L"SettingsManager.Notify.Set.p", LR"({"name":"p","value":"v"})"));
    EXPECT_EQ((std::vector<std::pair<std::wstring, std::wstring>>{{L"p", L"v"}}), heard.sets);
}

// The three handlers on bodies they must refuse: data error to the bus, no call of the listener.
TEST_F(SettingsSubscriptionTest, UnreadableNoticesNeverReachTheListener) {
    struct Case {
        std::wstring body;
        bool nameReadable;   // for the name-only notices
        bool valueReadable;  // for the set notice
        bool parsed;
    };
    const Case cases[] = {
        {LR"({"name":"p","value":"v"})", true, true, true},
        {LR"({"name":"p"})", true, false, true},
        {LR"({"name":"p","value":1})", true, false, true},
        {LR"({"value":"v"})", false, false, true},
        {LR"({"name":null,"value":"v"})", false, false, true},
        {LR"(["name","p"])", false, false, false},
        {LR"("p")", false, false, false},
        {L"name=p", false, false, false},
        {L"", false, false, false},
        {LR"({"name":"p","value":"v")", false, false, false},
    };
    const std::wstring fn = L"Orvan::SettingsManagerClient::onPropertyNotify";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        Heard heard;
        const auto message = Orvan::createMessage(L"SETTINGS_MANAGER_PROPERTY_SET", L"SettingsManager", c.body);
        const auto acceptAll = [](const std::wstring&) { return true; };
        EXPECT_EQ(c.nameReadable ? MODULE_STATUS_SUCCESS : MODULE_STATUS_DATA_ERROR,
                  Orvan::SettingsManagerClient::onPropertyNotify(message, heard.nameListener(), acceptAll));
        EXPECT_EQ(c.nameReadable && c.valueReadable ? MODULE_STATUS_SUCCESS : MODULE_STATUS_DATA_ERROR,
                  Orvan::SettingsManagerClient::onPropertyNotifySet(message, heard.setListener()));
        EXPECT_EQ(c.nameReadable ? MODULE_STATUS_SUCCESS : MODULE_STATUS_DATA_ERROR,
                  Orvan::SettingsManagerClient::onPropertyNotifyDelete(message, heard.nameListener()));
        EXPECT_EQ(c.nameReadable ? 2u : 0u, heard.names.size());
        EXPECT_EQ(c.nameReadable && c.valueReadable ? 1u : 0u, heard.sets.size());

        std::vector<ClientLine> expected;
        const wchar_t* parse = L"Failed to parse setting property data.";
        const wchar_t* name = L"Failed to read setting property name.";
        if (!c.parsed) {
            expected = {{2, fn, 843, parse}, {2, fn + L"Set", 874, parse}, {2, fn + L"Delete", 907, parse}};
        } else if (!c.nameReadable) {
            expected = {{2, fn, 850, name}, {2, fn + L"Set", 881, name}, {2, fn + L"Delete", 914, name}};
        } else if (!c.valueReadable) {
            expected = {{2, fn + L"Set", 888, L"Failed to read setting value."}};
        }
        EXPECT_EQ(expected, TakeClientLines());
    }
}

TEST_F(SettingsSubscriptionTest, HandlersWithoutAListenerOrWithoutAMessage) {
    const auto notice = Orvan::createMessage(L"n", L"s", L"not json");
    EXPECT_EQ(MODULE_STATUS_SUCCESS, Orvan::SettingsManagerClient::onPropertyNotify(notice, nullptr, nullptr));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, Orvan::SettingsManagerClient::onPropertyNotifySet(notice, nullptr));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, Orvan::SettingsManagerClient::onPropertyNotifyDelete(notice, nullptr));
    EXPECT_EQ(std::vector<ClientLine>{}, TakeClientLines());

    Heard heard;
    EXPECT_EQ(MODULE_STATUS_DATA_ERROR, Orvan::SettingsManagerClient::onPropertyNotifySet(nullptr, heard.setListener()));
    EXPECT_EQ(MODULE_STATUS_DATA_ERROR,
              Orvan::SettingsManagerClient::onPropertyNotifyDelete(nullptr, heard.nameListener()));
    EXPECT_TRUE(heard.names.empty());
    EXPECT_TRUE(heard.sets.empty());
}

}  // namespace
