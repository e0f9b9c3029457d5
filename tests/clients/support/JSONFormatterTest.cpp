// The JSON document: member order under replacement, the kinds each getter accepts, strict parsing, the writer's
// form, embedded NULs, and what hostile text (deep nesting, lone surrogates) does to it.
#include "clients/support/JSONFormatter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using Orvan::JSONFormatter;
using namespace std::string_literals;

JSONFormatter Parsed(const std::wstring& text) {
    JSONFormatter json;
    EXPECT_TRUE(json.parse(text)) << text;
    return json;
}

TEST(JSONFormatterTest, NewFormatterIsAnEmptyObject) { EXPECT_EQ(L"{}", JSONFormatter().toString()); }

TEST(JSONFormatterTest, ReplacingAMemberMovesTheLastIntoItsPlaceAndAppendsTheNewOne) {
    struct Case {
        std::vector<std::pair<std::wstring, std::wstring>> sets;
        std::wstring expected;
    };
    const Case cases[] = {
        {{{L"a", L"1"}, {L"b", L"2"}, {L"a", L"3"}}, LR"({"b":"2","a":"3"})"},
        {{{L"name", L"n"}, {L"value", L"v"}, {L"volatile", L"f"}, {L"name", L"m"}},
         LR"({"volatile":"f","value":"v","name":"m"})"},
        {{{L"a", L"1"}, {L"b", L"2"}, {L"c", L"3"}, {L"a", L"4"}}, LR"({"c":"3","b":"2","a":"4"})"},
        {{{L"a", L"1"}, {L"b", L"2"}, {L"c", L"3"}, {L"c", L"4"}}, LR"({"a":"1","b":"2","c":"4"})"},
        {{{L"a", L"1"}, {L"a", L"2"}}, LR"({"a":"2"})"},
        // Names compare case-sensitively.
        {{{L"a", L"1"}, {L"A", L"2"}}, LR"({"a":"1","A":"2"})"},
    };
    for (const Case& c : cases) {
        JSONFormatter json;
        for (const auto& [name, value] : c.sets) json.setString(name, value);
        EXPECT_EQ(c.expected, json.toString());
    }
}

TEST(JSONFormatterTest, ReplacementAppliesToEveryKindOfSetter) {
    JSONFormatter inner;
    inner.setBool(L"x", true);
    JSONFormatter json;
    json.setString(L"a", L"s");
    json.setInt(L"b", 1);
    json.setObject(L"a", inner);
    json.setStringArray(L"b", {L"p", L"q"});
    json.setObjectArray(L"c", {inner, inner});
    json.setUInt64(L"a", 7);
    EXPECT_EQ(LR"({"c":[{"x":true},{"x":true}],"b":["p","q"],"a":7})", json.toString());
}

// Which getters accept a number, whether it was parsed or stored by a setter.
TEST(JSONFormatterTest, NumbersAreReadableAsEveryKindTheirValueFits) {
    struct Case {
        std::wstring text;
        std::function<void(JSONFormatter&)> store;
        bool asInt, asUInt, asInt64, asUInt64, asDouble;
    };
    const Case cases[] = {
        {L"5", [](JSONFormatter& j) { j.setInt(L"n", 5); }, true, true, true, true, false},
        {L"5.0", [](JSONFormatter& j) { j.setDouble(L"n", 5.0); }, false, false, false, false, true},
        {L"1e2", [](JSONFormatter& j) { j.setDouble(L"n", 100.0); }, false, false, false, false, true},
        {L"3000000000", [](JSONFormatter& j) { j.setUInt(L"n", 3000000000u); }, false, true, true, true, false},
        {L"-1", [](JSONFormatter& j) { j.setInt64(L"n", -1); }, true, false, true, false, false},
        {L"2147483648", [](JSONFormatter& j) { j.setInt64(L"n", 2147483648LL); }, false, true, true, true, false},
        {L"-2147483649", [](JSONFormatter& j) { j.setInt64(L"n", -2147483649LL); }, false, false, true, false, false},
        {L"4294967296", [](JSONFormatter& j) { j.setUInt64(L"n", 4294967296ULL); }, false, false, true, true, false},
        {L"18446744073709551615",
         [](JSONFormatter& j) { j.setUInt64(L"n", std::numeric_limits<std::uint64_t>::max()); }, false, false, false,
         true, false},
        {L"-9223372036854775808",
         [](JSONFormatter& j) { j.setInt64(L"n", std::numeric_limits<std::int64_t>::min()); }, false, false, true,
         false, false},
        // Beyond 64 bits only a double can hold it.
        {L"18446744073709551616", [](JSONFormatter& j) { j.setDouble(L"n", 18446744073709551616.0); }, false, false,
         false, false, true},
    };
    for (const Case& c : cases) {
        JSONFormatter parsed = Parsed(L"{\"n\":" + c.text + L"}");
        JSONFormatter stored;
        c.store(stored);
        for (JSONFormatter* json : {&parsed, &stored}) {
            SCOPED_TRACE(c.text + (json == &parsed ? L" parsed" : L" stored"));
            std::int32_t i = 0;
            std::uint32_t u = 0;
            std::int64_t i64 = 0;
            std::uint64_t u64 = 0;
            double d = 0;
            EXPECT_EQ(c.asInt, json->getInt(L"n", i));
            EXPECT_EQ(c.asUInt, json->getUInt(L"n", u));
            EXPECT_EQ(c.asInt64, json->getInt64(L"n", i64));
            EXPECT_EQ(c.asUInt64, json->getUInt64(L"n", u64));
            EXPECT_EQ(c.asDouble, json->getDouble(L"n", d));
        }
    }
}

