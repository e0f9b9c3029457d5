#include "foundation/basalt/RegValueCodec.h"

#include "foundation/basalt/RecordValue.h"
#include "foundation/basalt/RegistryRecord.h"
#include "tests/foundation/basalt/GoldenRecords.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using testsupport::RegView;
using testsupport::ScratchRegistry;
using Bytes = std::vector<BYTE>;

const wchar_t* const kPath = L"Software\\WelkinTests\\Codec";
const char* const kAnsiPath = "Software\\WelkinTests\\Codec";

Bytes AsBytes(const std::wstring& text) {
    const auto* begin = reinterpret_cast<const BYTE*>(text.data());
    return Bytes(begin, begin + text.size() * sizeof(wchar_t));
}

class RegValueCodec : public ::testing::Test {
protected:
    void SetUp() override {
        registry_.Create(HKEY_LOCAL_MACHINE, kPath);
        registry_.Create(HKEY_LOCAL_MACHINE, kPath, RegView::Wow32);
    }

    // Writes through the codec with the convert switch set, as the registry writer does.
    static DWORD Write(const char* name, DWORD type, const void* data, DWORD size, DWORD flags = kQzRegRecord) {
        Basalt::RegKeyHolder holder;
        EXPECT_EQ(0, holder.Create(HKEY_LOCAL_MACHINE, kAnsiPath, QzRegViewAccess(flags, KEY_ALL_ACCESS), nullptr));
        return WriteScrambledRegValue(holder, name, type, static_cast<const BYTE*>(data), size, flags, true);
    }
    static DWORD WriteText(const char* name, const std::wstring& text, DWORD type, DWORD flags = kQzRegRecord) {
        return Write(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), flags);
    }

    static Bytes Raw(const wchar_t* name, DWORD& type, RegView view = RegView::Default) {
        Bytes data;
        EXPECT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kPath, name, type, data, view));
        return data;
    }

    struct Read {
        DWORD rc;
        DWORD type;
        DWORD size;
        Bytes data;
    };
    // QzRegReadValueExW into a buffer of `room` bytes (none when room is 0).
    static Read ReadValue(const wchar_t* name, DWORD room, DWORD flags = kQzRegRecord, HKEY root = HKEY_LOCAL_MACHINE,
                          const wchar_t* path = kPath) {
        Read read{0, REG_NONE, room, Bytes(room, 0xCC)};
        read.rc = QzRegReadValueExW(root, path, name, &read.type, room ? read.data.data() : nullptr, &read.size,
                                    flags);
        return read;
    }

    ScratchRegistry registry_;
};

TEST_F(RegValueCodec, RecordsAreStoredAsTheKnownBytes) {
    const DWORD number = 0x12345678;
    ASSERT_EQ(0u, Write("Number", REG_DWORD, &number, sizeof number));
    ASSERT_EQ(0u, WriteText("Text", L"Welkin", REG_SZ));
    ASSERT_EQ(0u, Write("List", REG_MULTI_SZ, L"ab\0cd\0", 14));
    struct Case {
        const wchar_t* name;
        const Bytes& record;
    };
    for (const Case& c : {Case{L"Number", golden::kDwordRecord}, Case{L"Text", golden::kStringRecord},
                          Case{L"List", golden::kMultiStringRecord}}) {
        DWORD type = 0;
        EXPECT_EQ(c.record, Raw(c.name, type));
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    }
}

TEST_F(RegValueCodec, RecordKeepsTheCallersType) {
    const ULONGLONG big = 0x1122334455667788ull;
    ASSERT_EQ(0u, Write("Big", REG_QWORD, &big, sizeof big));
    DWORD rawType = 0;
    const Bytes raw = Raw(L"Big", rawType);
    ASSERT_EQ(40u, raw.size());
    EXPECT_EQ(static_cast<BYTE>(REG_QWORD), raw[12]);

    const Read read = ReadValue(L"Big", 8);
    EXPECT_EQ(0u, read.rc);
    EXPECT_EQ(static_cast<DWORD>(REG_QWORD), read.type);
    EXPECT_EQ(8u, read.size);
    EXPECT_EQ(0, std::memcmp(read.data.data(), &big, sizeof big));
}

TEST_F(RegValueCodec, ReadsStringRecordsAsUtf16) {
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"Text", golden::kStringRecord);
    const Read fits = ReadValue(L"Text", 14);
    EXPECT_EQ(0u, fits.rc);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), fits.type);
    EXPECT_EQ(14u, fits.size);
    EXPECT_EQ(AsBytes(std::wstring(L"Welkin", 7)), fits.data);

    const Read sizeOnly = ReadValue(L"Text", 0);
    EXPECT_EQ(0u, sizeOnly.rc);
    EXPECT_EQ(14u, sizeOnly.size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), sizeOnly.type);

    const Read shortBuffer = ReadValue(L"Text", 12);
    EXPECT_EQ(234u, shortBuffer.rc);
    EXPECT_EQ(14u, shortBuffer.size);
}

