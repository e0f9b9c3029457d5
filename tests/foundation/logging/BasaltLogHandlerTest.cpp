#include "foundation/logging/BasaltLogHandler.h"

#include <gtest/gtest.h>

#include "foundation/basalt/BasaltLogger.h"
#include "foundation/logging/Logger.h"
#include "tests/support/RecordingLogger.h"

namespace ETWLogging {
namespace {

class OtherHandler : public Basalt::ILoggingHandler {
public:
    void log(DWORD, const wchar_t*, const wchar_t*, DWORD, const wchar_t*) override { ++lines; }
    int lines = 0;
};

class BasaltBridge : public testsupport::LoggingFixture {
protected:
    void TearDown() override {
        Basalt::CLogger::UnregisterHandler(&other);
        LoggingFixture::TearDown();
    }
    // Whether a foreign handler could take over now (true when none or the default handler is registered).
    bool BridgeIsRegistered() {
        const DWORD result = Basalt::CLogger::RegisterHandler(&other);
        if (result == 0) Basalt::CLogger::UnregisterHandler(&other);
        return result == 5023;
    }
    OtherHandler other;
};

TEST_F(BasaltBridge, LoggerCreationRegistersTheBridgeAndTheExitCleanUpRemovesIt) {
    ASSERT_TRUE(IsLogEnabled(kSeverityNormal));
    LoggerHolder* holder = CurrentLoggerHolder();
    ASSERT_NE(nullptr, holder);
    EXPECT_EQ(&CBasaltLogHandler::Instance(), holder->basaltHandler);
    EXPECT_TRUE(BridgeIsRegistered());
    EXPECT_EQ(0, other.lines);  // the refusal went to the bridge, not to the refused handler

    testing::ResetLoggerForTesting();
    EXPECT_FALSE(BridgeIsRegistered());
}

TEST_F(BasaltBridge, BasaltMessagesReachTheLoggerWithMappedSeverities) {
    ASSERT_TRUE(IsLogEnabled(kSeverityNormal));
    struct Case {
        DWORD level, severity;
    };
    const Case cases[] = {{0, kSeverityNormal}, {1, kSeverityNormal}, {2, kSeverityError}, {3, kSeverityWarning},
                          {70, kSeverityWarning}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        journal.entries.clear();
        Basalt::CLogger::Log(c.level, L"basalt\\Key.cpp", L"Basalt::CRegKey::Open", 12, L"code %u at %s", 5u,
                             L"HKLM");
        ASSERT_EQ(1u, journal.entries.size());
        const testsupport::Entry& entry = journal.entries[0];
        EXPECT_EQ(c.severity, entry.severity);
        EXPECT_EQ(L"basalt\\Key.cpp", entry.file);
        EXPECT_EQ(L"Basalt::CRegKey::Open", entry.function);
        EXPECT_EQ(12u, entry.line);
        EXPECT_EQ(L"code 5 at HKLM", entry.message);
    }
}

TEST_F(BasaltBridge, NoLoggerMeansNoBridge) {
    builder->acceptWithConfig = false;
    builder->acceptCreate = false;
    EXPECT_FALSE(IsLogEnabled(kSeverityNormal));
    EXPECT_FALSE(BridgeIsRegistered());
    ASSERT_NE(nullptr, CurrentLoggerHolder());
    EXPECT_EQ(nullptr, CurrentLoggerHolder()->basaltHandler);
}

TEST_F(BasaltBridge, AHandlerRegisteredBeforeCreationIsKept) {
    ASSERT_EQ(0u, Basalt::CLogger::RegisterHandler(&other));
    ASSERT_TRUE(IsLogEnabled(kSeverityNormal));
    EXPECT_EQ(nullptr, CurrentLoggerHolder()->basaltHandler);
    Basalt::CLogger::Log(2, L"f", L"g", 1, L"to the earlier handler");
    EXPECT_GE(other.lines, 1);
    testing::ResetLoggerForTesting();
    // The clean-up leaves a handler alone that the logger did not register.
    EXPECT_EQ(0u, Basalt::CLogger::UnregisterHandler(&other));
}

TEST_F(BasaltBridge, AnotherBridgeObjectLeavesTheRegisteredOneAlone) {
    ASSERT_TRUE(IsLogEnabled(kSeverityNormal));
    { CBasaltLogHandler unrelated; }
    EXPECT_TRUE(BridgeIsRegistered());
    EXPECT_EQ(&CBasaltLogHandler::Instance(), CurrentLoggerHolder()->basaltHandler);
}

}  // namespace
}  // namespace ETWLogging
