#pragma once
// The keyed byte cipher of the scrambled records: an RC4-style keystream drives a cipher with a feedback register
// that holds the initial feedback byte xor every plaintext byte so far. Each data byte consumes 2R keystream bytes
// (R rounds, at least 1). A cipher object is keyed at construction and serves one encipher or decipher run over one
// payload; run it again from a fresh object. Input and output may be the same buffer.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Basalt {

class RecordCipher {
public:
    // A null key or a length below 1 selects the default key. Rounds below 2 give one round.
    RecordCipher(const char* key, int keyLength, int rounds);
    RecordCipher(const RecordCipher&) = delete;
    RecordCipher& operator=(const RecordCipher&) = delete;

    // False (output untouched) for a null buffer or a length of 0.
    bool Encipher(const std::uint8_t* input, std::uint8_t* output, std::size_t length);
    // Also false when the work arrays for many rounds could not be allocated.
    bool Decipher(const std::uint8_t* input, std::uint8_t* output, std::size_t length);

    // Runs the key schedule; false for a null key or a length below 1.
    bool SetKey(const char* key, int length);
    // The next keystream byte. A cipher is always keyed: the constructor falls back to the default key.
    std::uint8_t NextByte();

private:
    class Cursor;
    static constexpr int kInlineRounds = 5;

    std::uint8_t i_ = 0;
    std::uint8_t j_ = 0;
    std::uint8_t permutation_[256];
    int rounds_;
    // Deciphering draws all 2R keystream bytes of a data byte before undoing the rounds; with more rounds than
    // fit on the stack it keeps these work arrays (null when they could not be allocated).
    std::unique_ptr<std::uint8_t[]> heapA_;
    std::unique_ptr<std::uint8_t[]> heapB_;
    std::uint8_t feedback_;
};

}  // namespace Basalt