TEST_F(RegValueCodec, ReadsMultiStringRecords) {
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"List", golden::kMultiStringRecord);
    const std::wstring list(L"ab\0cd\0\0", 7);
    struct Case {
        DWORD room;
        DWORD rc;
        Bytes data;
    };
    const Case cases[] = {
        {14, 0, AsBytes(list)},
        {16, 0, Bytes()},  // checked below: the list, then the untouched rest
        {12, 234, Bytes(12, 0)},  // room for the strings but not for the final NUL
        {10, 234, Bytes(10, 0)},
        {0, 0, Bytes()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room);
        const Read read = ReadValue(L"List", c.room);
        EXPECT_EQ(c.rc, read.rc);
        EXPECT_EQ(14u, read.size);
        EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), read.type);
        if (c.room == 16) {
            EXPECT_EQ(AsBytes(list), Bytes(read.data.begin(), read.data.begin() + 14));
        } else {
            EXPECT_EQ(c.data, read.data);
        }
    }
}

TEST_F(RegValueCodec, EmptyTexts) {
    ASSERT_EQ(0u, WriteText("Empty", L"", REG_SZ));
    ASSERT_EQ(0u, Write("EmptyList", REG_MULTI_SZ, L"\0", 2));
    for (const wchar_t* name : {L"Empty", L"EmptyList"}) {
        SCOPED_TRACE(name);
        DWORD type = 0;
        EXPECT_EQ(33u, Raw(name, type).size());  // one payload byte: the NUL
        const Read read = ReadValue(name, 8);
        EXPECT_EQ(0u, read.rc);
        EXPECT_EQ(2u, read.size);
        EXPECT_EQ(0, read.data[0] | read.data[1]);
    }
}

TEST_F(RegValueCodec, RecordWriteNeedsData) {
    const DWORD number = 1;
    EXPECT_EQ(87u, Write("Number", REG_DWORD, &number, 0));
    EXPECT_EQ(87u, Write("Number", REG_DWORD, nullptr, 4));
    DWORD type = 0;
    Bytes stored;
    EXPECT_FALSE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kPath, L"Number", type, stored));
}

TEST_F(RegValueCodec, RecordFlagDecidesHowAValueIsRead) {
    registry_.SetDword(HKEY_LOCAL_MACHINE, kPath, L"Plain", 7);
    registry_.SetString(HKEY_LOCAL_MACHINE, kPath, L"PlainText", L"seven");
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"Record", golden::kDwordRecord);

    EXPECT_EQ(13u, ReadValue(L"Plain", 4).rc);
    EXPECT_EQ(13u, ReadValue(L"PlainText", 64).rc);

    const Read raw = ReadValue(L"Record", 64, 0);
    EXPECT_EQ(0u, raw.rc);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), raw.type);
    EXPECT_EQ(36u, raw.size);
    EXPECT_EQ(golden::kDwordRecord, Bytes(raw.data.begin(), raw.data.begin() + 36));

    const Read plain = ReadValue(L"Plain", 4, 0);
    EXPECT_EQ(0u, plain.rc);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), plain.type);
    EXPECT_EQ(7u, *reinterpret_cast<const DWORD*>(plain.data.data()));
}

TEST_F(RegValueCodec, RecordDecodingFailuresComeBack) {
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"Short", {'Q', 'Z', 'R', 'G'});
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"Empty", golden::kEmptyRecord);
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"Version2", golden::kVersion2Record);
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"Number", golden::kDwordRecord);
    EXPECT_EQ(13u, ReadValue(L"Short", 64).rc);
    EXPECT_EQ(6001u, ReadValue(L"Empty", 64).rc);
    EXPECT_EQ(2u, ReadValue(L"Missing", 64).rc);
    EXPECT_EQ(2u, ReadValue(L"Number", 64, kQzRegRecord, HKEY_LOCAL_MACHINE, L"Software\\WelkinTests\\None").rc);

    const Read version2 = ReadValue(L"Version2", 4);
    EXPECT_EQ(0u, version2.rc);
    EXPECT_EQ(0x12345678u, *reinterpret_cast<const DWORD*>(version2.data.data()));

    const Read shortBuffer = ReadValue(L"Number", 3);
    EXPECT_EQ(234u, shortBuffer.rc);
    EXPECT_EQ(4u, shortBuffer.size);
}

