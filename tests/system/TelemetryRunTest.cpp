// welkin's telemetry events as the service receives them, and runs whose service is absent, refuses or fails.
#include <gmock/gmock.h>

#include <algorithm>
#include <string>

#include "tests/system/WelkinRun.h"

namespace systemtest {
namespace {

using Orvan::Analytics::Record;
using testsupport::TelemetryServiceDouble;

constexpr DWORD kEFail = 0x80004005;

const Record kUserModeEvent = {{L"UniqueIdentifier", L"welkin_apply_usermode_settings"},
                               {L"Event.Label", L"usermode_settings_applied"},
                               {L"Event.Category", L"PartnerComponent"},
                               {L"Event.Action", L"apply_usermode_settings"},
                               {L"hit.result", L"Success"},
                               {L"Trigger", L"applyusermodesettings"},
                               {L"hit.trigger", L"applyusermodesettings"},
                               {L"hit.label.1", L"welkin applied the user mode settings"},
                               {L"hit.source", L"welkin"}};
const Record kOobeDoneEvent = {{L"UniqueIdentifier", L"welkin_monitoring"},
                               {L"Event.Category", L"PartnerComponent"},
                               {L"Event.Label", L"OOBE_done_flag_is_set"},
                               {L"Event.Action", L"Torvex OOBEDone"},
                               {L"hit.result", L"Success"},
                               {L"hit.trigger", L"run"},
                               {L"hit.label.1", L"OOBE done flag is set"},
                               {L"hit.source", L"welkin"}};
const Record kStartServicesEvent = {{L"UniqueIdentifier", L"welkin_start_all_services"},
                                    {L"Event.Label", L"welkin_starting_all_services"},
                                    {L"Event.Category", L"PartnerComponent"},
                                    {L"Event.Action", L"start_all_services"},
                                    {L"Hit.Trigger", L"_tWinMain"},
                                    {L"Hit.Result", L"Starting"},
                                    {L"Hit.Label.1", L"welkin is starting all the services"},
                                    {L"Hit.Source", L"welkin"}};

class TelemetryRun : public WelkinRun {
protected:
    // The caller's dimensions of each record sent, after checking the library's own properties of each.
    std::vector<Record> SentEvents() {
        std::wstring caller;
        for (const wchar_t c : ProgramPath()) caller += c == L'\\' ? std::wstring(L"\\\\") : std::wstring(1, c);
        std::vector<Record> events;
        for (Record record : Telemetry().SentRecords()) {
            EXPECT_EQ(record[L"__track.api.version"], L"1.2.0");
            EXPECT_EQ(record[L"Tracker.Type"], L"event");
            EXPECT_EQ(record[L"__transport.name"], L"Legacy v1");
            EXPECT_EQ(record[L"__caller.name"], caller);
            EXPECT_EQ(record[L"__record.created"].size(), 20u);  // "2026-12-10 13:05:00Z"
            EXPECT_FALSE(record[L"__record.created.seconds"].empty());
            for (const wchar_t* own : {L"__track.api.version", L"Tracker.Type", L"__transport.name", L"__caller.name",
                                       L"__record.created", L"__record.created.seconds"})
                record.erase(own);
            events.push_back(record);
        }
        return events;
    }
    // Every instance of the service that welkin made was released again.
    void ExpectInstancesReleased() const {
        const auto events = Telemetry().Events();
        const auto created = std::count_if(events.begin(), events.end(),
                                           [](const std::string& e) { return e.rfind("create ", 0) == 0; });
        EXPECT_EQ(created, std::count(events.begin(), events.end(), "release"));
    }
};

TEST_F(TelemetryRun, CompletedRunSendsItsThreeEventsInOrder) {
    InstallTelemetryService();
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    AddCommand(kHalvardUserMode, L"done", L"--exit 0", 0, true);
    EXPECT_EQ(0u, RunWelkin());
    EXPECT_THAT(SentEvents(), testing::ElementsAre(kUserModeEvent, kOobeDoneEvent, kStartServicesEvent));
    ExpectInstancesReleased();
}

TEST_F(TelemetryRun, OnlyASignedServerIsLoadedAndGetsTheEvents) {
    struct Case {
        bool signedServer;
        const wchar_t* factories;  // the trusted factory interfaces the server answers
    };
    const Case cases[] = {{true, L""}, {true, L"both"}, {false, L""}, {false, L"both"}};
    for (const Case& c : cases) {
        const std::string name = (c.signedServer ? "signed, factories " : "unsigned, factories ") +
                                 std::string(c.factories, c.factories + wcslen(c.factories));
        InstallTelemetryService({{TelemetryServiceDouble::kFactories, c.factories}}, c.signedServer);
        SetRecordDword(kHalvardOem, L"OEMMgr", 1);
        AddCommand(kHalvardUserMode, L"done", L"--exit 0", 0, true);
        EXPECT_EQ(0u, RunWelkin()) << name;
        EXPECT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0)) << name;
        if (c.signedServer) {
            EXPECT_THAT(SentEvents(), testing::ElementsAre(kUserModeEvent, kOobeDoneEvent, kStartServicesEvent))
                << name;
            ExpectInstancesReleased();
        } else {
            // Refused before COM was asked for its class object: the server's code never ran in welkin.
            EXPECT_TRUE(Telemetry().Events().empty()) << name;
        }
        ResetMachine();
    }
}

