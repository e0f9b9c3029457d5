// The ini value store over files written the way the suite writes them: a header struct "_N" and the datum N.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/basalt/IniReader.h"
#include "tests/support/TempFolder.h"
#include "welkin/QzIniValueStore.h"
#include "welkin/WelkinFiles.h"

namespace {

using Basalt::IniRecordHeader;

constexpr char kSection[] = "oeminfo";

class IniValueStoreTest : public ::testing::Test {
protected:
    IniValueStoreTest() {
        store_.section = WideToMultiByteAlloc(L"oeminfo", CP_UTF8);
        store_.iniPath = WideToMultiByteAlloc(path_.c_str(), CP_ACP);
    }

    void WriteStruct(const std::string& key, const void* data, UINT size) {
        ASSERT_TRUE(WritePrivateProfileStructA(kSection, key.c_str(), const_cast<void*>(data), size, Path()));
    }
    void WriteText(const std::string& key, const std::string& text) {
        ASSERT_TRUE(WritePrivateProfileStringA(kSection, key.c_str(), text.c_str(), Path()));
    }
    // An enciphered value as the suite stores it; `alter` flips a bit of the stored datum after the digest.
    void WriteEnciphered(const std::string& name, const void* payload, DWORD length, DWORD type, bool alter = false) {
        std::vector<BYTE> datum(length);
        IniRecordHeader header = {};
        ASSERT_EQ(0u, Basalt::CObfuscatedIniReader::EncodeRecord(static_cast<const BYTE*>(payload), length, type,
                                                                 datum.data(), length, header));
        if (alter) datum[0] ^= 0x01;
        WriteStruct("_" + name, &header, sizeof header);
        WriteStruct(name, datum.data(), length);
    }
    void WritePlainHeader(const std::string& name, DWORD type, DWORD length) {
        IniRecordHeader header = {};
        std::memcpy(header.magic, "QZRG", 4);
        header.version = 1;
        header.length = length;
        header.type = type;
        WriteStruct("_" + name, &header, sizeof header);
    }
    const char* Path() const { return store_.iniPath.get(); }

    struct Read {
        DWORD rc;
        DWORD type;
        DWORD enciphered;
        DWORD size;
        std::vector<BYTE> data;
        std::wstring Text() const { return reinterpret_cast<const wchar_t*>(data.data()); }
    };
    Read Query(const wchar_t* name, DWORD size) {
        Read r = {0, 0xFFFF, 0xFFFF, size, std::vector<BYTE>(size + 2, 0xCC)};
        r.rc = store_.QueryValue(name, &r.type, r.data.data(), &r.size, &r.enciphered);
        return r;
    }

    testsupport::TempFolder folder_;
    std::wstring path_ = folder_.File(L"ZELT.ini");
    CQzIniValueStore store_;
};

TEST_F(IniValueStoreTest, ValueWithoutHeaderIsPlainUtf8Text) {
    WriteText("buildKey", "Gr\xc3\xbc\xc3\x9f" "e-7");
    const Read r = Query(L"buildKey", 520);
    ASSERT_EQ(0u, r.rc);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), r.type);
    EXPECT_EQ(0u, r.enciphered);
    EXPECT_EQ(L"Gr\u00fc\u00dfe-7", r.Text());
    EXPECT_EQ(16u, r.size);

    DWORD type = 0, size = 0, enciphered = 7;
    EXPECT_EQ(0u, store_.QueryValue(L"buildKey", &type, nullptr, &size, &enciphered));
    EXPECT_EQ(2u * 5120u, size);
}

TEST_F(IniValueStoreTest, EncipheredValuesAreDecipheredInMemory) {
    const std::string text = "KEY-\xc3\xa9-42";
    WriteEnciphered("buildKey", text.c_str(), static_cast<DWORD>(text.size() + 1), REG_SZ);
    const DWORD number = 0xA1B2C3D4;
    WriteEnciphered("count", &number, sizeof number, REG_DWORD);

    DWORD type = 0, size = 0, enciphered = 0;
    ASSERT_EQ(0u, store_.QueryValue(L"buildKey", &type, nullptr, &size, &enciphered));
    EXPECT_EQ(1u, enciphered);
    EXPECT_EQ(2u * static_cast<DWORD>(text.size() + 1), size);

    const Read r = Query(L"buildKey", 520);
    ASSERT_EQ(0u, r.rc);
    EXPECT_EQ(L"KEY-\u00e9-42", r.Text());
    EXPECT_EQ(2u * 9u, r.size);

    const Read n = Query(L"count", 4);
    ASSERT_EQ(0u, n.rc);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), n.type);
    EXPECT_EQ(4u, n.size);
    DWORD read = 0;
    std::memcpy(&read, n.data.data(), 4);
    EXPECT_EQ(number, read);
    // The file keeps the enciphered form only.
    EXPECT_EQ(std::string::npos, testsupport::TempFolder::ReadAll(path_).find("KEY-"));
}

