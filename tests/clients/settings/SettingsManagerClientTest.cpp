// The settings-manager client against the real bus client over a scripted transport: the bodies it sends, the value
// texts, and how each kind of reply is believed or refused, with the log line that says why.
#include "clients/settings/SettingsManagerClient.h"

#include <windows.h>

#include <cmath>
#include <functional>
#include <limits>

#include "clients/messagebus/Message.h"
#include "tests/clients/settings/SettingsClientFixture.h"

namespace {

using Orvan::PropertyNames;
using Orvan::PropertyResults;
using Orvan::PropertyValues;
using settingstest::ClientLine;
using settingstest::ScriptedShim;
using Timeout = Orvan::SettingsManager::Timeout;

constexpr DWORD kWarning = 2;
constexpr DWORD kError = 4;
const std::wstring kImplSet = L"Orvan::SettingsManagerClient::Impl::setProperty";
const std::wstring kResponse = L"Orvan::SettingsManagerClient::Impl::getSettingPropertyResponse";
const std::wstring kResponseList = L"Orvan::SettingsManagerClient::Impl::getSettingPropertyResponseList";
const std::wstring kVerify = L"Orvan::SettingsManagerClient::Impl::verifyPropertyName";
const std::wstring kValue = L"Orvan::SettingsManagerClient::Impl::getPropertyValue";
const std::wstring kConvert = L"Orvan::SettingsManagerClient::Impl::tryConvert";

class SettingsManagerClientTest : public settingstest::SettingsClientFixture {};

TEST_F(SettingsManagerClientTest, CompletionPropertyGoesOutAsTheExactSetBody) {
    Reply(LR"({"name":"Core.OOBE.OOBEComplete","status":true})");
    const Timeout timeout = 5000;
    EXPECT_TRUE(client().setProperty(L"Core.OOBE.OOBEComplete", DWORD{1}, timeout));
    const settingstest::SentRequest& sent = LastRequest();
    EXPECT_EQ(L"SETTINGS_MANAGER_SET_PROPERTY", sent.name);
    EXPECT_EQ(LR"({"name":"Core.OOBE.OOBEComplete","value":"1","volatile":false})", sent.data);
    EXPECT_EQ(Orvan::getOwnModuleFileName(), sent.sender);
    EXPECT_FALSE(sent.sender.empty());
    EXPECT_EQ(5000u, sent.timeoutMs);
    EXPECT_EQ(std::vector<ClientLine>{}, TakeClientLines());
}

TEST_F(SettingsManagerClientTest, ValuesTravelAsTextInEachTypesForm) {
    struct Case {
        std::function<bool(Orvan::SettingsManager&, const Timeout&)> call;
        std::wstring value;
        bool isVolatile;
    };
    const std::wstring p = L"p";
    const Case cases[] = {
        {[&](auto& c, auto& t) { return c.setProperty(p, true, t); }, L"1", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, false, t); }, L"0", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, -5, t); }, L"-5", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, 4294967295u, t); }, L"4294967295", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, 4294967295ul, t); }, L"4294967295", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, std::numeric_limits<unsigned long long>::max(), t); },
         L"18446744073709551615", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, std::numeric_limits<long long>::min(), t); },
         L"-9223372036854775808", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, 0.1, t); }, L"0.1", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, 1e20, t); }, L"1e+20", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, 1.0 / 3.0, t); }, L"0.3333333333333333", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, 1e-300, t); }, L"1e-300", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, L"text \"quoted\"", t); }, L"text \\\"quoted\\\"", false},
        {[&](auto& c, auto& t) { return c.setProperty(p, std::wstring(L"w"), t); }, L"w", false},
        {[&](auto& c, auto& t) { return c.setVolatileProperty(p, 0.1, t); }, L"0.100000", true},
        {[&](auto& c, auto& t) { return c.setVolatileProperty(p, 1e20, t); }, L"100000000000000000000.000000", true},
        {[&](auto& c, auto& t) { return c.setVolatileProperty(p, true, t); }, L"1", true},
        {[&](auto& c, auto& t) { return c.setVolatileProperty(p, -7LL, t); }, L"-7", true},
        {[&](auto& c, auto& t) { return c.setVolatileProperty(p, 12u, t); }, L"12", true},
        {[&](auto& c, auto& t) { return c.setVolatileProperty(p, L"c", t); }, L"c", true},
    };
    Reply(LR"({"name":"p","status":true})");
    const Timeout timeout = 10;
    for (const Case& c : cases) {
        EXPECT_TRUE(c.call(client(), timeout));
        EXPECT_EQ(L"{\"name\":\"p\",\"value\":\"" + c.value + L"\",\"volatile\":" + (c.isVolatile ? L"true" : L"false") +
                      L"}",
                  LastRequest().data);
    }
}

