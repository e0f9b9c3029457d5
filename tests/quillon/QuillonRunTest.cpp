// The idle waiter's whole run in-process: settings from scrambled records, the minimum delay, the idle test, the
// desktop test and hook, both timers, the message loop, the exit code, its log lines and its events. Timer elapses
// are mapped to short real timers by the waiter double.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "QuillonFakes.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/ScrambledRecord.h"
#include "tests/support/WinePaths.h"
#include "quillon/Quillon.h"
#include "quillon/QuillonEvents.h"

using quillontest::BusySample;
using quillontest::FakeEvents;
using quillontest::FakePdh;
using quillontest::FakeWaiter;
using quillontest::IdleSample;
using quillontest::Sample;
using testsupport::ScrambledRecord;
using quillontest::TimerFailure;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

namespace {

const std::wstring kSettingsKey = L"Software\\Torvex\\Halvard\\OOBEAutoTune";

DWORD FieldDword(const quillontest::WrittenEvent& event, size_t field) {
    DWORD value = 0;
    std::memcpy(&value, event.fields.at(field).data(), sizeof value);
    return value;
}

class QuillonRunTest : public testsupport::LoggingFixture {
protected:
    void SetUp() override {
        LoggingFixture::SetUp();
        testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kSettingsKey);
        registry.Create(HKEY_LOCAL_MACHINE, kSettingsKey);
        // A run that hangs ends by its maximum delay after 20 s at the latest.
        waiter.elapseMap = {{600000, 20000}, {60000, 20000}};
    }
    void TearDown() override {
        testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kSettingsKey);
        LoggingFixture::TearDown();
    }

    void SetSetting(const wchar_t* name, DWORD value) {
        registry.SetBinary(HKEY_LOCAL_MACHINE, kSettingsKey, name, ScrambledRecord(REG_DWORD, &value, sizeof value));
    }
    DWORD Run() { return RunIdleWaiter({waiter, pdh, events}); }

    std::vector<std::wstring> Messages() const {
        std::vector<std::wstring> messages;
        for (const auto& entry : journal.entries) messages.push_back(entry.message);
        return messages;
    }
    std::vector<std::wstring> Functions() const {
        std::vector<std::wstring> functions;
        for (const auto& entry : journal.entries) functions.push_back(entry.function);
        return functions;
    }
    const quillontest::WrittenEvent& Event(USHORT id, size_t nth = 0) const {
        for (const auto& event : events.written)
            if (event.descriptor.Id == id && nth-- == 0) return event;
        ADD_FAILURE() << "no event " << id;
        static const quillontest::WrittenEvent none;
        return none;
    }

    testsupport::ScratchRegistry registry;
    FakePdh pdh;
    FakeEvents events;
    FakeWaiter waiter;
};