TEST_F(IniValueStoreTest, AlteredEncipheredDatumIsRefused) {
    const std::string text = "secret-build";
    WriteEnciphered("buildKey", text.c_str(), static_cast<DWORD>(text.size() + 1), REG_SZ, true);
    const DWORD number = 5;
    WriteEnciphered("count", &number, sizeof number, REG_DWORD, true);
    for (const wchar_t* name : {L"buildKey", L"count"}) {
        const Read r = Query(name, 520);
        EXPECT_EQ(13u, r.rc) << name;
        EXPECT_EQ(std::vector<BYTE>(r.data.size(), 0xCC), r.data) << name;
    }
}

// The ini call fails without a last error when a struct's own checksum is wrong or the datum is missing.
TEST_F(IniValueStoreTest, UnreadableDatumIsNeverASuccess) {
    const DWORD number = 5;
    WriteEnciphered("count", &number, sizeof number, REG_DWORD);
    WriteText("count", "0500000000");  // the right length, a wrong checksum
    WritePlainHeader("blob", REG_BINARY, 4);
    for (const wchar_t* name : {L"count", L"blob"}) {
        const Read r = Query(name, 16);
        EXPECT_NE(0u, r.rc) << name;
    }
    EXPECT_EQ(13u, Query(L"count", 16).rc);

    // A plain datum whose checksum is wrong leaves the caller's buffer as it was.
    WritePlainHeader("raw", REG_BINARY, 4);
    WriteText("raw", "0102030400");
    const Read raw = Query(L"raw", 16);
    EXPECT_EQ(13u, raw.rc);
    EXPECT_EQ(std::vector<BYTE>(raw.data.size(), 0xCC), raw.data);
}

TEST_F(IniValueStoreTest, PlainTypedValuesFollowTheirHeader) {
    WritePlainHeader("lcid", REG_DWORD, 4);
    WriteText("lcid", "42");
    const Read n = Query(L"lcid", 4);
    ASSERT_EQ(0u, n.rc);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), n.type);
    DWORD value = 0;
    std::memcpy(&value, n.data.data(), 4);
    EXPECT_EQ(42u, value);

    const BYTE bytes[] = {1, 2, 3, 4, 5};
    WritePlainHeader("blob", REG_BINARY, sizeof bytes);
    WriteStruct("blob", bytes, sizeof bytes);
    const Read b = Query(L"blob", 5);
    ASSERT_EQ(0u, b.rc);
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 5), std::vector<BYTE>(b.data.begin(), b.data.begin() + 5));
    EXPECT_EQ(8u, Query(L"blob", 4).rc);
}

TEST_F(IniValueStoreTest, ArgumentsStatusAndNames) {
    DWORD size = 8;
    EXPECT_EQ(1u, store_.QueryValue(L"x", nullptr, nullptr, nullptr, nullptr));
    // A name the ANSI code page cannot carry.
    EXPECT_EQ(1396u, store_.QueryValue(L"\u540d", nullptr, nullptr, &size, nullptr));
    store_.status = 1627;
    EXPECT_EQ(1627u, store_.QueryValue(L"x", nullptr, nullptr, &size, nullptr));
}

TEST(IniValueStoreDecodeTest, ChecksBeforeItDeciphers) {
    const BYTE payload[] = {9, 8, 7, 6};
    BYTE datum[4];
    IniRecordHeader header = {};
    ASSERT_EQ(0u, Basalt::CObfuscatedIniReader::EncodeRecord(payload, 4, REG_BINARY, datum, 4, header));

    const IniRecordHeader original = header;
    BYTE out[4] = {};
    DWORD type = 0, size = 3;
    EXPECT_EQ(234u, CQzIniValueStore::DecodeValue(datum, 4, &type, out, header, &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);

    header = original;
    EXPECT_EQ(13u, CQzIniValueStore::DecodeValue(datum, 0, &type, out, header, &size));
    std::memcpy(header.magic, "QZRX", 4);
    EXPECT_EQ(13u, CQzIniValueStore::DecodeValue(datum, 4, &type, out, header, &size));

    header = original;
    size = 4;
    ASSERT_EQ(0u, CQzIniValueStore::DecodeValue(datum, 4, &type, out, header, &size));
    EXPECT_EQ(0, std::memcmp(payload, out, 4));
}

}  // namespace
