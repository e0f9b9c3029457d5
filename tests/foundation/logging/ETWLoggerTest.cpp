// The ETW logger through a recording trace API: the bytes of each event, the gate and the level of each severity,
// the cut message, the control callback, the provider registration, and the log roads of a process into it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/basalt/BasaltLogger.h"
#include "foundation/logging/ETWLogger.h"
#include "foundation/logging/LogSite.h"
#include "foundation/logging/LogStream.h"
#include "foundation/logging/LoggerTesting.h"
#include "tests/support/RecordingTraceCalls.h"

namespace {

using ETWLogging::CETWLogging;
using testsupport::DecodeRecord;
using testsupport::RecordingTraceCalls;
using testsupport::TracedEvent;

// {CD1DAAD0-54CC-11E0-B8AF-0800200C9A66}
const GUID kEventClass = {0xCD1DAAD0, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
// {E16CA450-55CC-11E0-B8AF-0800200C9A66}
const GUID kDefaultProvider = {0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
const wchar_t kProgram[] = L"logging_etw_tests.exe";

template <class T>
T At(const std::vector<BYTE>& bytes, size_t offset) {
    T value{};
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::string Text(const std::vector<BYTE>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class ETWLoggerTest : public ::testing::Test {
protected:
    void Open(const wchar_t* group = L"wtetw") { ASSERT_EQ(0u, logger->open(group, nullptr, nullptr, 0)); }
    // Opened, registered and enabled by a session at the given level.
    void OpenEnabled(UCHAR level) {
        Open();
        ASSERT_EQ(0u, logger->registerProvider());
        ASSERT_EQ(0u, trace->enable(kSession, level, 0));
    }
    std::vector<TracedEvent> Events() { return trace->events(); }
    TracedEvent OnlyEvent() {
        const auto events = Events();
        EXPECT_EQ(1u, events.size());
        return events.empty() ? TracedEvent{} : events[0];
    }

    static constexpr TRACEHANDLE kSession = 0x77;
    std::shared_ptr<RecordingTraceCalls> trace = std::make_shared<RecordingTraceCalls>();
    std::unique_ptr<CETWLogging> logger = std::make_unique<CETWLogging>(trace);
};

TEST_F(ETWLoggerTest, EventIsTheHeaderThePackedRecordAndTheUtf8Message) {
    OpenEnabled(1);
    const DWORD line = 4321;
    EXPECT_EQ(0u, logger->logText(4, L"foundation/x/Some.cpp", L"Ns::CSome::run", line, L"caf\u00e9 \u20ac"));
    const TracedEvent e = OnlyEvent();
    EXPECT_EQ(kSession, e.session);

    // The 80 bytes as TraceEvent reads them.
    ASSERT_EQ(80u, e.header.size());
    EXPECT_EQ(80, At<USHORT>(e.header, 0));                // Size
    EXPECT_EQ(1, e.header[4]);                             // Class.Type
    EXPECT_EQ(4, e.header[5]);                             // Class.Level
    EXPECT_EQ(2, At<USHORT>(e.header, 6));                 // Class.Version
    EXPECT_EQ(0u, At<ULONG>(e.header, 8));                 // no thread id of our own
    EXPECT_TRUE(IsEqualGUID(kEventClass, At<GUID>(e.header, 24)));
    EXPECT_EQ(0x120000u, At<ULONG>(e.header, 44));         // traced GUID, MOF pointers
    EXPECT_EQ(e.record.size(), At<ULONG>(e.header, 56));   // first MOF field: length
    EXPECT_EQ(e.message.size(), At<ULONG>(e.header, 72));  // second MOF field: length

    EXPECT_EQ("caf\xC3\xA9 \xE2\x82\xAC", Text(e.message));

    const auto r = DecodeRecord(e.record);
    EXPECT_TRUE(r.whole);  // no padding, nothing after the message length
    EXPECT_EQ(GetCurrentProcessId(), r.processId);
    EXPECT_EQ(GetCurrentThreadId(), r.threadId);
    EXPECT_EQ(kProgram, r.image);
    EXPECT_EQ(L"foundation/x/Some.cpp", r.file);
    EXPECT_EQ(L"Ns::CSome::run", r.function);
    EXPECT_EQ(line, r.line);
    EXPECT_EQ(kProgram, r.module);
    EXPECT_EQ(L"1.2.3.4", r.version);  // the program's "1, 2, 3, 4"
    EXPECT_EQ(L"wtetw", r.group);
    EXPECT_EQ(e.message.size(), r.messageBytes);
    // The first field by its offsets: u32, u32, then the u16 count of the image name.
    EXPECT_EQ(GetCurrentProcessId(), At<DWORD>(e.record, 0));
    EXPECT_EQ(wcslen(kProgram), At<USHORT>(e.record, 8));
}

TEST_F(ETWLoggerTest, RecordGrowsPastItsFirstBufferAndMissingTextsPackEmpty) {
    OpenEnabled(1);
    const std::wstring longFunction(700, L'f');  // 1400 bytes: more than 1.5 times 256
    logger->logText(5, nullptr, longFunction.c_str(), 1, L"m");
    const auto r = DecodeRecord(OnlyEvent().record);
    EXPECT_TRUE(r.whole);
    EXPECT_EQ(L"", r.file);
    EXPECT_EQ(longFunction, r.function);
}

TEST_F(ETWLoggerTest, EachSeverityHasItsGateAndItsLevel) {
    struct Case {
        DWORD threshold;
        DWORD severity;
        bool passes;
        int level;
    } cases[] = {
        {1, 0, false, 0}, {1, 1, true, 1}, {1, 2, true, 2}, {1, 3, true, 3}, {1, 4, true, 4},
        {1, 5, true, 5},  {1, 6, true, 3}, {1, 7, true, 3},
        {4, 2, false, 0}, {4, 3, true, 3},  // Information passes whatever the threshold
        {4, 4, true, 4},  {6, 5, false, 0}, {6, 6, true, 3},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "threshold " << c.threshold << " severity " << c.severity);
        logger->setSeverity(c.threshold);
        const size_t before = trace->eventCount();
        EXPECT_EQ(c.passes, logger->isSeverityEnabled(c.severity));
        logger->logText(c.severity, L"f", L"fn", 1, L"m");
        ASSERT_EQ(before + (c.passes ? 1 : 0), trace->eventCount());
        if (c.passes) {
            EXPECT_EQ(c.level, Events().back().header[5]);
        }
    }
}

TEST_F(ETWLoggerTest, MessageIsCutTo2079CharactersAndItsTerminator) {
    struct Case {
        size_t chars;
        wchar_t c;
        std::string expected;
    } cases[] = {
        {3000, L'x', std::string(2079, 'x') + '\0'},
        {2080, L'x', std::string(2079, 'x') + '\0'},
        {2079, L'x', std::string(2079, 'x')},  // fits beside the terminator: no NUL is sent
        {3000, L'\u00e9', [] {
             std::string s;
             for (int i = 0; i < 2079; ++i) s += "\xC3\xA9";
             return s + '\0';
         }()},
        {1, L'x', "x"},
        {0, L'x', ""},
    };
    OpenEnabled(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chars);
        logger->logText(2, L"f", L"fn", 1, std::wstring(c.chars, c.c).c_str());
        const TracedEvent e = Events().back();
        EXPECT_EQ(c.expected, Text(e.message));
        EXPECT_EQ(c.expected.size(), DecodeRecord(e.record).messageBytes);
    }
}

TEST_F(ETWLoggerTest, PrintfFormsFormatOnlyWhatIsEnabled) {
    Open();
    logger->log(4, L"f", L"fn", 1, L"%s=%u", L"count", 12u);
    logger->logError(L"f", L"fn", 2, L"%d%%", -5);
    logger->log(4, L"f", L"fn", 3, L"");  // an empty format sends nothing
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), logger->writeEventSafe(4, L"f", L"fn", 4, nullptr));
    logger->setEnabled(false);
    logger->log(4, L"f", L"fn", 5, L"disabled");
    EXPECT_EQ(0u, logger->logString(L"f", L"fn", 6, 5, L"disabled"));
    const auto events = Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ("count=12", Text(events[0].message));
    EXPECT_EQ("-5%", Text(events[1].message));
}

TEST_F(ETWLoggerTest, UntilAControllerEnablesItTheLoggerPassesInformationAndAbove) {
    Open();
    EXPECT_TRUE(logger->isEnabled());
    EXPECT_EQ(3u, logger->getSeverity());
    logger->logText(3, L"f", L"fn", 1, L"m");
    EXPECT_EQ(0u, OnlyEvent().session);  // no session: the event reaches nobody
}

// Remembers what the logger tells its listener; may be told to throw.
class RecordingListener : public ETWLogging::LoggingConfigListenerIf {
public:
    struct Change {
        DWORD enable, level;
        ULONG flags;
    };
    explicit RecordingListener(std::vector<Change>& changes, bool& throwing) : changes_(changes), throwing_(throwing) {}
    void onChange(DWORD enable, DWORD level, ULONG flags) override {
        if (throwing_) throw std::runtime_error("listener");
        changes_.push_back({enable, level, flags});
    }

private:
    std::vector<Change>& changes_;
    bool& throwing_;
};

TEST_F(ETWLoggerTest, ControllerEnablesOneSessionAtATimeAndDisablesIt) {
    OpenEnabled(5);
    EXPECT_EQ(5u, logger->getSeverity());
    EXPECT_TRUE(logger->isSessionHandle(kSession));

    EXPECT_EQ(0u, trace->enable(0x99, 2, 0));  // another session: ignored
    EXPECT_EQ(5u, logger->getSeverity());
    EXPECT_TRUE(logger->isSessionHandle(kSession));

    EXPECT_EQ(0u, trace->enable(kSession, 2, 0));  // the same session changes its level
    EXPECT_EQ(2u, logger->getSeverity());
    logger->logText(2, L"f", L"fn", 1, L"to the session");
    EXPECT_EQ(kSession, Events().back().session);

    EXPECT_EQ(0u, trace->disable(kSession));
    EXPECT_FALSE(logger->isEnabled());
    EXPECT_FALSE(logger->isSessionHandle(kSession));
    const size_t sent = trace->eventCount();
    logger->logText(5, L"f", L"fn", 1, L"disabled");
    EXPECT_EQ(sent, trace->eventCount());

    EXPECT_EQ(0u, trace->enable(0x99, 4, 0));  // free again: the other session takes it
    EXPECT_TRUE(logger->isSessionHandle(0x99));
    EXPECT_TRUE(logger->isEnabled());
    EXPECT_EQ(4u, logger->getSeverity());
}

TEST_F(ETWLoggerTest, EnableWithLevelZeroOrNoSessionChangesNeitherEnabledNorThreshold) {
    Open();
    ASSERT_EQ(0u, logger->registerProvider());
    logger->setEnabled(false);
    EXPECT_EQ(static_cast<ULONG>(ERROR_NOT_FOUND), trace->enable(kSession, 0, 0x30, ERROR_NOT_FOUND));
    EXPECT_EQ(0u, trace->enable(kSession, 0, 0x30));  // the last error was cleared first
    EXPECT_FALSE(logger->isEnabled());
    EXPECT_EQ(3u, logger->getSeverity());

    // A buffer that names no session.
    EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_HANDLE), trace->control(WMI_ENABLE_EVENTS, 0x4444));
    EXPECT_FALSE(logger->isSessionHandle(0x4444));
    EXPECT_FALSE(logger->isEnabled());
}

