// Mutated ini values (a fixed seed) through the ini value store: headers whose fields lie, data flipped, cut and
// extended (re-digested or not), struct texts whose digits or checksum are damaged, missing header or datum
// entries, and buffers of every size. A second reader written here from the value rules says for each query what
// must come back; the store must agree with it on every query.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "foundation/basalt/IniReader.h"
#include "foundation/basalt/Md5.h"
#include "tests/support/IniRecordBytes.h"
#include "tests/support/TempFolder.h"
#include "welkin/QzIniValueStore.h"
#include "welkin/WelkinFiles.h"

namespace {

using Basalt::IniRecordHeader;
using Bytes = std::vector<BYTE>;
using testsupport::StructText;

constexpr unsigned kSeed = 20261210;
constexpr int kFiles = 100;
constexpr int kValuesPerFile = 100;

// ---- values as the suite stores them -------------------------------------------------------------------------------

// What a struct read of `size` bytes gives: 2 x size hex digits, then the pair of their sum. Strictly the text
// is exactly that long; the lenient reading (Wine's) ignores whatever follows. Both are accepted below.
std::optional<Bytes> StructRead(const std::optional<std::string>& text, std::size_t size, bool lenient) {
    if (!text || text->size() < 2 * size + 2 || (!lenient && text->size() != 2 * size + 2)) return {};
    if (text->find_first_not_of("0123456789ABCDEF") != std::string::npos) return {};
    Bytes bytes;
    unsigned sum = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        const BYTE b = static_cast<BYTE>(std::stoul(text->substr(2 * i, 2), nullptr, 16));
        if (i < size) {
            bytes.push_back(b);
            sum += b;
        } else if (b != (sum & 0xFF)) {
            return {};
        }
    }
    return bytes;
}

// One value: the texts of its header entry "_vN" and of its datum entry "vN" (none: no such line).
struct Value {
    std::optional<std::string> header, datum;
};

// ---- the second reader ---------------------------------------------------------------------------------------------

enum class Result { Ok, MoreData, NoRoom, Invalid, ReadFailed };

struct Outcome {
    Result result = Result::Ok;
    DWORD type = 0, enciphered = 0, size = 0;
    Bytes data;  // for Ok with a buffer
};

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(count, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
    return wide;
}