TEST_F(SettingsManagerClientTest, ANullTextValueIsRefusedWithoutARequest) {
    const Timeout timeout = 10;
    const wchar_t* none = nullptr;
    EXPECT_FALSE(client().setProperty(L"p", none, timeout));
    EXPECT_FALSE(client().setVolatileProperty(L"p", none, timeout));
    EXPECT_TRUE(shim().requests.empty());
    const ClientLine refused{kWarning, kImplSet, 968,
                             L"Failed to make set property request. Error code: "
                             L"MODULE_STATUS_INVALID_PARAMETER(2147483656)"};
    EXPECT_EQ((std::vector<ClientLine>{refused, refused}), TakeClientLines());
}

// One reply, three single operations: what each makes of it, and the line it logs.
TEST_F(SettingsManagerClientTest, SingleOperationsBelieveOnlyAConfirmingReplyForTheirName) {
    struct Case {
        const wchar_t* what;
        ScriptedShim::Answer answer;
        std::wstring body;
        bool set, get, remove;
        std::vector<ClientLine> setLines, getLines, removeLines;
    };
    const std::wstring kRemove = L"Orvan::SettingsManagerClient::removeProperty";
    const ClientLine mismatch{kWarning, kVerify, 1167,
                              L"Response property name (q) does not match expected property name (p)."};
    const ClientLine noName{kWarning, kVerify, 1160, L"Failed to read settings manager response property name."};
    const ClientLine unparsed{kWarning, kResponse, 1118,
                              L"Failed to parse settings manager response message. Returning."};
    const ClientLine valueStatus{kWarning, kValue, 1179, L"Failed to read settings manager response status."};
    const ClientLine noValue{kWarning, kValue, 1190, L"Failed to read settings manager response value."};
    using A = ScriptedShim::Answer;
    const Case cases[] = {
        {L"confirmed", A::Body, LR"({"name":"p","status":true,"value":"v"})", true, true, true, {}, {}, {}},
        {L"other name, status true", A::Body, LR"({"name":"q","status":true,"value":"v"})", false, false, false,
         {mismatch}, {mismatch}, {mismatch}},
        {L"name differs in case", A::Body, LR"({"name":"P","status":true,"value":"v"})", false, false, false,
         {{kWarning, kVerify, 1167, L"Response property name (P) does not match expected property name (p)."}},
         {{kWarning, kVerify, 1167, L"Response property name (P) does not match expected property name (p)."}},
         {{kWarning, kVerify, 1167, L"Response property name (P) does not match expected property name (p)."}}},
        {L"status false", A::Body, LR"({"name":"p","status":false,"value":"v"})", false, false, false,
         {{kWarning, kImplSet, 996, L"Settings Manager failed to set property value."}},
         {},
         {{kWarning, kRemove, 559, L"Settings Manager failed to remove property."}}},
        {L"status as a number", A::Body, LR"({"name":"p","status":1,"value":"v"})", false, false, false,
         {{kWarning, kImplSet, 990, L"Failed to read settings manager response status."}},
         {valueStatus},
         {{kWarning, kRemove, 553, L"Failed to read settings manager response status."}}},
        {L"status as text", A::Body, LR"({"name":"p","status":"true","value":"v"})", false, false, false,
         {{kWarning, kImplSet, 990, L"Failed to read settings manager response status."}},
         {valueStatus},
         {{kWarning, kRemove, 553, L"Failed to read settings manager response status."}}},
        {L"no status", A::Body, LR"({"name":"p","value":"v"})", false, false, false,
         {{kWarning, kImplSet, 990, L"Failed to read settings manager response status."}},
         {valueStatus},
         {{kWarning, kRemove, 553, L"Failed to read settings manager response status."}}},
        {L"no name", A::Body, LR"({"status":true,"value":"v"})", false, false, false, {noName}, {noName}, {noName}},
        {L"name as a number", A::Body, LR"({"name":7,"status":true,"value":"v"})", false, false, false, {noName},
         {noName}, {noName}},
        {L"value missing", A::Body, LR"({"name":"p","status":true})", true, false, true, {}, {noValue}, {}},
        {L"value as a number", A::Body, LR"({"name":"p","status":true,"value":5})", true, false, true, {},
         {noValue}, {}},
        {L"not JSON", A::Body, L"name=p;status=true", false, false, false, {unparsed}, {unparsed}, {unparsed}},
        {L"empty", A::Body, L"", false, false, false, {unparsed}, {unparsed}, {unparsed}},
        {L"array root", A::Body, LR"([{"name":"p","status":true}])", false, false, false, {unparsed}, {unparsed},
         {unparsed}},
        {L"bus time-out", A::BusTimeout, L"", false, false, false,
         {{kWarning, kResponse, 1101, L"Property request timed out. Returning."}},
         {{kWarning, kResponse, 1101, L"Property request timed out. Returning."}},
         {{kWarning, kResponse, 1101, L"Property request timed out. Returning."}}},
        {L"bus failure", A::BusFailure, L"", false, false, false,
         {{kWarning, kResponse, 1106, L"Property request failed with DATA_ERROR. Returning."}},
         {{kWarning, kResponse, 1106, L"Property request failed with DATA_ERROR. Returning."}},
         {{kWarning, kResponse, 1106, L"Property request failed with DATA_ERROR. Returning."}}},
    };
    const Timeout timeout = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shim().answer = c.answer;
        shim().replyBody = c.body;
        EXPECT_EQ(c.set, client().setProperty(L"p", std::wstring(L"v"), timeout));
        EXPECT_EQ(c.setLines, TakeClientLines());
        std::wstring value = L"before";
        EXPECT_EQ(c.get, client().getProperty(L"p", value, timeout));
        EXPECT_EQ(c.get ? L"v" : L"before", value);
        EXPECT_EQ(c.getLines, TakeClientLines());
        EXPECT_EQ(c.remove, client().removeProperty(L"p", timeout));
        EXPECT_EQ(c.removeLines, TakeClientLines());
    }
    EXPECT_EQ(LR"({"name":"p"})", shim().requests.back().data);
    EXPECT_EQ(L"SETTINGS_MANAGER_REMOVE_PROPERTY", shim().requests.back().name);
    EXPECT_EQ(L"SETTINGS_MANAGER_GET_PROPERTY", shim().requests[shim().requests.size() - 2].name);
    EXPECT_EQ(LR"({"name":"p"})", shim().requests[shim().requests.size() - 2].data);
}

