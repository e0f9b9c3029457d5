// Mutated reply and notice bodies (fixed seeds) through the client's reply checks and the notice handlers. Each
// body is judged a second time by a reader written here on the library's own document, from the rules a reply must
// meet; the client must agree with it on every body, and nothing may crash or throw.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "clients/messagebus/Message.h"
#include "clients/settings/SettingsManagerClient.h"
#include "clients/support/JSONFormatter.h"
#include "clients/support/RapidJsonConfig.h"
#include "tests/clients/settings/SettingsClientFixture.h"

namespace {

using Orvan::PropertyResults;
using Orvan::PropertyValues;
using Document = rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>>;
using Value = Document::ValueType;
using Timeout = Orvan::SettingsManager::Timeout;

constexpr int kBodiesPerSeed = 3500;
constexpr unsigned kSeeds[] = {20261210, 14, 3126};

// ---- the second reader ------------------------------------------------------------------------------------------

unsigned Depth(const Value& v) {
    unsigned deepest = 0;
    if (v.IsObject())
        for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m) deepest = std::max(deepest, Depth(m->value));
    else if (v.IsArray())
        for (const Value& e : v.GetArray()) deepest = std::max(deepest, Depth(e));
    else
        return 0;
    return deepest + 1;
}

// A body the client may read: strict JSON with an object root, within the nesting limit, no lone surrogates.
bool ReadObject(const std::wstring& text, Document& doc) {
    try {
        doc.Parse(text.c_str());
    } catch (const Orvan::internal::JsonAssertion&) {
        return false;
    }
    return !doc.HasParseError() && doc.IsObject() && Depth(doc) <= Orvan::JSONFormatter::kMaxDepth;
}

const Value* Member(const Value& object, const wchar_t* name) {
    if (!object.IsObject()) return nullptr;
    const auto m = object.FindMember(name);
    return m == object.MemberEnd() ? nullptr : &m->value;
}

bool StringIs(const Value* v, std::wstring* out = nullptr) {
    if (!v || !v->IsString()) return false;
    if (out) out->assign(v->GetString(), v->GetStringLength());
    return true;
}

bool IsTrue(const Value* v) { return v && v->IsBool() && v->GetBool(); }

struct Expected {
    bool single = false;  // set and remove of "p"
    bool get = false;
    std::wstring getValue;
    PropertyResults listed{{L"a", false}, {L"b", false}};  // getProperties of a, b
    PropertyValues listedValues;
    PropertyResults removed{{L"a", false}, {L"b", false}};
    bool noticeName = false;
    bool noticeSet = false;
    std::wstring name, value;
};

Expected Judge(const std::wstring& text) {
    Expected e;
    Document doc;
    if (!ReadObject(text, doc)) return e;
    std::wstring name;
    const bool named = StringIs(Member(doc, L"name"), &name);
    e.single = named && name == L"p" && IsTrue(Member(doc, L"status"));
    e.get = e.single && StringIs(Member(doc, L"value"), &e.getValue);
    e.noticeName = named;
    e.noticeSet = named && StringIs(Member(doc, L"value"), &e.value);
    e.name = name;

    const Value* responses = Member(doc, L"responses");
    if (responses && !responses->IsArray()) return e;
    if (responses)
        for (const Value& element : responses->GetArray())
            if (!element.IsObject()) return e;
    if (!responses) return e;
    for (const Value& element : responses->GetArray()) {
        std::wstring n;
        if (!StringIs(Member(element, L"name"), &n) || (n != L"a" && n != L"b")) continue;
        if (!IsTrue(Member(element, L"status"))) continue;
        e.removed[n] = true;
        std::wstring v;
        if (!StringIs(Member(element, L"value"), &v)) continue;
        e.listed[n] = true;
        e.listedValues[n] = v;
    }
    return e;
}

// ---- mutations --------------------------------------------------------------------------------------------------

class Mutator {
public:
    explicit Mutator(unsigned seed) : random_(seed) {}

