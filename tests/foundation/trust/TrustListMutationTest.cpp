// Mutated trust-list files (a fixed seed): bytes flipped, cut and appended, lines doubled, dropped and swapped,
// section tags renamed, values of the wrong kind. A second reader written here from the file rules says for each
// text whether it is a list and with which values; the list's reader must agree with it on every text, and every
// 25th text also goes through a whole load from a file (the suite's own signature judged by a fixed verdict: it is
// not under test here).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "foundation/trust/TrustList.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr unsigned kSeed = 20261210;
constexpr int kTexts = 10000;
constexpr int kThroughFile = 25;

// ---- the second reader ---------------------------------------------------------------------------------------------

struct Expected {
    bool loaded = false;
    DWORD version = 0;
    std::optional<std::vector<std::wstring>> names, serials;  // absent when the section is
    std::vector<Thumbprint> thumbprints;
    bool operator==(const Expected&) const = default;
};

void PrintTo(const Expected& e, std::ostream* out) {
    *out << (e.loaded ? "loaded" : "not loaded") << ", version " << e.version << ", names "
         << testing::PrintToString(e.names) << ", serials " << testing::PrintToString(e.serials) << ", thumbprints "
         << testing::PrintToString(e.thumbprints);
}

std::wstring TrimBlanks(const std::wstring& text) {
    std::size_t first = 0, last = text.size();
    while (first < last && (text[first] == L' ' || text[first] == L'\t')) ++first;
    while (last > first && (text[last - 1] == L' ' || text[last - 1] == L'\t')) --last;
    return text.substr(first, last - first);
}

bool Begins(const std::wstring& text, const wchar_t* prefix) { return text.compare(0, wcslen(prefix), prefix) == 0; }

// The reader's own choice for a version that is not a plain decimal u32: the file does not load. Up to ten digits.
std::optional<DWORD> Version(const std::wstring& text) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of(L"0123456789") != std::wstring::npos) return {};
    const unsigned long long value = std::stoull(text);
    if (value > 0xFFFFFFFFull) return {};
    return static_cast<DWORD>(value);
}

// Two digits per byte; an odd count or none matches nothing; a digit that is not hexadecimal fails the file.
std::optional<Thumbprint> Digits(const std::wstring& text) {
    if (text.empty() || text.size() % 2) return Thumbprint{};
    if (text.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) return {};
    Thumbprint bytes;
    for (std::size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoul(std::wstring(text, i, 2), nullptr, 16)));
    return bytes;
}

Expected Judge(const std::string& bytes) {
    // Lines end at '\n'; the carriage return before a line end (or the end of the file) is dropped; each byte is one
    // character.
    std::map<std::wstring, std::vector<std::wstring>> sections;
    std::optional<std::wstring> current;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(bytes.find('\n', start), bytes.size());
        std::wstring line;
        for (std::size_t k = start; k < end; ++k) line.push_back(static_cast<unsigned char>(bytes[k]));
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        line = TrimBlanks(line);
        const bool comment = Begins(line, L"//") || Begins(line, L"/*") || Begins(line, L"*/");
        if (line.empty() || comment) {
        } else if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            current = TrimBlanks(line.substr(1, line.size() - 2));
            if (current->empty()) return {};
        } else if (current) {
            sections[*current].push_back(line);
        }
        if (end == bytes.size()) break;
        start = end + 1;
    }
    Expected e;
    const auto ver = sections.find(L"VER");
    if (ver == sections.end() || ver->second.size() != 1 || !Version(ver->second[0])) return {};
    e.version = *Version(ver->second[0]);
    // Names and serials are handed out as C strings: a NUL ends them.
    auto cut = [](std::vector<std::wstring> values) {
        for (std::wstring& value : values) value.resize(wcslen(value.c_str()));
        return values;
    };
    if (sections.count(L"ORG")) e.names = cut(sections[L"ORG"]);
    if (sections.count(L"SER")) e.serials = cut(sections[L"SER"]);
    if (sections.count(L"SHA"))
        for (const std::wstring& text : sections[L"SHA"]) {
            const auto digits = Digits(text);
            if (!digits) return {};
            e.thumbprints.push_back(*digits);
        }
    e.loaded = true;
    return e;
}

std::optional<std::vector<std::wstring>> Strings(const wchar_t* const* list) {
    if (!list) return {};
    std::vector<std::wstring> out;
    for (; *list; ++list) out.push_back(*list);
    return out;
}

Expected Read(const TrustList& list) {
    return list.WithValues([](const TrustListValues& v) {
        Expected e;
        e.loaded = v.loaded;
        e.version = v.version;
        e.names = Strings(v.names);
        e.serials = Strings(v.serials);
        for (std::size_t i = 0; i < v.thumbprintCount; ++i) e.thumbprints.push_back(v.thumbprints[i]);
        return e;
    });
}

// The parsed text as the list hands it out.
Expected Read(bool parsed, const TrustListText& text) {
    if (!parsed) return {};
    Expected e;
    e.loaded = true;
    e.version = text.version;
    const std::pair<const wchar_t*, std::optional<std::vector<std::wstring>>*> lists[] = {{L"ORG", &e.names},
                                                                                          {L"SER", &e.serials}};
    for (const auto& [section, values] : lists) {
        const auto found = text.sections.find(section);
        if (found == text.sections.end()) continue;
        std::vector<const wchar_t*> array;
        for (const std::wstring& value : found->second) array.push_back(value.c_str());
        array.push_back(nullptr);
        *values = Strings(array.data());
    }
    e.thumbprints = text.thumbprints;
    return e;
}

std::string Printable(const std::string& bytes) {
    std::string out;
    char escape[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        }
    }
    return out;
}

// ---- mutations -----------------------------------------------------------------------------------------------------

