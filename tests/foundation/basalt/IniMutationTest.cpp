// Mutated ini records (a fixed seed) through the scrambled ini reader and straight into the record decoder:
// header and payload bytes flipped, cut and extended, header fields that lie under an intact digest, payloads
// re-digested, damaged hex text and misplaced, doubled or missing lines. A second reader written here from the
// record rules says for each input what must be answered; the reader must agree with it on every input.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "foundation/basalt/IniReader.h"
#include "foundation/basalt/Md5.h"
#include "tests/support/IniRecordBytes.h"
#include "tests/support/GuardedBytes.h"
#include "tests/support/TempFolder.h"

namespace {

using Basalt::CObfuscatedIniReader;
using Basalt::IniRecordHeader;
using Bytes = std::vector<BYTE>;
using testsupport::StructText;

constexpr unsigned kSeed = 20261210;
constexpr int kFiles = 100;
constexpr int kRecordsPerFile = 100;  // one section each
constexpr int kDecoderInputs = 10000;
constexpr std::size_t kGuard = 16;

// ---- records as the writer stores them ----------------------------------------------------------------------------

IniRecordHeader HeaderFor(const Bytes& payload, DWORD type) {
    IniRecordHeader header{};
    std::memcpy(header.magic, "QZRG", 4);
    header.version = 1;
    header.length = static_cast<std::uint32_t>(payload.size());
    header.type = type;
    header.enciphered = 1;
    testsupport::RedigestIniRecord(header, payload);
    return header;
}

// ---- the second reader ---------------------------------------------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trimmed(const std::string& text) {
    std::size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Two characters per byte, each pair read as up to two hex digits (none: 0); an early end leaves zeros.
Bytes PairsOf(const std::string& text, std::size_t count) {
    Bytes out(count, 0);
    for (std::size_t i = 0; i < count && 2 * i < text.size(); ++i) {
        const std::string pair = text.substr(2 * i, 2);
        int value = 0;
        for (char c : pair) {
            if (HexValue(c) < 0) break;
            value = value * 16 + HexValue(c);
        }
        out[i] = static_cast<BYTE>(value);
    }
    return out;
}

// Hex text and the mutated characters are ASCII; deciphered text is in the thread's ANSI code page.
std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return {};
    std::wstring wide(text.size(), L'\0');
    const int count = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                          static_cast<int>(wide.size()));
    wide.resize(count > 0 ? count : 0);
    return wide;
}

struct Answer {
    std::wstring text;  // what GetSection lists
    bool record = false;
    DWORD number = 0;  // for number records
};

// The entries a section of these lines must end with.
std::map<std::string, Answer> Expect(const std::vector<std::string>& lines) {
    std::map<std::string, std::string> plain, headers;
    for (const std::string& raw : lines) {
        const std::string line = Trimmed(raw);
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == ';' || equals == std::string::npos) continue;
        const std::string key = Trimmed(line.substr(0, equals)), value = Trimmed(line.substr(equals + 1));
        if (plain.count(key)) continue;  // the first definition wins
        if (!key.empty() && key[0] == '_' && value.size() == 74 && value.rfind("515A5247", 0) == 0)
            headers[key.substr(1)] = value;  // a later header replaces an earlier one
        else
            plain[key] = value;
    }
    std::map<std::string, Answer> answers;
    for (const auto& [key, value] : plain) answers[key] = {Wide(value)};
    for (const auto& [key, headerText] : headers) {
        const auto entry = answers.find(key);
        if (entry == answers.end()) continue;
        const Bytes headerBytes = PairsOf(headerText, sizeof(IniRecordHeader));
        IniRecordHeader header;
        std::memcpy(&header, headerBytes.data(), sizeof header);
        if (std::memcmp(header.magic, "QZRG", 4) != 0 || header.version != 1 || header.enciphered == 0) continue;
        if (header.type != REG_SZ && header.type != REG_DWORD) continue;
        const std::string& text = plain[key];
        const std::size_t length = header.type == REG_DWORD ? 4 : (text.empty() ? 0 : (text.size() - 1) / 2);
        const Bytes payload = PairsOf(text, length);
        BYTE digest[16] = {};
        if (length == 0 || Basalt::Md5Digest(payload.data(), length, digest, 16) != 0 ||
            std::memcmp(digest, header.digest, 16) != 0 || header.length != length)
            continue;
        const Bytes plainBytes = testsupport::IniDecipher(payload);
        if (header.type == REG_DWORD) {
            DWORD number;
            std::memcpy(&number, plainBytes.data(), 4);
            entry->second = {std::to_wstring(static_cast<std::int32_t>(number)), true, number};
        } else {
            const auto* chars = reinterpret_cast<const char*>(plainBytes.data());
            entry->second = {FromAnsi(std::string(chars, strnlen(chars, plainBytes.size()))), true};
        }
    }
    return answers;
}

