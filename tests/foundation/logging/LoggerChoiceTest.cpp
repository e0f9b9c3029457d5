#include <gtest/gtest.h>

#include <vector>

#include "foundation/logging/ETWLogger.h"
#include "foundation/logging/FileLogger.h"
#include "foundation/logging/LogBuilder.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/ScrambledRecord.h"

namespace {

using ETWLogging::CLoggingIf;

enum class Made { None, File, ETW };

struct Choice {
    const char* what;
    DWORD mechanism;
    const wchar_t* group;
    const wchar_t* host;
    Made made;
};

void ExpectChoice(const Choice& c, ETWLogging::CConfigReaderIf* reader = nullptr) {
    SCOPED_TRACE(c.what);
    ETWLogging::CDefaultLogBuilder builder;
    CLoggingIf* logger = nullptr;
    const bool made = builder.createWithConfig(nullptr, c.group, nullptr, c.host, c.mechanism, logger, reader);
    EXPECT_EQ(c.made != Made::None, made);
    EXPECT_EQ(c.made == Made::File, dynamic_cast<ETWLogging::CLogging*>(logger) != nullptr);
    EXPECT_EQ(c.made == Made::ETW, dynamic_cast<ETWLogging::CETWLogging*>(logger) != nullptr);
    if (logger) {
        EXPECT_EQ(0, logger->Release());  // handed out with exactly one reference
    }
}

TEST(LoggerChoiceTest, MechanismOneGivesTheFileLoggerWithoutAskingTheRegistry) {
    const Choice cases[] = {
        {"mechanism 1", 1, L"wtchoice", nullptr, Made::File},
        {"mechanism 1, no group", 1, nullptr, L"host", Made::File},
        {"empty group", 1, L"", nullptr, Made::None},
        {"empty host", 1, L"wtchoice", L"", Made::None},
        {"empty group, ETW logger", 0, L"", nullptr, Made::None},
        {"empty host, ETW logger", 0, L"wtchoice", L"", Made::None},
    };
    for (const Choice& c : cases) ExpectChoice(c);
}

const wchar_t kLoggingKey[] = L"SOFTWARE\\Torvex\\Logging";
const wchar_t kMechanismValue[] = L"Logging Mechanism";

std::vector<BYTE> ScrambledDword(DWORD value) { return testsupport::ScrambledRecord(REG_DWORD, &value, sizeof value); }

TEST(LoggerChoiceTest, TheLoggingKeyChoosesTheFileLoggerOnlyForAScrambledOneAndElseTheETWLogger) {
    struct Case {
        const char* what;
        enum { NoKey, NoValue, Scrambled, Plain } stored;
        DWORD value;
        DWORD mechanism;
        Made made;
    } cases[] = {
        {"scrambled 1", Case::Scrambled, 1, 0, Made::File},
        {"scrambled 0", Case::Scrambled, 0, 0, Made::ETW},
        {"scrambled 2", Case::Scrambled, 2, 0, Made::ETW},
        {"plain REG_DWORD 1", Case::Plain, 1, 0, Made::ETW},
        {"value missing", Case::NoValue, 0, 0, Made::ETW},
        {"key missing", Case::NoKey, 0, 0, Made::ETW},
        {"mechanism 1 over a scrambled 0", Case::Scrambled, 0, 1, Made::File},
        {"mechanism 1 without a key", Case::NoKey, 0, 1, Made::File},
        {"mechanism 2 over a scrambled 1", Case::Scrambled, 1, 2, Made::File},
        {"mechanism 2 over a scrambled 0", Case::Scrambled, 0, 2, Made::ETW},
    };
    for (const Case& c : cases) {
        testsupport::ScratchRegistry registry;
        if (c.stored != Case::NoKey) registry.Create(HKEY_LOCAL_MACHINE, kLoggingKey);
        if (c.stored == Case::Scrambled)
            registry.SetBinary(HKEY_LOCAL_MACHINE, kLoggingKey, kMechanismValue, ScrambledDword(c.value));
        if (c.stored == Case::Plain) registry.SetDword(HKEY_LOCAL_MACHINE, kLoggingKey, kMechanismValue, c.value);
        ExpectChoice({c.what, c.mechanism, L"wtchoice", nullptr, c.made});
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
    ExpectChoice({"reader says 1", 0, L"wtchoice", nullptr, Made::File}, &one);
    EXPECT_EQ(kMechanismValue, one.asked);
    ExpectChoice({"reader says 0", 0, L"wtchoice", nullptr, Made::ETW}, &zero);
    ExpectChoice({"reader has no answer", 0, L"wtchoice", nullptr, Made::ETW}, &silent);
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
