#include "tests/support/IniRecordBytes.h"

#include <cstring>

#include "foundation/basalt/Md5.h"
#include "foundation/basalt/RecordCipher.h"
#include "foundation/basalt/RecordKeys.h"

namespace testsupport {

std::vector<BYTE> IniEncipher(const std::vector<BYTE>& plain) {
    std::vector<BYTE> out(plain.size());
    Basalt::RecordCipher(Basalt::kIniRecordKey, Basalt::kRecordKeyLength, 1).Encipher(plain.data(), out.data(),
                                                                                      plain.size());
    return out;
}

std::vector<BYTE> IniDecipher(const std::vector<BYTE>& enciphered) {
    std::vector<BYTE> out(enciphered.size());
    Basalt::RecordCipher(Basalt::kIniRecordKey, Basalt::kRecordKeyLength, 1).Decipher(enciphered.data(), out.data(),
                                                                                      enciphered.size());
    return out;
}

void RedigestIniRecord(Basalt::IniRecordHeader& header, const std::vector<BYTE>& payload) {
    std::memset(header.digest, 0, sizeof header.digest);
    if (!payload.empty()) Basalt::Md5Digest(payload.data(), payload.size(), header.digest, sizeof header.digest);
}

std::string StructText(const void* data, std::size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const BYTE b = static_cast<const BYTE*>(data)[i];
        text += digits[b >> 4];
        text += digits[b & 15];
        sum += b;
    }
    text += digits[(sum >> 4) & 15];
    text += digits[sum & 15];
    return text;
}

}  // namespace testsupport
