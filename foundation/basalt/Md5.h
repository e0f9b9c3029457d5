#pragma once
// MD5 message digest (RFC 1321). `Basalt::Md5` is the incremental form (Init, Update, Final); `Md5Digest`,
// `Md5Matches` and the codec's `ComputeMD5` are the one-shot helpers that the record coders use. `MD5Transform` is
// the block function that every MD5 user in the process shares.
#include <cstddef>
#include <cstdint>

// Mixes one 64-byte block into the four chaining words.
void MD5Transform(std::uint32_t state[4], const std::uint8_t block[64]);

namespace Basalt {

inline constexpr std::size_t kMd5Size = 16;

class Md5 {
public:
    Md5() { Init(); }
    void Init();
    void Update(const void* data, std::size_t length);
    // Pads, appends the bit count and writes the 16-byte digest; call Init before reusing the object.
    void Final(std::uint8_t digest[kMd5Size]);

private:
    std::uint32_t bitCount_[2];  // low word first
    std::uint32_t state_[4];
    std::uint8_t block_[64];
};

// 0 with the digest in `out`; -1 when data or out is null, length is 0 or outSize is not 16.
int Md5Digest(const void* data, std::size_t length, std::uint8_t* out, std::size_t outSize);

// 0 when the digest of the data equals the 16 expected bytes; -1 on a mismatch or a bad argument
// (null data or expected digest, length 0, digestSize not 16).
int Md5Matches(const void* data, std::size_t length, const std::uint8_t* expected, std::size_t digestSize);

}  // namespace Basalt

// The codec's digest entry: the same contract as Basalt::Md5Digest.
inline int ComputeMD5(const void* data, std::size_t length, std::uint8_t* out, std::size_t outSize) {
    return Basalt::Md5Digest(data, length, out, outSize);
}