TEST_F(QuillonRunTest, WithoutSettingsTheDefaultsApplyAndEachGetterLogsTwice) {
    testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kSettingsKey);
    events.enableOnRegister = true;
    waiter.elapseMap[5000] = 20;

    EXPECT_EQ(Run(), 0u);

    EXPECT_THAT(waiter.sleeps, ElementsAre(120000u));
    EXPECT_THAT(waiter.requestedElapses, ElementsAre(600000u, 5000u));
    const auto& init = Event(kEvtIdleDetectInitEx);
    EXPECT_EQ(FieldDword(init, 0), 256u);
    EXPECT_EQ(FieldDword(init, 1), 80u);
    EXPECT_EQ(FieldDword(init, 2), 50u);
    EXPECT_EQ(FieldDword(init, 3), 1u);
    EXPECT_EQ(FieldDword(init, 4), 1u);
    EXPECT_THAT(Messages(), ElementsAre(L"GetMinimumDelay() , failed to retrieve dwMinimumDelay",
                                        L"GetMinimumDelay()  dwMinimumDelay : 2",
                                        L"MinimumDelayInMillisecond : 120000",
                                        L"Min Delay Sleep Started",
                                        L"Min Delay Sleep Ended",
                                        L"GetMaxWaitTime() , failed to retrieve MemoryMB",
                                        L"GetMemoryMB()  dwMemoryMB : 256",
                                        L"GetIdleTimeCPU() , failed to retrieve dwIdleTimeCPU",
                                        L"GetIdleTimeCPU()  dwIdleTimeCPU : 80",
                                        L"GetIdleTimeDisk() , failed to retrieve dwIdleTimeDisk",
                                        L"GetIdleTimeDisk()  dwIdleTimeDisk : 50",
                                        L"GetIdleCountRequired() , failed to retrieve IdleCountRequired",
                                        L"GetIdleCountRequired()  dwIdleCountRequired : 1",
                                        L"GetMaximumDelay() , failed to retrieve dwMaximumDelay",
                                        L"GetMaximumDelay()  dwMaximumDelay : 10",
                                        L"MaximumDelay Timer Started",
                                        L"GetQueryInterval() , failed to retrieve dwQueryInterval",
                                        L"GetQueryInterval()  dwQueryInterval : 5",
                                        L"OnTimerQueryInterval , System idle detected"));
    EXPECT_THAT(Functions(),
                ElementsAre(L"GetMinimumDelay", L"GetMinimumDelay", L"wWinMain", L"wWinMain", L"wWinMain",
                            L"GetMemory", L"GetMemory", L"GetIdleTimeCPU", L"GetIdleTimeCPU", L"GetIdleTimeDisk",
                            L"GetIdleTimeDisk", L"GetIdleCountRequired", L"GetIdleCountRequired", L"GetMaximumDelay",
                            L"GetMaximumDelay", L"wWinMain", L"GetQueryInterval", L"GetQueryInterval",
                            L"OnTimerQueryInterval"));
    for (const auto& entry : journal.entries) {
        EXPECT_EQ(entry.severity, 1u) << entry.message;
        EXPECT_NE(entry.file.find(L"Quillon"), std::wstring::npos) << entry.file;
    }
}

TEST_F(QuillonRunTest, TheFirstStreamLineCreatesTheLoggerUnderCommon) {
    SetSetting(L"MinimumDelay", 0);
    pdh.openStatus = 0xC0000BBC;

    Run();

    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].group, L"Common");
    EXPECT_EQ(calls[0].module, GetModuleHandleW(nullptr));
    ASSERT_FALSE(journal.entries.empty());
    EXPECT_EQ(journal.entries[0].function, L"GetMinimumDelay");
}

