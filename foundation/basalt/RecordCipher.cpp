#include "foundation/basalt/RecordCipher.h"

#include "foundation/basalt/RecordKeys.h"

#include <new>
#include <utility>

namespace Basalt {

RecordCipher::RecordCipher(const char* key, int keyLength, int rounds) : rounds_(rounds > 1 ? rounds : 1) {
    if (rounds_ > kInlineRounds) {
        heapA_.reset(new (std::nothrow) std::uint8_t[rounds_]);
        heapB_.reset(new (std::nothrow) std::uint8_t[rounds_]);
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
    return true;
}

// The keystream position in locals for a whole run: byte stores through the caller's buffers could otherwise
// alias the indices and force a reload on every byte.
class RecordCipher::Cursor {
public:
    explicit Cursor(RecordCipher& cipher) : cipher_(cipher), i_(cipher.i_), j_(cipher.j_) {}
    ~Cursor() {
        cipher_.i_ = i_;
        cipher_.j_ = j_;
    }
    // The swapped pair's sum indexes the output; held in registers (when i equals j both are the same byte).
    std::uint8_t Next() {
        std::uint8_t* s = cipher_.permutation_;
        ++i_;
        const std::uint8_t atI = s[i_];
        j_ = static_cast<std::uint8_t>(j_ + atI);
        const std::uint8_t atJ = s[j_];
        s[i_] = atJ;
        s[j_] = atI;
        return s[static_cast<std::uint8_t>(atI + atJ)];
    }

private:
    RecordCipher& cipher_;
    std::uint8_t i_;
    std::uint8_t j_;
};

std::uint8_t RecordCipher::NextByte() { return Cursor(*this).Next(); }

bool RecordCipher::Encipher(const std::uint8_t* input, std::uint8_t* output, std::size_t length) {
    if (input == nullptr || output == nullptr || length == 0) return false;
    Cursor stream(*this);
    std::uint8_t feedback = feedback_;
    for (std::size_t k = 0; k < length; ++k) {
        feedback ^= input[k];
        const std::uint8_t first = stream.Next();
        std::uint8_t x = static_cast<std::uint8_t>((first ^ feedback) + stream.Next());
        for (int round = 1; round < rounds_; ++round) {
            const std::uint8_t a = stream.Next();
            x = static_cast<std::uint8_t>((x ^ a) + stream.Next());
        }
        output[k] = x;
    }
    feedback_ = feedback;
    return true;
}

bool RecordCipher::Decipher(const std::uint8_t* input, std::uint8_t* output, std::size_t length) {
    // Few rounds work in arrays on the stack, which no buffer of the caller can alias.
    std::uint8_t inlineA[kInlineRounds], inlineB[kInlineRounds];
    const bool inlineRounds = rounds_ <= kInlineRounds;
    std::uint8_t* workA = inlineRounds ? inlineA : heapA_.get();
    std::uint8_t* workB = inlineRounds ? inlineB : heapB_.get();
    if (input == nullptr || output == nullptr || length == 0 || workA == nullptr || workB == nullptr) return false;
    Cursor stream(*this);
    std::uint8_t feedback = feedback_;
    for (std::size_t k = 0; k < length; ++k) {
        for (int round = 0; round < rounds_; ++round) {
            workA[round] = stream.Next();
            workB[round] = stream.Next();
        }
        std::uint8_t x = input[k];
        for (int round = rounds_ - 1; round >= 1; --round)
            x = static_cast<std::uint8_t>((x - workB[round]) ^ workA[round]);
        x = static_cast<std::uint8_t>(x - workB[0]);
        const std::uint8_t plain = static_cast<std::uint8_t>(workA[0] ^ x ^ feedback);
        feedback ^= plain;
        output[k] = plain;
    }
    feedback_ = feedback;
    return true;
}

}  // namespace Basalt
