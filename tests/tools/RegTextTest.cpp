// The demo's configuration text: what each kind of line gives, the lines that are refused (with their number and
// nothing applied), the bundled sample, and a mutation suite over it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"
#include "tools/regtool/RegText.h"

namespace {

using Kind = RegTextAction::Kind;

std::string Sample() { return testsupport::TempFolder::ReadAll(testsupport::WindowsPathOf(DEMO_SAMPLE_REG)); }

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// The actions written back as text, one key or ini line before each run of values of one key or ini section.
std::string Serialize(const std::vector<RegTextAction>& actions) {
    std::wstring text;
    const RegTextKey* current = nullptr;
    const RegTextIni* currentIni = nullptr;
    for (const RegTextAction& a : actions) {
        if (a.kind == Kind::SetIniValue) {
            if (!currentIni || currentIni->section != a.ini.section || currentIni->path != a.ini.path)
                text += L"[INI:" + a.ini.section + L":" + a.ini.path + L"]\n";
            currentIni = &a.ini;
            current = nullptr;
        } else {
            currentIni = nullptr;
        }
        const std::wstring key = std::wstring(a.key.wow32 ? L"HKLM32\\" : L"HKLM\\") + a.key.path;
        if (a.kind == Kind::DeleteKey) {
            text += L"[-" + key + L"]\n";
            current = nullptr;
            continue;
        }
        if (a.kind == Kind::SetValue && (!current || current->wow32 != a.key.wow32 || current->path != a.key.path))
            text += L"[" + key + L"]\n";
        if (a.kind == Kind::SetValue) current = &a.key;
        wchar_t number[16];
        swprintf(number, 16, L"%08lx", a.number);
        text += L"\"" + a.name + L"\"=" + (a.record ? L"record:" : L"") +
                (a.type == REG_DWORD ? std::wstring(L"dword:") + number : L"sz:\"" + a.text + L"\"") + L"\n";
    }
    return Utf8(text);
}

bool Same(const RegTextAction& a, const RegTextAction& b) {
    return a.kind == b.kind && a.key.wow32 == b.key.wow32 && a.key.path == b.key.path &&
           a.ini.section == b.ini.section && a.ini.path == b.ini.path && a.name == b.name &&
           a.record == b.record && a.type == b.type && a.number == b.number && a.text == b.text;
}

TEST(RegText, EachKindOfLine) {
    const RegText text = ParseRegText(
        "; comment\r\n"
        "\r\n"
        "[HKLM\\Software\\A]  \r\n"
        "\"plain\"=dword:0000001f\r\n"
        "\"rec\"=record:dword:FFFFFFFF\n"
        "\"text\"=sz:\"C:\\x \"y\" %HOME%\"\n"
        "[HKLM32\\Software\\B]\n"
        "\"t\"=record:sz:\"\"\n"
        "[-HKLM\\Software\\A\\Sub]\n"
        "[INI:Config:%ProgramData%\\x\\log.ini]\n"
        "\"Severity\"=record:dword:00000001\n");
    ASSERT_TRUE(text.Read()) << text.errorLine << ": " << text.error;
    ASSERT_EQ(6u, text.actions.size());
    const auto& a = text.actions;
    EXPECT_EQ(L"Software\\A", a[0].key.path);
    EXPECT_FALSE(a[0].key.wow32);
    EXPECT_EQ(L"plain", a[0].name);
    EXPECT_EQ(0x1Fu, a[0].number);
    EXPECT_FALSE(a[0].record);
    EXPECT_TRUE(a[1].record);
    EXPECT_EQ(0xFFFFFFFFu, a[1].number);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), a[2].type);
    EXPECT_EQ(L"C:\\x \"y\" %HOME%", a[2].text);
    EXPECT_TRUE(a[3].key.wow32);
    EXPECT_TRUE(a[3].record);
    EXPECT_EQ(L"", a[3].text);
    EXPECT_EQ(Kind::DeleteKey, a[4].kind);
    EXPECT_EQ(L"Software\\A\\Sub", a[4].key.path);
    EXPECT_EQ(Kind::SetIniValue, a[5].kind);
    EXPECT_EQ(L"Config", a[5].ini.section);
    EXPECT_EQ(L"%ProgramData%\\x\\log.ini", a[5].ini.path);
    EXPECT_EQ(L"Severity", a[5].name);
    EXPECT_EQ(1u, a[5].number);
}