TEST_F(SettingsManagerClientTest, ARequestTheBusRefusesFailsWithItsStatusName) {
    shim().requestStatus = Orvan::MODULE_STATUS_UNSUCCESSFUL;
    const Timeout timeout = 10;
    std::wstring value;
    PropertyValues values;
    EXPECT_FALSE(client().setProperty(L"p", 1, timeout));
    EXPECT_FALSE(client().getProperty(L"p", value, timeout));
    EXPECT_FALSE(client().removeProperty(L"p", timeout));
    EXPECT_EQ((PropertyResults{{L"a", false}}), client().getProperties({L"a"}, values, timeout));
    EXPECT_FALSE(client().getPropertiesByPrefix(L"a", values, timeout));
    EXPECT_EQ((PropertyResults{{L"a", false}}), client().removeProperties({L"a"}, timeout));
    EXPECT_EQ((PropertyResults{{L"a", false}}), client().removePropertiesByPrefix(PropertyNames{L"a"}, timeout));
    EXPECT_EQ((PropertyResults{{L"a", false}}), client().setProperties({{L"a", L"1"}}, timeout));
    const std::wstring code = L"Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650)";
    const std::wstring fn = L"Orvan::SettingsManagerClient::";
    EXPECT_EQ((std::vector<ClientLine>{
                  {kWarning, kImplSet, 968, L"Failed to make set property request. " + code},
                  {kWarning, fn + L"getProperty", 257, L"Failed to make get property request. " + code},
                  {kWarning, fn + L"removeProperty", 533, L"Failed to make remove property request. " + code},
                  {kWarning, fn + L"getProperties", 401, L"Failed to make get properties request. " + code},
                  {kWarning, fn + L"getPropertiesByPrefix", 482, L"Failed to make get properties request. " + code},
                  {kWarning, fn + L"removeProperties", 588, L"Failed to make remove properties request. " + code},
                  {kWarning, fn + L"removePropertiesByPrefix", 673,
                   L"Failed to make remove properties by prefix request. " + code},
                  {kWarning, fn + L"Impl::sendSetPropertiesRequest", 1081,
                   L"Failed to make set properties request. " + code},
                  {kError, fn + L"Impl::setProperties", 1023, L"Failed to set properties. Unable to make request."},
              }),
              TakeClientLines());
}

