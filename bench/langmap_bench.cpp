// Loading and querying a 100 KiB enciphered language map as welkin does (file read, MD5 check, decipher, MSXML load,
// one XPath selection, one attribute), beside MSXML alone doing the same load and selection from the plain text in
// memory, and the record checks and cipher alone. The difference is the share spent outside MSXML.
#include <windows.h>
#include <msxml2.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchHarness.h"
#include "foundation/basalt/ComRef.h"
#include "foundation/basalt/Md5.h"
#include "foundation/basalt/RegValueScrambler.h"
#include "tests/support/LangMapFile.h"
#include "welkin/MsxmlIds.h"
#include "welkin/QzXMLBase.h"
#include "welkin/utils.h"

namespace {

constexpr wchar_t kTermsPath[] = L"//packageinfo/packagedetails/terms/termsinfo";

// About 100 KiB of termsinfo elements, the one asked for last.
std::string HundredKiBMap() {
    std::string terms;
    for (int k = 0; terms.size() < 100 * 1024 - 400; ++k)
        terms += "<termsinfo lcidterms=\"" + std::to_string(2000 + k) + "_terms_std\" lcid=\"" + std::to_string(2000 + k) +
                 "\" terms=\"std\" affid=\"AFF" + std::to_string(k) + "\" domain=\"d.example\" culture=\"xx-XX\" lang=\"xx-xx\"/>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><packageinfo buildkey=\"BENCH\"><packagedetails><terms>" + terms +
           "<termsinfo lcidterms=\"1033_terms_std\" lcid=\"1033\" terms=\"std\" affid=\"LAST\"/></terms>"
           "</packagedetails></packageinfo>";
}

std::wstring WriteMapFile(const std::string& bytes) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"langmap_bench.dat";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

// welkin's way: a fresh object per lookup, as every reader makes one.
bool WelkinLookup(const std::wstring& path) {
    CQzXMLRef map(new CQzXMLBase);
    if (!map->CreateDocument(nullptr) || map->LoadEncipheredFile(path.c_str()) != 0) return false;
    std::vector<CQzXMLRef> nodes;
    DWORD count = 0;
    if (map->SelectNodes(kTermsPath, nodes, &count) != 0) return false;
    wchar_t text[kLangMapTextChars];
    DWORD size = sizeof text;
    return nodes.back()->GetNodeText(L"affid", text, &size) == 0;
}

// MSXML alone: the same document class, loaded from a stream over the plain text, the same selection and attribute.
bool MsxmlLookup(HGLOBAL plain, size_t length) {
    CLSID clsid;
    CLSIDFromString(kDomDocument60Text, &clsid);
    Basalt::ComRef<IXMLDOMDocument> document;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument, document.ReceiveVoid())))
        return false;
    document->put_async(VARIANT_FALSE);
    Basalt::ComRef<IXMLDOMDocument2> document2;
    document->QueryInterface(kIidXmlDomDocument2, document2.ReceiveVoid());
    Basalt::OwnedBstr property(L"SelectionLanguage"), xpath(L"XPath");
    VARIANT language;
    VariantInit(&language);
    language.vt = VT_BSTR;
    language.bstrVal = xpath.Get();
    if (document2) document2->setProperty(property.Get(), language);
    Basalt::ComRef<IStream> stream;
    CreateStreamOnHGlobal(plain, FALSE, stream.Receive());
    ULARGE_INTEGER size;
    size.QuadPart = length;
    stream->SetSize(size);
    VARIANT input;
    VariantInit(&input);
    input.vt = VT_UNKNOWN;
    input.punkVal = stream.Get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (document->load(input, &loaded) != S_OK || !loaded) return false;
    Basalt::ComRef<IXMLDOMElement> root;
    document->get_documentElement(root.Receive());
    Basalt::OwnedBstr query(kTermsPath);
    Basalt::ComRef<IXMLDOMNodeList> list;
    if (FAILED(root->selectNodes(query.Get(), list.Receive()))) return false;
    LONG count = 0;
    list->get_length(&count);
    Basalt::ComRef<IXMLDOMNode> last;
    list->get_item(count - 1, last.Receive());
    Basalt::ComRef<IXMLDOMElement> element;
    last->QueryInterface(kIidXmlDomElement, element.ReceiveVoid());
    Basalt::OwnedBstr name(L"affid");
    Basalt::OwnedVariant value;
    return element && element->getAttribute(name.Get(), value.Get()) == S_OK;
}

}  // namespace

int main() {
    const std::string xml = HundredKiBMap();
    const std::string file = testsupport::EncipheredLangMap(xml);
    const std::wstring path = WriteMapFile(file);
    std::printf("map: %zu bytes of XML, %zu bytes enciphered\n", xml.size(), file.size());
    CoInitialize(nullptr);  // held for the run, as the readers' own initialisations nest in a caller's apartment

    bool ok = true;
    const bench::Figures welkin = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) ok &= WelkinLookup(path);
    }, 5, 15, 3);
    bench::Report("welkin: load + query of the 100 KiB enciphered map", welkin);

    HGLOBAL plain = GlobalAlloc(GMEM_MOVEABLE, xml.size());
    memcpy(GlobalLock(plain), xml.data(), xml.size());
    GlobalUnlock(plain);
    const bench::Figures msxml = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) ok &= MsxmlLookup(plain, xml.size());
    }, 5, 15, 3);
    bench::Report("floor: MSXML alone, same load + query from memory", msxml);
    GlobalFree(plain);

    std::vector<std::uint8_t> out(file.size());
    const bench::Figures checks = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            const auto* body = reinterpret_cast<const std::uint8_t*>(file.data()) + kLangMapHeaderSize;
            std::uint8_t digest[Basalt::kMd5Size];
            ok &= ComputeMD5(body, file.size() - kLangMapHeaderSize, digest, sizeof digest) == 0;
            ok &= RegValueScrambler(kLangMapKey, kLangMapKeyLength, 1).Transform(body, out.data(),
                                                                                  file.size() - kLangMapHeaderSize);
        }
    }, 20, 15, 3);
    bench::Report("MD5 check + decipher of the body alone", checks);

    bench::ReportValue("welkin load + query (median)", welkin.medianNs / 1e6, "ms");
    bench::ReportValue("MSXML floor (median)", msxml.medianNs / 1e6, "ms");
    bench::ReportValue("share outside MSXML (1 - floor / welkin)", 100.0 * (1.0 - msxml.medianNs / welkin.medianNs), "%");
    bench::ReportValue("MD5 + decipher share of welkin's time", 100.0 * checks.medianNs / welkin.medianNs, "%");
    CoUninitialize();
    DeleteFileW(path.c_str());
    return ok ? 0 : 1;
}
