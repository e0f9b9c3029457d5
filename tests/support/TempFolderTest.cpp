#include "tests/support/TempFolder.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace testsupport {
namespace {

TEST(TempFolder, WritesNestedFilesAndRemovesEverything) {
    std::wstring path;
    {
        TempFolder folder;
        path = folder.Path();
        const std::wstring file = folder.Write(L"sub\\deeper\\f.bin", std::string("a\0b", 3));
        EXPECT_EQ(std::string("a\0b", 3), TempFolder::ReadAll(file));
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

}  // namespace
}  // namespace testsupport