TEST_F(SettingsManagerClientTest, TypedReadsConvertTheTextOrLeaveTheValueAlone) {
    struct Case {
        std::wstring text;
        std::function<bool(Orvan::SettingsManager&, const Timeout&, std::wstring&)> read;  // out: the value read
        bool result;
        std::wstring value;  // as text; "unchanged" when the out argument kept its first value
        DWORD logLine;       // 0: none
    };
    auto as = [](auto initial) {
        return [initial](Orvan::SettingsManager& c, const Timeout& t, std::wstring& out) {
            auto value = initial;
            const bool ok = c.getProperty(L"p", value, t);
            if constexpr (std::is_same_v<decltype(value), bool>)
                out = value == initial ? L"unchanged" : (value ? L"true" : L"false");
            else
                out = value == initial ? L"unchanged" : std::to_wstring(value);
            return ok;
        };
    };
    const Case cases[] = {
        {L"true", as(false), false, L"unchanged", 945},
        {L"2", as(false), true, L"true", 0},
        {L"0", as(true), true, L"false", 0},
        {L"3000000000", as(int{7}), false, L"unchanged", 949},
        {L" 12abc", as(int{7}), true, L"12", 0},
        {L"-12", as(int{7}), true, L"-12", 0},
        {L"", as(int{7}), false, L"unchanged", 945},
        {L"abc", as(int{7}), false, L"unchanged", 945},
        {L"-1", as(0ul), true, L"4294967295", 0},
        {L"4294967296", as(0ul), false, L"unchanged", 949},
        {L"4294967295", as(0u), true, L"4294967295", 0},
        {L"-1", as(0ull), true, L"18446744073709551615", 0},
        {L"18446744073709551616", as(0ull), false, L"unchanged", 949},
        {L"-9223372036854775808", as(0ll), true, L"-9223372036854775808", 0},
        {L"-9223372036854775809", as(0ll), false, L"unchanged", 949},
        {L"2.5e3x", as(0.0), true, L"2500.000000", 0},
        {L"1e400", as(0.0), false, L"unchanged", 949},
        {L"x1", as(0.0), false, L"unchanged", 945},
    };
    const Timeout timeout = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Reply(LR"({"name":"p","status":true,"value":")" + c.text + L"\"}");
        std::wstring read;
        EXPECT_EQ(c.result, c.read(client(), timeout, read));
        EXPECT_EQ(c.value, read);
        const std::vector<ClientLine> lines = TakeClientLines();
        if (c.logLine == 0) {
            EXPECT_TRUE(lines.empty());
        } else {
            ASSERT_EQ(1u, lines.size());
            EXPECT_EQ(kConvert, lines[0].function);
            EXPECT_EQ(c.logLine, lines[0].line);
            EXPECT_EQ(c.logLine == 945 ? L"Conversion failed due to invalid arguments."
                                       : L"Conversion failed, out of range for destination type.",
                      lines[0].message);
        }
    }
}

