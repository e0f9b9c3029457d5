#include <thread>

#include "foundation/logging/Logger.h"
#include "tests/support/RecordingLogger.h"

namespace logtest {
using namespace testsupport;
namespace {

using ETWLogging::GetLogger;
using ETWLogging::IsLogEnabled;

using LoggerCreation = LoggingFixture;

TEST_F(LoggerCreation, FirstLogCallBeforeInitLoggingUsesTheInitialIdentity) {
    EXPECT_TRUE(IsLogEnabled(ETWLogging::kSeverityError));
    ASSERT_EQ(1u, calls.size());
    EXPECT_TRUE(calls[0].withConfig);
    EXPECT_EQ(nullptr, calls[0].applicationName);
    EXPECT_EQ(L"_no_group", calls[0].group);
    EXPECT_EQ(L"_no_host", calls[0].host);
    EXPECT_EQ(0u, calls[0].mechanism);
    EXPECT_EQ(GetModuleHandleW(nullptr), calls[0].module);  // the library is linked into the program
}

TEST_F(LoggerCreation, InitLoggingIsReadOnceAtCreation) {
    ETWLogging::InitLogging(nullptr, L"welkin", nullptr, nullptr, 1);
    ASSERT_NE(nullptr, GetLogger());
    ETWLogging::InitLogging(nullptr, L"other", nullptr, L"host", 0);
    IsLogEnabled(ETWLogging::kSeverityError);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"welkin", calls[0].group);
    EXPECT_TRUE(calls[0].hostNull);  // a null host stays null, not the default
    EXPECT_EQ(1u, calls[0].mechanism);
    EXPECT_EQ(GetModuleHandleW(nullptr), calls[0].module);
}

TEST_F(LoggerCreation, ExtendedCreationFallsBackToPlainCreation) {
    struct Case {
        bool withConfig, create;
        size_t expectedCalls;
        bool expectLogger;
    };
    for (const Case& c : {Case{true, true, 1, true}, Case{false, true, 2, true}, Case{false, false, 2, false}}) {
        SetUp();
        builder->acceptWithConfig = c.withConfig;
        builder->acceptCreate = c.create;
        ETWLogging::LoggerHolder* holder = GetLogger();
        ASSERT_NE(nullptr, holder);
        EXPECT_EQ(c.expectedCalls, calls.size());
        EXPECT_EQ(c.expectLogger, holder->logger != nullptr);
        EXPECT_EQ(c.expectLogger, IsLogEnabled(ETWLogging::kSeverityCritical));
        if (!c.expectLogger) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_FUNCTION_FAILED),
                      ETWLogging::LogFormatted(holder, 4, L"f", L"fn", 1, L"x"));
        }
        TearDown();
    }
}

// A builder without the extended view is asked through create alone.
class PlainBuilder : public ETWLogging::CLogBuilderIf {
public:
    explicit PlainBuilder(int& calls) : calls_(calls) {}
    bool create(const wchar_t*, HMODULE, const wchar_t*, DWORD, ETWLogging::CLoggingIf*&,
                ETWLogging::CConfigReaderIf*) override {
        ++calls_;
        return false;
    }

private:
    int& calls_;
};

TEST_F(LoggerCreation, PlainBuilderIsAskedThroughCreate) {
    int plainCalls = 0;
    ETWLogging::testing::SetLogBuilder(new PlainBuilder(plainCalls));
    EXPECT_FALSE(IsLogEnabled(ETWLogging::kSeverityError));
    EXPECT_EQ(1, plainCalls);
}

TEST_F(LoggerCreation, CreationThatThrowsIsRetriedByTheNextCall) {
    builder->throwsLeft = 1;
    EXPECT_THROW(GetLogger(), std::runtime_error);
    ETWLogging::LoggerHolder* holder = GetLogger();
    ASSERT_NE(nullptr, holder);
    EXPECT_NE(nullptr, holder->logger);
    EXPECT_EQ(2u, calls.size());
}