TEST_F(TelemetryRun, EventsFollowTheRunsRoad) {
    struct Case {
        const char* name;
        bool runFlag;
        const wchar_t* commandArguments;  // null: no command
        DWORD exitCode;
        std::vector<Record> events;
    };
    const Case cases[] = {
        {"run flag clear", false, nullptr, kEFail, {kStartServicesEvent}},
        {"no commands", true, nullptr, 0, {kUserModeEvent, kOobeDoneEvent, kStartServicesEvent}},
        {"command to retry", true, L"--exit 2", 1, {kStartServicesEvent}},
        {"own product's command to retry", true, L"--exit 2 /own", 1, {kUserModeEvent, kStartServicesEvent}},
    };
    for (const Case& c : cases) {
        InstallTelemetryService();
        if (c.runFlag) SetRecordDword(kHalvardOem, L"OEMMgr", 1);
        if (c.commandArguments) {
            const bool own = std::wstring(c.commandArguments).find(L"/own") != std::wstring::npos;
            AddCommand(own ? kHalvardUserModeKVR : kHalvardUserMode, L"cmd", c.commandArguments, 0, true);
        }
        EXPECT_EQ(c.exitCode, RunWelkin()) << c.name;
        EXPECT_EQ(SentEvents(), c.events) << c.name;
        ResetMachine();
    }
}

TEST_F(TelemetryRun, ServiceThatRefusesOrFailsLeavesTheRunAsItWas) {
    struct Case {
        const char* name;
        std::map<std::wstring, std::wstring> settings;
        bool register_;
    };
    const Case cases[] = {
        {"absent", {}, false},
        {"creation refused", {{TelemetryServiceDouble::kFailCreate, L"1"}}, true},
        {"call fails", {{TelemetryServiceDouble::kResult, L"0x80004005"}}, true},
        {"out of memory", {{TelemetryServiceDouble::kResult, L"0x8007000E"}}, true},
    };
    for (const Case& c : cases) {
        if (c.register_) InstallTelemetryService(c.settings);
        SetRecordDword(kHalvardOem, L"OEMMgr", 1);
        AddCommand(kHalvardUserMode, L"done", L"--exit 0 /done", 0, true);
        EXPECT_EQ(0u, RunWelkin()) << c.name;
        EXPECT_EQ(1u, CommandStarts().size()) << c.name;
        EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99)) << c.name;
        EXPECT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0)) << c.name;
        EXPECT_EQ(0u, RecordDword(kHalvardOem, L"DisableServices").value_or(99)) << c.name;
        ExpectInstancesReleased();
        ResetMachine();
    }
}

}  // namespace
}  // namespace systemtest
