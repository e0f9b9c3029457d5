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

}  // namespace testsupport
