// Every road into the process's file logger, with log.ini "Enable" on and off: log sites, stream lines, Basalt
// messages through the bridge, and finished messages written raw.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/basalt/BasaltLogger.h"
#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/IniReader.h"
#include "foundation/logging/LogSite.h"
#include "foundation/logging/LogStream.h"
#include "foundation/logging/LoggerTesting.h"
#include "tests/foundation/logging/LogFileText.h"
#include "tests/support/TempFolder.h"

namespace {

std::wstring LogFolder() { return logtest::LogsRoot() + L"\\wtroads\\logging_file_logger_tests"; }

std::wstring LogText() {
    return logtest::TextAfterMark(
        testsupport::TempFolder::ReadAll(LogFolder() + L"\\logging_file_logger_tests000.log"));
}

void LogOnEveryRoad() {
    LOG_AT(ETWLogging::kSeverityCritical, L"site %d", 1);
    ETWLogging::LogLine(ETWLogging::kSeverityCritical, LOG_HERE) << L"stream " << 2;
    Basalt::CLogger::Log(2, L"basalt.cpp", L"Basalt::Thing::work", 3, L"basalt %d", 3);
    ETWLogging::WriteLogEntryRaw(ETWLogging::GetLogger(), L"raw.cpp", L"raw", 4, ETWLogging::kSeverityCritical,
                                 L"raw 4");
}

class LoggerRoadsTest : public ::testing::Test {
protected:
    void Start(DWORD enable) {
        ETWLogging::testing::ResetLoggerForTesting();
        Basalt::RemoveFolderTree(LogFolder().c_str());
        ASSERT_TRUE(Basalt::CreateFolderPath(LogFolder().c_str(), nullptr));
        Basalt::CObfuscatedIniReader ini;
        ini.Load(LogFolder() + L"\\log.ini");
        ASSERT_TRUE(ini.SetDWORD(L"Config", L"Enable", enable));
        ASSERT_TRUE(ini.SetDWORD(L"Config", L"Options", 0));
        ETWLogging::InitLogging(nullptr, L"wtroads", nullptr, nullptr, 1);
    }
    void TearDown() override {
        ETWLogging::testing::ResetLoggerForTesting();
        Basalt::RemoveFolderTree(LogFolder().c_str());
    }
};

TEST_F(LoggerRoadsTest, EveryRoadWritesWhenEnabled) {
    Start(1);
    EXPECT_TRUE(ETWLogging::IsLogEnabled(ETWLogging::kSeverityCritical));
    LogOnEveryRoad();
    const std::wstring text = LogText();
    for (const wchar_t* line : {L"(Critical)$ site 1\r\n", L"(Critical)$ stream 2\r\n", L"(Error)$ basalt 3\r\n",
                                L"(Critical)$ raw 4\r\n"})
        EXPECT_NE(std::wstring::npos, text.find(line)) << line;
}

TEST_F(LoggerRoadsTest, EnableZeroSilencesEveryRoad) {
    Start(0);
    for (DWORD severity = 1; severity <= 6; ++severity) EXPECT_FALSE(ETWLogging::IsLogEnabled(severity));
    LogOnEveryRoad();
    EXPECT_FALSE(Basalt::FileExists((LogFolder() + L"\\logging_file_logger_tests000.log").c_str()));
}

}  // namespace
