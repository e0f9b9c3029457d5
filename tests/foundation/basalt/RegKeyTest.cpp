#include "foundation/basalt/RegKey.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "foundation/basalt/ObfuscatedRegKey.h"
#include "foundation/basalt/RegValueCodec.h"
#include "tests/support/ScratchRegistry.h"

namespace Basalt {
namespace {

using testsupport::RegView;
using testsupport::ScratchRegistry;

const std::wstring kRoot = L"Software\\WelkinTests\\BasaltRegKey";

std::vector<BYTE> Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(p, p + size);
}

class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override { scratch.Create(HKEY_LOCAL_MACHINE, kRoot); }
    void TearDown() override { ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kRoot); }
    ScratchRegistry scratch;
};

// The same typed operations give the same answers whether values are plain or stored as records.
template <class Key>
class TypedValues : public RegKeyTest {};
using KeyKinds = ::testing::Types<CRegKey, CObfuscatedRegKey>;
TYPED_TEST_SUITE(TypedValues, KeyKinds);

TYPED_TEST(TypedValues, RoundTripEveryType) {
    TypeParam key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_ALL_ACCESS));
    const GUID guid = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    const BYTE blob[] = {0, 1, 2, 0xFF};
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"dword", 0xA1B2C3D4));
    ASSERT_EQ(ERROR_SUCCESS, key.SetQWORDValue(L"qword", 0x1122334455667788ull));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"text", L"hello"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"expand", L"%TEMP%\\x", REG_EXPAND_SZ));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"empty", L""));
    ASSERT_EQ(ERROR_SUCCESS, key.SetMultiStringValue(L"multi", L"one\0two\0\0"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetBinaryValue(L"blob", blob, sizeof blob));
    ASSERT_EQ(ERROR_SUCCESS, key.SetGUIDValue(L"guid", guid));

    DWORD dword = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"dword", dword));
    EXPECT_EQ(0xA1B2C3D4u, dword);
    ULONGLONG qword = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryQWORDValue(L"qword", qword));
    EXPECT_EQ(0x1122334455667788ull, qword);
    std::wstring text;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"text", text));
    EXPECT_EQ(L"hello", text);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"expand", text));
    EXPECT_EQ(L"%TEMP%\\x", text);
    wchar_t buffer[16] = {L'x'};
    ULONG count = 16;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"empty", buffer, &count));
    EXPECT_EQ(1u, count);  // the terminator
    EXPECT_EQ(L'\0', buffer[0]);
    count = 16;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryMultiStringValue(L"multi", buffer, &count));
    EXPECT_EQ(9u, count);
    EXPECT_EQ(0, std::memcmp(L"one\0two\0\0", buffer, 9 * sizeof(wchar_t)));
    BYTE readBlob[8] = {};
    ULONG blobSize = sizeof readBlob;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryBinaryValue(L"blob", readBlob, &blobSize));
    EXPECT_EQ(Bytes(blob, sizeof blob), Bytes(readBlob, blobSize));
    GUID readGuid{};
    EXPECT_EQ(ERROR_SUCCESS, key.QueryGUIDValue(L"guid", readGuid));
    EXPECT_TRUE(IsEqualGUID(guid, readGuid));

    // Length only, then a buffer one character short.
    count = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"text", nullptr, &count));
    EXPECT_EQ(6u, count);
    count = 5;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryStringValue(L"text", buffer, &count));
}

TYPED_TEST(TypedValues, WrongTypesAreRefused) {
    TypeParam key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"text", L"12"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"dword", 12));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"notguid", L"12345678-9abc-def0-0102-030405060708"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"badguid", L"{not a guid}"));
    DWORD dword = 0;
    ULONGLONG qword = 0;
    std::wstring text;
    wchar_t buffer[8];
    ULONG count = 8;
    BYTE blob[8];
    ULONG blobSize = sizeof blob;
    GUID guid{};
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"text", dword));
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryQWORDValue(L"dword", qword));
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryStringValue(L"dword", text));
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryMultiStringValue(L"text", buffer, &count));
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryBinaryValue(L"dword", blob, &blobSize));
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryGUIDValue(L"notguid", guid));
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryGUIDValue(L"badguid", guid));
    EXPECT_TRUE(IsEqualGUID(GUID{}, guid));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryDWORDValue(L"absent", dword));
}

