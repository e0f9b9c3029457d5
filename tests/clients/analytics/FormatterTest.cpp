// The JSON form of a record: the escape table, the object's exact shape, and larger records read back by a parser.
#include <gtest/gtest.h>

#include "clients/support/RapidJsonConfig.h"

#include "clients/analytics/JSONFormatter.h"

namespace {

using Orvan::Analytics::CJSONFormatter;
using Orvan::Analytics::Record;

std::wstring Escaped(const std::wstring& text) {
    std::wstring out = L"kept:";
    CJSONFormatter::escape(text, out);
    return out.substr(5);
}

TEST(JSONFormatter, EscapeTable) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\b", L"\\b"},          {L"\t", L"\\t"},         {L"\n", L"\\n"},         {L"\f", L"\\f"},
        {L"\r", L"\\r"},          {L"\"", L"\\\""},        {L"/", L"\\/"},          {L"\\", L"\\\\"},
        {std::wstring(1, L'\0'), L"\\u0000"},              {L"\x01", L"\\u0001"},   {L"\x0b", L"\\u000B"},
        {L"\x1f", L"\\u001F"},    {L"\x7f", L"\\u007F"},   {L"\x85", L"\\u0085"},   {L"\x9f", L"\\u009F"},
        {L"\xa0", L"\xa0"},       {L"\xc8", L"\xc8"},      {L"\x4e2d", L"\x4e2d"},  {L" ~'", L" ~'"},
        {L"a\\b", L"a\\\\b"},     {L"C:\\\\x", L"C:\\\\\\\\x"}};
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(Escaped(text), escaped) << testing::PrintToString(text);
        EXPECT_EQ(CJSONFormatter::escapedLength(text), escaped.size()) << testing::PrintToString(text);
    }
}

TEST(JSONFormatter, EmptyRecordIsRefused) {
    CJSONFormatter formatter;
    std::wstring text = L"left over";
    EXPECT_FALSE(formatter.format(Record(), text));
    EXPECT_EQ(text, L"");
}

TEST(JSONFormatter, OnePairIsExactlyOneMember) {
    CJSONFormatter formatter;
    std::wstring text;
    ASSERT_TRUE(formatter.format(Record{{L"a", L"b"}}, text));
    EXPECT_EQ(text, L"{\"a\":\"b\"}");
    ASSERT_TRUE(formatter.format(Record{{L"q\"n", L"a\\b/c"}}, text));
    EXPECT_EQ(text, L"{\"q\\\"n\":\"a\\\\b\\/c\"}");
    ASSERT_TRUE(formatter.format(Record{{L"empty", L""}}, text));
    EXPECT_EQ(text, L"{\"empty\":\"\"}");
}

TEST(JSONFormatter, LargerRecordsReadBackAsTheSamePairs) {
    Record record;
    for (int i = 0; i < 20; ++i) {
        std::wstring value = L"value " + std::to_wstring(i);
        value += static_cast<wchar_t>(i);        // control characters
        value += static_cast<wchar_t>(120 + i);  // across 127-159
        value += L"\"\\/\x4e2d";
        record[L"Name." + std::to_wstring(i) + L"\t\""] = value;
    }
    record[L"__caller.name"] = L"C:\\\\Program Files\\\\welkin.exe";
    std::wstring text;
    ASSERT_TRUE(CJSONFormatter().format(record, text));

    rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>> document;
    document.Parse(text.c_str());
    ASSERT_FALSE(document.HasParseError()) << document.GetErrorOffset();
    ASSERT_TRUE(document.IsObject());
    Record parsed;
    for (const auto& member : document.GetObject()) {
        ASSERT_TRUE(member.value.IsString());
        parsed[std::wstring(member.name.GetString(), member.name.GetStringLength())] =
            std::wstring(member.value.GetString(), member.value.GetStringLength());
    }
    EXPECT_EQ(parsed, record);
    EXPECT_EQ(document.MemberCount(), record.size());
}

}  // namespace
