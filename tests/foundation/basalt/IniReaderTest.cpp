#include "foundation/basalt/IniReader.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "foundation/basalt/Md5.h"
#include "tests/support/IniRecordBytes.h"
#include "tests/support/GuardedBytes.h"
#include "tests/support/TempFolder.h"

using Basalt::CObfuscatedIniReader;
using Basalt::IniRecordHeader;
using testsupport::TempFolder;

namespace {

using Bytes = std::vector<BYTE>;
using testsupport::StructText;

IniRecordHeader HeaderFor(const Bytes& enciphered, DWORD type, DWORD length) {
    IniRecordHeader header{};
    std::memcpy(header.magic, "QZRG", 4);
    header.version = 1;
    header.length = length;
    header.type = type;
    header.enciphered = 1;
    Basalt::Md5Digest(enciphered.data(), enciphered.size(), header.digest, sizeof header.digest);
    return header;
}

class IniReaderTest : public ::testing::Test {
protected:
    std::wstring WriteIni(const std::string& text) { return temp_.Write(L"test.ini", text); }
    CObfuscatedIniReader& Loaded(const std::string& text) {
        EXPECT_TRUE(reader_.Load(WriteIni(text)));
        return reader_;
    }

    TempFolder temp_;
    CObfuscatedIniReader reader_;
};

TEST_F(IniReaderTest, RecordsAreStoredAsHeaderAndPayloadEntriesWithTheIniKey) {
    const std::wstring path = temp_.File(L"new.ini");
    EXPECT_FALSE(reader_.Load(path));  // missing: the path is kept so the writes create the file
    ASSERT_TRUE(reader_.SetDWORD(L"Config", L"Enable", 1));
    ASSERT_TRUE(reader_.SetString(L"Config", L"Name", L"welkin"));

    const std::string bytes = TempFolder::ReadAll(path);
    // Known answers of the ini-record key, computed independently of this code.
    EXPECT_NE(std::string::npos,
              bytes.find("_Enable=515A5247010000000400000004000000010000001B0264EE4694E7AE60AD11FCD64AA6727E"));
    EXPECT_NE(std::string::npos, bytes.find("\nEnable=54FE7F7748"));
    EXPECT_NE(std::string::npos,
              bytes.find("_Name=515A5247010000000600000001000000010000002BDC2F99B236CD5656F6CCC801569F4643"));
    EXPECT_NE(std::string::npos, bytes.find("\nName=82EF126BCBD992"));

    CObfuscatedIniReader again;
    ASSERT_TRUE(again.Load(path));
    DWORD enable = 0;
    std::wstring name;
    EXPECT_TRUE(again.GetDWORD(L"Config", L"Enable", enable));
    EXPECT_EQ(1u, enable);
    EXPECT_TRUE(again.GetString(L"Config.Name", name));
    EXPECT_EQ(L"welkin", name);
    // Header entries never become visible entries.
    std::map<std::wstring, std::wstring> section;
    EXPECT_TRUE(again.GetSection(L"Config", section));
    EXPECT_EQ(2u, section.size());
    EXPECT_EQ(L"1", section[L"Enable"]);
}

TEST_F(IniReaderTest, WritesAreMirroredInMemoryWithTheSignedText) {
    reader_.Load(temp_.File(L"mirror.ini"));
    ASSERT_TRUE(reader_.SetDWORD(L"Config", L"Big", 4294967295u));
    std::wstring text;
    DWORD value = 0;
    EXPECT_TRUE(reader_.GetString(L"Config.Big", text));
    EXPECT_EQ(L"-1", text);
    EXPECT_TRUE(reader_.GetDWORD(L"Config.Big", value));
    EXPECT_EQ(4294967295u, value);

    // A text record read as a number: white space and sign, digits up to the first other character.
    ASSERT_TRUE(reader_.SetString(L"Config", L"Text", L"  -12abc"));
    EXPECT_TRUE(reader_.GetDWORD(L"Config.Text", value));
    EXPECT_EQ(static_cast<DWORD>(-12), value);
    ASSERT_TRUE(reader_.SetString(L"Config", L"Word", L"none"));
    EXPECT_TRUE(reader_.GetDWORD(L"Config.Word", value));
    EXPECT_EQ(0u, value);

    CObfuscatedIniReader again;
    ASSERT_TRUE(again.Load(temp_.File(L"mirror.ini")));
    EXPECT_TRUE(again.GetDWORD(L"Config.Big", value));
    EXPECT_EQ(4294967295u, value);
}

// The plain writers of the base reader store ordinary text entries, which a record reader lists but never answers.
TEST_F(IniReaderTest, BaseWritersStorePlainText) {
    const std::wstring path = temp_.File(L"plain.ini");
    reader_.Load(path);
    ASSERT_TRUE(reader_.Basalt::CBaseIniReader::SetDWORD(L"Config", L"Number", 4294967295u));
    ASSERT_TRUE(reader_.Basalt::CBaseIniReader::SetString(L"Config", L"Text", L"words"));
    const std::string bytes = TempFolder::ReadAll(path);
    EXPECT_NE(std::string::npos, bytes.find("Number=-1"));
    EXPECT_NE(std::string::npos, bytes.find("Text=words"));
    std::wstring text;
    EXPECT_FALSE(reader_.GetString(L"Config.Text", text));
    std::map<std::wstring, std::wstring> section;
    ASSERT_TRUE(reader_.GetSection(L"Config", section));
    EXPECT_EQ(L"words", section[L"Text"]);
    EXPECT_EQ(L"-1", section[L"Number"]);

    CObfuscatedIniReader unloaded;
    EXPECT_FALSE(unloaded.Basalt::CBaseIniReader::SetString(L"Config", L"Text", L"words"));
}

TEST_F(IniReaderTest, PlainEntriesAreListedButNotAnswered) {
    CObfuscatedIniReader& reader = Loaded("[Config]\r\nEnable=1\r\n");
    DWORD value = 7;
    std::wstring text = L"untouched";
    EXPECT_FALSE(reader.GetDWORD(L"Config", L"Enable", value));
    EXPECT_EQ(7u, value);
    EXPECT_FALSE(reader.GetString(L"Config.Enable", text));
    EXPECT_EQ(L"untouched", text);
    std::map<std::wstring, std::wstring> section;
    EXPECT_TRUE(reader.GetSection(L"Config", section));
    EXPECT_EQ(L"1", section[L"Enable"]);
    EXPECT_FALSE(reader.GetSection(L"Other", section));
}

TEST_F(IniReaderTest, ParsesLinesByTheIniRules) {
    std::string longLine = "Long=" + std::string(1495, 'x');  // 1500 bytes: read as two pieces
    CObfuscatedIniReader& reader = Loaded(
        "top=before any section\r\n"
        "; comment=ignored\r\n"
        "[ Config ]\r\n"
        "Dup=first\r\n"
        "Dup=second\r\n"
        "  Two = a = b  \r\n"
        "no equals sign\r\n"
        "[]\r\n"
        "StillConfig=yes\r\n"
        "[Broken=value\r\n" +
        longLine + "\r\n" +
        "[Dotted.Name]\r\n"
        "Key=v\r\n");
    std::map<std::wstring, std::wstring> config, empty, dotted;
    ASSERT_TRUE(reader.GetSection(L"Config", config));
    EXPECT_EQ(L"first", config[L"Dup"]);
    EXPECT_EQ(L"a = b", config[L"Two"]);
    EXPECT_EQ(L"yes", config[L"StillConfig"]);
    EXPECT_EQ(L"value", config[L"[Broken"]);
    EXPECT_EQ(std::wstring(1018, L'x'), config[L"Long"]);
    EXPECT_EQ(0u, config.count(L"no equals sign"));
    ASSERT_TRUE(reader.GetSection(L"", empty));
    EXPECT_EQ(L"before any section", empty[L"top"]);
    ASSERT_TRUE(reader.GetSection(L"Dotted.Name", dotted));
    EXPECT_EQ(L"v", dotted[L"Key"]);
    EXPECT_EQ(2u, reader.SectionsSeen());
    EXPECT_EQ(7u, reader.EntriesAdded());  // top, Dup, Two, StillConfig, [Broken, Long, Key
}

TEST_F(IniReaderTest, LookupsAreExactAndSplitAtTheFirstDot) {
    reader_.Load(temp_.File(L"lookup.ini"));
    ASSERT_TRUE(reader_.SetDWORD(L"Config", L"MaxSize", 5));
    ASSERT_TRUE(reader_.SetDWORD(L"Dotted.Name", L"Key", 6));
    DWORD value = 0;
    EXPECT_TRUE(reader_.GetDWORD(L"Config", L"MaxSize", value));
    EXPECT_FALSE(reader_.GetDWORD(L"config", L"MaxSize", value));
    EXPECT_FALSE(reader_.GetDWORD(L"Config", L"maxsize", value));
    EXPECT_FALSE(reader_.GetDWORD(L"Dotted.Name", L"Key", value));
    EXPECT_FALSE(reader_.GetDWORD(L"ConfigMaxSize", value));
}

TEST_F(IniReaderTest, RecordsThatFailTheirChecksStayPlainHexText) {
    const Bytes plain = {7, 0, 0, 0};
    const Bytes enciphered = testsupport::IniEncipher(plain);
    const IniRecordHeader good = HeaderFor(enciphered, REG_DWORD, 4);
    IniRecordHeader version2 = good, notEnciphered = good, textType = good;
    version2.version = 2;
    notEnciphered.enciphered = 0;
    textType.type = 7;
    Bytes tampered = enciphered;
    tampered[1] ^= 1;

    std::string lowerHeader = StructText(&good, sizeof good);
    for (char& c : lowerHeader) c = static_cast<char>(tolower(c));

    struct Case {
        const char* what;
        std::string header, payload;
        bool answered;
    } cases[] = {
        {"intact", StructText(&good, sizeof good), StructText(enciphered.data(), 4), true},
        {"version 2", StructText(&version2, sizeof good), StructText(enciphered.data(), 4), false},
        {"flag 0", StructText(&notEnciphered, sizeof good), StructText(enciphered.data(), 4), false},
        {"unknown type", StructText(&textType, sizeof good), StructText(enciphered.data(), 4), false},
        {"payload changed", StructText(&good, sizeof good), StructText(tampered.data(), 4), false},
        {"lower-case header", lowerHeader, StructText(enciphered.data(), 4), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CObfuscatedIniReader& reader = Loaded("[S]\r\n_K=" + c.header + "\r\nK=" + c.payload + "\r\n");
        DWORD value = 0;
        EXPECT_EQ(c.answered, reader.GetDWORD(L"S.K", value));
        std::map<std::wstring, std::wstring> section;
        reader.GetSection(L"S", section);
        if (c.answered) {
            EXPECT_EQ(7u, value);
            EXPECT_EQ(L"7", section[L"K"]);
        } else {
            EXPECT_EQ(std::wstring(c.payload.begin(), c.payload.end()), section[L"K"]);
        }
        // A header that looks like one is held back; an ordinary "_K" stays an entry.
        EXPECT_EQ(c.header == lowerHeader ? 1u : 0u, section.count(L"_K"));
    }
}

// Payload text that ends before the header's length: the missing bytes read as zeros, never as leftovers.
TEST_F(IniReaderTest, ShortPayloadTextReadsAsZeros) {
    const Bytes enciphered = {0x5A, 0xC3, 0, 0};
    const IniRecordHeader header = HeaderFor(enciphered, REG_DWORD, 4);
    const Bytes plain = testsupport::IniDecipher(enciphered);
    DWORD expected = 0;
    std::memcpy(&expected, plain.data(), 4);
    CObfuscatedIniReader& reader =
        Loaded("[S]\r\n_K=" + StructText(&header, sizeof header) + "\r\nK=5AC3\r\n");
    DWORD value = 0;
    EXPECT_TRUE(reader.GetDWORD(L"S.K", value));
    EXPECT_EQ(expected, value);
}

TEST_F(IniReaderTest, LinesAfterAControlZByteAreRead) {
    CObfuscatedIniReader& reader = Loaded("[Config]\r\nA=1\x1A\r\nB=2\r\n");
    std::map<std::wstring, std::wstring> section;
    ASSERT_TRUE(reader.GetSection(L"Config", section));
    EXPECT_EQ(L"2", section[L"B"]);
}

TEST_F(IniReaderTest, LoadStartsFromEmptyMaps) {
    reader_.Load(temp_.File(L"first.ini"));
    ASSERT_TRUE(reader_.SetDWORD(L"Config", L"A", 1));
    EXPECT_TRUE(reader_.Load(WriteIni("[Other]\r\nB=2\r\n")));
    DWORD value = 0;
    EXPECT_FALSE(reader_.GetDWORD(L"Config.A", value));
    std::map<std::wstring, std::wstring> section;
    EXPECT_FALSE(reader_.GetSection(L"Config", section));
}

// Gives this prefix its own copy of win.ini: the prefix shares unchanged files with its template.
void UnshareWinIni() {
    wchar_t windows[MAX_PATH];
    ASSERT_NE(0u, GetWindowsDirectoryW(windows, MAX_PATH));
    const std::wstring winIni = std::wstring(windows) + L"\\win.ini";
    const std::wstring copy = winIni + L".own";
    if (!CopyFileW(winIni.c_str(), copy.c_str(), FALSE)) return;  // no win.ini: nothing shared
    ASSERT_TRUE(DeleteFileW(winIni.c_str()));
    ASSERT_TRUE(MoveFileW(copy.c_str(), winIni.c_str()));
}

// Without a file the profile functions would write to a file in the Windows folder (Wine refuses an empty name
// itself; Windows falls back to win.ini).
TEST_F(IniReaderTest, WritesWithoutAFileAreRefused) {
    UnshareWinIni();
    CObfuscatedIniReader reader;
    EXPECT_FALSE(reader.SetString(L"WtNoFileSection", L"Key", L"value"));
    EXPECT_FALSE(reader.SetDWORD(L"WtNoFileSection", L"Number", 1));
    EXPECT_FALSE(reader.Load(L""));
    EXPECT_FALSE(reader.SetString(L"WtNoFileSection", L"Key", L"value"));
    wchar_t found[64] = {};
    GetProfileStringW(L"WtNoFileSection", L"_Key", L"absent", found, 64);
    EXPECT_STREQ(L"absent", found);
    std::wstring text;
    EXPECT_FALSE(reader.GetString(L"WtNoFileSection.Key", text));
}

TEST_F(IniReaderTest, AFileThatCannotBeOpenedForgetsItsPath) {
    CObfuscatedIniReader reader;
    EXPECT_FALSE(reader.Load(temp_.Path()));  // a folder: not "file not found"
    EXPECT_TRUE(reader.File().empty());
    EXPECT_FALSE(reader.SetDWORD(L"Config", L"A", 1));
}

TEST(IniRecordCoderTest, EncodeAndDecodeCodes) {
    const Bytes payload = {1, 2, 3, 4, 5};
    Bytes out(5);
    IniRecordHeader header{};
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              CObfuscatedIniReader::EncodeRecord(payload.data(), 5, REG_SZ, out.data(), 4, header));
    EXPECT_EQ(6000u, CObfuscatedIniReader::EncodeRecord(payload.data(), 0, REG_SZ, out.data(), 5, header));
    ASSERT_EQ(0u, CObfuscatedIniReader::EncodeRecord(payload.data(), 5, REG_SZ, out.data(), 5, header));
    EXPECT_EQ(testsupport::IniEncipher(payload), out);

    struct Case {
        const char* what;
        Bytes data;
        DWORD length;
        DWORD outSize;
        bool withOutput;
        DWORD code;
    } cases[] = {
        {"good", out, 5, 5, true, 0},
        {"no output", out, 5, 0, false, 0},
        {"output too small", out, 5, 4, true, ERROR_MORE_DATA},
        {"byte changed", {out[0], out[1], static_cast<BYTE>(out[2] ^ 0x80), out[3], out[4]}, 5, 5, true,
         ERROR_INVALID_DATA},
        {"byte appended", {out[0], out[1], out[2], out[3], out[4], 0}, 6, 6, true, ERROR_INVALID_DATA},
        {"empty", {}, 0, 5, true, ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IniRecordHeader copy = header;
        Bytes plain(8, 0xEE);
        const testsupport::GuardedBytes data(c.data);  // reading past the payload crashes
        EXPECT_EQ(c.code, CObfuscatedIniReader::DecodeRecord(data.data(), c.length,
                                                             c.withOutput ? plain.data() : nullptr, c.outSize, copy));
        EXPECT_EQ(Bytes(16, 0), Bytes(copy.digest, copy.digest + 16));
        if (c.code == 0 && c.withOutput) {
            EXPECT_EQ(payload, Bytes(plain.begin(), plain.begin() + 5));
        }
        if (c.code == ERROR_MORE_DATA) {
            EXPECT_EQ(Bytes(8, 0xEE), plain);
        }
    }

    IniRecordHeader badMagic = header;
    badMagic.magic[0] = 'X';
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA),
              CObfuscatedIniReader::DecodeRecord(out.data(), 5, nullptr, 0, badMagic));
}

}  // namespace
