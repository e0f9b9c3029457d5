#include <gtest/gtest.h>

#include <vector>

#include "foundation/logging/FileLogger.h"
#include "foundation/logging/LogBuilder.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/ScrambledRecord.h"

namespace {

using ETWLogging::CLoggingIf;

struct Choice {
    const char* what;
    DWORD mechanism;
    const wchar_t* group;
    const wchar_t* host;
    bool fileLogger;
};

void ExpectChoice(const Choice& c, ETWLogging::CConfigReaderIf* reader = nullptr) {
    SCOPED_TRACE(c.what);
    ETWLogging::CDefaultLogBuilder builder;
    CLoggingIf* logger = nullptr;
    const bool made = builder.createWithConfig(nullptr, c.group, nullptr, c.host, c.mechanism, logger, reader);
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

const wchar_t kLoggingKey[] = L"SOFTWARE\\Torvex\\Logging";
const wchar_t kMechanismValue[] = L"Logging Mechanism";

std::vector<BYTE> ScrambledDword(DWORD value) { return testsupport::ScrambledRecord(REG_DWORD, &value, sizeof value); }

TEST(LoggerChoiceTest, TheLoggingKeyChoosesTheFileLoggerOnlyForAScrambledOne) {
    struct Case {
        const char* what;
        enum { NoKey, NoValue, Scrambled, Plain } stored;
        DWORD value;
        DWORD mechanism;
        bool fileLogger;
    } cases[] = {
        {"scrambled 1", Case::Scrambled, 1, 0, true},
        {"scrambled 0", Case::Scrambled, 0, 0, false},
        {"scrambled 2", Case::Scrambled, 2, 0, false},
        {"plain REG_DWORD 1", Case::Plain, 1, 0, false},
        {"value missing", Case::NoValue, 0, 0, false},
        {"key missing", Case::NoKey, 0, 0, false},
        {"mechanism 1 over a scrambled 0", Case::Scrambled, 0, 1, true},
        {"mechanism 1 without a key", Case::NoKey, 0, 1, true},
        {"mechanism 2 over a scrambled 1", Case::Scrambled, 1, 2, true},
    };
    for (const Case& c : cases) {
        testsupport::ScratchRegistry registry;
        if (c.stored != Case::NoKey) registry.Create(HKEY_LOCAL_MACHINE, kLoggingKey);
        if (c.stored == Case::Scrambled)
            registry.SetBinary(HKEY_LOCAL_MACHINE, kLoggingKey, kMechanismValue, ScrambledDword(c.value));
        if (c.stored == Case::Plain) registry.SetDword(HKEY_LOCAL_MACHINE, kLoggingKey, kMechanismValue, c.value);
        ExpectChoice({c.what, c.mechanism, L"wtchoice", nullptr, c.fileLogger});
    }
}

class FixedReader : public ETWLogging::CConfigReaderIf {
public:
    explicit FixedReader(bool answers, DWORD value) : answers_(answers), value_(value) {}
    bool getDword(const wchar_t* valueName, DWORD& value) override {
        asked = valueName;
        if (answers_) value = value_;
        return answers_;
    }
    std::wstring asked;

private:
    bool answers_;
    DWORD value_;
};

// A configuration reader stands in for the logging key, which then is not read.
TEST(LoggerChoiceTest, AConfigurationReaderAnswersInsteadOfTheKey) {
    testsupport::ScratchRegistry registry;
    registry.Create(HKEY_LOCAL_MACHINE, kLoggingKey);
    registry.SetBinary(HKEY_LOCAL_MACHINE, kLoggingKey, kMechanismValue, ScrambledDword(1));
    FixedReader one(true, 1), zero(true, 0), silent(false, 1);
    ExpectChoice({"reader says 1", 0, L"wtchoice", nullptr, true}, &one);
    EXPECT_EQ(kMechanismValue, one.asked);
    ExpectChoice({"reader says 0", 0, L"wtchoice", nullptr, false}, &zero);
    ExpectChoice({"reader has no answer", 0, L"wtchoice", nullptr, false}, &silent);
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
