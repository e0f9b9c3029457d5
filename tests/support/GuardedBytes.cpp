#include "tests/support/GuardedBytes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace testsupport {

GuardedBytes::GuardedBytes(const void* data, std::size_t size) : size_(size) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const std::size_t page = system.dwPageSize;
    const std::size_t readable = (size + page - 1) / page * page;
    block_ = VirtualAlloc(nullptr, readable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!block_) {
        ADD_FAILURE() << "VirtualAlloc failed: " << GetLastError();
        return;
    }
    DWORD old = 0;
    EXPECT_TRUE(VirtualProtect(static_cast<BYTE*>(block_) + readable, page, PAGE_NOACCESS, &old)) << GetLastError();
    data_ = static_cast<BYTE*>(block_) + readable - size;
    if (size) std::memcpy(data_, data, size);
}

GuardedBytes::~GuardedBytes() {
    if (block_) VirtualFree(block_, 0, MEM_RELEASE);
}

}  // namespace testsupport