TEST_F(SettingsManagerClientTest, ARequestNeverAnsweredGivesUpAfterTheTimeOutAndTheMargin) {
    shim().answer = ScriptedShim::Answer::Nothing;
    const Timeout timeout = 200;
    const ULONGLONG started = GetTickCount64();
    EXPECT_FALSE(client().setProperty(L"p", 1u, timeout));
    const ULONGLONG elapsed = GetTickCount64() - started;
    // The reply's deadline is the time-out plus 1000 ms after the request; the clocks tick in 16 ms steps.
    EXPECT_GE(elapsed + 20, 1200u);
    EXPECT_EQ((std::vector<ClientLine>{{kWarning, kResponse, 1101, L"Property request timed out. Returning."}}),
              TakeClientLines());
}

TEST_F(SettingsManagerClientTest, GetPropertiesBelievesOnlyConfirmedListedNames) {
    Reply(LR"({"responses":[{"name":"b","status":true,"value":"2"},{"name":"c","status":true,"value":"3"},)"
          LR"({"name":"d","status":false},{"status":true,"value":"x"},{"name":"a","status":"yes","value":"1"},)"
          LR"({"name":"a","status":true}]})");
    PropertyValues values{{L"old", L"kept"}, {L"b", L"replaced"}};
    const Timeout timeout = 10;
    EXPECT_EQ((PropertyResults{{L"a", false}, {L"b", true}, {L"d", false}}),
              client().getProperties({L"a", L"b", L"d", L"a"}, values, timeout));
    EXPECT_EQ((PropertyValues{{L"old", L"kept"}, {L"b", L"2"}}), values);
    EXPECT_EQ(L"SettingsManager.GetProperties.Request", LastRequest().name);
    EXPECT_EQ(LR"({"properties":[{"name":"a"},{"name":"b"},{"name":"d"},{"name":"a"}]})", LastRequest().data);
    const std::wstring fn = L"Orvan::SettingsManagerClient::getProperties";
    EXPECT_EQ((std::vector<ClientLine>{{kWarning, fn, 430, L"Received an unexpected setting property. Name: c."},
                                       {kWarning, fn, 424, L"Failed to read settings property response name."},
                                       {kWarning, kValue, 1179, L"Failed to read settings manager response status."},
                                       {kWarning, kValue, 1190, L"Failed to read settings manager response value."}}),
              TakeClientLines());
}

TEST_F(SettingsManagerClientTest, ListRepliesThatAreNotListsFailEveryEntry) {
    struct Case {
        std::wstring body;
        bool responsesReadable;  // false: the reply parsed but "responses" is not an array of objects
        bool parsed;
    };
    const Case cases[] = {
        {LR"({"responses":{"name":"a","status":true}})", false, true},
        {LR"({"responses":[{"name":"a","status":true,"value":"1"},7]})", false, true},
        {LR"({"responses":"a"})", false, true},
        {LR"([{"name":"a","status":true}])", true, false},
        {LR"({"responses":[)", true, false},
    };
    const Timeout timeout = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        Reply(c.body);
        PropertyValues values;
        EXPECT_EQ((PropertyResults{{L"a", false}}), client().getProperties({L"a"}, values, timeout));
        EXPECT_FALSE(client().getPropertiesByPrefix(L"a", values, timeout));
        EXPECT_EQ((PropertyResults{{L"a", false}}), client().setProperties({{L"a", L"1"}}, timeout));
        EXPECT_EQ((PropertyResults{{L"a", false}}), client().removeProperties({L"a"}, timeout));
        EXPECT_TRUE(values.empty());
        const std::vector<ClientLine> lines = TakeClientLines();
        const ClientLine unparsed{kWarning, kResponseList, 1147,
                                  L"Failed to parse settings manager response message. Returning."};
        if (c.parsed) {
            EXPECT_EQ((std::vector<ClientLine>{
                          {kError, L"Orvan::SettingsManagerClient::Impl::setProperties", 1030,
                           L"Failed to set properties. Unable to parse responses."},
                          {kError, L"Orvan::SettingsManagerClient::removeProperties", 605,
                           L"Failed to parse statuses from remove properties response."}}),
                      lines);
        } else {
            EXPECT_EQ((std::vector<ClientLine>{
                          unparsed, unparsed, unparsed,
                          {kError, L"Orvan::SettingsManagerClient::Impl::setProperties", 1023,
                           L"Failed to set properties. Unable to make request."},
                          unparsed,
                          {kWarning, L"Orvan::SettingsManagerClient::removeProperties", 598,
                           L"Failed to parse remove properties response. Error code: MODULE_STATUS_SUCCESS(0)"}}),
                      lines);
        }
    }
}

