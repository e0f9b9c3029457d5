#include "foundation/logging/LogStream.h"

#include <iomanip>
#include <thread>

#include "tests/support/RecordingLogger.h"

namespace logtest {
using namespace testsupport;
namespace {

using ETWLogging::LogLine;

using LogStream = LoggingFixture;

TEST_F(LogStream, FirstStreamLineCreatesTheLoggerUnderTheProgramsModuleName) {
    LogLine(ETWLogging::kSeverityInformation, LOG_HERE) << L"first";
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"logging_core_tests", calls[0].group);
    EXPECT_TRUE(calls[0].hostNull);
    EXPECT_EQ(nullptr, calls[0].applicationName);
    EXPECT_EQ(GetModuleHandleW(nullptr), calls[0].module);
}

TEST_F(LogStream, ProgramMaySetAnotherModuleName) {
    ETWLogging::SetLogStreamModuleName(L"Common");
    LogLine(ETWLogging::kSeverityInformation, LOG_HERE) << L"first";
    ETWLogging::SetLogStreamModuleName(nullptr);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"Common", calls[0].group);
}

TEST_F(LogStream, LineCarriesItsOwnSeverityAndSourcePosition) {
    struct Case {
        FakeBuilder::Kind kind;
        const wchar_t* via;
    };
    for (const Case& c : {Case{FakeBuilder::Kind::Plain, L"log"}, Case{FakeBuilder::Kind::Extended, L"logText"}}) {
        SetUp();
        builder->kind = c.kind;
        const DWORD line = __LINE__ + 1;
        LogLine(ETWLogging::kSeverityWarning, LOG_HERE) << L"count " << 42 << L" of " << 7u;
        ASSERT_EQ(1u, journal.entries.size());
        const Entry& e = journal.entries[0];
        EXPECT_EQ(c.via, e.via);
        EXPECT_EQ(L"count 42 of 7", e.message);
        EXPECT_EQ(ETWLogging::kSeverityWarning, e.severity);
        EXPECT_EQ(line, e.line);
        EXPECT_EQ(L"tests/foundation/logging/LogStreamTest.cpp", e.file);
        EXPECT_NE(std::wstring::npos, e.function.find(L"LineCarriesItsOwnSeverityAndSourcePosition"));
        TearDown();
    }
}

// Every line asks the logger to register its provider first, as a log site does; a refusal drops that line.
TEST_F(LogStream, LineRegistersTheProviderFirst) {
    builder->kind = FakeBuilder::Kind::Extended;
    LogLine(3, LOG_HERE) << L"registered";
    EXPECT_EQ(1, journal.registerCalls);
    journal.registerResult = ERROR_ACCESS_DENIED;
    LogLine(3, LOG_HERE) << L"refused";
    EXPECT_EQ(2, journal.registerCalls);
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(L"registered", journal.entries[0].message);
}

TEST_F(LogStream, ShorterLineCarriesNoRemainderOfALongerOne) {
    LogLine(3, LOG_HERE) << L"a much longer line of text";
    LogLine(3, LOG_HERE) << L"short";
    ASSERT_EQ(2u, journal.entries.size());
    EXPECT_EQ(L"short", journal.entries[1].message);
}

TEST_F(LogStream, EachLineStartsFromACleanStream) {
    const wchar_t* nothing = nullptr;
    LogLine(3, LOG_HERE) << L"before " << nothing << L" after";
    LogLine(3, LOG_HERE) << L"next " << 255;
    LogLine(3, LOG_HERE) << std::hex << 255 << std::setw(6) << std::setfill(L'*') << 1;
    LogLine(3, LOG_HERE) << 255 << L" " << 1;
    ASSERT_EQ(4u, journal.entries.size());
    EXPECT_EQ(L"before ", journal.entries[0].message);
    EXPECT_EQ(L"next 255", journal.entries[1].message);
    EXPECT_EQ(L"ff*****1", journal.entries[2].message);
    EXPECT_EQ(L"255 1", journal.entries[3].message);
}

TEST_F(LogStream, NarrowTextKeepsTheLowEightBits) {
    LogLine(3, LOG_HERE).narrow(L"A\x0142z");
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(L"ABz", journal.entries[0].message);
}

TEST_F(LogStream, LinesFromTwoThreadsArriveWhole) {
    constexpr int kLines = 300;
    auto writer = [](DWORD severity, const wchar_t* word) {
        for (int i = 0; i < kLines; ++i) LogLine(severity, LOG_HERE) << word << L" " << i << L" " << word;
    };
    std::thread a(writer, 2, L"alpha");
    std::thread b(writer, 4, L"bravo-longer");
    a.join();
    b.join();
    ASSERT_EQ(2u * kLines, journal.entries.size());
    for (const Entry& e : journal.entries) {
        const std::wstring word = e.severity == 2 ? L"alpha" : L"bravo-longer";
        ASSERT_EQ(0u, e.message.find(word + L" ")) << e.message;
        ASSERT_EQ(e.message.size() - word.size(), e.message.rfind(L" " + word) + 1) << e.message;
    }
}

TEST_F(LogStream, LinesAfterTheReleaseAreDropped) {
    LogLine(3, LOG_HERE) << L"kept";
    ETWLogging::ReleaseLogStream();
    EXPECT_EQ(nullptr, ETWLogging::GetLogStream(true)->stream);
    LogLine(3, LOG_HERE) << L"dropped" << 5;
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(L"kept", journal.entries[0].message);
}

TEST_F(LogStream, StreamThatFailedToBuildIsBuiltAgainByTheNextLine) {
    builder->throwsLeft = 1;  // binding the stream's buffer creates the logger, which throws once
    LogLine(3, LOG_HERE) << L"lost";
    EXPECT_EQ(0, ETWLogging::GetLogStream(false)->state.load());
    LogLine(3, LOG_HERE) << L"delivered";
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(L"delivered", journal.entries[0].message);
}

}  // namespace
}  // namespace logtest