TEST_F(RegValueCodec, UnterminatedStringRecordEndsWithItsPayload) {
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"Forged", golden::kUnterminatedStringRecord);
    const Read read = ReadValue(L"Forged", 64);
    EXPECT_EQ(0u, read.rc);
    EXPECT_EQ(8u, read.size);
    EXPECT_EQ(AsBytes(std::wstring(L"abc", 4)), Bytes(read.data.begin(), read.data.begin() + 8));
}

TEST_F(RegValueCodec, LongRecordsRoundTrip) {
    Bytes payload(2000);
    for (std::size_t k = 0; k < payload.size(); ++k) payload[k] = static_cast<BYTE>(k * 7);
    ASSERT_EQ(0u, Write("Long", REG_BINARY, payload.data(), static_cast<DWORD>(payload.size())));
    const Read read = ReadValue(L"Long", 2000);
    EXPECT_EQ(0u, read.rc);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), read.type);
    EXPECT_EQ(payload, read.data);
}

TEST_F(RegValueCodec, ViewFlags) {
    const DWORD number = 0x12345678;
    struct Case {
        DWORD flags;
        RegView lands;
        RegView absent;
    };
    const Case cases[] = {
        {kQzRegView32, RegView::Wow32, RegView::Wow64},
        {kQzRegView32 | kQzRegView64, RegView::Wow32, RegView::Wow64},
        {kQzRegView64, RegView::Wow64, RegView::Wow32},
        {0, RegView::Wow64, RegView::Wow32},  // a 64-bit program's own view
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        ASSERT_EQ(0u, Write("Viewed", REG_DWORD, &number, sizeof number, kQzRegRecord | c.flags));
        DWORD type = 0;
        Bytes data;
        EXPECT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kPath, L"Viewed", type, data, c.lands));
        EXPECT_FALSE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kPath, L"Viewed", type, data, c.absent));
        if (c.lands == RegView::Wow32) {
            EXPECT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\WelkinTests\\Codec",
                                              L"Viewed", type, data, RegView::Wow64));
        }
        const Read read = ReadValue(L"Viewed", 4, kQzRegRecord | c.flags);
        EXPECT_EQ(0u, read.rc);
        EXPECT_EQ(0x12345678u, *reinterpret_cast<const DWORD*>(read.data.data()));
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kPath, c.lands);
        registry_.Create(HKEY_LOCAL_MACHINE, kPath, c.lands);
    }
}

TEST_F(RegValueCodec, DefaultValueAndRootKey) {
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, nullptr, golden::kDwordRecord);
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"Named", golden::kStringRecord);
    for (const wchar_t* name : {static_cast<const wchar_t*>(nullptr), L""}) {
        const Read read = ReadValue(name, 4);
        EXPECT_EQ(0u, read.rc);
        EXPECT_EQ(0x12345678u, *reinterpret_cast<const DWORD*>(read.data.data()));
    }
    HKEY key = nullptr;
    ASSERT_EQ(0, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPath, 0, KEY_READ, &key));
    for (const wchar_t* path : {static_cast<const wchar_t*>(nullptr), L""}) {
        const Read read = ReadValue(L"Named", 14, kQzRegRecord, key, path);
        EXPECT_EQ(0u, read.rc);
        EXPECT_EQ(AsBytes(std::wstring(L"Welkin", 7)), read.data);
    }
    RegCloseKey(key);
}

// Plain string values of each converted type, with their terminators.
const std::wstring kList(L"one\0two\0\0", 9);
struct PlainText {
    const wchar_t* name;
    DWORD type;
    std::wstring text;
};
const PlainText kPlainTexts[] = {
    {L"Text", REG_SZ, std::wstring(L"plain text", 11)},
    {L"Expand", REG_EXPAND_SZ, std::wstring(L"%SystemRoot%\\welkin", 20)},
    {L"List", REG_MULTI_SZ, kList},
};

TEST_F(RegValueCodec, PlainStringsAreConverted) {
    registry_.SetString(HKEY_LOCAL_MACHINE, kPath, L"Text", L"plain text");
    registry_.SetString(HKEY_LOCAL_MACHINE, kPath, L"Expand", L"%SystemRoot%\\welkin", RegView::Default,
                        REG_EXPAND_SZ);
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"List", AsBytes(kList), RegView::Default, REG_MULTI_SZ);
    for (const PlainText& c : kPlainTexts) {
        SCOPED_TRACE(c.name);
        const DWORD need = static_cast<DWORD>(c.text.size() * sizeof(wchar_t));
        const Read fits = ReadValue(c.name, need, 0);
        EXPECT_EQ(0u, fits.rc);
        EXPECT_EQ(c.type, fits.type);
        EXPECT_EQ(need, fits.size);
        EXPECT_EQ(AsBytes(c.text), fits.data);

        const Read sizeOnly = ReadValue(c.name, 0, 0);
        EXPECT_EQ(0u, sizeOnly.rc);
        EXPECT_EQ(need, sizeOnly.size);

        const Read shortBuffer = ReadValue(c.name, need - 2, 0);
        EXPECT_EQ(234u, shortBuffer.rc);
        EXPECT_EQ(need, shortBuffer.size);
    }
}