TEST_F(ETWLoggerTest, ListenerHearsLevelFlagsAndDisablesAndTheCallbackLetsNothingOut) {
    std::vector<RecordingListener::Change> changes;
    bool throwing = false;
    ASSERT_EQ(0u, logger->openEx(nullptr, L"wtetw", nullptr, nullptr, new RecordingListener(changes, throwing)));
    ASSERT_EQ(0u, logger->registerProvider());
    logger->setSeverity(4);
    EXPECT_EQ(0u, trace->enable(kSession, 5, 0x30));
    EXPECT_EQ(0u, trace->disable(kSession));
    ASSERT_EQ(3u, changes.size());
    const RecordingListener::Change expected[] = {{1, 3, 0}, {1, 5, 0x30}, {0, 4, 0}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(expected[i].enable, changes[i].enable) << i;
        EXPECT_EQ(expected[i].level, changes[i].level) << i;
        EXPECT_EQ(expected[i].flags, changes[i].flags) << i;
    }

    throwing = true;
    EXPECT_NE(0u, trace->enable(kSession, 5, 0));
    EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_PARAMETER), trace->control(WMI_GET_ALL_DATA, kSession));
    ULONG size = 0;
    EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_PARAMETER),
              CETWLogging::ControlCallback(WMI_ENABLE_EVENTS, nullptr, &size, nullptr));
}

