// Language-map documents: the file checks, the DOM wrapper, the readers and the current-language lookup.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/LangMapFile.h"
#include "tests/support/TelemetryServiceDouble.h"
#include "tests/welkin/LangMapFixture.h"
#include "tests/welkin/SelectorPlaces.h"
#include "welkin/MsxmlIds.h"
#include "welkin/QzXMLBase.h"
#include "welkin/utils.h"

namespace langmaptest {
namespace {

using testsupport::EncipheredLangMap;

// Made by tests/welkin/make-langmap-golden.py, which has a cipher and MD5 of its own.
const unsigned char kGolden[] = {
    // 292 bytes: the header and the enciphered body of:
    // <?xml version="1.0" encoding="UTF-8"?><packageinfo buildkey="GOLDEN-KEY"><packagedetails><terms><termsinfo lcidterms="1033_terms_std" lcid="1033" terms="std" affid="77" domain="gold.example" culture="en-US" lang="en-us"/></terms></packagedetails></packageinfo>
    0x4c, 0x4d, 0x58, 0x4d, 0x00, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x83, 0xa7, 0xd5, 0x39, 0x2a, 0x11, 0x7e, 0x66, 0x59, 0x24, 0x90, 0xee, 0x6c, 0x2b, 0x01, 0xb5,
    0xe9, 0x49, 0x44, 0x40, 0x72, 0xf3, 0x95, 0x38, 0x57, 0x2f, 0x2d, 0xd9, 0x8a, 0x77, 0x64, 0x13,
    0x82, 0xb2, 0x8b, 0x7b, 0x6c, 0xf9, 0x68, 0x45, 0xe8, 0x92, 0x9a, 0x32, 0x55, 0x2c, 0x45, 0x96,
    0xba, 0xb5, 0x7b, 0xdb, 0x18, 0x80, 0x69, 0xe7, 0xb9, 0x66, 0xae, 0xdb, 0x0d, 0xac, 0xd0, 0xc6,
    0xd4, 0x1a, 0x9b, 0xe9, 0x24, 0xc4, 0x5c, 0x9c, 0x35, 0x47, 0xb5, 0x54, 0x8f, 0x75, 0xd7, 0x9e,
    0x50, 0x1d, 0x35, 0x8a, 0x0d, 0x1c, 0x47, 0x22, 0x24, 0x17, 0xd3, 0x9c, 0xf0, 0x6e, 0x57, 0x5d,
    0x02, 0x26, 0x83, 0x7d, 0xad, 0x4b, 0xaf, 0x74, 0xfc, 0x68, 0xb5, 0xf3, 0xc1, 0xb4, 0xb2, 0x4a,
    0x33, 0x5e, 0xd7, 0x0e, 0x1c, 0x4a, 0x9c, 0x0d, 0xaf, 0x87, 0xd9, 0x25, 0x54, 0x28, 0xd2, 0xb0,
    0x6e, 0x58, 0x14, 0x68, 0x7e, 0x28, 0xe3, 0xa5, 0x4e, 0xa3, 0x5e, 0xd4, 0x60, 0x45, 0x47, 0xa4,
    0xb9, 0xf8, 0x04, 0xd8, 0x7c, 0xe3, 0xc2, 0x49, 0xce, 0xcf, 0x0c, 0xc1, 0x6d, 0x85, 0xed, 0x46,
    0xb8, 0xfb, 0xc7, 0xdb, 0x53, 0x1f, 0x7b, 0x98, 0xbf, 0xeb, 0x63, 0x93, 0x59, 0x13, 0x13, 0x18,
    0xbc, 0x5e, 0x30, 0xc1, 0x23, 0x70, 0x7a, 0x97, 0xd4, 0x6e, 0x13, 0x73, 0x68, 0x2f, 0x7b, 0xe9,
    0x1a, 0x51, 0x00, 0xf7, 0x0e, 0xa7, 0x52, 0x78, 0xda, 0x4e, 0xe9, 0x9e, 0xc9, 0xd1, 0x94, 0xab,
    0xf2, 0xae, 0xd3, 0x44, 0x5b, 0xd2, 0xba, 0x63, 0x4c, 0xac, 0xf0, 0xc1, 0x9d, 0x36, 0xab, 0x0f,
    0x28, 0x5d, 0x7a, 0xda, 0xdf, 0x3f, 0x6e, 0x74, 0xf5, 0x29, 0x02, 0x6a, 0x4d, 0xd4, 0xaf, 0x61,
    0x27, 0x83, 0x5e, 0x3e, 0x62, 0xa0, 0x9d, 0xd0, 0x58, 0x02, 0x28, 0xbd, 0xf2, 0x23, 0x20, 0x38,
    0x65, 0x02, 0x92, 0x79, 0x7a, 0x8b, 0x27, 0xc1, 0x00, 0x87, 0x11, 0x76, 0xd9, 0xeb, 0xaf, 0x5b,
    0xa0, 0xb4, 0x57, 0xff,
};
const char kGoldenXml[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><packageinfo buildkey=\"GOLDEN-KEY\"><packagedetails><terms>"
    "<termsinfo lcidterms=\"1033_terms_std\" lcid=\"1033\" terms=\"std\" affid=\"77\" domain=\"gold.example\" "
    "culture=\"en-US\" lang=\"en-us\"/></terms></packagedetails></packageinfo>";

std::string Golden() { return std::string(reinterpret_cast<const char*>(kGolden), sizeof kGolden); }

std::string Text(const wchar_t* text) { return std::string(text, text + wcslen(text)); }

CQzXMLRef NewDocument() {
    CQzXMLRef document(new CQzXMLBase);
    EXPECT_TRUE(document->CreateDocument(nullptr));
    return document;
}

TEST_F(LangMapMachine, FixturesMatchTheIndependentlyMadeFile) {
    EXPECT_EQ(Golden(), EncipheredLangMap(kGoldenXml));
    const std::wstring path = WriteRaw(L"golden.dat", Golden());
    wchar_t affid[kLangMapTextChars] = L"?";
    GetAffidFromLcidTermsFromLangmapDat(path.c_str(), L"1033_terms_std", affid);
    EXPECT_STREQ(L"77", affid);
}

TEST_F(LangMapMachine, FileChecksBeforeAnythingIsDeciphered) {
    const std::string good = EncipheredLangMap(kGoldenXml);
    auto changed = [&good](size_t at) {
        std::string file = good;
        file[at] = static_cast<char>(file[at] ^ 0x20);
        return file;
    };
    std::string longer = good + "x";
    std::string zeroLength = good.substr(0, kLangMapHeaderSize);
    std::string headerOnly = zeroLength;
    headerOnly[8] = 1;  // says one body byte that is not there
    const std::string smallest = EncipheredLangMap("<a/>");
    struct Case {
        const char* what;
        std::string bytes;
        DWORD expected;
    };
    const Case cases[] = {
        {"empty file", "", ERROR_INVALID_DATA},
        {"header only, length 0", zeroLength, ERROR_INVALID_DATA},
        {"header only, length 1", headerOnly, ERROR_INVALID_DATA},
        {"32 + n bytes, header says n", smallest, 0},
        {"body byte changed", changed(kLangMapHeaderSize + 40), ERROR_INVALID_DATA},
        {"last body byte changed", changed(good.size() - 1), ERROR_INVALID_DATA},
        {"magic changed", changed(1), ERROR_INVALID_DATA},
        {"unread header bytes changed", changed(5), 0},
        {"length field changed", changed(9), ERROR_INVALID_DATA},
        {"digest changed", changed(20), ERROR_INVALID_DATA},
        {"a byte appended", longer, ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        const std::wstring path = WriteRaw(L"map.dat", c.bytes);
        CQzXMLRef document = NewDocument();
        EXPECT_EQ(c.expected, document->LoadEncipheredFile(path.c_str(), 7)) << c.what;
    }
    CQzXMLRef document = NewDocument();
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), document->LoadEncipheredFile((KVRFolder() + L"\\absent.dat").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), document->LoadEncipheredFile(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              document->LoadEncipheredBuffer(reinterpret_cast<const BYTE*>(good.data()), kLangMapHeaderSize - 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), document->LoadEncipheredBuffer(nullptr, 100));
}

// Delegates to the real stream over the map's memory and notes, at its last release, whether that memory was
// still there.
class WatchedStream : public IStream {
public:
    WatchedStream(IStream* inner, HGLOBAL memory, bool& memoryAliveAtRelease)
        : inner_(inner), memory_(memory), alive_(memoryAliveAtRelease) {}
    virtual ~WatchedStream() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IStream || iid == IID_ISequentialStream) {
            *out = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --count_;
        if (left == 0) {
            alive_ = GlobalSize(memory_) != 0;
            inner_->Release();
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* read) override { return inner_->Read(data, size, read); }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override {
        return inner_->Write(data, size, written);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return inner_->Seek(move, origin, position);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override { return inner_->SetSize(size); }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* to, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override {
        return inner_->CopyTo(to, size, read, written);
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return inner_->Commit(flags); }
    HRESULT STDMETHODCALLTYPE Revert() override { return inner_->Revert(); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER at, ULARGE_INTEGER size, DWORD type) override {
        return inner_->LockRegion(at, size, type);
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER at, ULARGE_INTEGER size, DWORD type) override {
        return inner_->UnlockRegion(at, size, type);
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return inner_->Stat(stat, flags); }
    HRESULT STDMETHODCALLTYPE Clone(IStream** out) override { return inner_->Clone(out); }

private:
    ULONG count_ = 1;
    IStream* inner_;
    HGLOBAL memory_;
    bool& alive_;
};

class WatchingSource : public CQzXMLStreamSource {
public:
    HRESULT CreateStream(HGLOBAL memory, IStream** stream) override {
        ++made;
        IStream* inner = nullptr;
        const HRESULT hr = CQzXMLStreamSource::CreateStream(memory, &inner);
        if (FAILED(hr)) return hr;
        *stream = new WatchedStream(inner, memory, memoryAliveAtRelease);
        return hr;
    }
    int made = 0;
    bool memoryAliveAtRelease = false;
};

TEST_F(LangMapMachine, StreamGoesBeforeTheMemoryUnderIt) {
    const std::string good = EncipheredLangMap(kGoldenXml);
    WatchingSource source;
    CQzXMLRef document = NewDocument();
    document->SetStreamSource(&source);
    EXPECT_EQ(0u, document->LoadEncipheredBuffer(reinterpret_cast<const BYTE*>(good.data()), good.size()));
    EXPECT_EQ(1, source.made);
    EXPECT_TRUE(source.memoryAliveAtRelease);

    // A file that fails its checks is never deciphered into a stream.
    std::string changed = good;
    changed[kLangMapHeaderSize + 3] ^= 1;
    CQzXMLRef refused = NewDocument();
    refused->SetStreamSource(&source);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA),
              refused->LoadEncipheredBuffer(reinterpret_cast<const BYTE*>(changed.data()), changed.size()));
    EXPECT_EQ(1, source.made);
}

// Makes the real document calls, writes down what a new document is told, and can refuse one document class.
class RecordingDocumentCalls : public CQzXMLDocumentCalls {
public:
    HRESULT CoCreateInstance(REFCLSID clsid, IXMLDOMDocument** document) override {
        wchar_t text[40] = {};
        StringFromGUID2(clsid, text, 40);
        calls.push_back("CoCreateInstance " + Text(text));
        if (IsEqualGUID(clsid, refused)) return REGDB_E_CLASSNOTREG;
        return CQzXMLDocumentCalls::CoCreateInstance(clsid, document);
    }
    HRESULT put_resolveExternals(IXMLDOMDocument* document, VARIANT_BOOL value) override {
        calls.push_back(std::string("put_resolveExternals ") + (value ? "true" : "false"));
        return CQzXMLDocumentCalls::put_resolveExternals(document, value);
    }
    HRESULT setProperty(IXMLDOMDocument2* document, const wchar_t* name, const VARIANT& value) override {
        std::string text = value.vt == VT_BSTR ? Text(value.bstrVal) : "?";
        if (value.vt == VT_BOOL) text = value.boolVal ? "true" : "false";
        calls.push_back("setProperty " + Text(name) + " " + text);
        return CQzXMLDocumentCalls::setProperty(document, name, value);
    }

