#include "tests/support/ScrambledRecord.h"

#include <gtest/gtest.h>

#include "foundation/basalt/RegistryRecord.h"

namespace testsupport {

std::vector<BYTE> ScrambledRecord(DWORD type, const void* payload, DWORD length) {
    std::vector<BYTE> record(length + Basalt::kRecordHeaderSize);
    EXPECT_EQ(EncodeRegRecord(static_cast<const BYTE*>(payload), length, type, record.data(),
                              static_cast<DWORD>(record.size())),
              0u);
    return record;
}

}  // namespace testsupport