TYPED_TEST(TypedValues, BadArguments) {
    TypeParam key;
    DWORD dword = 0;
    std::wstring text;
    ULONG count = 4;
    wchar_t one[1];
    FILETIME time;
    wchar_t name[8];
    DWORD nameLength = 8;
    DWORD size = 0;
    // No key held.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.QueryDWORDValue(L"v", dword));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.QueryStringValue(L"v", text));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.Flush());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.DeleteValue(L"v"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.DeleteSubKey(L"v"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.DeleteSubKeyTree(L"v"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.EnumKey(0, name, &nameLength, &time));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.GetKeySecurity(DACL_SECURITY_INFORMATION, name, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.GrantKeyFullAccess(false));
    EXPECT_EQ(ERROR_SUCCESS, key.Close());

    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_ALL_ACCESS));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetValue(L"v", REG_DWORD, nullptr, 4));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetValue(L"v", REG_DWORD, &dword, 0));
    EXPECT_EQ(ERROR_INVALID_DATA, key.SetStringValue(L"v", nullptr));
    EXPECT_EQ(ERROR_INVALID_DATA, key.SetMultiStringValue(L"v", nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.DeleteValue(nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.DeleteSubKey(nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.GetKeySecurity(DACL_SECURITY_INFORMATION, nullptr, &size));
    // A one-character buffer for a multi-string is refused before the registry is asked.
    count = 1;
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, key.QueryMultiStringValue(L"absent", one, &count));
}

// Serves stored values as given, the way a registry that adds no terminator of its own returns them.
class StoredValues : public internal::CRegKeyImpl {
public:
    struct Value {
        DWORD type;
        std::vector<BYTE> bytes;
    };
    std::map<std::wstring, Value> values;

    LONG QueryValue(const wchar_t* name, DWORD* type, void* data, ULONG* size) override {
        const auto found = values.find(name);
        if (found == values.end()) return ERROR_FILE_NOT_FOUND;
        const Value& value = found->second;
        if (type) *type = value.type;
        const ULONG room = size ? *size : 0;
        if (size) *size = static_cast<ULONG>(value.bytes.size());
        if (!data) return ERROR_SUCCESS;
        if (value.bytes.size() > room) return ERROR_MORE_DATA;
        std::memcpy(data, value.bytes.data(), value.bytes.size());
        return ERROR_SUCCESS;
    }
};

TEST_F(RegKeyTest, MalformedStoredStringsAreRefused) {
    auto impl = std::make_shared<StoredValues>();
    CRegKey key(impl);
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_READ));
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const wchar_t multiOneNul[] = {L'a', L'\0', L'b', L'\0'};
    const wchar_t multiNoNul[] = {L'a', L'\0', L'b'};
    impl->values[L"unterminated"] = {REG_SZ, Bytes(unterminated, sizeof unterminated)};
    impl->values[L"odd"] = {REG_SZ, {'a', 0, 0}};
    impl->values[L"sizezero"] = {REG_SZ, {}};
    impl->values[L"multiOneNul"] = {REG_MULTI_SZ, Bytes(multiOneNul, sizeof multiOneNul)};
    impl->values[L"multiNoNul"] = {REG_MULTI_SZ, Bytes(multiNoNul, sizeof multiNoNul)};
    impl->values[L"multiEmpty"] = {REG_MULTI_SZ, {}};

    struct Case {
        const wchar_t* name;
        bool multi;
        LONG result;
    };
    const Case cases[] = {
        {L"unterminated", false, ERROR_INVALID_DATA}, {L"odd", false, ERROR_INVALID_DATA},
        {L"multiOneNul", true, ERROR_INVALID_DATA},   {L"multiNoNul", true, ERROR_INVALID_DATA},
        {L"multiEmpty", true, ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wchar_t buffer[16];
        ULONG count = 16;
        EXPECT_EQ(c.result, c.multi ? key.QueryMultiStringValue(c.name, buffer, &count)
                                    : key.QueryStringValue(c.name, buffer, &count));
        EXPECT_EQ(0u, count);
        if (!c.multi) {
            std::wstring text = L"old";
            EXPECT_EQ(c.result, key.QueryStringValue(c.name, text));
            EXPECT_EQ(L"old", text);
        }
    }

    wchar_t buffer[4] = {L'x'};
    ULONG count = 4;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"sizezero", buffer, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(L'\0', buffer[0]);
    std::wstring text = L"old";
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"sizezero", text));
    EXPECT_EQ(L"", text);
}

TEST_F(RegKeyTest, FailedOpenKeepsTheHeldKey) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, (kRoot + L"\\held").c_str()));
    const HKEY held = key.Key();
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"v", 5));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_LOCAL_MACHINE, (kRoot + L"\\absent").c_str(), KEY_READ));
    EXPECT_EQ(held, key.Key());
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"v", value));
    EXPECT_EQ(5u, value);
}