TEST_F(ETWLoggerTest, ProviderIsRegisteredOnceAndUnregisteredAtClose) {
    Open();
    EXPECT_TRUE(trace->registrations.empty());  // not before the first write
    EXPECT_EQ(0u, logger->registerProvider());
    EXPECT_EQ(0u, logger->registerProvider());
    ASSERT_EQ(1u, trace->registrations.size());
    const auto& r = trace->registrations[0];
    EXPECT_EQ(static_cast<ETWLogging::CLoggingIf_ex*>(logger.get()), r.context);
    EXPECT_TRUE(IsEqualGUID(kDefaultProvider, r.controlGuid));
    EXPECT_EQ(1u, r.guidCount);
    EXPECT_TRUE(IsEqualGUID(kEventClass, r.eventClass));
    EXPECT_TRUE(r.mofImagePathNull);
    EXPECT_TRUE(r.mofResourceNameNull);

    EXPECT_EQ(0u, logger->close());
    ASSERT_EQ(1u, trace->unregistered.size());
    EXPECT_EQ(trace->nextRegistration, trace->unregistered[0]);
    EXPECT_FALSE(logger->isEnabled());
    EXPECT_EQ(0u, logger->close());
}

TEST_F(ETWLoggerTest, FailedRegistrationIsReportedOnceAndWritesGoOn) {
    trace->registerResult = ERROR_ACCESS_DENIED;
    Open();
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), logger->registerProvider());
    EXPECT_EQ(0u, logger->registerProvider());
    EXPECT_EQ(1u, trace->registrations.size());
    logger->logText(4, L"f", L"fn", 1, L"m");
    EXPECT_EQ(1u, trace->eventCount());
}

