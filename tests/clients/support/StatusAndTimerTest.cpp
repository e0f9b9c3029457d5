// Status names, the exception guard and the scope timer's log line.
#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "clients/support/ModuleStatus.h"
#include "clients/support/PerfTimer.h"
#include "tests/support/RecordingLogger.h"

namespace {

TEST(ModuleStatusTest, NamesKnownCodesAndCallsTheRestUnknown) {
    const struct {
        uint32_t code;
        const wchar_t* name;
    } cases[] = {
        {0x00000000, L"MODULE_STATUS_SUCCESS"},
        {0x80000001, L"MODULE_STATUS_NOT_SUPPORTED"},
        {0x80000008, L"MODULE_STATUS_INVALID_PARAMETER"},
        {0x8000000A, L"MODULE_STATUS_NOT_FOUND"},
        {0x8000000D, L"MODULE_STATUS_TIMEOUT"},
        {0x8000000F, L"MODULE_STATUS_UNKNOWN_EXCEPTION"},
        {0x80000015, L"MODULE_STATUS_SESSION_INVALID"},
        {0x80000016, L"MODULE_STATUS_UNKNOWN"},
        {0x800000FF, L"MODULE_STATUS_INVALID_STATE"},
        {0x80000100, L"MODULE_STATUS_UNKNOWN"},
        {0x80000000, L"MODULE_STATUS_UNKNOWN"},
        {0x00000001, L"MODULE_STATUS_UNKNOWN"},
    };
    for (const auto& c : cases) EXPECT_STREQ(c.name, Orvan::moduleStatusToString(c.code)) << std::hex << c.code;
}

TEST(ModuleStatusTest, RunGuardedPassesResultsAndSwallowsEveryException) {
    EXPECT_EQ(0x80000002u, Orvan::runGuarded([] { return 0x80000002u; }));
    EXPECT_EQ(0x8000000Fu, Orvan::runGuarded([]() -> uint32_t { throw std::runtime_error("x"); }));
    EXPECT_EQ(0x8000000Fu, Orvan::runGuarded([]() -> uint32_t { throw 7; }));
}

class PerfTimerTest : public testsupport::LoggingFixture {
protected:
    std::vector<testsupport::Entry> timerLines() {
        std::vector<testsupport::Entry> lines;
        for (const auto& e : journal.entries)
            if (e.message.rfind(L"M12NPerfTimer|", 0) == 0) lines.push_back(e);
        return lines;
    }
};

TEST_F(PerfTimerTest, FirstStopWritesStartEndAndElapsedOnce) {
    Orvan::internal::PerfTimer timer(L"MessageBusLib::MessageBusLib");
    Sleep(40);
    timer.stop();
    timer.stop();
    const auto lines = timerLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(1u, lines[0].severity);
    std::wsmatch parts;
    ASSERT_TRUE(std::regex_match(lines[0].message, parts,
                                 std::wregex(L"M12NPerfTimer\\|MessageBusLib::MessageBusLib\\|(\\d+)\\|(\\d+)\\|(\\d+)")))
        << lines[0].message;
    const long long start = std::stoll(parts[1]), end = std::stoll(parts[2]), elapsed = std::stoll(parts[3]);
    EXPECT_EQ(end - start, elapsed);
    EXPECT_GE(elapsed, 40 - 16);  // the interrupt-time clock moves in 16 ms steps under Wine
}

TEST_F(PerfTimerTest, ScopeLeftByAnExceptionStillWritesTheLine) {
    try {
        Orvan::internal::PerfTimer timer(L"scope");
        throw std::runtime_error("leaving");
    } catch (const std::runtime_error&) {
    }
    ASSERT_EQ(1u, timerLines().size());
    EXPECT_NE(std::wstring::npos, timerLines()[0].message.find(L"|scope|"));
}

}  // namespace