TEST(JSONFormatterTest, GettersRefuseAbsentMembersAndOtherKindsAndLeaveTheOutArgument) {
    JSONFormatter json = Parsed(LR"({"n":1,"s":"text","b":true,"o":{},"a":[]})");
    bool flag = true;
    EXPECT_FALSE(json.getBool(L"n", flag));
    EXPECT_TRUE(flag);
    std::wstring text = L"kept";
    EXPECT_FALSE(json.getString(L"n", text));
    EXPECT_FALSE(json.getString(L"missing", text));
    EXPECT_FALSE(json.getString(L"S", text));
    EXPECT_EQ(L"kept", text);
    std::int32_t number = 42;
    EXPECT_FALSE(json.getInt(L"s", number));
    EXPECT_FALSE(json.getInt(L"b", number));
    EXPECT_EQ(42, number);
    double real = 2.5;
    EXPECT_FALSE(json.getDouble(L"n", real));
    EXPECT_EQ(2.5, real);
    JSONFormatter object;
    object.setInt(L"kept", 1);
    EXPECT_FALSE(json.getObject(L"a", object));
    EXPECT_FALSE(json.getObject(L"missing", object));
    EXPECT_EQ(LR"({"kept":1})", object.toString());
    EXPECT_TRUE(json.getBool(L"b", flag));
    EXPECT_TRUE(json.getString(L"s", text));
    EXPECT_EQ(L"text", text);
}