TEST_F(SettingsManagerClientTest, EmptyListsSendAnEmptyObject) {
    Reply(LR"({"responses":[]})");
    const Timeout timeout = 10;
    PropertyValues values;
    EXPECT_TRUE(client().getProperties({}, values, timeout).empty());
    EXPECT_TRUE(client().removeProperties({}, timeout).empty());
    EXPECT_TRUE(client().removePropertiesByPrefix(PropertyNames{}, timeout).empty());
    EXPECT_TRUE(client().setProperties({}, timeout).empty());
    EXPECT_TRUE(client().getPropertiesByPrefix(PropertyNames{}, values, timeout));
    ASSERT_EQ(5u, shim().requests.size());
    for (const settingstest::SentRequest& sent : shim().requests) EXPECT_EQ(L"{}", sent.data);
}

TEST_F(SettingsManagerClientTest, PrefixReadsTakeEveryConfirmedNameAndNeedNoResponses) {
    const Timeout timeout = 10;
    PropertyValues values;
    Reply(L"{}");
    EXPECT_TRUE(client().getPropertiesByPrefix(L"Core.", values, timeout));
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(LR"({"properties":[{"name":"Core.","isPrefix":true}]})", LastRequest().data);

    Reply(LR"({"responses":[{"name":"Core.a","status":true,"value":"1"},{"name":"Other.b","status":true,"value":"2"},)"
          LR"({"name":"Core.c","status":false,"value":"3"},{"value":"4"}]})");
    EXPECT_TRUE(client().getPropertiesByPrefix(PropertyNames{L"Core.", L"X"}, values, timeout));
    EXPECT_EQ((PropertyValues{{L"Core.a", L"1"}, {L"Other.b", L"2"}}), values);
    EXPECT_EQ(LR"({"properties":[{"name":"Core.","isPrefix":true},{"name":"X","isPrefix":true}]})",
              LastRequest().data);
    EXPECT_EQ((std::vector<ClientLine>{{kWarning, L"Orvan::SettingsManagerClient::getPropertiesByPrefix", 505,
                                        L"Failed to read settings property response name. Skipping"}}),
              TakeClientLines());
}

TEST_F(SettingsManagerClientTest, RemovalsByNameAndByPrefix) {
    const Timeout timeout = 10;
    Reply(LR"({"responses":[{"name":"Core.a","status":true},{"name":"Core.b","status":true}]})");
    EXPECT_FALSE(client().removePropertiesByPrefix(L"Core.", timeout));
    EXPECT_EQ(L"SettingsManager.RemoveProperties.Request", LastRequest().name);
    EXPECT_EQ(LR"({"properties":[{"name":"Core.","isPrefix":true}]})", LastRequest().data);
    EXPECT_EQ((PropertyResults{{L"Core.", false}, {L"Core.a", true}, {L"Core.b", true}}),
              client().removePropertiesByPrefix(PropertyNames{L"Core."}, timeout));
    Reply(LR"({"responses":[{"name":"Core.","status":true}]})");
    EXPECT_TRUE(client().removePropertiesByPrefix(L"Core.", timeout));
    EXPECT_EQ(std::vector<ClientLine>{}, TakeClientLines());

    Reply(LR"({"responses":[{"name":"a","status":true},{"name":"b","status":false},{"name":"c","status":true},)"
          LR"({"name":"d","status":null},{"status":true}]})");
    EXPECT_EQ((PropertyResults{{L"a", true}, {L"b", false}, {L"d", false}}),
              client().removeProperties({L"a", L"b", L"d"}, timeout));
    EXPECT_EQ(LR"({"properties":[{"name":"a"},{"name":"b"},{"name":"d"}]})", LastRequest().data);
    const std::wstring fn = L"Orvan::SettingsManagerClient::removeProperties";
    EXPECT_EQ((std::vector<ClientLine>{
                  {kWarning, fn, 633, L"Settings Manager failed to remove property. Property Name: b"},
                  {kWarning, fn, 620, L"Received unexpected setting property. Name: c."},
                  {kWarning, fn, 627, L"Failed to read settings manager response status. Property Name: d"},
                  {kWarning, fn, 614, L"Failed to read settings property response name."}}),
              TakeClientLines());

    // By prefix nothing is unexpected; the same statuses count.
    EXPECT_EQ((PropertyResults{{L"a", true}, {L"c", true}, {L"x", false}}),
              client().removePropertiesByPrefix(PropertyNames{L"x"}, timeout));
    const std::wstring byPrefix = L"Orvan::SettingsManagerClient::removePropertiesByPrefix";
    EXPECT_EQ((std::vector<ClientLine>{
                  {kWarning, byPrefix, 712, L"Settings Manager failed to remove property. Property Name: b"},
                  {kWarning, byPrefix, 706, L"Failed to read settings manager response status. Property Name: d"},
                  {kWarning, byPrefix, 699, L"Failed to read settings property response name."}}),
              TakeClientLines());
}

