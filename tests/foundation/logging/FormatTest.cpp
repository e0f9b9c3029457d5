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
    wmemset(buffer, L'#', 5);
    auto into = [&buffer](const wchar_t* format, ...) {
        va_list args;
        va_start(args, format);
        const size_t n = Basalt::FormatInto(buffer, 5, format, args);
        va_end(args);
        return n;
    };
    EXPECT_EQ(4u, into(L"%s", L"abcdefgh"));
    EXPECT_EQ(std::wstring(L"abcd"), buffer);
    EXPECT_EQ(2u, into(L"%s", L"ab"));
    EXPECT_EQ(std::wstring(L"ab"), buffer);
    EXPECT_EQ(0u, into(nullptr));
    EXPECT_EQ(std::wstring(L""), buffer);
}

TEST(Format, NullFormatGivesEmptyText) {
    va_list none{};
    EXPECT_EQ(L"", Basalt::FormatV(nullptr, none));
}

}  // namespace
