#pragma once
// The record cipher in the object form that the registry-value codec, the ini value store and the language-map
// documents use. It produces exactly the bytes of Basalt::RecordCipher (it runs on it): Encipher scrambles,
// Transform unscrambles. Keyed at construction; one object serves one run over one payload.
#include "foundation/basalt/RecordCipher.h"

#include <cstddef>
#include <cstdint>

class RegValueScrambler {
public:
    // A null key or a length below 1 selects the default key. Rounds below 2 give one round.
    RegValueScrambler(const char* key, int keyLength, int rounds) : cipher_(key, keyLength, rounds) {}

    bool SetKey(const char* key, int length) { return cipher_.SetKey(key, length); }
    std::uint8_t NextByte() { return cipher_.NextByte(); }
    // Both false (output untouched) for a null buffer or a length of 0.
    bool Encipher(const std::uint8_t* input, std::uint8_t* output, std::size_t length) {
        return cipher_.Encipher(input, output, length);
    }
    bool Transform(const std::uint8_t* input, std::uint8_t* output, std::size_t length) {
        return cipher_.Decipher(input, output, length);
    }

private:
    Basalt::RecordCipher cipher_;
};