    // A mutation of a single reply (or notice) body, or of a list reply body.
    std::wstring Next(bool list) {
        std::wstring body = Pick(list ? kListBases : kSingleBases);
        const int rounds = Below(5) == 0 ? 2 : 1;
        for (int i = 0; i < rounds; ++i) Mutate(body);
        return body;
    }

private:
    static inline const std::vector<std::wstring> kSingleBases = {
        LR"({"name":"p","status":true,"value":"v"})",
        LR"({"name":"p","status":true})",
        LR"({"status":false,"name":"p","value":"x"})",
        LR"({"name":"p","value":"v"})",
    };
    static inline const std::vector<std::wstring> kListBases = {
        LR"({"responses":[{"name":"a","status":true,"value":"1"},{"name":"b","status":true,"value":"2"}]})",
        LR"({"responses":[{"name":"b","status":true,"value":"2"},{"name":"a","status":false}]})",
        LR"({"responses":[]})",
    };
    static inline const std::vector<std::wstring> kKinds = {
        L"1",  L"1.5", L"-0", L"1e999", L"true", L"false", L"null", L"[]", L"{}", L"\"x\"", L"\"\"", L"[true]",
        L"{\"a\":1}", L"\"p\"", L"\"a\"", L"\"b\"", L"\"v\\u0000w\""};
    static inline const std::vector<std::wstring> kEscapes = {L"\\udc00", L"\\ud800", L"\\uDFFF", L"\\ud83d\\ude00",
                                                              L"\\u0000", L"\\\"",    L"\\x",     L"\\u12"};
    static inline const std::wstring kAlphabet = L"{}[]\":,\\ \t\r\ntruefalsn0123456789.-+eEu";

    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(random_() % n); }
    const std::wstring& Pick(const std::vector<std::wstring>& from) { return from[Below(from.size())]; }

    wchar_t RandomChar() {
        switch (Below(6)) {
            case 0: return static_cast<wchar_t>(0xD800 + Below(0x800));  // a raw surrogate
            case 1: return static_cast<wchar_t>(Below(0x20));            // a control character, NUL included
            case 2: return static_cast<wchar_t>(0x80 + Below(0xFF00));
            default: return kAlphabet[Below(kAlphabet.size())];
        }
    }

    // Positions of the values that follow a member name in the text.
    std::vector<std::pair<size_t, size_t>> Values(const std::wstring& body) {
        std::vector<std::pair<size_t, size_t>> spans;
        for (size_t at = body.find(L"\":"); at != std::wstring::npos; at = body.find(L"\":", at + 1)) {
            const size_t start = at + 2;
            size_t end = start;
            int nesting = 0;
            bool inString = false;
            for (; end < body.size(); ++end) {
                const wchar_t c = body[end];
                if (inString) {
                    if (c == L'\\') ++end;
                    else if (c == L'"') inString = false;
                    continue;
                }
                if (c == L'"') inString = true;
                else if (c == L'[' || c == L'{') ++nesting;
                else if (c == L']' || c == L'}') {
                    if (nesting == 0) break;
                    --nesting;
                } else if (c == L',' && nesting == 0) break;
            }
            if (end > start) spans.emplace_back(start, end - start);
        }
        return spans;
    }

    void Mutate(std::wstring& body) {
        if (body.empty()) body = Pick(kSingleBases);
        switch (Below(8)) {
            case 0:  // flipped characters
                for (size_t n = 1 + Below(3); n > 0; --n) body[Below(body.size())] = RandomChar();
                break;
            case 1:  // cut short
                body.resize(Below(body.size()));
                break;
            case 2: {  // a piece duplicated elsewhere
                const size_t from = Below(body.size());
                const std::wstring piece = body.substr(from, 1 + Below(body.size() - from));
                body.insert(Below(body.size() + 1), piece);
                break;
            }
            case 3: {  // a value of another kind
                const auto spans = Values(body);
                if (spans.empty()) break;
                const auto [start, length] = spans[Below(spans.size())];
                body.replace(start, length, Pick(kKinds));
                break;
            }
            case 4: {  // a value nested deep, closed or not
                const auto spans = Values(body);
                if (spans.empty()) break;
                const auto [start, length] = spans[Below(spans.size())];
                const size_t depth = Below(2) ? 500 + Below(30) : 1 + Below(1500);
                const bool asObjects = Below(2) == 0;
                std::wstring open, close;
                for (size_t i = 0; i < depth; ++i) {
                    open += asObjects ? L"{\"k\":" : L"[";
                    close += asObjects ? L"}" : L"]";
                }
                const std::wstring inner = body.substr(start, length);
                body.replace(start, length, open + inner + (Below(8) == 0 ? std::wstring() : close));
                break;
            }
            case 5: {  // an escape inside a string
                const size_t quote = body.find(L'"', Below(body.size()));
                if (quote == std::wstring::npos) break;
                body.insert(quote + 1, Pick(kEscapes));
                break;
            }
            case 6: {  // a member repeated with another value, before or after the real one
                const std::wstring member = Below(2) ? L"\"name\":" + Pick(kKinds) : L"\"status\":" + Pick(kKinds);
                const size_t brace = body.find(L'{');
                if (brace == std::wstring::npos) break;
                if (Below(2)) body.insert(brace + 1, member + L",");
                else if (body.size() > 1 && body.back() == L'}') body.insert(body.size() - 1, L"," + member);
                break;
            }
            default:  // white space and stray characters around the root
                body = std::wstring(Below(3), L' ') + body + std::wstring(Below(3), L'\n') +
                       (Below(4) == 0 ? std::wstring(1, RandomChar()) : std::wstring());
                break;
        }
    }

    std::mt19937 random_;
};