TEST_F(SettingsManagerClientTest, SetPropertiesSendsEveryPairAndBelievesConfirmedKeys) {
    Reply(LR"({"responses":[{"name":"a","status":true},{"name":"b","status":false},{"name":"z","status":true},)"
          LR"({"name":"c","status":0},{"name":5}]})");
    const Timeout timeout = 10;
    const PropertyValues input{{L"a", L"1"}, {L"b", L"2"}, {L"c", L"3"}};
    EXPECT_EQ((PropertyResults{{L"a", true}, {L"b", false}, {L"c", false}}), client().setProperties(input, timeout));
    EXPECT_EQ(L"SettingsManager.SetProperties.Request", LastRequest().name);
    // The elements follow the map's own order.
    std::wstring expected = LR"({"properties":[)";
    for (const auto& [name, value] : input)
        expected += L"{\"name\":\"" + name + L"\",\"value\":\"" + value + L"\",\"volatile\":false},";
    expected.back() = L']';
    EXPECT_EQ(expected + L"}", LastRequest().data);
    const std::wstring fn = L"Orvan::SettingsManagerClient::Impl::setProperties";
    EXPECT_EQ((std::vector<ClientLine>{
                  {kWarning, fn, 1059, L"Settings Manager failed to set property value. Property Name: b"},
                  {kWarning, fn, 1046, L"Received unexpected setting property response. Name: z."},
                  {kWarning, fn, 1053, L"Failed to read settings manager response status. Property Name: c"},
                  {kWarning, fn, 1039, L"Failed to read settings property response name."}}),
              TakeClientLines());

    EXPECT_EQ((PropertyResults{{L"a", true}}), client().setVolatileProperties({{L"a", L"1"}}, timeout));
    EXPECT_EQ(LR"({"properties":[{"name":"a","value":"1","volatile":true}]})", LastRequest().data);
}

TEST(SettingsManagerClientFactoryTest, NoBusLibraryGivesNoClient) {
    // The test prefix has no message-bus library installed.
    testsupport::Journal journal;
    std::vector<testsupport::CreationCall> calls;
    ETWLogging::testing::ResetLoggerForTesting();
    ETWLogging::testing::SetLogBuilder(new testsupport::FakeBuilder(journal, calls));
    EXPECT_EQ(nullptr, Orvan::SettingsManagerClient::getInstance());
    bool logged = false;
    for (const testsupport::Entry& e : journal.entries) {
        if (e.function != L"Orvan::SettingsManagerClient::getInstance") continue;
        logged = true;
        EXPECT_EQ(102u, e.line);
        EXPECT_EQ(kError, e.severity);
        EXPECT_EQ(0u, e.message.find(L"Failed to create settings manager client. Caught ModuleException - what: "))
            << testing::PrintToString(e.message);
    }
    EXPECT_TRUE(logged);
    ETWLogging::testing::ResetLoggerForTesting();
}

}  // namespace
