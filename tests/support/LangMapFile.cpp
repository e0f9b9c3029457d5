#include "tests/support/LangMapFile.h"

#include <cstdint>
#include <cstring>

#include "foundation/basalt/Md5.h"
#include "foundation/basalt/RecordCipher.h"
#include "welkin/QzXMLBase.h"

namespace testsupport {

std::string EncipheredLangMap(const std::string& xml) {
    std::string file(kLangMapHeaderSize + xml.size(), '\0');
    std::memcpy(file.data(), &kLangMapMagic, sizeof kLangMapMagic);
    if (!xml.empty()) {
        Basalt::RecordCipher cipher(kLangMapKey, kLangMapKeyLength, 1);
        cipher.Encipher(reinterpret_cast<const std::uint8_t*>(xml.data()),
                        reinterpret_cast<std::uint8_t*>(file.data() + kLangMapHeaderSize), xml.size());
    }
    SealLangMap(file);
    return file;
}

void SealLangMap(std::string& file) {
    if (file.size() < kLangMapHeaderSize) return;
    const std::uint64_t length = file.size() - kLangMapHeaderSize;
    std::memcpy(file.data() + 8, &length, sizeof length);
    std::uint8_t digest[Basalt::kMd5Size] = {};
    if (length != 0) Basalt::Md5Digest(file.data() + kLangMapHeaderSize, length, digest, sizeof digest);
    std::memcpy(file.data() + 16, digest, sizeof digest);
}

}  // namespace testsupport
