#include "foundation/basalt/Format.h"

#include <gtest/gtest.h>

namespace {

TEST(Format, KeepsTheWideMeaningOfStringConversions) {
    EXPECT_EQ(L"wide|narrow|wide2", Basalt::Format(L"%s|%hs|%ls", L"wide", "narrow", L"wide2"));
    EXPECT_EQ(L"18446744073709551615 42 0000BEEF",
              Basalt::Format(L"%I64u %llu %08X", 18446744073709551615ull, 42ull, 0xBEEFu));
    EXPECT_EQ(L"-5 3.5", Basalt::Format(L"%d %.1f", -5, 3.5));
}

TEST(Format, LongTextIsMeasuredThenFormattedWhole) {
    const std::wstring big(5000, L'q');
    EXPECT_EQ(big + L"!", Basalt::Format(L"%s!", big.c_str()));
}

TEST(Format, FormatIntoCutsAndAlwaysTerminates) {
    wchar_t buffer[5];
    bool cut = false;
    auto into = [&buffer, &cut](const wchar_t* format, ...) {
        wmemset(buffer, L'#', 5);
        va_list args;
        va_start(args, format);
        const size_t n = Basalt::FormatInto(buffer, 5, format, args, &cut);
        va_end(args);
        return n;
    };
    struct Case {
        const wchar_t* text;
        size_t written;
        const wchar_t* kept;
        bool cut;
    } cases[] = {
        {L"abcdefgh", 4, L"abcd", true},
        {L"abcde", 4, L"abcd", true},  // one character too many
        {L"abcd", 4, L"abcd", false},  // just fits beside its terminator
        {L"ab", 2, L"ab", false},
        {L"", 0, L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.written, into(L"%s", c.text)) << c.text;
        EXPECT_EQ(std::wstring(c.kept), buffer) << c.text;
        EXPECT_EQ(c.cut, cut) << c.text;
    }
    EXPECT_EQ(0u, into(nullptr));
    EXPECT_EQ(std::wstring(L""), buffer);
    EXPECT_FALSE(cut);
}

TEST(Format, NullFormatGivesEmptyText) {
    va_list none{};
    EXPECT_EQ(L"", Basalt::FormatV(nullptr, none));
}

}  // namespace