    std::vector<std::string> calls;
    CLSID refused = GUID_NULL;
};

TEST_F(LangMapMachine, NewDocumentsAcceptADoctypeAndReadNothingOutside) {
    using testing::Contains;
    using testing::Not;
    CLSID msxml60;
    ASSERT_EQ(S_OK, CLSIDFromString(kDomDocument60Text, &msxml60));
    const std::string made60 = "CoCreateInstance {88D96A05-F192-11D4-A65F-0040963251E5}";
    const std::string madeOlder = "CoCreateInstance {F6D90F11-9C73-11D3-B32E-00C04F990BB4}";
    // A map that declares its document type: the internal subset is read, the external one names no file.
    const std::string map = "<?xml version=\"1.0\"?><!DOCTYPE packageinfo SYSTEM \"absent.dtd\" ["
                            "<!ENTITY key \"DTD-KEY\">]><packageinfo buildkey=\"&key;\"/>";
    const std::string file = EncipheredLangMap(map);
    struct Case {
        const char* what;
        CLSID refused;
        std::string made;
        bool toldToAcceptDoctype;
    };
    const Case cases[] = {
        {"MSXML 6.0", GUID_NULL, made60, true},
        {"the older class", msxml60, madeOlder, false},  // it accepts a DOCTYPE by default
    };
    for (const Case& c : cases) {
        RecordingDocumentCalls recorder;
        recorder.refused = c.refused;
        CQzXMLRef document(new CQzXMLBase);
        document->SetDocumentCalls(&recorder);
        ASSERT_TRUE(document->CreateDocument(nullptr)) << c.what;
        EXPECT_THAT(recorder.calls, Contains(c.made)) << c.what;
        EXPECT_THAT(recorder.calls, Contains("put_resolveExternals false")) << c.what;
        EXPECT_THAT(recorder.calls, Not(Contains("put_resolveExternals true"))) << c.what;
        EXPECT_THAT(recorder.calls, Contains("setProperty SelectionLanguage XPath")) << c.what;
        if (c.toldToAcceptDoctype) {
            EXPECT_THAT(recorder.calls, Contains("setProperty ProhibitDTD false")) << c.what;
        } else {
            EXPECT_THAT(recorder.calls, Not(Contains(testing::HasSubstr("ProhibitDTD")))) << c.what;
        }

        ASSERT_EQ(0u, document->LoadEncipheredBuffer(reinterpret_cast<const BYTE*>(file.data()), file.size()))
            << c.what;
        std::vector<CQzXMLRef> nodes;
        DWORD count = 0;
        ASSERT_EQ(0u, document->SelectNodes(L"//packageinfo", nodes, &count)) << c.what;
        wchar_t key[20];
        DWORD size = sizeof key;
        EXPECT_EQ(0u, nodes[0]->GetNodeText(L"buildkey", key, &size)) << c.what;
        EXPECT_STREQ(L"DTD-KEY", key) << c.what;
    }
}

TEST_F(LangMapMachine, BodyThatIsNoDocumentLeavesNothingToSelect) {
    CQzXMLRef document = NewDocument();
    const std::string notXml = EncipheredLangMap("not a document");
    EXPECT_NE(0u, document->LoadEncipheredBuffer(reinterpret_cast<const BYTE*>(notXml.data()), notXml.size()));
    std::vector<CQzXMLRef> nodes;
    DWORD count = 5;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), document->SelectNodes(L"//packageinfo", nodes, &count));
}