class Mutator {
public:
    explicit Mutator(unsigned seed) : random_(seed) {}

    std::string Next() {
        std::string text = kBases[Below(std::size(kBases))];
        if (Below(3) == 0) text = Crlf(text);
        const int rounds = Below(4) == 0 ? 2 : 1;
        for (int i = 0; i < rounds; ++i) Mutate(text);
        return text;
    }

private:
    static inline const std::string kBases[] = {
        "/* Trusted signers */\n[VER]\n8\n[ORG]\nOrvan Corporation\nTorvex, Inc.\n[SHA]\n"
        "3B1EFD3A66EA28B16697394703A72CA340A05BD5\n8f43288ad272f3103b6fb1428485ea3014c0bcfe\n[SER]\n0A1B2C3D\n"
        "// SIG // Begin signature block\n// SIG // MIIa1QYJKoZIhvcNAQcCoIIa\n// SIG // End signature block\n",
        "[ VER ]\n12\n",
        "\t[ORG] \n  Torvex, LLC  \n[VER]\n4294967295\n[ORG]\nTorvex, LLC.\n[XYZ]\nignored\n",
        "stray value\n[SER]\n00\n[VER]\n9\n[SHA]\n00FF\n",
    };
    static inline const char* const kTags[] = {"[VER]", "[ver]", "[VER ]", "[ORG]", "[SHA]", "[SER]", "[]",
                                               "[ \t]", "[V ER]", "[[VER]]", "VER]", "[VER"};
    static inline const char* const kValues[] = {"8", "08", "-8", "+8", "8a", "0x8", "4294967296", "00000000001",
                                                 "", " ", "0g", "ABC", "abcd", "G0", "/* 9", "// 9", "*/ 9"};
    static constexpr char kCharList[] = "[]/* \t\r\n\x1a\x00" "0123456789aAfFgG;,.\xe9\xff";
    static inline const std::string kChars{kCharList, sizeof kCharList - 1};  // the NUL included

    std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(random_() % bound); }

    static std::string Crlf(const std::string& text) {
        std::string out;
        for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return out;
    }

    std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start + 1));
        if (start < text.size()) lines.push_back(text.substr(start));
        return lines;
    }

    static std::string Join(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) text += line;
        return text;
    }

    void Mutate(std::string& text) {
        std::vector<std::string> lines = Lines(text);
        switch (Below(9)) {
            case 0:  // bytes flipped
                if (text.empty()) break;
                for (std::size_t n = 1 + Below(3); n > 0; --n)
                    text[Below(text.size())] = Below(2) ? kChars[Below(kChars.size())] : static_cast<char>(random_());
                return;
            case 1: text.resize(Below(text.size() + 1)); return;  // cut short
            case 2:                                                 // bytes appended
                for (std::size_t n = 1 + Below(8); n > 0; --n) text += kChars[Below(kChars.size())];
                return;
            case 3:  // a line doubled
                if (!lines.empty()) lines.insert(lines.begin() + Below(lines.size() + 1), lines[Below(lines.size())]);
                break;
            case 4:  // a line dropped
                if (!lines.empty()) lines.erase(lines.begin() + Below(lines.size()));
                break;
            case 5:  // two lines swapped
                if (!lines.empty()) std::swap(lines[Below(lines.size())], lines[Below(lines.size())]);
                break;
            case 6:  // a section tag where another was, or a new one
                if (Below(2) && !lines.empty())
                    lines[Below(lines.size())] = std::string(kTags[Below(std::size(kTags))]) + "\n";
                else
                    lines.insert(lines.begin() + Below(lines.size() + 1), std::string(kTags[Below(std::size(kTags))]) + "\n");
                break;
            case 7:  // a value of the wrong kind
                if (Below(2) && !lines.empty())
                    lines[Below(lines.size())] = std::string(kValues[Below(std::size(kValues))]) + "\n";
                else
                    lines.insert(lines.begin() + Below(lines.size() + 1), std::string(kValues[Below(std::size(kValues))]) + "\n");
                break;
            default: {  // a long line, or blanks around one
                const std::size_t at = Below(lines.size() + 1);
                if (Below(2))
                    lines.insert(lines.begin() + at, std::string(5000 + Below(5000), "A1 "[Below(3)]) + "\n");
                else if (!lines.empty())
                    lines[Below(lines.size())].insert(0, std::string(1 + Below(3), Below(2) ? ' ' : '\t'));
                break;
            }
        }
        text = Join(lines);
    }

    std::mt19937 random_;
};

// ---- the suite -----------------------------------------------------------------------------------------------------

TEST(TrustListMutation, EveryMutatedTextReadsExactlyAsTheRulesSay) {
    testsupport::TempFolder folder;
    const auto signature = std::make_shared<trusttest::FixedListSignature>(true);
    Mutator mutator(kSeed);
    int loaded = 0;
    for (int n = 0; n < kTexts; ++n) {
        const std::string text = mutator.Next();
        SCOPED_TRACE(testing::Message() << "seed " << kSeed << ", text " << n << ": " << Printable(text));
        const Expected expected = Judge(text);
        TrustListText parsed;
        parsed.version = 99;
        const bool isList = ParseTrustListText(text, parsed);
        ASSERT_EQ(expected, Read(isList, parsed));
        if (n % kThroughFile == 0) {
            TrustList list(folder.Write(L"trusted.js", text), signature);
            ASSERT_EQ(expected.loaded, list.Load());
            ASSERT_EQ(expected, Read(list));
        }
        loaded += expected.loaded;
    }
    EXPECT_GT(loaded, kTexts / 10);
    EXPECT_LT(loaded, kTexts - kTexts / 10);
    std::printf("seed %u: %d of %d texts are lists\n", kSeed, loaded, kTexts);
}

}  // namespace
