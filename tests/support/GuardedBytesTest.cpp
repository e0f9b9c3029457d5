#include "tests/support/GuardedBytes.h"

#include <gtest/gtest.h>

namespace {

// The bytes are there and writable; the byte after the last one is not readable at all.
TEST(GuardedBytes, EndsRightBeforeAnInaccessiblePage) {
    for (const std::string& bytes :
         {std::string(), std::string("abc"), std::string(4096, 'x'), std::string(5000, 'y')}) {
        testsupport::GuardedBytes guarded(bytes);
        ASSERT_EQ(bytes.size(), guarded.size());
        EXPECT_EQ(bytes, std::string(guarded.as<char>(), guarded.size()));
        if (!bytes.empty()) guarded.data()[0] = 'z';
        EXPECT_TRUE(IsBadReadPtr(guarded.data() + guarded.size(), 1)) << bytes.size();
    }
}

}  // namespace