// ---- mutations -----------------------------------------------------------------------------------------------------

struct Record {
    IniRecordHeader header;
    Bytes payload;
};

class Mutator {
public:
    explicit Mutator(unsigned seed) : random_(seed) {}

    std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(random_() % bound); }
    BYTE AnyByte() { return static_cast<BYTE>(random_()); }

    // A valid record: ASCII text (now and then with a NUL inside) or a number.
    Record Valid() {
        if (Below(3) == 0) {
            static const DWORD kNumbers[] = {0, 1, 7, 4294967295u, 2147483648u, 65536};
            const DWORD number = Below(2) ? kNumbers[Below(6)] : static_cast<DWORD>(random_());
            const Bytes plain(reinterpret_cast<const BYTE*>(&number), reinterpret_cast<const BYTE*>(&number) + 4);
            const Bytes payload = testsupport::IniEncipher(plain);
            return {HeaderFor(payload, REG_DWORD), payload};
        }
        Bytes plain(1 + Below(Below(8) == 0 ? 300 : 40));
        for (BYTE& b : plain) b = static_cast<BYTE>(0x20 + Below(0x5F));
        if (Below(8) == 0) plain[Below(plain.size())] = 0;
        const Bytes payload = testsupport::IniEncipher(plain);
        return {HeaderFor(payload, REG_SZ), payload};
    }

    // Binary damage to the record: what a lying or broken writer could store.
    void MutateRecord(Record& r) {
        BYTE* header = reinterpret_cast<BYTE*>(&r.header);
        switch (Below(6)) {
            case 0:  // header bytes flipped; the digest covers only the payload
                for (std::size_t n = 1 + Below(2); n > 0; --n) header[Below(sizeof r.header)] ^= 1 + Below(255);
                break;
            case 1: {  // a header field that lies
                static const DWORD kLies[] = {0, 1, 2, 3, 4, 7, 11, 0x100, 0x80000000u, 0xFFFFFFFFu};
                const DWORD lie = kLies[Below(10)];
                switch (Below(5)) {
                    case 0: r.header.length = Below(2) ? lie : static_cast<DWORD>(r.payload.size() + Below(5) - 2); break;
                    case 1: r.header.type = lie; break;
                    case 2: r.header.version = lie; break;
                    case 3: r.header.enciphered = lie; break;
                    default: r.header.magic[Below(4)] ^= Below(2) ? 0x20 : AnyByte(); break;
                }
                break;
            }
            case 2:  // payload bytes flipped, re-digested or not
                if (!r.payload.empty()) r.payload[Below(r.payload.size())] ^= 1 + Below(255);
                if (Below(2)) testsupport::RedigestIniRecord(r.header, r.payload);
                break;
            case 3:  // payload cut
                r.payload.resize(Below(r.payload.size()));
                Reseal(r);
                break;
            case 4:  // payload extended
                for (std::size_t n = 1 + Below(6); n > 0; --n) r.payload.push_back(AnyByte());
                Reseal(r);
                break;
            default:  // the payload of another record under this header
                r.payload = Valid().payload;
                Reseal(r);
                break;
        }
    }

    // Damage to the stored hex text itself.
    void MutateText(std::string& text) {
        static const std::string kChars = "0123456789ABCDEFabcdefGgxX -+\t=;[]";
        switch (Below(6)) {
            case 0:
                if (text.empty()) break;
                for (std::size_t n = 1 + Below(3); n > 0; --n) text[Below(text.size())] = kChars[Below(kChars.size())];
                break;
            case 1: text.resize(Below(text.size() + 1)); break;
            case 2:
                for (std::size_t n = 1 + Below(6); n > 0; --n) text.push_back("0123456789ABCDEF"[Below(16)]);
                break;
            case 3:  // checksum pair dropped
                if (text.size() >= 2) text.resize(text.size() - 2);
                break;
            case 4:
                for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
                break;
            default: text.insert(Below(text.size() + 1), std::string(1 + Below(2), Below(2) ? ' ' : '\t')); break;
        }
    }

    // The lines of one section: the record's header and payload entries, perhaps damaged, doubled or misplaced.
    std::vector<std::string> Lines() {
        Record r = Valid();
        const int kind = static_cast<int>(Below(10));
        if (kind < 4) MutateRecord(r);
        if (kind == 4 || Below(6) == 0) MutateRecord(r);
        std::string headerText = StructText(&r.header, sizeof r.header);
        std::string payloadText = StructText(r.payload.data(), r.payload.size());
        if (kind == 5) MutateText(headerText);
        if (kind == 6) MutateText(payloadText);
        std::string headerKey = "_K", payloadKey = "K";
        std::vector<std::string> lines = {headerKey + "=" + headerText, payloadKey + "=" + payloadText};
        if (kind >= 7) MutateLines(lines, r);
        return lines;
    }

