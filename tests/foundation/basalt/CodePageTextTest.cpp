#include "foundation/basalt/CodePageText.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/GuardedBytes.h"

namespace {

// Explicit code pages keep these cases independent of the locale the test runs in.
constexpr UINT kWestern = 1252;
constexpr UINT kNoSuchCodePage = 12345;

TEST(WideToAnsi, Codes) {
    DWORD count = 10;
    char out[16];
    EXPECT_EQ(87u, WideToAnsi(kWestern, nullptr, out, &count));
    EXPECT_EQ(87u, WideToAnsi(kWestern, L"abc", out, nullptr));

    count = 0;
    EXPECT_EQ(0u, WideToAnsi(kWestern, L"caf\u00e9", nullptr, &count));
    EXPECT_EQ(5u, count);

    std::string buffer(8, 'x');
    count = 4;
    EXPECT_EQ(234u, WideToAnsi(kWestern, L"caf\u00e9", buffer.data(), &count));
    EXPECT_EQ(5u, count);
    EXPECT_EQ(std::string(8, 'x'), buffer);

    count = 8;
    ASSERT_EQ(0u, WideToAnsi(kWestern, L"caf\u00e9", buffer.data(), &count));
    EXPECT_EQ(5u, count);
    EXPECT_EQ(std::string("caf\xe9\0\0\0\0", 8), buffer);  // the rest of the buffer is zeroed

    count = 8;
    ASSERT_EQ(0u, WideToAnsi(kWestern, L"", buffer.data(), &count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(std::string(8, '\0'), buffer);

    count = 8;
    EXPECT_NE(0u, WideToAnsi(kNoSuchCodePage, L"abc", buffer.data(), &count));
    EXPECT_EQ(0u, count);
}

TEST(AnsiToWide, Codes) {
    DWORD count = 10;
    wchar_t out[16];
    EXPECT_EQ(87u, AnsiToWide(kWestern, nullptr, out, &count));
    EXPECT_EQ(87u, AnsiToWide(kWestern, "abc", out, nullptr));

    count = 0;
    EXPECT_EQ(0u, AnsiToWide(kWestern, "caf\xe9", nullptr, &count));
    EXPECT_EQ(5u, count);

    std::wstring buffer(8, L'x');
    count = 4;
    EXPECT_EQ(234u, AnsiToWide(kWestern, "caf\xe9", buffer.data(), &count));
    EXPECT_EQ(5u, count);
    EXPECT_EQ(std::wstring(8, L'x'), buffer);

    count = 8;
    ASSERT_EQ(0u, AnsiToWide(kWestern, "caf\xe9", buffer.data(), &count));
    EXPECT_EQ(5u, count);
    EXPECT_EQ(std::wstring(L"caf\u00e9\0\0\0\0", 8), buffer);

    count = 8;
    EXPECT_NE(0u, AnsiToWide(kNoSuchCodePage, "abc", buffer.data(), &count));
    EXPECT_EQ(0u, count);
}

TEST(BoundedConversion, StopsAtTheGivenLength) {
    // The given characters end where readable memory ends: reading past them crashes.
    const testsupport::GuardedBytes narrow(std::string("abc"));
    wchar_t wide[8];
    DWORD count = 8;
    ASSERT_EQ(0u, Basalt::AnsiToWideBounded(kWestern, narrow.as<const char>(), 3, wide, &count));
    EXPECT_EQ(4u, count);
    EXPECT_EQ(std::wstring(L"abc"), std::wstring(wide));

    const testsupport::GuardedBytes widened(L"abc", 3 * sizeof(wchar_t));
    char ansi[8];
    count = 8;
    ASSERT_EQ(0u, Basalt::WideToAnsiBounded(kWestern, widened.as<const wchar_t>(), 3, ansi, &count));
    EXPECT_EQ(4u, count);
    EXPECT_EQ(std::string("abc"), std::string(ansi));
}

}  // namespace
