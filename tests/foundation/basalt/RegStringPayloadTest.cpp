#include "foundation/basalt/RegStringPayload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/GuardedBytes.h"

namespace {

constexpr UINT kWestern = 1252;

struct Widened {
    DWORD rc;
    DWORD size;
    std::wstring text;  // the whole buffer
};

// The payload's `length` bytes end where readable memory ends: reading past them crashes.
Widened Widen(bool multi, const std::string& stored, DWORD length, DWORD room, bool withBuffer = true) {
    std::wstring buffer(room / 2 + 4, L'#');  // '#' past the room shows writes beyond it
    DWORD size = room;
    const testsupport::GuardedBytes payload(stored.data(), length);
    const DWORD rc = Basalt::WidenStringPayload(kWestern, multi, payload.as<const char>(), length,
                                                withBuffer ? reinterpret_cast<BYTE*>(buffer.data()) : nullptr, &size);
    return {rc, size, buffer};
}

std::wstring Room(const std::wstring& filled, DWORD room) {
    return filled + std::wstring(room / 2 + 4 - filled.size(), L'#');
}

struct WidenCase {
    const char* name;
    std::string stored;
    DWORD length;
    DWORD room;  // bytes; 0 with withBuffer false asks for the size only
    bool withBuffer;
    DWORD rc;
    DWORD size;
    std::wstring buffer;  // the whole buffer afterwards
};

template <std::size_t N>
void Check(bool multi, const WidenCase (&cases)[N]) {
    for (const WidenCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Widened got = Widen(multi, c.stored, c.length, c.room, c.withBuffer);
        EXPECT_EQ(c.rc, got.rc);
        EXPECT_EQ(c.size, got.size);
        if (c.withBuffer) {
            EXPECT_EQ(c.buffer, got.text);
        }
    }
}

TEST(WidenStringPayload, SingleString) {
    const WidenCase cases[] = {
        {"fits", {"abc\0", 4}, 4, 8, true, 0, 8, Room(std::wstring(L"abc\0", 4), 8)},
        {"larger buffer is zeroed", {"abc\0", 4}, 4, 12, true, 0, 8, Room(std::wstring(L"abc\0\0\0", 6), 12)},
        {"one character short", {"abc\0", 4}, 4, 6, true, 234, 8, Room(L"", 6)},
        {"size only", {"abc\0", 4}, 4, 0, false, 0, 8, {}},
        {"empty", {"\0", 1}, 1, 4, true, 0, 2, Room(std::wstring(L"\0\0", 2), 4)},
        {"no payload", "", 0, 4, true, 0, 2, Room(std::wstring(L"\0\0", 2), 4)},
        // Hostile payloads: the text ends where the payload ends, whatever follows it in memory.
        {"unterminated", "abcXYZ", 3, 16, true, 0, 8, Room(std::wstring(L"abc\0\0\0\0\0", 8), 16)},
        {"stops at the first NUL", {"ab\0cd", 5}, 5, 16, true, 0, 6, Room(std::wstring(L"ab\0\0\0\0\0\0", 8), 16)},
    };
    Check(false, cases);
}

TEST(WidenStringPayload, MultiString) {
    const std::string list("ab\0cd\0\0", 7);
    const std::wstring wide(L"ab\0cd\0\0", 7);
    const WidenCase cases[] = {
        {"fits exactly", list, 7, 14, true, 0, 14, Room(wide, 14)},
        // The strings fit but the final NUL does not: the caller's list would be unterminated.
        {"no room for the final NUL", list, 7, 12, true, 234, 14, Room(std::wstring(6, L'\0'), 12)},
        {"second string does not fit", list, 7, 8, true, 234, 14, Room(std::wstring(4, L'\0'), 8)},
        {"size only", list, 7, 0, false, 0, 14, {}},
        {"empty list", {"\0", 1}, 1, 4, true, 0, 2, Room(std::wstring(1, L'\0'), 4)},
        {"empty list without room", {"\0", 1}, 1, 0, true, 234, 2, Room(L"", 0)},
        {"no payload", "", 0, 2, true, 0, 2, Room(std::wstring(1, L'\0'), 2)},
        // Hostile payloads: a last string without its NUL ends with the payload.
        {"unterminated last string", {"ab\0cdXYZ", 8}, 5, 14, true, 0, 14, Room(wide, 14)},
        {"list without its final NUL", {"ab\0cd\0", 6}, 6, 14, true, 0, 14, Room(wide, 14)},
    };
    Check(true, cases);
}

TEST(NarrowStringPayload, StoredForms) {
    struct Case {
        const char* name;
        bool multi;
        std::wstring data;
        DWORD size;
        std::string stored;
    };
    const Case cases[] = {
        {"string", false, L"caf\u00e9", 10, {"caf\xe9\0", 5}},
        {"string: the size is not used", false, L"abc", 2, {"abc\0", 4}},
        {"empty string", false, L"", 2, {"\0", 1}},
        {"multi-string", true, {L"ab\0cd\0\0", 7}, 14, {"ab\0cd\0\0", 7}},
        {"multi-string within its size", true, {L"ab\0cd\0\0", 7}, 6, {"ab\0\0", 4}},
        {"multi-string without its final NUL", true, {L"ab\0cd", 5}, 10, {"ab\0cd\0\0", 7}},
        {"empty multi-string", true, {L"\0", 1}, 2, {"\0", 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string stored = "junk";
        ASSERT_EQ(0u, Basalt::NarrowStringPayload(kWestern, c.multi, reinterpret_cast<const BYTE*>(c.data.c_str()),
                                                  c.size, stored));
        EXPECT_EQ(c.stored, stored);
    }
}

}  // namespace