private:
    void Reseal(Record& r) {
        if (Below(2)) r.header.length = static_cast<std::uint32_t>(r.payload.size());
        if (Below(2)) testsupport::RedigestIniRecord(r.header, r.payload);
    }

    void MutateLines(std::vector<std::string>& lines, const Record& r) {
        static const char* const kKeys[] = {"_k", "k", "__K", "K ", " _K", "_ K", "KK", "_KK"};
        const Record other = Valid();
        const std::string otherHeader = "_K=" + StructText(&other.header, sizeof other.header);
        const std::string otherPayload = "K=" + StructText(other.payload.data(), other.payload.size());
        switch (Below(7)) {
            case 0: lines.erase(lines.begin() + Below(2)); break;
            case 1: std::swap(lines[0], lines[1]); break;
            case 2: lines.insert(lines.begin() + Below(3), Below(2) ? otherHeader : otherPayload); break;
            case 3: {  // an entry's key changed
                std::string& line = lines[Below(2)];
                line = kKeys[Below(8)] + line.substr(line.find('='));
                break;
            }
            case 4:  // white space around key and value, a comment, a line without '='
                lines[Below(2)].insert(0, std::string(Below(3), ' '));
                lines.insert(lines.begin() + Below(3), Below(2) ? ";" + otherHeader : std::string("K"));
                break;
            case 5:  // the header stored as a plain entry first
                lines.insert(lines.begin(), "_K=" + StructText(&r.header, 35));
                break;
            default:  // a section of its own whose header comes twice
                lines.push_back(otherHeader);
                break;
        }
    }

    std::mt19937 random_;
};

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + " | ";
    return text;
}

// ---- the suite -----------------------------------------------------------------------------------------------------