TEST_F(LangMapMachine, SelectionAndAttributeTexts) {
    const std::string xml = MapXml(
        "<terms><termsinfo lcidterms=\"abcd\" empty=\"\"/><termsinfo lcidterms=\"second\"/></terms>");
    const std::string file = EncipheredLangMap(xml);
    CQzXMLRef document = NewDocument();
    ASSERT_EQ(0u, document->LoadEncipheredBuffer(reinterpret_cast<const BYTE*>(file.data()), file.size()));

    std::vector<CQzXMLRef> nodes;
    DWORD count = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MATCH), document->SelectNodes(L"//nothing", nodes, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), document->SelectNodes(nullptr, nodes, &count));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), document->SelectNodes(L"//termsinfo", nodes, nullptr));
    ASSERT_EQ(0u, document->SelectNodes(L"//packageinfo/packagedetails/terms/termsinfo", nodes, &count));
    ASSERT_EQ(2u, count);
    ASSERT_EQ(2u, nodes.size());
    CQzXMLBase& first = *nodes[0];

    struct Case {
        const wchar_t* name;
        DWORD bytes;
        bool withBuffer;
        DWORD expected;
        const wchar_t* text;  // written text, or null when nothing is
        DWORD sizeAfter;
    };
    const Case cases[] = {
        {L"lcidterms", 10, true, 0, L"abcd", 10},
        {L"lcidterms", 8, true, kTextFillsBuffer, L"abc", 8},  // exactly four characters of room: cut by one
        {L"lcidterms", 6, true, ERROR_NOT_ENOUGH_MEMORY, nullptr, 10},
        {L"lcidterms", 100, false, ERROR_NOT_ENOUGH_MEMORY, nullptr, 10},
        {L"LCIDTERMS", 100, true, ERROR_INVALID_DATA, nullptr, 100},  // names are exact
        {L"empty", 100, true, ERROR_INVALID_DATA, nullptr, 100},
        {L"absent", 100, true, ERROR_INVALID_DATA, nullptr, 100},
    };
    for (const Case& c : cases) {
        wchar_t buffer[50];
        wmemset(buffer, L'#', 50);
        DWORD size = c.bytes;
        EXPECT_EQ(c.expected, first.GetNodeText(c.name, c.withBuffer ? buffer : nullptr, &size)) << Text(c.name);
        EXPECT_EQ(c.sizeAfter, size) << Text(c.name);
        if (c.text) {
            EXPECT_STREQ(c.text, buffer) << Text(c.name);
        } else {
            EXPECT_EQ(L'#', buffer[0]) << Text(c.name);
        }
    }
    DWORD size = 10;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), first.GetNodeText(nullptr, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), first.GetNodeText(L"lcidterms", nullptr, nullptr));

    // An attribute node is not an element.
    std::vector<CQzXMLRef> attributes;
    ASSERT_EQ(0u, document->SelectNodes(L"//termsinfo/@lcidterms", attributes, &count));
    size = 100;
    wchar_t text[50];
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), attributes[0]->GetNodeText(L"lcidterms", text, &size));

    // An object that loaded nothing has no node to select from.
    CQzXMLRef empty = NewDocument();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), empty->SelectNodes(L"//packageinfo", nodes, &count));
}

