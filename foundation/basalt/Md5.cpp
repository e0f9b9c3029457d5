#include "foundation/basalt/Md5.h"

#include <cstring>

namespace {

constexpr std::uint32_t kSines[64] = {
    0xD76AA478, 0xE8C7B756, 0x242070DB, 0xC1BDCEEE, 0xF57C0FAF, 0x4787C62A, 0xA8304613, 0xFD469501,
    0x698098D8, 0x8B44F7AF, 0xFFFF5BB1, 0x895CD7BE, 0x6B901122, 0xFD987193, 0xA679438E, 0x49B40821,
    0xF61E2562, 0xC040B340, 0x265E5A51, 0xE9B6C7AA, 0xD62F105D, 0x02441453, 0xD8A1E681, 0xE7D3FBC8,
    0x21E1CDE6, 0xC33707D6, 0xF4D50D87, 0x455A14ED, 0xA9E3E905, 0xFCEFA3F8, 0x676F02D9, 0x8D2A4C8A,
    0xFFFA3942, 0x8771F681, 0x6D9D6122, 0xFDE5380C, 0xA4BEEA44, 0x4BDECFA9, 0xF6BB4B60, 0xBEBFBC70,
    0x289B7EC6, 0xEAA127FA, 0xD4EF3085, 0x04881D05, 0xD9D4D039, 0xE6DB99E5, 0x1FA27CF8, 0xC4AC5665,
    0xF4292244, 0x432AFF97, 0xAB9423A7, 0xFC93A039, 0x655B59C3, 0x8F0CCC92, 0xFFEFF47D, 0x85845DD1,
    0x6FA87E4F, 0xFE2CE6E0, 0xA3014314, 0x4E0811A1, 0xF7537E82, 0xBD3AF235, 0x2AD7D2BB, 0xEB86D391,
};

// Left-rotation amounts, four per round.
constexpr int kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

std::uint32_t RotateLeft(std::uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

std::uint32_t LoadLittleEndian(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void StoreLittleEndian(std::uint32_t value, std::uint8_t* bytes) {
    for (int k = 0; k < 4; ++k) bytes[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

}  // namespace

namespace {

// One round of 16 steps; a round of its own per template argument lets the compiler unroll each.
template <int Round>
void Md5Round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d, const std::uint32_t* words) {
    for (int step = 16 * Round; step < 16 * Round + 16; ++step) {
        std::uint32_t mixed;
        int word;
        if constexpr (Round == 0) {
            mixed = (b & c) | (~b & d);
            word = step;
        } else if constexpr (Round == 1) {
            mixed = (d & b) | (~d & c);
            word = (5 * step + 1) % 16;
        } else if constexpr (Round == 2) {
            mixed = b ^ c ^ d;
            word = (3 * step + 5) % 16;
        } else {
            mixed = c ^ (b | ~d);
            word = (7 * step) % 16;
        }
        const std::uint32_t rotated = RotateLeft(a + mixed + kSines[step] + words[word], kShifts[Round][step % 4]);
        a = d;
        d = c;
        c = b;
        b += rotated;
    }
}

}  // namespace

void MD5Transform(std::uint32_t state[4], const std::uint8_t block[64]) {
    std::uint32_t words[16];
    for (int k = 0; k < 16; ++k) words[k] = LoadLittleEndian(block + 4 * k);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    Md5Round<0>(a, b, c, d, words);
    Md5Round<1>(a, b, c, d, words);
    Md5Round<2>(a, b, c, d, words);
    Md5Round<3>(a, b, c, d, words);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

namespace Basalt {

void Md5::Init() {
    bitCount_[0] = bitCount_[1] = 0;
    state_[0] = 0x67452301;
    state_[1] = 0xEFCDAB89;
    state_[2] = 0x98BADCFE;
    state_[3] = 0x10325476;
}

void Md5::Update(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t used = (bitCount_[0] >> 3) & 0x3F;
    const std::uint64_t bits = (static_cast<std::uint64_t>(bitCount_[1]) << 32 | bitCount_[0]) +
                               (static_cast<std::uint64_t>(length) << 3);
    bitCount_[0] = static_cast<std::uint32_t>(bits);
    bitCount_[1] = static_cast<std::uint32_t>(bits >> 32);

    if (used != 0) {
        const std::size_t room = 64 - used;
        if (length < room) {
            std::memcpy(block_ + used, bytes, length);
            return;
        }
        std::memcpy(block_ + used, bytes, room);
        MD5Transform(state_, block_);
        bytes += room;
        length -= room;
    }
    for (; length >= 64; bytes += 64, length -= 64) MD5Transform(state_, bytes);
    if (length != 0) std::memcpy(block_, bytes, length);
}

void Md5::Final(std::uint8_t digest[kMd5Size]) {
    std::uint8_t count[8];
    StoreLittleEndian(bitCount_[0], count);
    StoreLittleEndian(bitCount_[1], count + 4);
    static constexpr std::uint8_t kPadding[64] = {0x80};
    const std::size_t used = (bitCount_[0] >> 3) & 0x3F;
    Update(kPadding, used < 56 ? 56 - used : 120 - used);
    Update(count, sizeof count);
    for (int k = 0; k < 4; ++k) StoreLittleEndian(state_[k], digest + 4 * k);
}

int Md5Digest(const void* data, std::size_t length, std::uint8_t* out, std::size_t outSize) {
    if (data == nullptr || length == 0 || out == nullptr || outSize != kMd5Size) return -1;
    Md5 md5;
    md5.Update(data, length);
    md5.Final(out);
    return 0;
}

int Md5Matches(const void* data, std::size_t length, const std::uint8_t* expected, std::size_t digestSize) {
    if (expected == nullptr || digestSize != kMd5Size) return -1;
    std::uint8_t actual[kMd5Size];
    if (Md5Digest(data, length, actual, sizeof actual) != 0) return -1;
    return std::memcmp(actual, expected, kMd5Size) == 0 ? 0 : -1;
}

}  // namespace Basalt