TEST(IniMutation, ReaderAnswersExactlyTheRecordsThatPassTheirChecks) {
    testsupport::TempFolder folder;
    Mutator mutator(kSeed);
    int answered = 0, refused = 0;
    for (int file = 0; file < kFiles; ++file) {
        std::vector<std::vector<std::string>> sections;
        std::string text;
        for (int n = 0; n < kRecordsPerFile; ++n) {
            sections.push_back(mutator.Lines());
            text += "[S" + std::to_string(n) + "]\r\n";
            for (const std::string& line : sections.back()) text += line + "\r\n";
        }
        CObfuscatedIniReader reader;
        ASSERT_TRUE(reader.Load(folder.Write(L"mutated" + std::to_wstring(file) + L".ini", text)));
        for (int n = 0; n < kRecordsPerFile; ++n) {
            SCOPED_TRACE(testing::Message() << "seed " << kSeed << ", file " << file << ", section S" << n << ": "
                                            << Joined(sections[n]));
            const std::wstring section = L"S" + std::to_wstring(n);
            const std::map<std::string, Answer> expected = Expect(sections[n]);
            std::map<std::wstring, std::wstring> listed, wanted;
            for (const auto& [key, answer] : expected) wanted[Wide(key)] = answer.text;
            ASSERT_EQ(!expected.empty(), reader.GetSection(section, listed));
            ASSERT_EQ(wanted, listed);
            for (const auto& [key, answer] : expected) {
                std::wstring value = L"untouched";
                ASSERT_EQ(answer.record, reader.GetString(section, Wide(key), value)) << key;
                ASSERT_EQ(answer.record ? answer.text : L"untouched", value) << key;
                DWORD number = 0xABCD;
                ASSERT_EQ(answer.record, reader.GetDWORD(section, Wide(key), number)) << key;
                if (answer.record && answer.text == std::to_wstring(static_cast<std::int32_t>(answer.number))) {
                    ASSERT_EQ(answer.number, number) << key;
                }
                (answer.record ? answered : refused)++;
            }
        }
    }
    // A harness whose inputs all pass (or all fail) proves little.
    EXPECT_GT(answered, kFiles * kRecordsPerFile / 10);
    EXPECT_GT(refused, kFiles * kRecordsPerFile / 10);
    std::printf("seed %u: %d records answered, %d entries refused\n", kSeed, answered, refused);
}

TEST(IniMutation, DecoderRefusesWithItsCodesAndStaysInsideItsBuffers) {
    Mutator mutator(kSeed + 1);
    int decoded = 0;
    for (int n = 0; n < kDecoderInputs; ++n) {
        Record r = mutator.Valid();
        mutator.MutateRecord(r);
        if (mutator.Below(4) == 0) mutator.MutateRecord(r);
        SCOPED_TRACE(testing::Message() << "seed " << kSeed + 1 << ", input " << n << ": header "
                                        << StructText(&r.header, sizeof r.header) << ", payload "
                                        << StructText(r.payload.data(), r.payload.size()));
        BYTE digest[16] = {};
        const bool valid = !r.payload.empty() &&
                           Basalt::Md5Digest(r.payload.data(), r.payload.size(), digest, 16) == 0 &&
                           std::memcmp(digest, r.header.digest, 16) == 0 && r.header.length == r.payload.size() &&
                           std::memcmp(r.header.magic, "QZRG", 4) == 0;
        const testsupport::GuardedBytes payload(r.payload);  // reading past the payload crashes
        const std::size_t room = mutator.Below(r.payload.size() + 8);
        const bool withOutput = mutator.Below(6) != 0;
        Bytes out(room + kGuard, 0xEE);
        IniRecordHeader header = r.header;
        const DWORD rc = CObfuscatedIniReader::DecodeRecord(payload.data(), static_cast<DWORD>(payload.size()),
                                                            withOutput ? out.data() : nullptr,
                                                            static_cast<DWORD>(room), header);
        const DWORD want = !valid ? ERROR_INVALID_DATA
                           : !withOutput ? 0
                           : r.header.length > room ? ERROR_MORE_DATA
                                                    : 0;
        ASSERT_EQ(want, rc);
        ASSERT_EQ(Bytes(16, 0), Bytes(header.digest, header.digest + 16));
        if (rc == 0 && withOutput) {
            ASSERT_EQ(testsupport::IniDecipher(r.payload), Bytes(out.begin(), out.begin() + r.payload.size()));
            ASSERT_EQ(Bytes(room - r.payload.size(), 0xEE), Bytes(out.begin() + r.payload.size(), out.begin() + room));
            ++decoded;
        } else {
            ASSERT_EQ(Bytes(room, 0xEE), Bytes(out.begin(), out.begin() + room));
        }
        ASSERT_EQ(Bytes(kGuard, 0xEE), Bytes(out.end() - kGuard, out.end()));
    }
    EXPECT_GT(decoded, 0);
}

}  // namespace