TEST_F(RegKeyTest, CreateReportsDispositionAndDetachHandsTheKeyOut) {
    CRegKey key;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, (kRoot + L"\\made").c_str(), nullptr,
                                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, (kRoot + L"\\made").c_str(), nullptr,
                                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);

    const HKEY raw = key.Detach();
    EXPECT_EQ(nullptr, key.Key());
    CRegKey other;
    other.Attach(raw);
    EXPECT_EQ(ERROR_SUCCESS, other.SetDWORDValue(L"v", 1));
    EXPECT_EQ(ERROR_SUCCESS, other.Close());
}

TEST_F(RegKeyTest, DeleteOnCloseEmptiesTheKey) {
    scratch.SetDword(HKEY_LOCAL_MACHINE, kRoot + L"\\doomed", L"v", 1);
    scratch.SetString(HKEY_LOCAL_MACHINE, kRoot + L"\\doomed\\child\\grandchild", L"s", L"x");
    auto impl = std::make_shared<internal::CRegKeyImpl>();
    CRegKey key(impl);
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, (kRoot + L"\\doomed").c_str(), KEY_ALL_ACCESS));
    impl->SetDeleteOnClose(true);
    EXPECT_TRUE(impl->GetDeleteOnClose());
    EXPECT_EQ(ERROR_SUCCESS, key.Close());
    EXPECT_FALSE(impl->GetDeleteOnClose());

    EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kRoot + L"\\doomed\\child"));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kRoot + L"\\doomed", L"v", type, data));

}

TEST_F(RegKeyTest, DeletesHappenInTheViewTheKeyWasOpenedIn) {
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot + L"\\tree\\a\\b", RegView::Wow32);
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot + L"\\tree\\c", RegView::Wow32);
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot + L"\\single", RegView::Wow32);
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot + L"\\tree\\a", RegView::Wow64);
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot + L"\\single", RegView::Wow64);

    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_ALL_ACCESS | KEY_WOW64_32KEY));
    EXPECT_EQ(ERROR_SUCCESS, key.DeleteSubKeyTree(L"tree"));
    EXPECT_EQ(ERROR_SUCCESS, key.DeleteSubKey(L"single"));
    EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kRoot + L"\\tree", RegView::Wow32));
    EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kRoot + L"\\single", RegView::Wow32));
    EXPECT_TRUE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kRoot + L"\\tree\\a", RegView::Wow64));
    EXPECT_TRUE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kRoot + L"\\single", RegView::Wow64));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.DeleteSubKeyTree(L"tree"));
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kRoot, RegView::Wow32);
}

TEST_F(RegKeyTest, EnumKeyListsSubkeys) {
    scratch.Create(HKEY_LOCAL_MACHINE, kRoot + L"\\list\\first");
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, (kRoot + L"\\list").c_str(), KEY_READ));
    wchar_t name[32];
    DWORD length = 32;
    EXPECT_EQ(ERROR_SUCCESS, key.EnumKey(0, name, &length));
    EXPECT_STREQ(L"first", name);
    length = 32;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, key.EnumKey(1, name, &length));
}

// --- records ---

std::vector<BYTE> MakeRecord(DWORD type, const std::vector<BYTE>& payload) {
    std::vector<BYTE> record(payload.size() + 32);
    EXPECT_EQ(0u, CObfuscatedRegKeyImpl::EncodeRecord(payload.data(), static_cast<DWORD>(payload.size()), type,
                                                      record.data(), static_cast<DWORD>(record.size())));
    return record;
}

// Decodes the raw stored value; the payload and its type.
std::vector<BYTE> StoredPayload(const wchar_t* name, DWORD& type) {
    DWORD rawType = 0;
    std::vector<BYTE> raw;
    EXPECT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kRoot, name, rawType, raw));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), rawType);
    DWORD size = 0;
    std::vector<BYTE> copy = raw;  // decoding zeroes the digest of the record it is given
    EXPECT_EQ(0u, CObfuscatedRegKeyImpl::DecodeRecord(copy.data(), static_cast<DWORD>(copy.size()), &type, nullptr,
                                                      &size));
    std::vector<BYTE> payload(size ? size : 1);
    EXPECT_EQ(0u, CObfuscatedRegKeyImpl::DecodeRecord(raw.data(), static_cast<DWORD>(raw.size()), nullptr,
                                                      payload.data(), &size));
    payload.resize(size);
    return payload;
}

