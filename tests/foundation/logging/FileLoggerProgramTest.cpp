// Runs a program that logs through the real file logger (chosen by the mechanism given to InitLogging) and checks
// the ring of files it leaves behind, across two runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/IniReader.h"
#include "foundation/basalt/ObfuscatedRegKey.h"
#include "tests/foundation/logging/LogFileText.h"
#include "tests/support/ProcessRunner.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

namespace {

// The lines of a log file; fails the test on a missing byte-order mark or a mark inside.
std::vector<std::wstring> LinesOf(const std::wstring& path) {
    const std::string bytes = testsupport::TempFolder::ReadAll(path);
    std::vector<std::wstring> lines;
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2)) << "no byte-order mark";
    const std::wstring text = logtest::TextAfterMark(bytes);
    EXPECT_EQ(std::wstring::npos, text.find(L'\xFEFF'));
    for (size_t at = 0, end; at < text.size(); at = end + 2) {
        end = text.find(L"\r\n", at);
        if (end == std::wstring::npos) {
            ADD_FAILURE() << "unterminated line";
            break;
        }
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

// "line <n> of run <tag>" -> n, or -1.
int LineNumber(const std::wstring& line, const std::wstring& tag) {
    const std::wstring marker = L" -- (Error)$ line ";
    const size_t at = line.find(marker);
    if (at == std::wstring::npos) return -1;
    size_t end = 0;
    const size_t numberAt = at + marker.size();
    const int number = std::stoi(line.substr(numberAt), &end);
    return line.compare(numberAt + end, 8 + tag.size(), L" of run " + tag) == 0 ? number : -1;
}

TEST(FileLoggerProgramTest, AProgramLeavesARingOfLogFiles) {
    const std::wstring root = logtest::LogsRoot();
    const std::wstring folder = root + L"\\wtclient\\file_logger_client";
    Basalt::RemoveFolderTree((root + L"\\wtclient").c_str());
    ASSERT_TRUE(Basalt::CreateFolderPath(root.c_str(), nullptr));
    {
        Basalt::CObfuscatedIniReader global;
        global.Load(root + L"\\log.ini");
        ASSERT_TRUE(global.SetDWORD(L"Config", L"MaxEntries", 2));
    }
    const std::wstring program = testsupport::WindowsPathOf(FILE_LOGGER_CLIENT_EXE);

    // About 600 bytes a line: 1200 lines fill 000 and 001 and start 000 again.
    testsupport::ProcessOptions options;
    options.arguments = L"1200 first";
    testsupport::ProcessResult run = testsupport::RunProcess(program, options);
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(0u, run.exitCode);

    const auto file = [&](int index) { return folder + L"\\file_logger_client00" + std::to_wstring(index) + L".log"; };
    EXPECT_FALSE(Basalt::FileExists(file(2).c_str()));
    const std::vector<std::wstring> older = LinesOf(file(1));
    std::vector<std::wstring> newer = LinesOf(file(0));
    ASSERT_FALSE(older.empty());
    ASSERT_GE(newer.size(), 2u);
    EXPECT_EQ(L"done first", newer.back().substr(newer.back().size() - 10));

    // 001 and then 000 hold one unbroken run of lines that ends with the last one.
    int expected = LineNumber(older.front(), L"first");
    EXPECT_GT(expected, 0);
    for (const std::wstring& line : older) EXPECT_EQ(expected++, LineNumber(line, L"first")) << line.substr(0, 80);
    for (size_t i = 0; i + 1 < newer.size(); ++i)
        EXPECT_EQ(expected++, LineNumber(newer[i], L"first")) << newer[i].substr(0, 80);
    EXPECT_EQ(1200, expected);

    Basalt::CObfuscatedIniReader perLog;
    DWORD index = 99;
    ASSERT_TRUE(perLog.Load(folder + L"\\log.ini"));
    ASSERT_TRUE(perLog.GetDWORD(L"Config", L"LastLogIdx", index));
    EXPECT_EQ(0u, index);

    // The next run goes on in the current file.
    options.arguments = L"5 second";
    run = testsupport::RunProcess(program, options);
    EXPECT_EQ(0u, run.exitCode);
    const std::vector<std::wstring> continued = LinesOf(file(0));
    ASSERT_EQ(newer.size() + 6, continued.size());
    EXPECT_EQ(newer.back(), continued[newer.size() - 1]);
    EXPECT_EQ(4, LineNumber(continued[continued.size() - 2], L"second"));
    EXPECT_EQ(older, LinesOf(file(1)));

    Basalt::RemoveFolderTree(root.c_str());
}

// Mechanism 0: the program's logger follows the scrambled "Logging Mechanism" of the logging key.
TEST(FileLoggerProgramTest, TheLoggingKeyChoosesTheFileLoggerForAProgram) {
    const std::wstring root = logtest::LogsRoot();
    const std::wstring log = root + L"\\wtclient\\file_logger_client\\file_logger_client000.log";
    Basalt::RemoveFolderTree((root + L"\\wtclient").c_str());
    const std::wstring program = testsupport::WindowsPathOf(FILE_LOGGER_CLIENT_EXE);
    testsupport::ScratchRegistry registry;
    registry.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\Logging");
    const auto setMechanism = [](DWORD value) {
        Basalt::CObfuscatedRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\Logging", KEY_SET_VALUE));
        ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"Logging Mechanism", value));
    };
    testsupport::ProcessOptions options;

    setMechanism(1);
    options.arguments = L"3 keyed 0";
    EXPECT_EQ(0u, testsupport::RunProcess(program, options).exitCode);
    const std::vector<std::wstring> lines = LinesOf(log);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(2, LineNumber(lines[2], L"keyed"));

    setMechanism(0);
    options.arguments = L"3 unkeyed 0";
    EXPECT_EQ(0u, testsupport::RunProcess(program, options).exitCode);  // the ETW logger, which writes no file
    EXPECT_EQ(lines, LinesOf(log));

    Basalt::RemoveFolderTree(root.c_str());
}

}  // namespace
