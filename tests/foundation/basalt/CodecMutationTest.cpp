// Mutated and forged records (a fixed seed) against the decoder and the registry reader: each is either accepted
// because it is a valid record or refused with its code, and nothing is written outside the caller's buffer.
#include "foundation/basalt/Md5.h"
#include "foundation/basalt/RegValueCodec.h"
#include "foundation/basalt/RegistryRecord.h"
#include "tests/foundation/basalt/GoldenRecords.h"
#include "tests/support/GuardedBytes.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

constexpr int kRecordsPerTarget = 3000;
constexpr std::size_t kGuard = 16;
const wchar_t* const kPath = L"Software\\WelkinTests\\Mutation";

DWORD LoadDword(const Bytes& record, std::size_t at) {
    DWORD value;
    std::memcpy(&value, record.data() + at, sizeof value);
    return value;
}

// What a valid record is, checked from the outside.
bool IsValidRecord(Bytes record) {
    if (record.size() < 32) return false;
    BYTE stored[16];
    std::memcpy(stored, record.data() + 16, 16);
    std::memset(record.data() + 16, 0, 16);
    return Basalt::Md5Matches(record.data(), record.size(), stored, 16) == 0 &&
           record.size() == std::uint64_t{LoadDword(record, 8)} + 32 && std::memcmp(record.data(), "QZRG", 4) == 0;
}

void Redigest(Bytes& record) {
    if (record.size() < 32) return;
    std::memset(record.data() + 16, 0, 16);
    BYTE digest[16];
    ASSERT_EQ(0, Basalt::Md5Digest(record.data(), record.size(), digest, sizeof digest));
    std::memcpy(record.data() + 16, digest, 16);
}

Bytes Encoded(DWORD type, const Bytes& payload) {
    Bytes record(payload.size() + 32);
    EXPECT_EQ(0u, EncodeRegRecord(payload.data(), static_cast<DWORD>(payload.size()), type, record.data(),
                                  static_cast<DWORD>(record.size())));
    return record;
}

class Mutator {
public:
    Mutator() : random_(20261210) {
        Bytes text(600, 'x');
        text.back() = 0;
        bases_ = {golden::kDwordRecord, golden::kStringRecord, golden::kMultiStringRecord,
                  golden::kUnterminatedStringRecord, Encoded(REG_BINARY, Bytes(600, 0x42)), Encoded(REG_SZ, text)};
    }

    Bytes Next() {
        Bytes record = bases_[Below(bases_.size())];
        switch (Below(4)) {
            case 0:  // flipped bytes
                for (std::size_t n = 1 + Below(3); n > 0; --n) record[Below(record.size())] ^= 1 + Below(255);
                break;
            case 1:  // cut short
                record.resize(Below(record.size()));
                break;
            case 2:  // bytes appended
                for (std::size_t n = 1 + Below(4); n > 0; --n) record.push_back(static_cast<BYTE>(random_()));
                break;
            default:
                Forge(record);
                break;
        }
        return record;
    }

    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(random_() % bound); }

private:
    // A hostile but well-digested record: random payload, header fields that may lie.
    void Forge(Bytes& record) {
        record.resize(32 + Below(80));
        for (std::size_t k = 32; k < record.size(); ++k) record[k] = Below(10) == 0 ? 0 : static_cast<BYTE>(random_());
        std::memcpy(record.data(), "QZRG", 4);
        DWORD length = static_cast<DWORD>(record.size() - 32);
        if (Below(5) == 0) length += static_cast<DWORD>(random_() % 5) - 2;
        if (Below(20) == 0) length = static_cast<DWORD>(random_());
        static const DWORD kTypes[] = {REG_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY, REG_EXPAND_SZ, 0xDEAD};
        const DWORD type = kTypes[Below(6)];
        std::memcpy(record.data() + 8, &length, 4);
        std::memcpy(record.data() + 12, &type, 4);
        if (Below(10) == 0) record[Below(4)] ^= 0x20;
        Redigest(record);
    }

    std::mt19937 random_;
    std::vector<Bytes> bases_;
};

const std::set<DWORD> kRefusals = {13, 234, 6001};

TEST(CodecMutation, DecoderAcceptsOnlyValidRecords) {
    Mutator mutator;
    int accepted = 0;
    for (int n = 0; n < kRecordsPerTarget; ++n) {
        const Bytes record = mutator.Next();
        const bool valid = IsValidRecord(record);
        testsupport::GuardedBytes copy(record);  // an over-read of the record crashes
        const std::size_t room = mutator.Below(120);
        Bytes data(room + kGuard, 0xAB);
        DWORD size = static_cast<DWORD>(room), type = 0;
        const DWORD rc = DecodeRegRecord(copy.data(), static_cast<DWORD>(copy.size()), &type,
                                         room ? data.data() : nullptr, &size);
        SCOPED_TRACE(testing::Message() << "record " << n << ", " << record.size() << " bytes, code " << rc);
        ASSERT_TRUE(rc == 0 || kRefusals.count(rc));
        ASSERT_EQ(valid, rc != 13);
        if (valid) {
            EXPECT_EQ(record.size() - 32, size);
        }
        ASSERT_EQ(Bytes(kGuard, 0xAB), Bytes(data.end() - kGuard, data.end()));
        accepted += rc == 0;
    }
    EXPECT_GT(accepted, 0);  // the forged records reach the payload
}

TEST(CodecMutation, RegistryReaderAcceptsOnlyValidRecords) {
    testsupport::ScratchRegistry registry;
    Mutator mutator;
    for (int n = 0; n < kRecordsPerTarget; ++n) {
        const Bytes record = mutator.Next();
        registry.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"m", record);
        const std::size_t room = mutator.Below(200);
        Bytes data(room + kGuard, 0xAB);
        DWORD size = static_cast<DWORD>(room), type = 0;
        const DWORD rc = QzRegReadValueExW(HKEY_LOCAL_MACHINE, kPath, L"m", &type, room ? data.data() : nullptr,
                                           &size, kQzRegRecord);
        SCOPED_TRACE(testing::Message() << "record " << n << ", " << record.size() << " bytes, code " << rc);
        ASSERT_TRUE(rc == 0 || kRefusals.count(rc));
        ASSERT_EQ(IsValidRecord(record), rc != 13);
        if (rc == 0 && room != 0) {
            EXPECT_LE(size, room);
        }
        ASSERT_EQ(Bytes(kGuard, 0xAB), Bytes(data.end() - kGuard, data.end()));
    }
}

}  // namespace