TEST(JSONFormatterTest, ArrayGettersAppendUpToTheFirstElementOfAnotherKind) {
    JSONFormatter json = Parsed(LR"({"s":["a",1,"c"],"o":[{"x":1},"y",{"z":2}],"e":[],"n":5,"good":["p","q"]})");
    struct Case {
        std::wstring name;
        bool asStrings;
        size_t strings;  // with the one element the vector held before
        bool asObjects;
        size_t objects;
    };
    const Case cases[] = {
        {L"missing", true, 1, true, 1}, {L"e", true, 1, true, 1},      {L"n", false, 1, false, 1},
        {L"s", false, 2, false, 1},     {L"o", false, 1, false, 2},    {L"good", true, 3, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> strings{L"old"};
        std::vector<JSONFormatter> objects(1);
        EXPECT_EQ(c.asStrings, json.getStringArray(c.name, strings));
        EXPECT_EQ(c.asObjects, json.getObjectArray(c.name, objects));
        EXPECT_EQ(c.strings, strings.size());
        EXPECT_EQ(c.objects, objects.size());
        EXPECT_EQ(L"old", strings.front());
    }
    std::vector<std::wstring> good;
    json.getStringArray(L"good", good);
    EXPECT_EQ((std::vector<std::wstring>{L"p", L"q"}), good);
    std::vector<JSONFormatter> objects;
    json.getObjectArray(L"o", objects);
    ASSERT_EQ(1u, objects.size());
    EXPECT_EQ(LR"({"x":1})", objects[0].toString());
}

TEST(JSONFormatterTest, ParseIsStrictAndTrueOnlyForAnObjectRoot) {
    struct Case {
        std::wstring text;
        bool result;
        std::wstring after;  // the document afterwards; the old content when the text failed
    };
    const std::wstring old = LR"({"old":1})";
    const Case cases[] = {
        {L"", false, old},
        {L"   ", false, old},
        {L" \r\n\t{ \"a\" : [ 1 , 2 ] }\r\n ", true, LR"({"a":[1,2]})"},
        {L"{}{}", false, old},
        {L"{} x", false, old},
        {L"{\"a\":1,}", false, old},
        {L"{\"a\":[1,]}", false, old},
        {L"{/*c*/}", false, old},
        {L"{\"a\":NaN}", false, old},
        {L"{\"a\":Infinity}", false, old},
        {L"{'a':1}", false, old},
        {L"{\"a\":01}", false, old},
        {L"{\"a\"}", false, old},
        {L"{\"a\":tru}", false, old},
        {L"\f{}", false, old},
        // Valid JSON with another root: kept, but false.
        {L"[1,2]", false, L"[1,2]"},
        {L"\"text\"", false, L"\"text\""},
        {L"7", false, L"7"},
        {L"null", false, L"null"},
        // A NUL is no end of the text: what follows it is never let through unread.
        {L"{\"a\":1}\0garbage"s, false, old},
        {L"{\"a\":1}\0"s, false, old},
        {L"{\"a\":\0}"s, false, old},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        JSONFormatter json = Parsed(old);
        EXPECT_EQ(c.result, json.parse(c.text));
        EXPECT_EQ(c.after, json.toString());
    }
}

TEST(JSONFormatterTest, ADocumentWithAnotherRootTakesNoMembersAndYieldsNone) {
    JSONFormatter inner;
    for (const std::wstring root : {L"[1]", L"\"s\"", L"3", L"null"}) {
        JSONFormatter json;
        ASSERT_FALSE(json.parse(root));
        std::wstring text;
        std::vector<std::wstring> strings;
        std::vector<JSONFormatter> objects;
        EXPECT_FALSE(json.getString(L"a", text));
        EXPECT_TRUE(json.getStringArray(L"a", strings));
        EXPECT_TRUE(json.getObjectArray(L"a", objects));
        json.setString(L"a", L"x");
        json.setStringArray(L"a", {L"x"});
        json.appendString(L"a", L"x");
        json.appendObject(L"a", inner);
        json.setObject(L"a", inner);
        EXPECT_EQ(root, json.toString());
    }
}

TEST(JSONFormatterTest, WriterEscapesAsTheLibraryDoesAndKeepsOtherCharacters) {
    JSONFormatter json;
    json.setString(L"s", L"q\" b\\ \b\f\n\r\t \x01\x1f / \x00e9\x4e2d \xd83d\xde00");
    json.setDouble(L"d1", 0.1);
    json.setDouble(L"d2", 5.0);
    json.setDouble(L"d3", 1e300);
    json.setDouble(L"d4", -2.5e-7);
    json.setBool(L"f", false);
    json.setInt(L"i", -12);
    EXPECT_EQ(L"{\"s\":\"q\\\" b\\\\ \\b\\f\\n\\r\\t \\u0001\\u001F / \x00e9\x4e2d \xd83d\xde00\","
              L"\"d1\":0.1,\"d2\":5.0,\"d3\":1e300,\"d4\":-2.5e-7,\"f\":false,\"i\":-12}",
              json.toString());
}

TEST(JSONFormatterTest, WrittenTextParsesBackToTheSameDocument) {
    JSONFormatter inner;
    inner.setString(L"name", L"a\"b");
    JSONFormatter json;
    json.setObjectArray(L"properties", {inner, inner});
    json.setUInt64(L"big", std::numeric_limits<std::uint64_t>::max());
    json.setDouble(L"third", 1.0 / 3.0);
    const std::wstring text = json.toString();
    JSONFormatter again = Parsed(text);
    EXPECT_EQ(text, again.toString());
    double third = 0;
    ASSERT_TRUE(again.getDouble(L"third", third));
    EXPECT_EQ(1.0 / 3.0, third);
}

TEST(JSONFormatterTest, ANonFiniteDoubleGivesNoTextRatherThanACutOne) {
    for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        JSONFormatter json;
        json.setString(L"a", L"before");
        json.setDouble(L"d", bad);
        EXPECT_EQ(L"", json.toString());
    }
}

TEST(JSONFormatterTest, EmbeddedNulIsKeptInStringValuesAndEndsNamesAndArrayStrings) {
    const std::wstring withNul = L"a\0b"s;
    JSONFormatter json;
    json.setString(L"s", withNul);
    json.appendString(L"list", withNul);
    json.setStringArray(L"array", {withNul});
    json.setString(L"na\0me"s, L"v");
    EXPECT_EQ(LR"({"s":"a\u0000b","list":["a"],"array":["a"],"na":"v"})", json.toString());
    std::wstring read;
    ASSERT_TRUE(json.getString(L"s", read));
    EXPECT_EQ(withNul, read);
    ASSERT_TRUE(json.getString(L"na\0other"s, read));
    EXPECT_EQ(L"v", read);

    JSONFormatter parsed = Parsed(LR"({"s":"x\u0000y","a":["x\u0000y"],"k\u0000ey":1})");
    ASSERT_TRUE(parsed.getString(L"s", read));
    EXPECT_EQ(L"x\0y"s, read);
    std::vector<std::wstring> strings;
    ASSERT_TRUE(parsed.getStringArray(L"a", strings));
    EXPECT_EQ((std::vector<std::wstring>{L"x"}), strings);
    // A stored name with a NUL is never matched by a lookup, which ends at the NUL.
    std::int32_t number = 0;
    EXPECT_FALSE(parsed.getInt(L"k", number));
}