TEST_F(RegKeyTest, ScrambledKeyReadsRecordsOnly) {
    const DWORD number = 0x01020304;
    scratch.SetBinary(HKEY_LOCAL_MACHINE, kRoot, L"record", MakeRecord(REG_DWORD, Bytes(&number, 4)));
    scratch.SetDword(HKEY_LOCAL_MACHINE, kRoot, L"plain", 7);
    scratch.SetBinary(HKEY_LOCAL_MACHINE, kRoot, L"junk", {'Q', 'Z', 'R', 'G', 1, 0, 0, 0});

    CObfuscatedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_READ));
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"record", value));
    EXPECT_EQ(number, value);
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"plain", value));
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"junk", value));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.QueryValue(L"record", nullptr, nullptr, nullptr));

    // A plain key sees the record as the raw bytes it is.
    CRegKey plain;
    ASSERT_EQ(ERROR_SUCCESS, plain.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_READ));
    BYTE raw[64];
    ULONG rawSize = sizeof raw;
    EXPECT_EQ(ERROR_SUCCESS, plain.QueryBinaryValue(L"record", raw, &rawSize));
    EXPECT_EQ(36u, rawSize);
    EXPECT_EQ(0, std::memcmp(raw, "QZRG", 4));
}

TEST_F(RegKeyTest, ScrambledTextIsUtf8InTheRecord) {
    CObfuscatedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"empty", L""));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"accent", L"caf\u00e9 \u20ac"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetMultiStringValue(L"multi", L"\u00e9\0b\0\0"));

    DWORD type = 0;
    EXPECT_EQ((std::vector<BYTE>{0}), StoredPayload(L"empty", type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    const char utf8[] = "caf\xC3\xA9 \xE2\x82\xAC";
    EXPECT_EQ(Bytes(utf8, sizeof utf8), StoredPayload(L"accent", type));
    const char multi[] = "\xC3\xA9\0b\0";  // plus the literal's own NUL: the list's final one
    EXPECT_EQ(Bytes(multi, sizeof multi), StoredPayload(L"multi", type));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);

    ULONG size = 64;
    wchar_t buffer[32];
    EXPECT_EQ(ERROR_SUCCESS, key.QueryValue(L"empty", &type, buffer, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(L'\0', buffer[0]);
    std::wstring text;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"accent", text));
    EXPECT_EQ(L"caf\u00e9 \u20ac", text);

    // The registry-value codec keeps ANSI text in its records: ASCII reads the same through both, the rest not.
    DWORD codecType = 0;
    wchar_t codecText[32] = {};
    DWORD codecSize = sizeof codecText;
    ASSERT_EQ(0u, QzRegReadValueExW(HKEY_LOCAL_MACHINE, kRoot.c_str(), L"accent", &codecType,
                                    reinterpret_cast<BYTE*>(codecText), &codecSize, kQzRegRecord));
    EXPECT_NE(std::wstring(L"caf\u00e9 \u20ac"), std::wstring(codecText));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"ascii", L"plain text"));
    codecSize = sizeof codecText;
    ASSERT_EQ(0u, QzRegReadValueExW(HKEY_LOCAL_MACHINE, kRoot.c_str(), L"ascii", &codecType,
                                    reinterpret_cast<BYTE*>(codecText), &codecSize, kQzRegRecord));
    EXPECT_STREQ(L"plain text", codecText);
}

TEST_F(RegKeyTest, UnterminatedScrambledTextIsReadWithinItsLength) {
    scratch.SetBinary(HKEY_LOCAL_MACHINE, kRoot, L"single", MakeRecord(REG_SZ, {'a', 'b', 'c'}));
    scratch.SetBinary(HKEY_LOCAL_MACHINE, kRoot, L"multi", MakeRecord(REG_MULTI_SZ, {'a', 0, 'b', 'c'}));
    CObfuscatedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_READ));
    std::wstring text;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"single", text));
    EXPECT_EQ(L"abc", text);
    wchar_t buffer[16];
    ULONG count = 16;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryMultiStringValue(L"multi", buffer, &count));
    EXPECT_EQ(6u, count);
    EXPECT_EQ(0, std::memcmp(L"a\0bc\0\0", buffer, 6 * sizeof(wchar_t)));
}

TEST_F(RegKeyTest, ScrambledMultiStringThatDoesNotFitZeroesTheBuffer) {
    CObfuscatedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, key.SetMultiStringValue(L"multi", L"one\0two\0\0"));
    wchar_t buffer[8];
    wmemset(buffer, L'x', 8);
    DWORD type = 0;
    ULONG size = 8 * sizeof(wchar_t);  // needs 9 characters
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryValue(L"multi", &type, buffer, &size));
    EXPECT_EQ(18u, size);
    for (wchar_t c : buffer) EXPECT_EQ(L'\0', c);
}

}  // namespace
}  // namespace Basalt
