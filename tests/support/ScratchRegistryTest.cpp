#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

namespace testsupport {
namespace {

const wchar_t kKey[] = L"Software\\WelkinTests\\Scratch";

TEST(ScratchRegistry, ThirtyTwoBitViewLandsUnderWow6432Node) {
    {
        ScratchRegistry reg;
        reg.SetDword(HKEY_LOCAL_MACHINE, kKey, L"v", 7, RegView::Wow32);
        EXPECT_TRUE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\WelkinTests\\Scratch",
                                               RegView::Wow64));
        EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kKey, RegView::Wow64));
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kKey, L"v", type, data, RegView::Wow32));
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        EXPECT_EQ(4u, data.size());
    }
    EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kKey, RegView::Wow32));
}

TEST(ScratchRegistry, WipeRemovesSubkeysAndValues) {
    ScratchRegistry reg;
    reg.SetString(HKEY_LOCAL_MACHINE, std::wstring(kKey) + L"\\a\\b", L"s", L"text");
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

}  // namespace
}  // namespace testsupport
