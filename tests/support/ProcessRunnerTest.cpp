#include "tests/support/ProcessRunner.h"
#include "tests/support/WinePaths.h"

#include <gtest/gtest.h>

namespace testsupport {
namespace {

const std::wstring kExitWith = WindowsPathOf(EXIT_WITH_EXE);

TEST(ProcessRunner, ReportsTheFullThirtyTwoBitExitCode) {
    struct Case {
        const wchar_t* arguments;
        DWORD expected;
    };
    for (const Case& c : {Case{L"0", 0}, Case{L"1460", 1460}, Case{L"0x80004005", 0x80004005u},
                          Case{L"0xFFFFFFFF", 0xFFFFFFFFu}}) {
        ProcessOptions options;
        options.arguments = c.arguments;
        const ProcessResult r = RunProcess(kExitWith, options);
        ASSERT_TRUE(r.started) << r.startError;
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(c.expected, r.exitCode);
    }
}

TEST(ProcessRunner, PassesAddedEnvironmentVariables) {
    ProcessOptions options;
    options.arguments = L"--env WELKIN_TEST_CODE";
    options.environment[L"WELKIN_TEST_CODE"] = L"259";
    const ProcessResult r = RunProcess(kExitWith, options);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(259u, r.exitCode);
}

TEST(ProcessRunner, MissingProgramIsNotStarted) {
    const ProcessResult r = RunProcess(L"C:\\no\\such\\program.exe");
    EXPECT_FALSE(r.started);
    EXPECT_NE(0u, r.startError);
}

TEST(ProcessRunner, KillsAProgramThatOutlivesItsTimeOut) {
    ProcessOptions options;
    options.arguments = L"--sleep 30000 7";
    options.timeoutMs = 300;
    const ProcessResult r = RunProcess(kExitWith, options);
    ASSERT_TRUE(r.started);
    EXPECT_TRUE(r.timedOut);
    EXPECT_NE(7u, r.exitCode);
}

}  // namespace
}  // namespace testsupport