TEST(JSONFormatterTest, AppendAddsAnArrayAtTheEndOnlyWhenTheMemberIsAbsent) {
    JSONFormatter element;
    element.setString(L"name", L"a");
    JSONFormatter json;
    json.setInt(L"first", 1);
    json.appendObject(L"properties", element);
    json.setInt(L"after", 2);
    json.appendObject(L"properties", element);
    json.appendString(L"strings", L"x");
    json.appendString(L"strings", L"y");
    // Members of another kind are left alone.
    json.appendString(L"first", L"z");
    json.appendObject(L"after", element);
    EXPECT_EQ(LR"({"first":1,"properties":[{"name":"a"},{"name":"a"}],"after":2,"strings":["x","y"]})",
              json.toString());
}

TEST(JSONFormatterTest, CopiesAreDeepAndIndependentOfTheirSource) {
    auto source = std::make_unique<JSONFormatter>();
    JSONFormatter element;
    element.setString(L"long value that lives in the pool", L"and a long string value as well");
    source->setObject(L"o", element);
    source->appendObject(L"list", element);

    JSONFormatter copied(*source);
    JSONFormatter assigned;
    assigned.setInt(L"gone", 1);
    assigned = *source;
    JSONFormatter out;
    ASSERT_TRUE(source->getObject(L"o", out));
    std::vector<JSONFormatter> listed;
    ASSERT_TRUE(source->getObjectArray(L"list", listed));
    JSONFormatter nested;
    nested.setObject(L"n", element);
    element.setString(L"long value that lives in the pool", L"changed");

    const std::wstring text = source->toString();
    source->setString(L"o", L"replaced");
    source.reset();  // frees the source's pool
    EXPECT_EQ(text, copied.toString());
    EXPECT_EQ(text, assigned.toString());
    EXPECT_EQ(LR"({"long value that lives in the pool":"and a long string value as well"})", out.toString());
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(out.toString(), listed[0].toString());
    EXPECT_EQ(L"{\"n\":" + out.toString() + L"}", nested.toString());

    // A member of a formatter copied into that same formatter.
    JSONFormatter self = Parsed(LR"({"o":{"p":"q"},"r":1})");
    ASSERT_TRUE(self.getObject(L"o", self));
    EXPECT_EQ(LR"({"p":"q"})", self.toString());
}

std::wstring Nested(unsigned depth, const std::wstring& open, const std::wstring& close) {
    std::wstring text = L"{\"a\":";
    for (unsigned i = 1; i < depth; ++i) text += open;
    text += L"1";
    for (unsigned i = 1; i < depth; ++i) text += close;
    return text + L"}";
}

TEST(JSONFormatterTest, NestingBeyondTheLimitIsRefusedWithoutExhaustingTheStack) {
    const unsigned limit = JSONFormatter::kMaxDepth;
    struct Case {
        unsigned depth;
        std::wstring open, close;
        bool accepted;
    };
    const Case cases[] = {
        {limit, L"[", L"]", true},
        {limit + 1, L"[", L"]", false},
        {limit, L"{\"k\":", L"}", true},
        {limit + 1, L"{\"k\":", L"}", false},
        {200000, L"[", L"]", false},
        {200000, L"{\"k\":", L"}", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.depth);
        JSONFormatter json = Parsed(LR"({"old":1})");
        EXPECT_EQ(c.accepted, json.parse(Nested(c.depth, c.open, c.close)));
        if (!c.accepted) {
            EXPECT_EQ(LR"({"old":1})", json.toString());
        }
    }
    // Unclosed nesting, as a cut body would have it.
    JSONFormatter json;
    EXPECT_FALSE(json.parse(std::wstring(300000, L'[')));
}

TEST(JSONFormatterTest, SurrogateEscapesFormPairsOrAreRefused) {
    struct Case {
        std::wstring text;
        bool accepted;
    };
    const Case cases[] = {
        {LR"({"s":"\ud83d\ude00"})", true},
        {LR"({"s":"\udc00"})", false},
        {LR"({"s":"a\uDFFFb"})", false},
        {LR"({"s":"\ud800"})", false},
        {LR"({"s":"\ud800x"})", false},
        {LR"({"s":"\ud800\u0041"})", false},
        {LR"({"\udc00":1})", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        JSONFormatter json = Parsed(LR"({"old":1})");
        EXPECT_EQ(c.accepted, json.parse(c.text));
        if (!c.accepted) {
            EXPECT_EQ(LR"({"old":1})", json.toString());
        }
    }
    std::wstring read;
    JSONFormatter pair = Parsed(LR"({"s":"\ud83d\ude00"})");
    ASSERT_TRUE(pair.getString(L"s", read));
    EXPECT_EQ(L"\xd83d\xde00", read);
}

}  // namespace