struct ReaderCase {
    const char* what;
    std::string map;  // XML written as langmap.dat and at_langmap.dat; empty: no files
};

struct Readings {
    std::wstring buildKey, culture, lang, domain, affid, atCulture, atLang, termsAffid;
    DWORD lcid = 0, atLcid = 0;
};

Readings ReadAll(const wchar_t* key, DWORD lcid, const wchar_t* terms) {
    Readings r;
    wchar_t text[kLangMapTextChars];
    auto take = [&text](std::wstring& into) { into = text; };
    GetBuildKeyFromLangmapDat(text), take(r.buildKey);
    GetCurrentCultureFromLangmapDat(key, text), take(r.culture);
    GetCurrentLcidAndLangCodeFromLangmapDat(key, &r.lcid, text), take(r.lang);
    GetDomainFromLangmapDat(key, text), take(r.domain);
    GetCurrentCulture(text), take(r.atCulture);
    GetCurrentLcidAndLangCode(&r.atLcid, text), take(r.atLang);
    GetAffidFromTerms(kLangMapFile, lcid, terms, text), take(r.termsAffid);
    return r;
}

TEST_F(LangMapMachine, ReadersFindTheirElementOrGiveTheirDefault) {
    SetSelector(L"MapLcid", 1031);  // the current LCID, as the selector maps it
    const std::string terms =
        "<terms>"
        "<termsinfo lcidterms=\"1031_terms_y\" lcid=\"\" terms=\"x\" affid=\"no-lcid\"/>"
        "<termsinfo lcidterms=\"1031_TERMS_X\" lcid=\"1031\" terms=\"X\" affid=\"A1\" domain=\"d.example\" "
        "culture=\"de-DE\" lang=\"de-de\"/>"
        "<termsinfo lcidterms=\"1031_terms_x\" lcid=\"1031\" terms=\"x\" affid=\"later\" culture=\"late\"/>"
        "</terms>";
    const std::string langmap =
        "<languagemapping><langmap lcid=\"1033\" lang=\"en-us\" culture=\"en-US\"/>"
        "<langmap lcid=\"1031\" lang=\"de-at\" culture=\"de-AT\"/>"
        "<defaults lcid=\"1031\" lang=\"xx\" culture=\"xx\"/></languagemapping>";
    const std::string otherLcidsOnly =
        "<languagemapping><langmap lcid=\"1036\" lang=\"fr-fr\" culture=\"fr-FR\"/>"
        "<defaults lcid=\"1031\" lang=\"xx\" culture=\"xx\"/></languagemapping>";
    const std::string defaultsOnly =
        "<languagemapping><defaults lcid=\"1031\" lang=\"de-ch\" culture=\"de-CH\"/></languagemapping>";
    const std::string twoPackages =
        "<?xml version=\"1.0\"?><packages><packageinfo buildkey=\"first\"/><packageinfo/>"
        "<packageinfo buildkey=\"second\"/><packageinfo buildkey=\"\"/></packages>";

    struct Case {
        const char* what;
        std::string xml;  // empty: no map files at all
        Readings expected;
    };
    const Case cases[] = {
        {"full map", MapXml(terms + langmap),
         {L"BK-1", L"de-DE", L"de-de", L"d.example", L"A1", L"de-AT", L"de-at", L"A1", 1031, 1031}},
        {"langmap elements of other LCIDs only", MapXml(terms + otherLcidsOnly),
         {L"BK-1", L"de-DE", L"de-de", L"d.example", L"A1", L"en-us", L"en-us", L"A1", 1031, 1031}},
        {"defaults when there are no langmap elements", MapXml(defaultsOnly),
         {L"BK-1", L"en-us", L"en-us", kDefaultServiceDomain, L"", L"de-CH", L"de-ch", L"", 1031, 1031}},
        {"the last build key wins", twoPackages,
         {L"second", L"en-us", L"en-us", kDefaultServiceDomain, L"", L"en-us", L"en-us", L"", 1031, 1031}},
        {"no map files", "",
         {L"", L"en-us", L"en-us", kDefaultServiceDomain, L"", L"en-us", L"en-us", L"", 1031, 1031}},
    };
    for (const Case& c : cases) {
        DeleteFileW((KVRFolder() + L"\\langmap.dat").c_str());
        DeleteFileW((KVRFolder() + L"\\at_langmap.dat").c_str());
        if (!c.xml.empty()) {
            WriteMap(kLangMapFile, c.xml);
            WriteMap(kAntiTheftLangMapFile, c.xml);
        }
        const Readings got = ReadAll(L"1031_terms_x", 1031, L"x");
        const Readings& e = c.expected;
        EXPECT_EQ(e.buildKey, got.buildKey) << c.what;
        EXPECT_EQ(e.culture, got.culture) << c.what;
        EXPECT_EQ(e.lang, got.lang) << c.what;
        EXPECT_EQ(e.lcid, got.lcid) << c.what;
        EXPECT_EQ(e.domain, got.domain) << c.what;
        EXPECT_EQ(e.atCulture, got.atCulture) << c.what;
        EXPECT_EQ(e.atLang, got.atLang) << c.what;
        EXPECT_EQ(e.atLcid, got.atLcid) << c.what;
        EXPECT_EQ(e.termsAffid, got.termsAffid) << c.what;
    }

    WriteMap(kLangMapFile, MapXml(terms));
    wchar_t affid[kLangMapTextChars];
    GetAffidFromLcidTermsFromLangmapDat((KVRFolder() + L"\\langmap.dat").c_str(), L"1031_Terms_X", affid);
    EXPECT_STREQ(L"A1", affid);
    GetAffidFromLcidTermsFromLangmapDat((KVRFolder() + L"\\langmap.dat").c_str(), L"1033_terms_x", affid);
    EXPECT_STREQ(L"", affid);
    GetAffidFromTerms(kLangMapFile, 1033, L"x", affid);
    EXPECT_STREQ(L"", affid);
}

