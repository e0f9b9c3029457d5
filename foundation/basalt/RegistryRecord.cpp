#include "foundation/basalt/RegistryRecord.h"

#include "foundation/basalt/Md5.h"
#include "foundation/basalt/RecordKeys.h"
#include "foundation/basalt/RegValueScrambler.h"

#include <cstring>

namespace {

constexpr BYTE kMagic[4] = {'Q', 'Z', 'R', 'G'};
constexpr DWORD kVersion = 1;
constexpr DWORD kVersionOffset = 4;
constexpr DWORD kLengthOffset = 8;
constexpr DWORD kTypeOffset = 12;

void StoreDword(BYTE* at, DWORD value) { std::memcpy(at, &value, sizeof value); }

DWORD LoadDword(const BYTE* at) {
    DWORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

RegValueScrambler RecordScrambler() {
    return RegValueScrambler(Basalt::kRegistryRecordKey, Basalt::kRecordKeyLength, 1);
}

}  // namespace

DWORD EncodeRegRecord(const BYTE* payload, DWORD length, DWORD valueType, BYTE* output, DWORD outputSize) {
    if (output == nullptr) return ERROR_INVALID_PARAMETER;
    const std::uint64_t recordSize = std::uint64_t{length} + Basalt::kRecordHeaderSize;
    if (outputSize < recordSize) return ERROR_INSUFFICIENT_BUFFER;
    if (!RecordScrambler().Encipher(payload, output + Basalt::kRecordHeaderSize, length)) return 6000;
    std::memcpy(output, kMagic, sizeof kMagic);
    StoreDword(output + kVersionOffset, kVersion);
    StoreDword(output + kLengthOffset, length);
    StoreDword(output + kTypeOffset, valueType);
    BYTE* digest = output + Basalt::kRecordDigestOffset;
    std::memset(digest, 0, Basalt::kMd5Size);
    if (ComputeMD5(output, static_cast<std::size_t>(recordSize), digest, Basalt::kMd5Size) != 0) return 6000;
    return ERROR_SUCCESS;
}

DWORD DecodeRegRecord(BYTE* record, DWORD recordLength, DWORD* valueType, BYTE* data, DWORD* size) {
    if (recordLength < Basalt::kRecordHeaderSize) return ERROR_INVALID_DATA;
    if (record == nullptr) return ERROR_INVALID_PARAMETER;
    BYTE stored[Basalt::kMd5Size];
    BYTE* digest = record + Basalt::kRecordDigestOffset;
    std::memcpy(stored, digest, sizeof stored);
    std::memset(digest, 0, Basalt::kMd5Size);
    if (Basalt::Md5Matches(record, recordLength, stored, sizeof stored) != 0) return ERROR_INVALID_DATA;

    const DWORD length = LoadDword(record + kLengthOffset);
    if (recordLength != std::uint64_t{length} + Basalt::kRecordHeaderSize) return ERROR_INVALID_DATA;
    if (std::memcmp(record, kMagic, sizeof kMagic) != 0) return ERROR_INVALID_DATA;

    if (valueType != nullptr) *valueType = LoadDword(record + kTypeOffset);
    if (size == nullptr) return ERROR_SUCCESS;
    const DWORD room = *size;
    *size = length;
    if (data == nullptr) return ERROR_SUCCESS;
    if (length > room) return ERROR_MORE_DATA;
    if (!RecordScrambler().Transform(record + Basalt::kRecordHeaderSize, data, length)) return 6001;
    return ERROR_SUCCESS;
}
