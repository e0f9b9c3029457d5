// The per-signer rules that need no cryptography.
#include <gtest/gtest.h>

#include "foundation/trust/SignerRules.h"

namespace {

TEST(SignerRules, SerialTextIsMostSignificantByteFirstInLowerCase) {
    const BYTE serial[] = {0x0f, 0xa0, 0x01, 0xbc};  // stored least significant first
    EXPECT_EQ(SignerRules::SerialText(serial, 4), L"bc01a00f");
    EXPECT_EQ(SignerRules::SerialText(serial, 0), L"");
}

TEST(SignerRules, RefusedSerialIgnoresCase) {
    const wchar_t* const refused[] = {L"00FF", L"BC01A00F", nullptr};
    EXPECT_TRUE(SignerRules::IsRefusedSerial(L"bc01a00f", refused));
    EXPECT_FALSE(SignerRules::IsRefusedSerial(L"bc01a00", refused));
    EXPECT_FALSE(SignerRules::IsRefusedSerial(L"bc01a00f", nullptr));
}

TEST(SignerRules, SignerName) {
    const wchar_t* const names[] = {L"Orvan Corporation", L"Torvex, LLC.", nullptr};
    EXPECT_TRUE(SignerRules::IsAcceptedSignerName(L"torvex, llc.", names));
    EXPECT_FALSE(SignerRules::IsAcceptedSignerName(L"Torvex, LLC", names));
    EXPECT_FALSE(SignerRules::IsAcceptedSignerName(L"", names));
    EXPECT_FALSE(SignerRules::IsAcceptedSignerName(L"", nullptr));
    EXPECT_TRUE(SignerRules::IsAcceptedSignerName(L"Anyone", nullptr));
}

std::vector<BYTE> Utc(const char* text) {
    const std::string bytes = std::string(1, '\x17') + static_cast<char>(strlen(text)) + text;
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

TEST(SignerRules, SigningTime) {
    struct Case {
        const char* text;
        bool valid;
        WORD year, month, day, hour, minute, second;
    } cases[] = {
        {"690102030405Z", true, 2069, 1, 2, 3, 4, 5},
        {"700102030405Z", true, 1970, 1, 2, 3, 4, 5},
        {"150601120000Z", true, 2015, 6, 1, 12, 0, 0},
        {"1506011200Z", false, 0, 0, 0, 0, 0, 0},  // no seconds: not 15 bytes
        {"150601120000+", false, 0, 0, 0, 0, 0, 0},  // no Z
        {"15060112000aZ", false, 0, 0, 0, 0, 0, 0},  // not digits
    };
    for (const Case& c : cases) {
        const std::vector<BYTE> value = Utc(c.text);
        const auto time = SignerRules::ParseSigningTime(value.data(), static_cast<DWORD>(value.size()));
        ASSERT_EQ(time.has_value(), c.valid) << c.text;
        if (!time) continue;
        EXPECT_EQ(time->wYear, c.year) << c.text;
        EXPECT_EQ(time->wMonth, c.month);
        EXPECT_EQ(time->wDay, c.day);
        EXPECT_EQ(time->wHour, c.hour);
        EXPECT_EQ(time->wMinute, c.minute);
        EXPECT_EQ(time->wSecond, c.second);
        EXPECT_EQ(time->wMilliseconds, 0);
        EXPECT_EQ(time->wDayOfWeek, 0);
    }
    std::vector<BYTE> generalized = Utc("150601120000Z");
    generalized[0] = 0x18;
    EXPECT_FALSE(SignerRules::ParseSigningTime(generalized.data(), 15).has_value());
}

TEST(SignerRules, RootThumbprint) {
    const Thumbprint a(20, 0xaa), b(20, 0xbb), odd;  // an undecodable entry is empty and matches nothing
    const Thumbprint list[] = {odd, a};
    EXPECT_TRUE(SignerRules::IsAcceptedRoot(a.data(), 20, list, 2));
    EXPECT_FALSE(SignerRules::IsAcceptedRoot(b.data(), 20, list, 2));
    EXPECT_FALSE(SignerRules::IsAcceptedRoot(a.data(), 19, list, 2));
    EXPECT_TRUE(SignerRules::IsAcceptedRoot(b.data(), 20, list, 0));
    EXPECT_TRUE(SignerRules::IsAcceptedRoot(b.data(), 20, nullptr, 5));
}

}  // namespace