TEST_F(LangMapMachine, LongTextsAreTakenWholeOrNotAtAll) {
    const std::string fits(kLangMapTextChars - 1, 'k');
    const std::string tooLong(kLangMapTextChars, 'k');
    for (const std::string& key : {fits, tooLong}) {
        WriteMap(kLangMapFile, "<packageinfo buildkey=\"" + key + "\"/>");
        wchar_t buildKey[kLangMapTextChars];
        GetBuildKeyFromLangmapDat(buildKey);
        EXPECT_EQ(key == fits ? std::wstring(fits.begin(), fits.end()) : std::wstring(), buildKey) << key.size();
    }
}

// Each step of the lookup that can fail, reached through the system calls.
class FailingSystem : public LcidLookupSystem {
public:
    enum Step { kNone, kLocaleName, kLocaleNumber, kLoad, kNoExport };
    FailingSystem(Step step, std::wstring noMapSelector) : step_(step), noMap_(std::move(noMapSelector)) {}
    int GetUserDefaultLocaleName(wchar_t* name, int chars) override {
        return step_ == kLocaleName ? 0 : LcidLookupSystem::GetUserDefaultLocaleName(name, chars);
    }
    int GetLocaleLanguage(const wchar_t* name, DWORD* lcid) override {
        return step_ == kLocaleNumber ? 0 : LcidLookupSystem::GetLocaleLanguage(name, lcid);
    }
    HMODULE LoadLibraryW(const wchar_t* path) override {
        loadedPath = path;
        if (step_ == kLoad) return nullptr;
        return LcidLookupSystem::LoadLibraryW(step_ == kNoExport ? noMap_.c_str() : path);
    }
    std::wstring loadedPath;

private:
    Step step_;
    std::wstring noMap_;
};