TEST_F(ETWLoggerTest, DestroyingARegisteredLoggerUnregistersIt) {
    ASSERT_EQ(0u, logger->registerProvider());  // even one that was never opened
    logger.reset();
    ASSERT_EQ(1u, trace->unregistered.size());
}

TEST_F(ETWLoggerTest, OpenChecksItsArgumentsAndNamesTheIdentity) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), logger->open(L"", nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), logger->open(L"wtetw", nullptr, L"", 0));
    Open();
    EXPECT_EQ(CETWLogging::kAlreadyOpen, logger->open(L"wtetw", nullptr, nullptr, 0));
    std::wstring identity, group;
    logger->getIdentityName(identity);
    logger->getGroupName(group);
    EXPECT_EQ(L"wtetw\\logging_etw_tests", identity);
    EXPECT_EQ(L"wtetw", group);

    CETWLogging noGroup(trace);
    ASSERT_EQ(0u, noGroup.open(nullptr, nullptr, L"host", 0));
    noGroup.getIdentityName(identity);
    EXPECT_EQ(L"logging_etw_tests", identity);
}

// Makes the process's logger an ETW logger on the recording trace API.
class RecordingETWBuilder : public ETWLogging::CLogBuilderIf {
public:
    explicit RecordingETWBuilder(std::shared_ptr<RecordingTraceCalls> trace) : trace_(std::move(trace)) {}
    bool create(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD, ETWLogging::CLoggingIf*& logger,
                ETWLogging::CConfigReaderIf*) override {
        auto* made = new CETWLogging(trace_);
        if (made->open(group, module, host, 0) != 0) {
            delete made;
            return false;
        }
        logger = made;
        logger->AddRef();
        return true;
    }

private:
    std::shared_ptr<RecordingTraceCalls> trace_;
};

class ETWLogRoadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ETWLogging::testing::ResetLoggerForTesting();
        ETWLogging::testing::SetLogBuilder(new RecordingETWBuilder(trace));
        ETWLogging::InitLogging(nullptr, L"wtroads", nullptr, nullptr, 0);
    }
    void TearDown() override { ETWLogging::testing::ResetLoggerForTesting(); }

    std::shared_ptr<RecordingTraceCalls> trace = std::make_shared<RecordingTraceCalls>();
};

// A process whose lines are all stream lines registers too, or no controller could ever enable it.
TEST_F(ETWLogRoadsTest, StreamLinesAloneRegisterTheProvider) {
    ETWLogging::LogLine(ETWLogging::kSeverityInformation, LOG_HERE) << L"stream " << 1;
    ASSERT_EQ(1u, trace->registrations.size());
    ASSERT_EQ(0u, trace->enable(0x31, 4, 0));
    ETWLogging::LogLine(ETWLogging::kSeverityError, LOG_HERE) << L"stream " << 2;
    const auto events = trace->events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ("stream 1", Text(events[0].message));
    EXPECT_EQ(0x31u, events[1].session);
    EXPECT_EQ(L"tests/foundation/logging/ETWLoggerTest.cpp", DecodeRecord(events[1].record).file);
}

TEST_F(ETWLogRoadsTest, EveryRoadReachesTheSession) {
    LOG_AT(ETWLogging::kSeverityCritical, L"site %d", 1);
    ASSERT_EQ(0u, trace->enable(0x31, 1, 0));
    ETWLogging::LogLine(ETWLogging::kSeverityWarning, LOG_HERE) << L"stream " << 2;
    Basalt::CLogger::Log(2, L"basalt.cpp", L"Basalt::Thing::work", 3, L"basalt %d", 3);
    ETWLogging::WriteLogEntryRaw(ETWLogging::GetLogger(), L"raw.cpp", L"raw", 4, ETWLogging::kSeverityNormal,
                                 L"raw 4");
    EXPECT_EQ(1u, trace->registrations.size());
    const auto events = trace->events();
    ASSERT_EQ(4u, events.size());
    const struct {
        const char* message;
        int level;
    } expected[] = {{"site 1", 5}, {"stream 2", 2}, {"basalt 3", 4}, {"raw 4", 1}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(expected[i].message, Text(events[i].message));
        EXPECT_EQ(expected[i].level, events[i].header[5]) << expected[i].message;
    }
    EXPECT_EQ(0u, events[0].session);
    EXPECT_EQ(0x31u, events[3].session);
    const auto site = DecodeRecord(events[0].record);
    EXPECT_EQ(L"wtroads", site.group);
    EXPECT_NE(std::wstring::npos, site.function.find(L"EveryRoadReachesTheSession"));
}

}  // namespace