// ---- the suite --------------------------------------------------------------------------------------------------

class SettingsMutationTest : public settingstest::SettingsClientFixture {};

TEST_F(SettingsMutationTest, EveryMutatedBodyIsJudgedAsTheRulesSay) {
    const Timeout timeout = 10;
    // How often each judgement came out either way: a harness whose bodies all fail (or all pass) proves little.
    std::map<std::string, std::pair<int, int>> outcomes;
    auto tally = [&](const std::string& what, bool accepted) {
        (accepted ? outcomes[what].first : outcomes[what].second)++;
    };
    for (const unsigned seed : kSeeds) {
        Mutator mutator(seed);
        for (int i = 0; i < kBodiesPerSeed; ++i) {
            const int operation = i % 5;
            const std::wstring body = mutator.Next(operation == 2 || operation == 3);
            SCOPED_TRACE(testing::Message() << "seed " << seed << " body " << i << ": "
                                            << testing::PrintToString(body));
            const Expected expected = Judge(body);
            Reply(body);
            tally("notice", expected.noticeName);
            tally("set notice", expected.noticeSet);
            try {
                switch (operation) {
                    case 0:
                        ASSERT_EQ(expected.single, client().setProperty(L"p", std::wstring(L"v"), timeout));
                        tally("set", expected.single);
                        break;
                    case 1: {
                        std::wstring value = L"unchanged";
                        ASSERT_EQ(expected.get, client().getProperty(L"p", value, timeout));
                        ASSERT_EQ(expected.get ? expected.getValue : L"unchanged", value);
                        tally("get", expected.get);
                        break;
                    }
                    case 2: {
                        PropertyValues values;
                        ASSERT_EQ(expected.listed, client().getProperties({L"a", L"b"}, values, timeout));
                        ASSERT_EQ(expected.listedValues, values);
                        tally("get list", !values.empty());
                        break;
                    }
                    case 3:
                        ASSERT_EQ(expected.removed, client().removeProperties({L"a", L"b"}, timeout));
                        tally("remove list", expected.removed.at(L"a") || expected.removed.at(L"b"));
                        break;
                    default:
                        ASSERT_EQ(expected.single, client().removeProperty(L"p", timeout));
                        tally("remove", expected.single);
                        break;
                }

                const auto message = Orvan::createMessage(L"SettingsManager.Notify.Set.p", L"SettingsManager", body);
                std::vector<std::wstring> names;
                std::vector<std::pair<std::wstring, std::wstring>> sets;
                auto nameListener = [&](const std::wstring& name) { names.push_back(name); };
                auto setListener = [&](const std::wstring& n, const std::wstring& v) { sets.emplace_back(n, v); };
                const std::uint32_t nameStatus = expected.noticeName ? 0 : Orvan::MODULE_STATUS_DATA_ERROR;
                ASSERT_EQ(nameStatus, Orvan::SettingsManagerClient::onPropertyNotify(
                                          message, nameListener, [](const std::wstring&) { return true; }));
                ASSERT_EQ(nameStatus, Orvan::SettingsManagerClient::onPropertyNotifyDelete(message, nameListener));
                ASSERT_EQ(expected.noticeSet ? 0 : Orvan::MODULE_STATUS_DATA_ERROR,
                          Orvan::SettingsManagerClient::onPropertyNotifySet(message, setListener));
                const std::vector<std::wstring> heard =
                    expected.noticeName ? std::vector<std::wstring>(2, expected.name) : std::vector<std::wstring>();
                ASSERT_EQ(heard, names);
                ASSERT_EQ(expected.noticeSet ? 1u : 0u, sets.size());
                if (expected.noticeSet) {
                    ASSERT_EQ(std::make_pair(expected.name, expected.value), sets[0]);
                }
            } catch (const std::exception& e) {
                FAIL() << "threw " << e.what();
            }
            if (i % 256 == 0) TakeClientLines();
        }
    }
    for (const auto& [what, counts] : outcomes) {
        EXPECT_GT(counts.first, 0) << what << " never accepted";
        EXPECT_GT(counts.second, 0) << what << " never refused";
        std::printf("%s: %d accepted, %d refused\n", what.c_str(), counts.first, counts.second);
    }
}

}  // namespace