TEST_F(LangMapMachine, CurrentLcidLoadsTheSelectorOnlyFromAnAbsoluteCommonFilesFolder) {
    const struct {
        const wchar_t* commonFiles;
        std::vector<std::wstring> loaded;
    } cases[] = {{L"", {}},  // the shell has none
                 {L"Common", {}},
                 {L"C:Common", {}},
                 {L"C:\\Common", {L"C:\\Common\\Torvex\\Platform\\Pomvek.dll"}}};
    for (const auto& c : cases) {
        welkintest::SelectorPlaces<LcidLookupSystem> system(c.commonFiles);
        EXPECT_EQ(kEnglishUsLcid, GetLCID(system)) << testing::PrintToString(std::wstring(c.commonFiles));
        EXPECT_EQ(c.loaded, system.loaded) << testing::PrintToString(std::wstring(c.commonFiles));
    }
}

TEST_F(LangMapMachine, CurrentLcidFallsBackToEnglishAtEveryFailure) {
    testsupport::TelemetryServiceDouble telemetry(KVRFolder() + L"\\telemetry.txt");
    SetEnvironmentVariableW(testsupport::TelemetryServiceDouble::kJournal, telemetry.JournalPath().c_str());
    // The signed service, vouched for: an unsigned one is refused and gets no event.
    trusttest::ValidationDouble validation;
    validation.Install(L"15.5", trusttest::SignedFolder(L"good"));
    validation.SetMode(trusttest::ValidationDouble::kVouchSigned);
    telemetry.Register(trusttest::SignedFile(L"good", L"telemetry_service"));
    wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
    GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH);
    const std::wstring calling = L"S:Calling GetLCIDFromTorvexLangMap from input Locale " + std::wstring(locale) +
                                 L" Initial LCID = 1033";
    struct Case {
        const char* what;
        FailingSystem::Step step;
        DWORD mapResult;
        DWORD expected;
        bool mapCalled;
        std::vector<std::wstring> events;  // each event's result initial, ':', its text
    };
    const Case cases[] = {
        {"locale name", FailingSystem::kLocaleName, 0, kEnglishUsLcid, false,
         {L"F:GetUserDefaultLocaleName failed, unable to find LCID, defaulting to en-US(1033)"}},
        {"locale number", FailingSystem::kLocaleNumber, 0, kEnglishUsLcid, false,
         {L"F:LCID for " + std::wstring(locale) + L" is not found"}},
        {"selector does not load", FailingSystem::kLoad, 0, kEnglishUsLcid, false,
         {L"F:Unable to open pomvek.dll, defaulting to en-US(1033)"}},
        {"selector without the map export", FailingSystem::kNoExport, 0, kEnglishUsLcid, false,
         {L"F:GetLCIDFromTorvexLangMap function is not found, defaulting to en-US(1033)"}},
        {"map lookup fails", FailingSystem::kNone, 5, kEnglishUsLcid, true,
         {calling, L"F:GetLCIDFromTorvexLangMap function failed, returned LCID = 1031, defaulting to en-US(1033)"}},
        {"map lookup succeeds", FailingSystem::kNone, 0, 1031, true,
         {calling, L"S:GetLCIDFromTorvexLangMap returned LCID = 1031 From file " + KVRFolder() + L" return value = 0"}},
    };
    SetSelector(L"MapLcid", 1031);
    for (const Case& c : cases) {
        SetSelector(L"MapResult", c.mapResult);
        const size_t callsBefore = SelectorCalls().size();
        telemetry.ClearJournal();
        FailingSystem system(c.step, NoMapSelector());
        EXPECT_EQ(c.expected, GetLCID(system)) << c.what;
        std::vector<std::wstring> events;
        for (const auto& record : telemetry.SentRecords()) {
            EXPECT_EQ(L"welkin_locale_lcid_check", record.at(L"UniqueIdentifier")) << c.what;
            EXPECT_EQ(L"GetLCID", record.at(L"Hit.Trigger")) << c.what;
            EXPECT_EQ(L"welkin", record.at(L"Hit.Source")) << c.what;
            const std::wstring& result = record.at(L"Hit.Result");
            EXPECT_EQ(result == L"Failure" ? L"Fallback_From_GetLCIDFromTorvexLangMap_Result"
                                           : L"Calling_GetLCIDFromTorvexLangMap",
                      record.at(L"Event.Label"))
                << c.what;
            events.push_back(result.substr(0, 1) + L":" + record.at(L"Hit.Label.1"));
        }
        EXPECT_EQ(c.events, events) << c.what;
        EXPECT_EQ(c.mapCalled ? callsBefore + 1 : callsBefore, SelectorCalls().size()) << c.what;
        if (c.step >= FailingSystem::kLoad) {
            EXPECT_NE(std::wstring::npos, system.loadedPath.find(L"\\Torvex\\Platform\\Pomvek.dll")) << c.what;
        }
    }
    SetEnvironmentVariableW(testsupport::TelemetryServiceDouble::kJournal, nullptr);
    // The selector gets the user's LCID and the KVR install folder without a final backslash.
    const std::vector<std::string> calls = SelectorCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ("GetLCIDFromTorvexLangMap 1033 " + Text(KVRFolder().c_str()), calls.back());
}

}  // namespace
}  // namespace langmaptest