TEST_F(LoggerCreation, ConcurrentFirstCallersShareOneLogger) {
    std::vector<std::thread> threads;
    std::vector<ETWLogging::LoggerHolder*> seen(8, nullptr);
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = GetLogger(); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(1u, calls.size());
    for (auto* holder : seen) EXPECT_EQ(seen[0], holder);
}

TEST_F(LoggerCreation, ThresholdIsClampedToOneThroughSix) {
    ETWLogging::LoggerHolder* holder = GetLogger();
    ASSERT_NE(nullptr, holder->logger);
    for (auto [given, kept] : {std::pair<DWORD, DWORD>{0, 1}, {1, 1}, {4, 4}, {6, 6}, {7, 6}, {9, 6}}) {
        holder->logger->setSeverity(given);
        EXPECT_EQ(kept, holder->logger->getSeverity()) << given;
    }
}

TEST_F(LoggerCreation, FixedSeverityOperationsLogInSlotOrder) {
    ETWLogging::CLoggingIf* logger = GetLogger()->logger;
    ASSERT_NE(nullptr, logger);
    logger->logNormal(L"f", L"fn", 1, L"%s", L"a");
    logger->logError(L"f", L"fn", 2, L"%s", L"b");
    logger->logWarning(L"f", L"fn", 3, L"%s", L"c");
    logger->logCritical(L"f", L"fn", 4, L"%s", L"d");
    logger->logInformation(L"f", L"fn", 5, L"%s", L"e");
    ASSERT_EQ(5u, journal.entries.size());
    const DWORD expected[] = {1, 4, 2, 5, 3};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(L"logString", journal.entries[i].via);
        EXPECT_EQ(expected[i], journal.entries[i].severity);
    }
}

TEST_F(LoggerCreation, FixedSeverityOperationsCutAt4159Characters) {
    ETWLogging::CLoggingIf* logger = GetLogger()->logger;
    const std::wstring big(5000, L'x');
    logger->logError(L"f", L"fn", 1, L"%s", big.c_str());
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(4159u, journal.entries[0].message.size());
}

TEST_F(LoggerCreation, PlainLoggerSeesMessagesCutAt2080Characters) {
    const std::wstring big(5000, L'y');
    EXPECT_EQ(0u, ETWLogging::LogFormatted(GetLogger(), 4, L"f", L"fn", 1, L"%s", big.c_str()));
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(L"logString", journal.entries[0].via);
    EXPECT_EQ(std::wstring(2080, L'y'), journal.entries[0].message);
}

TEST_F(LoggerCreation, ExtendedLoggerFormatsTheEventItself) {
    builder->kind = FakeBuilder::Kind::Extended;
    const std::wstring big(5000, L'z');
    EXPECT_EQ(0u, ETWLogging::LogFormatted(GetLogger(), 4, L"f", L"fn", 1, L"%s", big.c_str()));
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(L"writeEvent", journal.entries[0].via);
    EXPECT_EQ(big, journal.entries[0].message);

    GetLogger()->logger->setSeverity(5);
    ETWLogging::LogFormatted(GetLogger(), 4, L"f", L"fn", 1, L"filtered");
    EXPECT_EQ(1u, journal.entries.size());
}

TEST_F(LoggerCreation, FailedProviderRegistrationIsReturnedAndNothingIsWritten) {
    journal.registerResult = ERROR_ACCESS_DENIED;
    ETWLogging::LoggerHolder* holder = GetLogger();
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ETWLogging::LogFormatted(holder, 4, L"f", L"fn", 1, L"x"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
              ETWLogging::WriteLogEntryRaw(holder, L"f", L"fn", 1, 4, L"raw"));
    EXPECT_TRUE(journal.entries.empty());
}

TEST_F(LoggerCreation, RawEntriesAreNotCut) {
    const std::wstring big(3000, L'r');
    EXPECT_EQ(0u, ETWLogging::WriteLogEntryRaw(GetLogger(), L"f", L"fn", 7, 2, big.c_str()));
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(big, journal.entries[0].message);
    EXPECT_EQ(2u, journal.entries[0].severity);
}

}  // namespace
}  // namespace logtest