TEST(RegText, RefusedLinesNameTheirNumberAndNothingIsRead) {
    struct Case {
        const char* text;
        size_t line;
    };
    const Case cases[] = {
        {"\"v\"=dword:1\n", 1},                              // no key yet
        {"[HKLM\\K]\n[-HKLM\\K]\n\"v\"=dword:1\n", 3},      // after a delete line
        {"[HKCU\\K]\n", 1},                                  // unknown root
        {"[HKLM\\]\n", 1},                                   // no path
        {"[HKLM\\K\n", 1},                                   // no closing bracket
        {"[HKLM\\K]\n\"v\"=dword:\n", 2},                    // no digits
        {"[HKLM\\K]\n\"v\"=dword:123456789\n", 2},           // nine digits
        {"[HKLM\\K]\n\"v\"=dword:12x\n", 2},                 // not hexadecimal
        {"[HKLM\\K]\n\"v\"=sz:\"open\n", 2},                 // unterminated text
        {"[HKLM\\K]\n\"\"=dword:1\n", 2},                    // empty name
        {"[HKLM\\K]\n\"v\"dword:1\n", 2},                    // no '='
        {"[HKLM\\K]\n\"v\"=qword:1\n", 2},                   // unknown kind
        {"[HKLM\\K]\n\"v\"=record:\n", 2},
        {"[HKLM\\K]\nv=dword:1\n", 2},                       // unquoted name
        {"[HKLM\\K]\n\"v\"=sz:\"\xff\"\n", 2},               // not UTF-8
        {"[INI:Config:C:\\x.ini]\n\"v\"=dword:1\n", 2},        // an ini value that is no record
        {"[INI::C:\\x.ini]\n", 1},                          // no section: not an ini line, nor a key
        {"[INI:Config:]\n", 1},                             // no file
    };
    for (const Case& c : cases) {
        const RegText text = ParseRegText(c.text);
        EXPECT_FALSE(text.Read()) << c.text;
        EXPECT_EQ(c.line, text.errorLine) << c.text;
        EXPECT_TRUE(text.actions.empty()) << c.text;
    }
    // A NUL inside a text would cut the value short when written.
    const std::string withNul("[HKLM\\K]\n\"v\"=sz:\"a\0b\"\n", 22);
    const RegText nul = ParseRegText(withNul);
    EXPECT_EQ(2u, nul.errorLine);
    EXPECT_TRUE(nul.actions.empty());
}

TEST(RegText, TheBundledSampleReadsWhole) {
    const std::string sample = Sample();
    ASSERT_FALSE(sample.empty());
    const RegText text = ParseRegText(sample);
    ASSERT_TRUE(text.Read()) << text.errorLine << ": " << text.error;
    EXPECT_GT(text.actions.size(), 10u);
    const RegText again = ParseRegText(Serialize(text.actions));
    ASSERT_EQ(text.actions.size(), again.actions.size());
}

// Mutated samples: each is refused at a line that exists, with nothing read, or read into actions that hold their
// invariants and read back the same from their own text.
TEST(RegText, TenThousandMutatedSamples) {
    const std::string sample = Sample();
    ASSERT_FALSE(sample.empty());
    std::mt19937 random(20261210);
    const char inserts[] = {'\0', '\n', '\r', '"', '[', ']', '-', '=', ':', '\\', ';', ' ', 'x', '\xff', '\xc3'};
    size_t refused = 0;
    for (int round = 0; round < 10000; ++round) {
        std::string text = sample;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = random() % text.size();
            switch (random() % 5) {
            case 0: text[at] = static_cast<char>(text[at] ^ (1u << (random() % 8))); break;
            case 1: text.resize(at); break;
            case 2: text.insert(at, 1, inserts[random() % sizeof inserts]); break;
            case 3: text.erase(at, 1 + random() % 16); break;
            default: text.insert(at, text.substr(random() % text.size(), 1 + random() % 40)); break;
            }
        }
        const RegText read = ParseRegText(text);
        if (!read.Read()) {
            ++refused;
            const size_t lines = 1 + std::count(text.begin(), text.end(), '\n');
            ASSERT_GE(read.errorLine, 1u) << round;
            ASSERT_LE(read.errorLine, lines) << round;
            ASSERT_TRUE(read.actions.empty()) << round;
            continue;
        }
        for (const RegTextAction& a : read.actions) {
            if (a.kind == Kind::SetIniValue) {
                ASSERT_FALSE(a.ini.section.empty() || a.ini.path.empty()) << round;
                ASSERT_TRUE(a.record) << round;
            } else {
                ASSERT_FALSE(a.key.path.empty()) << round;
            }
            if (a.kind != Kind::DeleteKey) {
                ASSERT_FALSE(a.name.empty()) << round;
                ASSERT_TRUE(a.type == REG_DWORD || a.type == REG_SZ) << round;
            }
        }
        const RegText again = ParseRegText(Serialize(read.actions));
        ASSERT_TRUE(again.Read()) << round << ": " << again.error;
        ASSERT_EQ(read.actions.size(), again.actions.size()) << round;
        for (size_t i = 0; i < read.actions.size(); ++i) ASSERT_TRUE(Same(read.actions[i], again.actions[i])) << round;
    }
    // Most mutations break a line; some (in comments, in texts) leave a readable configuration.
    EXPECT_GT(refused, 1000u);
    EXPECT_LT(refused, 10000u);
}

}  // namespace