TEST_F(QuillonRunTest, OnlyAFourByteDwordRecordIsTaken) {
    struct Case {
        const char* name;
        std::function<void(testsupport::ScratchRegistry&)> store;
        DWORD expected;
    };
    const DWORD ten = 10;
    const Case cases[] = {
        {"dword record", [&](auto& r) { r.SetBinary(HKEY_LOCAL_MACHINE, kSettingsKey, L"QueryInterval",
                                                    ScrambledRecord(REG_DWORD, &ten, 4)); }, 10},
        {"plain dword", [&](auto& r) { r.SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QueryInterval", 10); }, 5},
        {"string record", [&](auto& r) { r.SetBinary(HKEY_LOCAL_MACHINE, kSettingsKey, L"QueryInterval",
                                                     ScrambledRecord(REG_SZ, "10", 3)); }, 5},
        {"short dword record", [&](auto& r) { r.SetBinary(HKEY_LOCAL_MACHINE, kSettingsKey, L"QueryInterval",
                                                          ScrambledRecord(REG_DWORD, &ten, 2)); }, 5},
        {"binary record", [&](auto& r) { r.SetBinary(HKEY_LOCAL_MACHINE, kSettingsKey, L"QueryInterval",
                                                     ScrambledRecord(REG_BINARY, &ten, 4)); }, 5},
        {"tampered record", [&](auto& r) {
             auto record = ScrambledRecord(REG_DWORD, &ten, 4);
             record.back() ^= 0x40;
             r.SetBinary(HKEY_LOCAL_MACHINE, kSettingsKey, L"QueryInterval", record);
         }, 5},
    };
    for (const auto& c : cases) {
        journal.entries.clear();
        c.store(registry);
        EXPECT_EQ(GetQueryInterval(), c.expected) << c.name;
        const std::wstring valueLine = L"GetQueryInterval()  dwQueryInterval : " + std::to_wstring(c.expected);
        if (c.expected == 10)
            EXPECT_THAT(Messages(), ElementsAre(valueLine)) << c.name;
        else
            EXPECT_THAT(Messages(), ElementsAre(L"GetQueryInterval() , failed to retrieve dwQueryInterval", valueLine))
                << c.name;
    }
}

TEST_F(QuillonRunTest, TheMinimumDelaySleepsInMinutesAndOnlyWhenSet) {
    struct Case {
        DWORD minutes;
        std::vector<DWORD> sleeps;
    };
    // A huge setting stops at the longest timer rather than wrapping round (71583 x 60000 wraps to 12704 ms).
    const Case cases[] = {{0, {}}, {1, {60000}}, {3, {180000}}, {71583, {0x7FFFFFFF}}};
    for (const auto& c : cases) {
        FakeWaiter caseWaiter;
        FakeEvents caseEvents;
        caseEvents.enableOnRegister = true;
        FakePdh failing;
        failing.openStatus = 0xC0000BBC;
        journal.entries.clear();
        SetSetting(L"MinimumDelay", c.minutes);

        EXPECT_EQ(RunIdleWaiter({caseWaiter, failing, caseEvents}), 0xC0000BBCu);

        EXPECT_EQ(caseWaiter.sleeps, c.sleeps) << c.minutes;
        const auto messages = Messages();
        const DWORD slept = c.sleeps.empty() ? 0 : c.sleeps[0];
        EXPECT_THAT(messages, Contains(L"MinimumDelayInMillisecond : " + std::to_wstring(slept)));
        if (c.minutes == 0) {
            EXPECT_THAT(messages, Not(Contains(std::wstring(L"Min Delay Sleep Started"))));
            EXPECT_THAT(messages, Not(Contains(std::wstring(L"Min Delay Sleep Ended"))));
        } else {
            EXPECT_THAT(messages, Contains(std::wstring(L"Min Delay Sleep Ended")));
        }
        // The state before and after the delay: only the minimum-delay flag changes.
        ASSERT_GE(caseEvents.written.size(), 2u);
        EXPECT_EQ(caseEvents.written[0].descriptor.Id, kEvtState);
        EXPECT_EQ(FieldDword(caseEvents.written[0], 2), 0u);
        EXPECT_EQ(caseEvents.written[1].descriptor.Id, kEvtState);
        EXPECT_EQ(FieldDword(caseEvents.written[1], 0), 0u);
        EXPECT_EQ(FieldDword(caseEvents.written[1], 2), 1u);
    }
}

TEST_F(QuillonRunTest, ADesktopWithoutInputEndsOnlyByTheMaximumDelay) {
    struct Case {
        const char* name;
        BOOL queried;
        DWORD flag;
    };
    // A failed query counts as no input, whatever it left in the flag.
    const Case cases[] = {{"no input", TRUE, 0}, {"query fails", FALSE, 1}};
    for (const auto& c : cases) {
        FakeWaiter caseWaiter;
        FakePdh casePdh;
        caseWaiter.desktop = {{c.queried, c.flag}};
        caseWaiter.elapseMap = {{60000, 300}, {1000, 10}};
        SetSetting(L"MinimumDelay", 0);
        SetSetting(L"MaximumDelay", 1);
        SetSetting(L"QueryInterval", 1);
        journal.entries.clear();

        EXPECT_EQ(RunIdleWaiter({caseWaiter, casePdh, events}), static_cast<DWORD>(ERROR_TIMEOUT)) << c.name;

        EXPECT_EQ(casePdh.collections, 0) << c.name;
        EXPECT_EQ(Messages().back(), L"OnTimerMaximumDelay , Time out") << c.name;
        EXPECT_EQ(Functions().back(), L"OnTimerMaximumDelay") << c.name;
        EXPECT_EQ(casePdh.closed, 1) << c.name;
        EXPECT_EQ(caseWaiter.killed.size(), 2u) << c.name;
    }
}

// Either timer's huge setting stops at the longest timer rather than wrapping round to a short one.
TEST_F(QuillonRunTest, AHugeTimerSettingStopsAtTheLongestTimer) {
    struct Case {
        const wchar_t* setting;
        DWORD value;
        std::vector<UINT> elapses;
    };
    const Case cases[] = {{L"MaximumDelay", 71583, {0x7FFFFFFF, 1000}},     // x 60000 wraps round to 12704 ms
                          {L"QueryInterval", 4294968, {60000, 0x7FFFFFFF}}};  // x 1000 wraps round to 704 ms
    for (const Case& c : cases) {
        FakeWaiter caseWaiter;
        FakePdh casePdh;
        caseWaiter.desktop = {{TRUE, 0}};
        // The maximum delay, whichever it is, ends the run.
        caseWaiter.elapseMap = {{c.elapses[0], 300}, {c.elapses[1], 10}};
        SetSetting(L"MinimumDelay", 0);
        SetSetting(L"MaximumDelay", 1);
        SetSetting(L"QueryInterval", 1);
        SetSetting(c.setting, c.value);
        EXPECT_EQ(RunIdleWaiter({caseWaiter, casePdh, events}), static_cast<DWORD>(ERROR_TIMEOUT)) << c.setting;
        EXPECT_EQ(caseWaiter.requestedElapses, c.elapses) << c.setting;
    }
}

TEST_F(QuillonRunTest, IdleMustHoldForTheRequiredConsecutiveSamples) {
    SetSetting(L"MinimumDelay", 0);
    SetSetting(L"MaximumDelay", 1);
    SetSetting(L"QueryInterval", 0);
    SetSetting(L"IdleCountRequired", 3);
    pdh.samples = {IdleSample(), IdleSample(), BusySample(), IdleSample(), IdleSample(), IdleSample(), BusySample()};

    EXPECT_EQ(Run(), 0u);

    EXPECT_EQ(pdh.collections, 6);
}

TEST_F(QuillonRunTest, AnIdleTestThatCannotOpenIsTheExitCode) {
    struct Case {
        const char* name;
        std::function<void(FakePdh&)> script;
        DWORD expected;
    };
    const Case cases[] = {
        {"positive status", [](FakePdh& p) { p.lookupStatus[4] = ERROR_ACCESS_DENIED; }, 0x80070005},
        {"pdh status", [](FakePdh& p) { p.lookupStatus[1746] = 0xC0000BB9; }, 0xC0000BB9},
    };
    for (const auto& c : cases) {
        FakePdh casePdh;
        FakeWaiter caseWaiter;
        FakeEvents caseEvents;
        c.script(casePdh);
        SetSetting(L"MinimumDelay", 0);

        EXPECT_EQ(RunIdleWaiter({caseWaiter, casePdh, caseEvents}), c.expected) << c.name;

        EXPECT_TRUE(caseWaiter.requestedElapses.empty()) << c.name;
        EXPECT_EQ(caseWaiter.desktopQueries, 0) << c.name;
        EXPECT_EQ(caseEvents.unregistrations, 1) << c.name;
    }
}

TEST_F(QuillonRunTest, ATimerThatCannotBeMadeNeverReadsAsIdle) {
    struct Case {
        int call;
        DWORD lastError;
        DWORD expected;
    };
    const Case cases[] = {{0, 0, ERROR_FUNCTION_FAILED}, {0, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
                          {1, 0, ERROR_FUNCTION_FAILED}, {1, ERROR_NO_SYSTEM_RESOURCES, ERROR_NO_SYSTEM_RESOURCES}};
    SetSetting(L"MinimumDelay", 0);
    for (const auto& c : cases) {
        FakePdh casePdh;
        FakeWaiter caseWaiter;
        FakeEvents caseEvents;
        caseEvents.enableOnRegister = true;
        caseWaiter.failures = {TimerFailure{c.call, c.lastError}};

        EXPECT_EQ(RunIdleWaiter({caseWaiter, casePdh, caseEvents}), c.expected) << c.call << " " << c.lastError;

        // The failed timer's event carries id 0; a timer already made is left to the end of the process.
        size_t seen = 0;
        for (const auto& event : caseEvents.written) {
            if (event.descriptor.Id != kEvtSetTimer) continue;
            UINT64 id = 0;
            std::memcpy(&id, event.fields.at(1).data(), sizeof id);
            EXPECT_EQ(id == 0, static_cast<int>(seen) == c.call);
            ++seen;
        }
        EXPECT_EQ(seen, static_cast<size_t>(c.call + 1));
        EXPECT_TRUE(caseWaiter.killed.empty());
        EXPECT_THAT(caseEvents.Ids(), Not(Contains(kEvtKillTimer)));
        EXPECT_EQ(casePdh.closed, 1);
    }
}

// A message wait that fails ends the run as a failure, whatever the message it broke off in holds.
TEST_F(QuillonRunTest, ABrokenMessageLoopNeverReadsAsIdle) {
    SetSetting(L"MinimumDelay", 0);
    for (WPARAM leftover : {WPARAM{0}, WPARAM{1460}}) {
        FakePdh casePdh;
        FakeWaiter caseWaiter;
        caseWaiter.messageFailureAt = 0;
        caseWaiter.brokenWParam = leftover;
        EXPECT_EQ(RunIdleWaiter({caseWaiter, casePdh, events}), static_cast<DWORD>(ERROR_FUNCTION_FAILED)) << leftover;
        EXPECT_EQ(caseWaiter.killed.size(), 2u);
        EXPECT_EQ(casePdh.closed, 1);
    }
}

// Two disks ease the disk threshold from 50 to 75: a sample at 70 % disk idle time is busy, one at 90 % is idle.
// The events carry the eased threshold, each sample's three values with its verdict, the sampling timer that saw
// the idle machine and the desktop flag as it was read.
TEST_F(QuillonRunTest, AnIdleRunOnTwoDisksReportsWhatItSaw) {
    events.enableOnRegister = true;
    pdh.diskInstances = {L"0 C:", L"1 D:", L"_Total"};
    Sample busy = IdleSample();
    busy.disk.value = 70;
    Sample idle = IdleSample();
    idle.disk.value = 90;
    pdh.samples = {busy, idle};
    waiter.desktop = {{TRUE, 7}};
    SetSetting(L"MinimumDelay", 0);
    SetSetting(L"QueryInterval", 0);

    EXPECT_EQ(Run(), 0u);

    const auto& init = Event(kEvtIdleDetectInitEx);
    EXPECT_THAT((std::vector<DWORD>{FieldDword(init, 0), FieldDword(init, 1), FieldDword(init, 2),
                                    FieldDword(init, 3), FieldDword(init, 4)}),
                ElementsAre(256u, 80u, 75u, 1u, 2u));
    const auto& first = Event(kEvtIsIdle, 0);
    EXPECT_THAT((std::vector<DWORD>{FieldDword(first, 0), FieldDword(first, 1), FieldDword(first, 2),
                                    FieldDword(first, 3)}),
                ElementsAre(2048u, 95u, 70u, 0u));
    const auto& second = Event(kEvtIsIdle, 1);
    EXPECT_THAT((std::vector<DWORD>{FieldDword(second, 0), FieldDword(second, 1), FieldDword(second, 2),
                                    FieldDword(second, 3)}),
                ElementsAre(2048u, 95u, 90u, 1u));
    const auto& timer = Event(kEvtOnTimer);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(timer.fields.at(0).data())), L"QueryInterval");
    const auto& desktop = Event(kEvtIsCurrentDesktopInteractive);
    ASSERT_EQ(desktop.fields.at(0).size(), sizeof(double));
    double flag = 0;
    std::memcpy(&flag, desktop.fields.at(0).data(), sizeof flag);
    EXPECT_EQ(flag, 7.0);
}

TEST_F(QuillonRunTest, WithoutASessionNoEventIsWritten) {
    SetSetting(L"MinimumDelay", 0);
    SetSetting(L"QueryInterval", 0);
    waiter.elapseMap[600000] = 20000;

    EXPECT_EQ(Run(), 0u);

    EXPECT_EQ(events.registrations, 1);
    EXPECT_EQ(events.unregistrations, 1);
    EXPECT_TRUE(events.written.empty());
}

TEST_F(QuillonRunTest, ASessionSeesEveryStepOfARunThatTimesOut) {
    events.enableOnRegister = true;
    waiter.desktop = {{TRUE, 0}};
    waiter.elapseMap = {{60000, 50}, {1000, 20000}};
    SetSetting(L"MinimumDelay", 0);
    SetSetting(L"MaximumDelay", 1);
    SetSetting(L"QueryInterval", 1);

    EXPECT_EQ(Run(), static_cast<DWORD>(ERROR_TIMEOUT));

    EXPECT_THAT(events.Ids(), ElementsAre(kEvtState, kEvtState, kEvtIdleDetectInitEx, kEvtSetWinEventHook,
                                          kEvtOnWinEvent, kEvtIsCurrentDesktopInteractive, kEvtSetTimer,
                                          kEvtSetTimer, kEvtOnTimer, kEvtState, kEvtKillTimer, kEvtKillTimer,
                                          kEvtUnhookWinEvent, kEvtIdleDetectDeinit));
    const auto& hook = Event(kEvtSetWinEventHook);
    EXPECT_EQ(FieldDword(hook, 1), static_cast<DWORD>(EVENT_SYSTEM_DESKTOPSWITCH));
    EXPECT_EQ(FieldDword(hook, 2), static_cast<DWORD>(EVENT_SYSTEM_DESKTOPSWITCH));
    EXPECT_EQ(FieldDword(hook, 7), static_cast<DWORD>(WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS));
    EXPECT_EQ(FieldDword(Event(kEvtOnWinEvent), 1), static_cast<DWORD>(EVENT_SYSTEM_DESKTOPSWITCH));
    EXPECT_EQ(Event(kEvtOnTimer).fields.at(0).size(), sizeof L"MaximumDelay");
    EXPECT_EQ(Event(kEvtKillTimer, 0).fields.at(0).size(), sizeof L"MaximumDelay");
    EXPECT_EQ(Event(kEvtKillTimer, 1).fields.at(0).size(), sizeof L"QueryInterval");
}

TEST_F(QuillonRunTest, ADesktopSwitchLetsTheSamplingBegin) {
    events.enableOnRegister = true;
    waiter.desktop = {{TRUE, 0}, {TRUE, 1}};
    waiter.elapseMap = {{60000, 20000}};
    SetSetting(L"MinimumDelay", 0);
    SetSetting(L"MaximumDelay", 1);
    SetSetting(L"QueryInterval", 0);
    // Once both timers exist, another process announces a desktop switch.
    waiter.onSetTimer = [](int call) {
        if (call != 1) return;
        std::wstring command = L"\"" + testsupport::WindowsPathOf(DESKTOP_SWITCH_NOTIFIER_EXE) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    };

    EXPECT_EQ(Run(), 0u);

    EXPECT_EQ(waiter.desktopQueries, 2);
    // The hook's own report of the switch, after the one written when it was installed.
    const auto& reported = Event(kEvtOnWinEvent, 1);
    EXPECT_EQ(FieldDword(reported, 1), static_cast<DWORD>(EVENT_SYSTEM_DESKTOPSWITCH));
    EXPECT_NE(FieldDword(reported, 5), 0u);
    EXPECT_GE(pdh.collections, 1);
}

}  // namespace
