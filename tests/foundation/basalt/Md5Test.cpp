#include "foundation/basalt/Md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Hex(const std::uint8_t* digest) {
    std::string text;
    char pair[3];
    for (std::size_t k = 0; k < Basalt::kMd5Size; ++k) {
        std::snprintf(pair, sizeof pair, "%02x", digest[k]);
        text += pair;
    }
    return text;
}

std::string Md5Hex(const std::string& data) {
    Basalt::Md5 md5;
    md5.Update(data.data(), data.size());
    std::uint8_t digest[Basalt::kMd5Size];
    md5.Final(digest);
    return Hex(digest);
}

struct Vector {
    std::string data;
    const char* digest;
};

// The published test suite, then lengths around the padding boundaries (55/56 and 119/120 bytes need one more
// block for the bit count).
const Vector kVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
    {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
    {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
    {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
};

TEST(Md5, KnownDigests) {
    for (const Vector& vector : kVectors) {
        SCOPED_TRACE(vector.data.size());
        EXPECT_EQ(vector.digest, Md5Hex(vector.data));
        if (vector.data.empty()) continue;  // the one-shot helpers refuse empty data
        std::uint8_t digest[Basalt::kMd5Size];
        ASSERT_EQ(0, Basalt::Md5Digest(vector.data.data(), vector.data.size(), digest, sizeof digest));
        EXPECT_EQ(vector.digest, Hex(digest));
        ASSERT_EQ(0, ComputeMD5(vector.data.data(), vector.data.size(), digest, sizeof digest));
        EXPECT_EQ(vector.digest, Hex(digest));
        EXPECT_EQ(0, Basalt::Md5Matches(vector.data.data(), vector.data.size(), digest, sizeof digest));
    }
}

TEST(Md5, PiecewiseUpdatesMatchOneUpdate) {
    const std::string data(200, 'a');
    for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 127u}) {
        SCOPED_TRACE(piece);
        Basalt::Md5 md5;
        for (std::size_t at = 0; at < data.size(); at += piece)
            md5.Update(data.data() + at, std::min(piece, data.size() - at));
        std::uint8_t digest[Basalt::kMd5Size];
        md5.Final(digest);
        EXPECT_EQ(Md5Hex(data), Hex(digest));
    }
}

TEST(Md5, InitRestartsTheDigest) {
    Basalt::Md5 md5;
    md5.Update("junk", 4);
    md5.Init();
    md5.Update("abc", 3);
    std::uint8_t digest[Basalt::kMd5Size];
    md5.Final(digest);
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(digest));
}

TEST(Md5, HelpersRefuseBadArguments) {
    const char data[] = "abc";
    std::uint8_t digest[Basalt::kMd5Size] = {};
    struct Case {
        const char* name;
        const void* data;
        std::size_t length;
        std::uint8_t* out;
        std::size_t outSize;
    };
    const Case cases[] = {
        {"null data", nullptr, 3, digest, 16},
        {"zero length", data, 0, digest, 16},
        {"null out", data, 3, nullptr, 16},
        {"short out", data, 3, digest, 15},
        {"long out", data, 3, digest, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(-1, Basalt::Md5Digest(c.data, c.length, c.out, c.outSize));
        EXPECT_EQ(-1, ComputeMD5(c.data, c.length, c.out, c.outSize));
        EXPECT_EQ(-1, Basalt::Md5Matches(c.data, c.length, c.out, c.outSize));
    }
}

TEST(Md5, MatchesRejectsAnyDifferentDigest) {
    std::uint8_t digest[Basalt::kMd5Size];
    ASSERT_EQ(0, Basalt::Md5Digest("abc", 3, digest, sizeof digest));
    for (std::size_t k = 0; k < sizeof digest; ++k) {
        digest[k] ^= 0x01;
        EXPECT_EQ(-1, Basalt::Md5Matches("abc", 3, digest, sizeof digest)) << k;
        digest[k] ^= 0x01;
    }
    EXPECT_EQ(-1, Basalt::Md5Matches("abd", 3, digest, sizeof digest));
}

}  // namespace
