// The real quillon.exe under this machine's system: it has none of the counters the idle test reads, so the run
// ends with the opening failure, reported in the full 32 bits of the exit code.
#include <gtest/gtest.h>

#include <pdh.h>

#include <vector>

#include "tests/support/ProcessRunner.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/ScrambledRecord.h"
#include "tests/support/WinePaths.h"

namespace {

const std::wstring kSettingsKey = L"Software\\Torvex\\Halvard\\OOBEAutoTune";

// What the first counter lookup of the idle test answers here, as the HRESULT the program reports.
DWORD ExpectedOpeningFailure() {
    wchar_t name[1024] = {};
    DWORD size = 1024;
    const PDH_STATUS status = PdhLookupPerfNameByIndexW(nullptr, 4, name, &size);
    if (status <= 0) return static_cast<DWORD>(status);
    return 0x80070000u | (static_cast<DWORD>(status) & 0xFFFFu);
}

TEST(QuillonProgram, EndsWithTheIdleTestsOpeningFailure) {
    const DWORD expected = ExpectedOpeningFailure();
    ASSERT_NE(expected, 0u) << "this machine has the memory counter; the program would wait instead";

    testsupport::ScratchRegistry registry;
    registry.Create(HKEY_LOCAL_MACHINE, kSettingsKey);
    const DWORD none = 0;
    registry.SetBinary(HKEY_LOCAL_MACHINE, kSettingsKey, L"MinimumDelay",
                       testsupport::ScrambledRecord(REG_DWORD, &none, sizeof none));
    testsupport::ProcessOptions options;
    options.timeoutMs = 30000;

    const auto result = testsupport::RunProcess(testsupport::WindowsPathOf(QUILLON_EXE), options);

    ASSERT_TRUE(result.started) << result.startError;
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, expected) << std::hex << result.exitCode;
    EXPECT_NE(result.exitCode & 0x80000000u, 0u);
}

}  // namespace
