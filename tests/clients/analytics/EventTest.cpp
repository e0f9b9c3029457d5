// Events and their record: the setters, the refused names, and the library properties that Send stamps.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "clients/analytics/Event.h"
#include "tests/support/RecordingLogger.h"

namespace {

using Orvan::Analytics::Record;
using Orvan::Analytics::internal::TrackerClock;
using Orvan::Analytics::v2::CEvent;

std::optional<std::wstring> Property(const CEvent& event, const std::wstring& name) {
    const auto found = event.record().find(name);
    if (found == event.record().end()) return std::nullopt;
    return found->second;
}

class FixedClock : public TrackerClock {
public:
    std::int64_t wallSeconds() override { return wall; }
    bool performanceCounter(std::int64_t& count, std::int64_t& frequency) override {
        count = counter;
        frequency = ticksPerSecond;
        return counterWorks;
    }
    std::int64_t wall = 1796807654;  // 2026-12-09 09:14:14 UTC
    std::int64_t counter = 0;
    std::int64_t ticksPerSecond = 10000000;
    bool counterWorks = true;
};

class EventTest : public testsupport::LoggingFixture {
protected:
    std::vector<std::wstring> Warnings() const {
        std::vector<std::wstring> lines;
        for (const auto& entry : journal.entries)
            if (entry.severity == ETWLogging::kSeverityWarning) lines.push_back(entry.message);
        return lines;
    }
};

TEST_F(EventTest, SettersStoreUnderTheirNames) {
    CEvent event(L"welkin_test");
    event.Label(L"a label").Category(L"a category").Action(L"an action").Value(7);
    event.Category(std::wstring(L"second category")).Set(L"Direct", L"set");
    event.Label(std::wstring(L"second label"));
    event.Action(std::wstring(L"second action"));
    const Record expected = {{L"UniqueIdentifier", L"welkin_test"}, {L"Event.Label", L"second label"},
                             {L"Event.Category", L"second category"}, {L"Event.Action", L"second action"},
                             {L"Event.Value", L"7"}, {L"Direct", L"set"}};
    EXPECT_EQ(event.record(), expected);
    EXPECT_TRUE(Warnings().empty());
    EXPECT_TRUE(CEvent().record().empty());
}

TEST_F(EventTest, AddRefusesPrivateAndNullNames) {
    struct Case {
        const wchar_t* name;
        const wchar_t* value;
        std::optional<std::wstring> stored;  // under the name
        const wchar_t* warning;
    };
    const Case cases[] = {
        {L"__caller.name", L"x", std::nullopt, L"Illegal request to add private dimension ('__caller.name ='x') - Ignored"},
        {L"__", L"v", std::nullopt, L"Illegal request to add private dimension ('__ ='v') - Ignored"},
        {L"_x", L"y", L"y", nullptr},
        {L"_", L"u", L"u", nullptr},
        {L"x__", L"w", L"w", nullptr},
        {L"n", nullptr, L"", nullptr},
        {L"", L"empty name", std::nullopt, nullptr},
        {nullptr, L"v", std::nullopt, L"Adding dimension with a [null] name - ignored."},
        {L"%s%n", L"%s", L"%s", nullptr},
    };
    for (const Case& c : cases) {
        journal.entries.clear();
        CEvent event;
        event.Add(c.name, c.value);
        const std::wstring label = c.name ? c.name : L"(null)";
        EXPECT_EQ(event.record().size(), c.stored ? 1u : 0u) << testing::PrintToString(label);
        if (c.stored) {
            EXPECT_EQ(Property(event, c.name), c.stored) << testing::PrintToString(label);
        }
        const std::vector<std::wstring> expectedWarnings =
            c.warning ? std::vector<std::wstring>{c.warning} : std::vector<std::wstring>{};
        EXPECT_EQ(Warnings(), expectedWarnings) << testing::PrintToString(label);
    }
}

TEST_F(EventTest, LaterValuesReplaceEarlierOnes) {
    CEvent event;
    event.Add(L"Hit.Result", L"first").Add(std::wstring(L"Hit.Result"), std::wstring(L"second"));
    EXPECT_EQ(Property(event, L"Hit.Result"), L"second");
    for (const auto& [number, text] : {std::pair<std::uint32_t, const wchar_t*>{0, L"0"}, {4294967295u, L"4294967295"}}) {
        event.Value(number);
        EXPECT_EQ(Property(event, L"Event.Value"), text);
    }
}

TEST_F(EventTest, SendStampsTheLibraryProperties) {
    auto clock = std::make_shared<FixedClock>();
    clock->counter = 123456789;
    CEvent event(L"id", clock);
    event.Send();
    EXPECT_EQ(Property(event, L"__track.api.version"), L"1.2.0");
    EXPECT_EQ(Property(event, L"Tracker.Type"), L"event");
    EXPECT_EQ(Property(event, L"__record.created"), L"2026-12-09 09:14:14Z");
    EXPECT_EQ(Property(event, L"__record.created.raw"), std::nullopt);
    EXPECT_EQ(Property(event, L"__record.created.seconds"), L"12");
    // Without a service the null transport takes the record; the connector's two properties are there.
    EXPECT_EQ(Property(event, L"__transport.name"), L"NULL-Pattern v1");
    EXPECT_TRUE(Property(event, L"__caller.name").has_value());
    EXPECT_EQ(Property(event, L"UniqueIdentifier"), L"id");
}

TEST_F(EventTest, TimesThatCannotBeFormattedAreSentRaw) {
    struct Case {
        std::int64_t wall;
        const wchar_t* formatted;  // null: raw
    };
    const Case cases[] = {{0, L"1970-01-01 00:00:00Z"},
                          {951782400, L"2000-02-29 00:00:00Z"},
                          {32535215999, L"3000-12-31 23:59:59Z"},
                          {-1, nullptr},
                          {LLONG_MAX, nullptr},  // past any year the runtime breaks down
                          {LLONG_MIN, nullptr}};
    auto clock = std::make_shared<FixedClock>();
    CEvent event(L"id", clock);
    for (const Case& c : cases) {
        clock->wall = c.wall;
        event.Send();  // a second Send of the same event sends refreshed properties
        if (c.formatted) {
            EXPECT_EQ(Property(event, L"__record.created"), c.formatted) << c.wall;
            EXPECT_EQ(Property(event, L"__record.created.raw"), std::nullopt) << c.wall;
        } else {
            EXPECT_EQ(Property(event, L"__record.created.raw"), std::to_wstring(c.wall)) << c.wall;
            EXPECT_EQ(Property(event, L"__record.created"), std::nullopt) << c.wall;
        }
    }
}

TEST_F(EventTest, MonotonicSecondsDoNotOverflow) {
    struct Case {
        std::int64_t counter, frequency;
        bool works;
        const wchar_t* seconds;
    };
    const Case cases[] = {
        {LLONG_MAX, 10000000, true, L"922337203685"},
        {3000000000LL * 86400 * 365, 3000000000LL, true, L"31536000"},  // a year of uptime at 3 GHz
        {9999999, 10000000, true, L"0"},
        {10000000, 10000000, true, L"1"},
        {5, 0, true, L"0"},
        {5, 1, false, L"0"},
    };
    auto clock = std::make_shared<FixedClock>();
    CEvent event(L"id", clock);
    for (const Case& c : cases) {
        clock->counter = c.counter;
        clock->ticksPerSecond = c.frequency;
        clock->counterWorks = c.works;
        event.Send();
        EXPECT_EQ(Property(event, L"__record.created.seconds"), c.seconds) << c.counter << "/" << c.frequency;
    }
}

TEST_F(EventTest, SystemClockGivesTodaysDate) {
    CEvent event(L"id");
    event.Send();
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    const auto created = Property(event, L"__record.created");
    ASSERT_TRUE(created.has_value());
    EXPECT_EQ(created->substr(0, 5), std::to_wstring(now.wYear) + L"-");
    EXPECT_EQ(created->size(), 20u);
    EXPECT_FALSE(Property(event, L"__record.created.seconds").value_or(L"").empty());
}

}  // namespace
