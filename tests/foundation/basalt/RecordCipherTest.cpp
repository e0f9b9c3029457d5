#include "foundation/basalt/RecordCipher.h"
#include "foundation/basalt/RecordKeys.h"
#include "foundation/basalt/RegValueScrambler.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The cipher and its object form behind one face: every known answer also checks how the object form is wired.
struct Basalt_ {
    using Cipher = Basalt::RecordCipher;
    static bool Decipher(Cipher& c, const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
        return c.Decipher(in, out, n);
    }
};
struct Scrambler_ {
    using Cipher = RegValueScrambler;
    static bool Decipher(Cipher& c, const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
        return c.Transform(in, out, n);
    }
};

template <typename Impl>
class CipherTest : public ::testing::Test {
protected:
    using Cipher = typename Impl::Cipher;

    static Bytes Encipher(const char* key, int keyLength, int rounds, const Bytes& plain) {
        Cipher cipher(key, keyLength, rounds);
        Bytes out(plain.size());
        EXPECT_TRUE(cipher.Encipher(plain.data(), out.data(), plain.size()));
        return out;
    }
    static Bytes Decipher(const char* key, int keyLength, int rounds, const Bytes& scrambled) {
        Cipher cipher(key, keyLength, rounds);
        Bytes out(scrambled.size());
        EXPECT_TRUE(Impl::Decipher(cipher, scrambled.data(), out.data(), scrambled.size()));
        return out;
    }
};

using Implementations = ::testing::Types<Basalt_, Scrambler_>;
TYPED_TEST_SUITE(CipherTest, Implementations);

const char* const kRegKey = Basalt::kRegistryRecordKey;
constexpr int kKeyLength = Basalt::kRecordKeyLength;

// Computed by hand from the key schedule and the feedback cipher.
const Bytes kHello = {'H', 'e', 'l', 'l', 'o'};
const Bytes kHelloScrambled = {0xEE, 0x6C, 0x55, 0x2D, 0x61};          // registry key, one round
const Bytes kCounting = {0x01, 0x02, 0x03, 0x04};
const Bytes kCountingScrambled = {0xB1, 0xA0, 0x56, 0x10};              // default key, three rounds
// The registry key's keystream after the first byte (0x6F), which becomes the initial feedback byte.
const Bytes kRegistryKeystream = {0x55, 0x7C, 0x64, 0x46, 0x36, 0x3D, 0x9F};

TYPED_TEST(CipherTest, KnownAnswers) {
    EXPECT_EQ(kHelloScrambled, this->Encipher(kRegKey, kKeyLength, 1, kHello));
    EXPECT_EQ(kHello, this->Decipher(kRegKey, kKeyLength, 1, kHelloScrambled));
    EXPECT_EQ(kCountingScrambled, this->Encipher(Basalt::kDefaultCipherKey, kKeyLength, 3, kCounting));
    EXPECT_EQ(kCounting, this->Decipher(Basalt::kDefaultCipherKey, kKeyLength, 3, kCountingScrambled));

    typename TypeParam::Cipher cipher(kRegKey, kKeyLength, 1);
    Bytes stream;
    for (std::size_t k = 0; k < kRegistryKeystream.size(); ++k) stream.push_back(cipher.NextByte());
    EXPECT_EQ(kRegistryKeystream, stream);
}

TYPED_TEST(CipherTest, MissingKeyOrRoundsSelectDefaults) {
    EXPECT_EQ(kCountingScrambled, this->Encipher(nullptr, kKeyLength, 3, kCounting));
    EXPECT_EQ(kCountingScrambled, this->Encipher(kRegKey, 0, 3, kCounting));
    EXPECT_EQ(kCountingScrambled, this->Encipher(kRegKey, -5, 3, kCounting));
    for (int rounds : {1, 0, -3}) EXPECT_EQ(kHelloScrambled, this->Encipher(kRegKey, kKeyLength, rounds, kHello));
}

TYPED_TEST(CipherTest, SetKeyRestartsTheKeystream) {
    typename TypeParam::Cipher cipher(nullptr, 0, 1);
    EXPECT_FALSE(cipher.SetKey(nullptr, kKeyLength));
    EXPECT_FALSE(cipher.SetKey(kRegKey, 0));
    ASSERT_TRUE(cipher.SetKey(kRegKey, kKeyLength));
    EXPECT_EQ(0x6F, cipher.NextByte());
    EXPECT_EQ(kRegistryKeystream[0], cipher.NextByte());
}

TYPED_TEST(CipherTest, RoundTripsAnyPayloadInPlace) {
    std::mt19937 random(7);
    for (int rounds : {1, 2, 5, 6, 9}) {
        for (std::size_t length : {1u, 2u, 255u, 256u, 1000u}) {
            SCOPED_TRACE(testing::Message() << rounds << " rounds, " << length << " bytes");
            Bytes plain(length);
            for (auto& b : plain) b = static_cast<std::uint8_t>(random());
            Bytes buffer = plain;
            typename TypeParam::Cipher encipher(kRegKey, kKeyLength, rounds);
            ASSERT_TRUE(encipher.Encipher(buffer.data(), buffer.data(), buffer.size()));
            EXPECT_NE(plain, buffer);
            typename TypeParam::Cipher decipher(kRegKey, kKeyLength, rounds);
            ASSERT_TRUE(TypeParam::Decipher(decipher, buffer.data(), buffer.data(), buffer.size()));
            EXPECT_EQ(plain, buffer);
        }
    }
}

TYPED_TEST(CipherTest, EachByteConsumesTwoKeystreamBytesPerRound) {
    const Bytes plain(10, 0x5A);
    for (int rounds : {1, 3, 7}) {
        SCOPED_TRACE(rounds);
        typename TypeParam::Cipher reference(kRegKey, kKeyLength, 1);
        for (std::size_t k = 0; k < 2 * rounds * plain.size(); ++k) reference.NextByte();
        const std::uint8_t expected = reference.NextByte();

        Bytes out(plain.size());
        typename TypeParam::Cipher encipher(kRegKey, kKeyLength, rounds);
        ASSERT_TRUE(encipher.Encipher(plain.data(), out.data(), out.size()));
        EXPECT_EQ(expected, encipher.NextByte());
        typename TypeParam::Cipher decipher(kRegKey, kKeyLength, rounds);
        ASSERT_TRUE(TypeParam::Decipher(decipher, out.data(), out.data(), out.size()));
        EXPECT_EQ(expected, decipher.NextByte());
    }
}

TYPED_TEST(CipherTest, RefusesNullBuffersAndEmptyRuns) {
    const Bytes in = {1, 2, 3};
    Bytes out = {9, 9, 9};
    typename TypeParam::Cipher cipher(kRegKey, kKeyLength, 1);
    EXPECT_FALSE(cipher.Encipher(nullptr, out.data(), 3));
    EXPECT_FALSE(cipher.Encipher(in.data(), nullptr, 3));
    EXPECT_FALSE(cipher.Encipher(in.data(), out.data(), 0));
    EXPECT_FALSE(TypeParam::Decipher(cipher, nullptr, out.data(), 3));
    EXPECT_FALSE(TypeParam::Decipher(cipher, in.data(), nullptr, 3));
    EXPECT_FALSE(TypeParam::Decipher(cipher, in.data(), out.data(), 0));
    EXPECT_EQ((Bytes{9, 9, 9}), out);
    // A refused run consumes nothing.
    EXPECT_EQ(kRegistryKeystream[0], cipher.NextByte());
}

}  // namespace
