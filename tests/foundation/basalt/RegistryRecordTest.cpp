#include "foundation/basalt/RegistryRecord.h"

#include "tests/foundation/basalt/GoldenRecords.h"
#include "tests/support/GuardedBytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes DwordBytes(DWORD value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

struct Known {
    const char* name;
    const Bytes& record;
    DWORD type;
    Bytes payload;
};

const Known kKnown[] = {
    {"dword", golden::kDwordRecord, REG_DWORD, DwordBytes(0x12345678)},
    {"string", golden::kStringRecord, REG_SZ, {'W', 'e', 'l', 'k', 'i', 'n', 0}},
    {"multi-string", golden::kMultiStringRecord, REG_MULTI_SZ, {'a', 'b', 0, 'c', 'd', 0, 0}},
};

// The record ends where readable memory ends: a decoder that reads past it crashes.
DWORD Decode(const Bytes& record, DWORD* type, BYTE* data, DWORD* size) {
    testsupport::GuardedBytes guarded(record);
    return DecodeRegRecord(guarded.data(), static_cast<DWORD>(guarded.size()), type, data, size);
}

TEST(RegistryRecord, EncodesKnownRecords) {
    for (const Known& known : kKnown) {
        SCOPED_TRACE(known.name);
        Bytes out(known.record.size() + 8, 0xCC);
        ASSERT_EQ(0u, EncodeRegRecord(known.payload.data(), static_cast<DWORD>(known.payload.size()), known.type,
                                      out.data(), static_cast<DWORD>(out.size())));
        EXPECT_EQ(known.record, Bytes(out.begin(), out.begin() + known.record.size()));
        EXPECT_EQ(Bytes(8, 0xCC), Bytes(out.begin() + known.record.size(), out.end()));
    }
}

TEST(RegistryRecord, DecodesKnownRecords) {
    for (const Known& known : kKnown) {
        SCOPED_TRACE(known.name);
        DWORD type = 0;
        Bytes data(known.payload.size());
        DWORD size = static_cast<DWORD>(data.size());
        ASSERT_EQ(0u, Decode(known.record, &type, data.data(), &size));
        EXPECT_EQ(known.type, type);
        EXPECT_EQ(known.payload, data);
        EXPECT_EQ(known.payload.size(), size);
    }
}

TEST(RegistryRecord, DecodeWithoutBufferReportsTypeAndSize) {
    DWORD type = 0, size = 0;
    EXPECT_EQ(0u, Decode(golden::kStringRecord, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(7u, size);
    type = 0;
    BYTE untouched[8] = {1, 2, 3};
    EXPECT_EQ(0u, Decode(golden::kStringRecord, &type, untouched, nullptr));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(1, untouched[0]);
}

TEST(RegistryRecord, AnyChangedOrAddedByteIsRefused) {
    for (const Known& known : kKnown) {
        SCOPED_TRACE(known.name);
        for (std::size_t at = 0; at < known.record.size(); ++at) {
            for (BYTE flip : {0x01, 0x80, 0xFF}) {
                testsupport::GuardedBytes record(known.record);
                record.data()[at] ^= flip;
                DWORD size = 64;
                BYTE data[64];
                EXPECT_EQ(13u, DecodeRegRecord(record.data(), static_cast<DWORD>(record.size()), nullptr, data,
                                               &size))
                    << "byte " << at;
                EXPECT_EQ(Bytes(16, 0), Bytes(record.data() + 16, record.data() + 32));
            }
        }
        Bytes longer = known.record;
        longer.push_back(0);
        DWORD size = 64;
        EXPECT_EQ(13u, Decode(longer, nullptr, nullptr, &size));
        Bytes shorter(known.record.begin(), known.record.end() - 1);
        EXPECT_EQ(13u, Decode(shorter, nullptr, nullptr, &size));
    }
}

TEST(RegistryRecord, HeaderChecksBehindAValidDigest) {
    DWORD size = 64;
    BYTE data[64];
    EXPECT_EQ(13u, Decode(golden::kWrongMagicRecord, nullptr, data, &size));
    EXPECT_EQ(13u, Decode(golden::kWrongLengthRecord, nullptr, data, &size));
    // The version is not examined.
    DWORD type = 0;
    size = 4;
    ASSERT_EQ(0u, Decode(golden::kVersion2Record, &type, data, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(DwordBytes(0x12345678), Bytes(data, data + 4));
}

TEST(RegistryRecord, ShortRecordsAreRefusedUntouched) {
    const Bytes before(golden::kDwordRecord.begin(), golden::kDwordRecord.begin() + 31);
    testsupport::GuardedBytes record(before);
    DWORD size = 4;
    EXPECT_EQ(13u, DecodeRegRecord(record.data(), 31, nullptr, nullptr, &size));
    EXPECT_EQ(before, Bytes(record.data(), record.data() + 31));
    EXPECT_EQ(13u, DecodeRegRecord(record.data(), 0, nullptr, nullptr, &size));
    EXPECT_EQ(87u, DecodeRegRecord(nullptr, 36, nullptr, nullptr, &size));
}

TEST(RegistryRecord, DecodingLeavesTheDigestZeroedInTheCallersRecord) {
    Bytes record = golden::kDwordRecord;
    DWORD size = 0;
    ASSERT_EQ(0u, DecodeRegRecord(record.data(), static_cast<DWORD>(record.size()), nullptr, nullptr, &size));
    EXPECT_EQ(Bytes(16, 0), Bytes(record.begin() + 16, record.begin() + 32));
}

TEST(RegistryRecord, BufferOneByteShortGivesMoreDataAndTheSize) {
    BYTE data[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    DWORD size = 6;
    EXPECT_EQ(234u, Decode(golden::kStringRecord, nullptr, data, &size));
    EXPECT_EQ(7u, size);
    EXPECT_EQ(Bytes(6, 0xAA), Bytes(data, data + 6));
}

TEST(RegistryRecord, EmptyPayloads) {
    DWORD type = 0, size = 10;
    EXPECT_EQ(0u, Decode(golden::kEmptyRecord, &type, nullptr, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    BYTE data[4];
    size = 4;
    EXPECT_EQ(6001u, Decode(golden::kEmptyRecord, nullptr, data, &size));

    BYTE out[64];
    const BYTE payload[1] = {0};
    EXPECT_EQ(6000u, EncodeRegRecord(payload, 0, REG_DWORD, out, sizeof out));
}

TEST(RegistryRecord, EncodeRefusesTooSmallOrMissingOutput) {
    const Bytes payload = DwordBytes(0x12345678);
    Bytes out(36, 0xCC);
    EXPECT_EQ(122u, EncodeRegRecord(payload.data(), 4, REG_DWORD, out.data(), 35));
    EXPECT_EQ(Bytes(36, 0xCC), out);
    EXPECT_EQ(87u, EncodeRegRecord(payload.data(), 4, REG_DWORD, nullptr, 36));
    EXPECT_EQ(6000u, EncodeRegRecord(nullptr, 4, REG_DWORD, out.data(), 36));
    // A length whose record size does not fit 32 bits must not wrap around to a small one.
    EXPECT_EQ(122u, EncodeRegRecord(payload.data(), 0xFFFFFFF0u, REG_DWORD, out.data(), 36));
}

}  // namespace