// The caller's wide text of UTF-8 bytes (up to a NUL), terminated; MoreData with the need when it does not fit.
Outcome Text(Outcome o, const Bytes& utf8, DWORD room) {
    const std::string text(reinterpret_cast<const char*>(utf8.data()),
                           strnlen(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
    const std::wstring wide = FromUtf8(text) + L'\0';
    o.size = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    if (o.size > room) {
        o.result = Result::MoreData;
        return o;
    }
    o.data.assign(reinterpret_cast<const BYTE*>(wide.data()), reinterpret_cast<const BYTE*>(wide.data()) + o.size);
    return o;
}

Outcome Expect(const Value& v, std::optional<DWORD> room, bool lenient) {
    Outcome o;
    IniRecordHeader h = {};
    if (const auto bytes = StructRead(v.header, sizeof h, lenient)) {
        std::memcpy(&h, bytes->data(), sizeof h);
    } else {  // no header: plain text of the size offered
        h.type = REG_SZ;
        h.length = room ? *room : 5120;
    }
    o.type = h.type;
    o.enciphered = h.enciphered != 0;
    if (h.type == REG_SZ && h.length > MAXDWORD / 2) return o.result = Result::Invalid, o;
    if (!room) {
        o.size = h.type == REG_SZ ? h.length * 2 : h.length;
        return o;
    }
    o.size = *room;
    if (*room < h.length) return o.result = Result::NoRoom, o;
    if (h.enciphered) {
        const auto datum = StructRead(v.datum, h.length, lenient);
        if (!datum) return o.result = Result::ReadFailed, o;
        BYTE digest[16] = {};
        if (datum->empty() || Basalt::Md5Digest(datum->data(), datum->size(), digest, 16) != 0 ||
            std::memcmp(digest, h.digest, 16) != 0 || std::memcmp(h.magic, "QZRG", 4) != 0)
            return o.result = Result::Invalid, o;
        const Bytes plain = testsupport::IniDecipher(*datum);
        if (h.type == REG_SZ) return Text(o, plain, *room);
        o.size = h.length;
        o.data = plain;
        return o;
    }
    if (h.type == REG_DWORD) {
        if (*room < 4) return o.result = Result::NoRoom, o;
        const std::string text = v.datum.value_or("").substr(0, 19);  // read as up to 19 characters
        const DWORD number = static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
        o.size = 4;
        o.data.assign(reinterpret_cast<const BYTE*>(&number), reinterpret_cast<const BYTE*>(&number) + 4);
        return o;
    }
    if (h.type != REG_SZ) {
        o.size = h.length;
        const auto datum = StructRead(v.datum, h.length, lenient);
        if (!datum) return o.result = Result::ReadFailed, o;
        o.data = *datum;
        return o;
    }
    if (*room < 2) return o.result = Result::NoRoom, o;
    const std::string text = v.datum.value_or("").substr(0, *room / 2 - 1);  // the text that fits the read
    return Text(o, Bytes(text.begin(), text.end()), *room);
}

// ---- mutations -----------------------------------------------------------------------------------------------------

class Mutator {
public:
    explicit Mutator(unsigned seed) : random_(seed) {}

    std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(random_() % bound); }
    BYTE AnyByte() { return static_cast<BYTE>(random_()); }

    Value Next() {
        IniRecordHeader header = {};
        std::memcpy(header.magic, "QZRG", 4);
        header.version = 1;
        Bytes datum;
        std::optional<std::string> plainText;
        switch (Below(7)) {
            case 0: {  // enciphered text, UTF-8, with or without its terminator
                static const char* const kPieces[] = {"KEY", "-", "42", "\xc3\xa9", "\xe2\x82\xac", "Gr\xc3\xbc", "x"};
                std::string text;
                for (std::size_t n = 1 + Below(12); n > 0; --n) text += kPieces[Below(7)];
                datum.assign(text.begin(), text.end());
                if (Below(3)) datum.push_back(0);
                Seal(header, REG_SZ, datum);
                break;
            }
            case 1:  // enciphered binary
                datum.resize(1 + Below(64));
                for (BYTE& b : datum) b = AnyByte();
                Seal(header, REG_BINARY, datum);
                break;
            case 2:  // enciphered number
                datum.resize(4);
                for (BYTE& b : datum) b = AnyByte();
                Seal(header, REG_DWORD, datum);
                break;
            case 3:  // a plain number under a header
                header.type = REG_DWORD;
                header.length = 4;
                plainText = std::to_string(random_());
                break;
            case 4:  // plain binary under a header
                datum.resize(1 + Below(64));
                for (BYTE& b : datum) b = AnyByte();
                header.type = REG_BINARY;
                header.length = static_cast<std::uint32_t>(datum.size());
                break;
            case 5:  // plain text under a header
                plainText = Ascii();
                header.type = REG_SZ;
                header.length = static_cast<std::uint32_t>(plainText->size() + 1);
                break;
            default: {  // plain text without a header
                Value v;
                v.datum = Ascii();
                if (Below(4) == 0) MutateText(*v.datum, false);
                return v;
            }
        }
        const bool enciphered = header.enciphered != 0;
        if (Below(3)) MutateBinary(header, datum, enciphered);
        Value v;
        v.header = StructText(&header, sizeof header);
        v.datum = plainText ? *plainText : StructText(datum.data(), datum.size());
        switch (Below(8)) {
            case 0: MutateText(*v.header, true); break;
            case 1: MutateText(*v.datum, !plainText); break;
            case 2: (Below(2) ? v.header : v.datum).reset(); break;
            default: break;
        }
        return v;
    }

private:
    static void Seal(IniRecordHeader& header, DWORD type, Bytes& datum) {
        datum = testsupport::IniEncipher(datum);
        header.type = type;
        header.length = static_cast<std::uint32_t>(datum.size());
        header.enciphered = 1;
        testsupport::RedigestIniRecord(header, datum);
    }

    std::string Ascii() {
        std::string text;
        for (std::size_t n = Below(Below(6) == 0 ? 400 : 30); n > 0; --n)
            text.push_back("abcXYZ0123456789-_.,!#()"[Below(24)]);
        return text;
    }

    void MutateBinary(IniRecordHeader& h, Bytes& datum, bool enciphered) {
        switch (Below(6)) {
            case 0: {  // a header field that lies
                static const DWORD kLies[] = {0, 1, 2, 3, 4, 7, 11, 0x100, 0x7FFFFFFF, 0x80000001u, 0xFFFFFFFFu};
                const DWORD lie = kLies[Below(11)];
                switch (Below(5)) {
                    case 0: h.length = Below(2) ? lie : static_cast<DWORD>(datum.size() + Below(5) - 2); break;
                    case 1: h.type = lie; break;
                    case 2: h.enciphered = lie; break;
                    case 3: h.version = lie; break;
                    default: h.magic[Below(4)] ^= 1 + Below(255); break;
                }
                break;
            }
            case 1: h.digest[Below(16)] ^= 1 + Below(255); break;
            case 2:  // datum bytes flipped
                if (!datum.empty()) datum[Below(datum.size())] ^= 1 + Below(255);
                if (enciphered && Below(2)) testsupport::RedigestIniRecord(h, datum);
                break;
            case 3:  // datum cut
                datum.resize(Below(datum.size()));
                Reseal(h, datum, enciphered);
                break;
            case 4:  // datum extended
                for (std::size_t n = 1 + Below(8); n > 0; --n) datum.push_back(AnyByte());
                Reseal(h, datum, enciphered);
                break;
            default:  // the header of another kind of value
                h.type = Below(2) ? REG_SZ : REG_DWORD;
                break;
        }
    }

    void Reseal(IniRecordHeader& h, const Bytes& datum, bool enciphered) {
        if (Below(2)) h.length = static_cast<std::uint32_t>(datum.size());
        if (enciphered && Below(2)) testsupport::RedigestIniRecord(h, datum);
    }

    // Damage that keeps the text's length even: another digit (so a wrong checksum), a pair more or less. A struct
    // text gets hex digits only: what the system's struct read makes of other characters is its own affair.
    void MutateText(std::string& text, bool structText) {
        switch (Below(4)) {
            case 0:
                if (!text.empty()) {
                    char& c = text[Below(text.size())];
                    const char was = c;
                    while (c == was) c = structText ? "0123456789ABCDEF"[Below(16)] : "GZ-x#"[Below(5)];
                }
                break;
            case 1:
                if (text.size() >= 2) text[text.size() - 1 - Below(2)] = "0123456789ABCDEF"[Below(16)];
                break;
            case 2:
                if (text.size() >= 2) text.erase(2 * Below(text.size() / 2), 2);
                break;
            default: text.insert(2 * Below(text.size() / 2 + 1), "A5"); break;
        }
    }

    std::mt19937 random_;
};

std::string ValueLines(const std::string& name, const Value& v) {
    std::string text;
    if (v.header) text += "_" + name + "=" + *v.header + "\r\n";
    if (v.datum) text += name + "=" + *v.datum + "\r\n";
    return text;
}

// ---- the suite -----------------------------------------------------------------------------------------------------

// Empty when the query came back as expected, else what differs.
std::string Mismatch(const Outcome& want, DWORD rc, DWORD type, DWORD enciphered, DWORD size, const Bytes& buffer,
                     bool withBuffer) {
    testing::Message miss;
    if (want.type != type || want.enciphered != enciphered)
        return (miss << "type " << type << " enciphered " << enciphered << ", expected " << want.type << " "
                     << want.enciphered).GetString();
    const Bytes untouched(buffer.size(), 0xCC);
    switch (want.result) {
        case Result::Ok:
            if (rc != 0 || size != want.size) return (miss << "code " << rc << " size " << size << ", expected 0 "
                                                           << want.size).GetString();
            if (withBuffer && want.data != Bytes(buffer.begin(), buffer.begin() + size))
                return (miss << "data " << testing::PrintToString(Bytes(buffer.begin(), buffer.begin() + size))
                             << ", expected " << testing::PrintToString(want.data)).GetString();
            break;
        case Result::MoreData:
            if (rc != ERROR_MORE_DATA || size != want.size || buffer != untouched)
                return (miss << "code " << rc << " size " << size << ", expected 234 " << want.size
                             << " and no output").GetString();
            break;
        case Result::NoRoom:
        case Result::Invalid: {
            const DWORD code = want.result == Result::NoRoom ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_DATA;
            if (rc != code || buffer != untouched)
                return (miss << "code " << rc << ", expected " << code << " and no output").GetString();
            break;
        }
        case Result::ReadFailed:  // the ini read's own error, or 13 when it gave none
            for (const DWORD own : {0u, 1u, 8u, 234u, 1396u, 6001u})
                if (rc == own) return (miss << "code " << rc << ", expected a failed read").GetString();
            break;
    }
    // Nothing is written behind the buffer.
    if (!std::equal(buffer.end() - 16, buffer.end(), untouched.begin()))
        return (miss << "written behind the buffer").GetString();
    return {};
}

TEST(IniValueStoreMutation, EveryQueryAnswersAsTheValueRulesSay) {
    testsupport::TempFolder folder;
    Mutator mutator(kSeed);
    int counts[5] = {};
    for (int file = 0; file < kFiles; ++file) {
        std::vector<Value> values;
        std::string text = "[oeminfo]\r\n";
        for (int n = 0; n < kValuesPerFile; ++n) {
            values.push_back(mutator.Next());
            text += ValueLines("v" + std::to_string(n), values.back());
        }
        const std::wstring path = folder.Write(L"oem" + std::to_wstring(file) + L".ini", text);
        CQzIniValueStore store;
        store.section = WideToMultiByteAlloc(L"oeminfo", CP_UTF8);
        store.iniPath = WideToMultiByteAlloc(path.c_str(), CP_ACP);
        for (int n = 0; n < kValuesPerFile; ++n) {
            const std::string name = "v" + std::to_string(n);
            std::optional<DWORD> room;
            if (mutator.Below(6)) room = static_cast<DWORD>(mutator.Below(mutator.Below(3) ? 80 : 900));
            SCOPED_TRACE(testing::Message() << "seed " << kSeed << ", file " << file << ", value " << name
                                            << ", buffer " << (room ? std::to_string(*room) : "none") << ": "
                                            << ValueLines(name, values[n]));
            Bytes buffer(room.value_or(0) + 16, 0xCC);
            DWORD type = 0xFFFF, enciphered = 0xFFFF, size = room.value_or(0);
            const std::wstring wide(name.begin(), name.end());
            const DWORD rc = store.QueryValue(wide.c_str(), &type, room ? buffer.data() : nullptr, &size, &enciphered);
            const Outcome strict = Expect(values[n], room, false), lenient = Expect(values[n], room, true);
            const std::string strictMiss = Mismatch(strict, rc, type, enciphered, size, buffer, room.has_value());
            const std::string lenientMiss = Mismatch(lenient, rc, type, enciphered, size, buffer, room.has_value());
            ASSERT_TRUE(strictMiss.empty() || lenientMiss.empty()) << strictMiss << "; read leniently: " << lenientMiss;
            const Outcome& want = strictMiss.empty() ? strict : lenient;
            counts[static_cast<int>(want.result)]++;
        }
    }
    std::printf("seed %u: %d read, %d too small for the text, %d too small for the datum, %d invalid, %d unreadable\n",
                kSeed, counts[0], counts[1], counts[2], counts[3], counts[4]);
    for (const int count : counts) EXPECT_GT(count, 0);
}

}  // namespace
