#include <gtest/gtest.h>

#include "foundation/logging/FileLogger.h"
#include "foundation/logging/LogBuilder.h"

namespace {

using ETWLogging::CLoggingIf;

struct Choice {
    const char* what;
    DWORD mechanism;
    const wchar_t* group;
    const wchar_t* host;
    bool fileLogger;
};

void ExpectChoice(const Choice& c) {
    SCOPED_TRACE(c.what);
    ETWLogging::CDefaultLogBuilder builder;
    CLoggingIf* logger = nullptr;
    const bool made = builder.createWithConfig(nullptr, c.group, nullptr, c.host, c.mechanism, logger, nullptr);
    EXPECT_EQ(c.fileLogger, made);
    EXPECT_EQ(c.fileLogger, dynamic_cast<ETWLogging::CLogging*>(logger) != nullptr);
    if (logger) {
        EXPECT_EQ(0, logger->Release());  // handed out with exactly one reference
    }
}

TEST(LoggerChoiceTest, MechanismOneGivesTheFileLoggerWithoutAskingTheRegistry) {
    const Choice cases[] = {
        {"mechanism 1", 1, L"wtchoice", nullptr, true},
        {"mechanism 1, no group", 1, nullptr, L"host", true},
        {"empty group", 1, L"", nullptr, false},
        {"empty host", 1, L"wtchoice", L"", false},
    };
    for (const Choice& c : cases) ExpectChoice(c);
}

TEST(LoggerChoiceTest, CreateFileLoggerRefusesAnOccupiedSlot) {
    CLoggingIf* logger = nullptr;
    ASSERT_TRUE(ETWLogging::CreateFileLogger(nullptr, L"wtchoice", nullptr, nullptr, logger));
    CLoggingIf* const first = logger;
    EXPECT_FALSE(ETWLogging::CreateFileLogger(nullptr, L"wtchoice", nullptr, nullptr, logger));
    EXPECT_EQ(first, logger);
    EXPECT_EQ(0u, logger->close());  // it was opened
    EXPECT_EQ(0, logger->Release());
}

}  // namespace
