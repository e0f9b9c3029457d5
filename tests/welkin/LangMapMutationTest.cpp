// Mutated language maps (fixed seeds) through the file load and the readers: headers and sizes that are wrong are
// refused with 13 before anything is deciphered, mutated bodies under valid headers load or are refused by the
// parser, nothing crashes, and a reader gives its default whenever the load refused the file.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/LangMapFile.h"
#include "tests/welkin/LangMapFixture.h"
#include "welkin/QzXMLBase.h"
#include "welkin/utils.h"

namespace langmaptest {
namespace {

using testsupport::EncipheredLangMap;
using testsupport::SealLangMap;

const char kTerms[] =
    "<terms><termsinfo lcidterms=\"1033_terms_std\" lcid=\"1033\" terms=\"std\" affid=\"AFF42\" domain=\"dom.example\" "
    "culture=\"en-GB\" lang=\"en-gb\"/><termsinfo lcidterms=\"1031_terms_std\" lcid=\"1031\" terms=\"std\" "
    "affid=\"AFF7\" domain=\"de.example\" culture=\"de-DE\" lang=\"de-de\"/></terms>"
    "<languagemapping><langmap lcid=\"1033\" lang=\"en-us\" culture=\"en-US\"/>"
    "<defaults lcid=\"1033\" lang=\"en-us\" culture=\"en-US\"/></languagemapping>";

enum Kind { kHeaderByte, kTruncated, kAppended, kCipherByte, kPlainResealed, kRandomResealed, kKinds };

struct Mutant {
    Kind kind;
    std::string file;
    std::string plain;  // the XML text under a resealed body
    bool unreadHeaderByte = false;
};

Mutant Mutate(std::mt19937& random, const std::string& xml, const std::string& file) {
    auto below = [&random](size_t n) { return static_cast<size_t>(random() % n); };
    auto anyByte = [&random] { return static_cast<char>(random() & 0xFF); };
    Mutant m{static_cast<Kind>(below(kKinds)), file, xml};
    switch (m.kind) {
    case kHeaderByte: {
        const size_t at = below(kLangMapHeaderSize);
        m.file[at] = static_cast<char>(m.file[at] ^ (1 + below(255)));
        m.unreadHeaderByte = at >= 4 && at < 8;
        break;
    }
    case kTruncated:
        m.file.resize(below(m.file.size()));
        break;
    case kAppended:
        for (size_t n = 1 + below(16); n > 0; --n) m.file.push_back(anyByte());
        break;
    case kCipherByte: {
        const size_t at = kLangMapHeaderSize + below(m.file.size() - kLangMapHeaderSize);
        m.file[at] = static_cast<char>(m.file[at] ^ (1 + below(255)));
        break;
    }
    case kPlainResealed:
        for (size_t n = 1 + below(4); n > 0 && !m.plain.empty(); --n) {
            const size_t at = below(m.plain.size());
            switch (below(4)) {
            case 0: m.plain[at] = anyByte(); break;
            case 1: m.plain.insert(m.plain.begin() + at, anyByte()); break;
            case 2: m.plain.erase(at, 1 + below(8)); break;
            default: m.plain.insert(at, m.plain.substr(below(m.plain.size()), 1 + below(40))); break;
            }
        }
        m.file = EncipheredLangMap(m.plain);
        break;
    default:
        m.plain.clear();
        for (size_t n = 1 + below(600); n > 0; --n) m.plain.push_back(anyByte());
        m.file = EncipheredLangMap(m.plain);
        break;
    }
    return m;
}

// The map file held open for writing (sharing reads and writes, as the load opens it), rewritten in place: far
// cheaper under Wine than creating the file anew for every mutant.
class OpenMapFile {
public:
    explicit OpenMapFile(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        EXPECT_NE(INVALID_HANDLE_VALUE, file_) << GetLastError();
    }
    ~OpenMapFile() { CloseHandle(file_); }
    void Rewrite(const std::string& bytes) {
        DWORD written = 0;
        SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
        ASSERT_TRUE(bytes.empty() || WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        ASSERT_TRUE(SetEndOfFile(file_));
    }

private:
    HANDLE file_;
};

// A code the load may give for a body the parser sees: success, 13 for a document without an element, or the
// parser's failure.
bool IsParserOutcome(DWORD code) { return code == 0 || code == ERROR_INVALID_DATA || code == 1 || (code & 0x80000000); }

TEST_F(LangMapMachine, TenThousandMutatedMapsAreRefusedOrReadSafely) {
    SetSelector(L"MapLcid", 1033);
    DisableSelectorJournal();
    // One apartment for the whole run: each document's own initialisation then only nests in it.
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const std::string xml = MapXml(kTerms);
    const std::string file = EncipheredLangMap(xml);
    const std::wstring path = KVRFolder() + L"\\" + kLangMapFile;
    OpenMapFile map(path);
    int loaded = 0, refusedByChecks = 0, refusedByParser = 0;
    for (unsigned seed : {11u, 23u, 57u, 101u, 977u}) {
        std::mt19937 random(seed);
        for (int round = 0; round < 2000; ++round) {
            const Mutant m = Mutate(random, xml, file);
            SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round) + " kind " +
                         std::to_string(m.kind));
            map.Rewrite(m.file);
            CQzXMLRef document(new CQzXMLBase);
            ASSERT_TRUE(document->CreateDocument(nullptr));
            const DWORD code = document->LoadEncipheredFile(path.c_str());
            const bool resealed = m.kind == kPlainResealed || m.kind == kRandomResealed;
            if (resealed) {
                EXPECT_TRUE(IsParserOutcome(code)) << code;
                code == 0 ? ++loaded : ++refusedByParser;
            } else if (m.unreadHeaderByte) {
                EXPECT_EQ(0u, code);
                ++loaded;
            } else {
                EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), code);
                ++refusedByChecks;
            }

            wchar_t text[kLangMapTextChars + 1];
            wmemset(text, L'#', kLangMapTextChars + 1);
            std::wstring fallback;
            switch (round % 4) {
            case 0: GetBuildKeyFromLangmapDat(text); fallback = L""; break;
            case 1: GetCurrentCultureFromLangmapDat(L"1033_terms_std", text); fallback = kDefaultLanguage; break;
            case 2: GetDomainFromLangmapDat(L"1031_terms_std", text); fallback = kDefaultServiceDomain; break;
            default: {
                DWORD lcid = 0;
                GetCurrentLcidAndLangCodeFromLangmapDat(L"1031_TERMS_STD", &lcid, text);
                EXPECT_EQ(1033u, lcid);
                fallback = kDefaultLanguage;
            }
            }
            ASSERT_EQ(L'#', text[kLangMapTextChars]);  // never past its buffer
            ASSERT_LT(wcslen(text), kLangMapTextChars);
            const std::wstring answer = text;
            if (code != 0) {
                EXPECT_EQ(fallback, answer);
            } else if (!resealed) {
                const wchar_t* expected[] = {L"BK-1", L"en-GB", L"de.example", L"de-de"};
                EXPECT_EQ(expected[round % 4], answer);
            } else if (answer != fallback) {
                // Whatever a mutated document yields comes from its own text.
                EXPECT_NE(std::string::npos, m.plain.find(std::string(answer.begin(), answer.end())));
            }
        }
    }
    CoUninitialize();
    // Every kind of outcome was reached.
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refusedByChecks, 0);
    EXPECT_GT(refusedByParser, 0);
}

}  // namespace
}  // namespace langmaptest