TEST_F(RegValueCodec, PlainStringsAreWrittenAsText) {
    ASSERT_EQ(0u, WriteText("Text", L"plain text", REG_SZ, 0));
    ASSERT_EQ(0u, WriteText("Expand", L"%SystemRoot%\\welkin", REG_EXPAND_SZ, 0));
    ASSERT_EQ(0u, Write("List", REG_MULTI_SZ, kList.data(), static_cast<DWORD>(kList.size() * 2), 0));
    for (const PlainText& c : kPlainTexts) {
        SCOPED_TRACE(c.name);
        DWORD type = 0;
        EXPECT_EQ(AsBytes(c.text), Raw(c.name, type));
        EXPECT_EQ(c.type, type);
    }
    const DWORD number = 9;
    ASSERT_EQ(0u, Write("Number", REG_DWORD, &number, sizeof number, 0));
    DWORD type = 0;
    EXPECT_EQ(Bytes({9, 0, 0, 0}), Raw(L"Number", type));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
}

TEST_F(RegValueCodec, HolderReadsWithoutConversion) {
    registry_.SetBinary(HKEY_LOCAL_MACHINE, kPath, L"Text", golden::kStringRecord);
    Basalt::RegKeyHolder holder;
    ASSERT_EQ(0, holder.Open(HKEY_LOCAL_MACHINE, kAnsiPath, KEY_READ));
    BYTE data[16] = {};
    DWORD type = 0, size = sizeof data;
    ASSERT_EQ(0u, ReadScrambledRegValue(holder, "Text", &type, data, &size, kQzRegRecord, false));
    EXPECT_EQ(7u, size);
    EXPECT_EQ(std::string("Welkin", 7), std::string(reinterpret_cast<char*>(data), 7));

    // A record read must ask for the size or the type.
    EXPECT_EQ(87u, ReadScrambledRegValue(holder, "Text", nullptr, data, nullptr, kQzRegRecord, true));
    type = 0;
    EXPECT_EQ(0u, ReadScrambledRegValue(holder, "Text", &type, nullptr, nullptr, kQzRegRecord, true));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(RegValueCodec, HolderStatusComesFirst) {
    Basalt::RegKeyHolder never;
    DWORD size = 4;
    const DWORD number = 1;
    EXPECT_EQ(6u, never.Status());
    EXPECT_EQ(6u, ReadScrambledRegValue(never, "x", nullptr, nullptr, &size, kQzRegRecord, true));
    EXPECT_EQ(6u, WriteScrambledRegValue(never, "x", REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4, 0, true));

    Basalt::RegKeyHolder failed;
    EXPECT_EQ(2, failed.Open(HKEY_LOCAL_MACHINE, "Software\\WelkinTests\\None", KEY_READ));
    EXPECT_EQ(2u, ReadScrambledRegValue(failed, "x", nullptr, nullptr, &size, 0, true));
    failed.Close();
    EXPECT_EQ(6u, failed.Status());
}

TEST_F(RegValueCodec, RecordFormChoosesCodePageAndFirstRead) {
    // UTF-8 text, and a first raw read far shorter than the record.
    const Basalt::RecordValueForm utf8 = {CP_UTF8, 16};
    const std::wstring text = L"caf\u00e9 \u4e2d";
    HKEY key = nullptr;
    ASSERT_EQ(0, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPath, 0, KEY_ALL_ACCESS, &key));
    ASSERT_EQ(0u, Basalt::WriteRecordValue(key, "Utf8", REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 2, utf8,
                                           true));
    DWORD type = 0;
    const Bytes raw = Raw(L"Utf8", type);
    ASSERT_EQ(32u + 10u, raw.size());  // "caf" + 2 + " " + 3 + NUL bytes of UTF-8

    std::wstring back(16, L'#');
    DWORD size = static_cast<DWORD>(back.size() * sizeof(wchar_t));
    ASSERT_EQ(0u, Basalt::ReadRecordValue(key, "Utf8", &type, reinterpret_cast<BYTE*>(back.data()), &size, utf8, true));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ((text.size() + 1) * sizeof(wchar_t), size);
    EXPECT_EQ(text, std::wstring(back.c_str()));
    RegCloseKey(key);
}

}  // namespace
