#include "foundation/basalt/RecordCipher.h"

#include "foundation/basalt/RecordKeys.h"

#include <new>
#include <utility>

namespace Basalt {

RecordCipher::RecordCipher(const char* key, int keyLength, int rounds) : rounds_(rounds > 1 ? rounds : 1) {
    if (rounds_ <= kInlineRounds) {
        workA_ = inlineA_;
        workB_ = inlineB_;
    } else {
        heapA_.reset(new (std::nothrow) std::uint8_t[rounds_]);
        heapB_.reset(new (std::nothrow) std::uint8_t[rounds_]);
        workA_ = heapA_.get();
        workB_ = heapB_.get();
    }
    if (key == nullptr || keyLength < 1) {
        key = kDefaultCipherKey;
        keyLength = kRecordKeyLength;
    }
    SetKey(key, keyLength);
    feedback_ = NextByte();
}

bool RecordCipher::SetKey(const char* key, int length) {
    if (key == nullptr || length < 1) return false;
    for (int k = 0; k < 256; ++k) permutation_[k] = static_cast<std::uint8_t>(k);
    std::uint8_t j = 0;
    for (int i = 0, n = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + static_cast<std::uint8_t>(key[n]) + permutation_[i]);
        std::swap(permutation_[i], permutation_[j]);
        if (++n == length) n = 0;
    }
    i_ = j_ = 0;
    keyed_ = true;
    return true;
}

std::uint8_t RecordCipher::NextByte() {
    if (!keyed_) return 0;
    ++i_;
    j_ = static_cast<std::uint8_t>(j_ + permutation_[i_]);
    std::swap(permutation_[i_], permutation_[j_]);
    return permutation_[static_cast<std::uint8_t>(permutation_[i_] + permutation_[j_])];
}

bool RecordCipher::Encipher(const std::uint8_t* input, std::uint8_t* output, std::size_t length) {
    if (input == nullptr || output == nullptr || length == 0) return false;
    for (std::size_t k = 0; k < length; ++k) {
        feedback_ ^= input[k];
        const std::uint8_t first = NextByte();
        std::uint8_t x = static_cast<std::uint8_t>((first ^ feedback_) + NextByte());
        for (int round = 1; round < rounds_; ++round) {
            const std::uint8_t a = NextByte();
            x = static_cast<std::uint8_t>((x ^ a) + NextByte());
        }
        output[k] = x;
    }
    return true;
}

bool RecordCipher::Decipher(const std::uint8_t* input, std::uint8_t* output, std::size_t length) {
    if (input == nullptr || output == nullptr || length == 0 || workA_ == nullptr || workB_ == nullptr) return false;
    for (std::size_t k = 0; k < length; ++k) {
        for (int round = 0; round < rounds_; ++round) {
            workA_[round] = NextByte();
            workB_[round] = NextByte();
        }
        std::uint8_t x = input[k];
        for (int round = rounds_ - 1; round >= 1; --round)
            x = static_cast<std::uint8_t>((x - workB_[round]) ^ workA_[round]);
        x = static_cast<std::uint8_t>(x - workB_[0]);
        const std::uint8_t plain = static_cast<std::uint8_t>(workA_[0] ^ x ^ feedback_);
        feedback_ ^= plain;
        output[k] = plain;
    }
    return true;
}

}  // namespace Basalt
