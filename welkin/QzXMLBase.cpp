#include "welkin/QzXMLBase.h"

#include <cstring>
#include <new>

#include "foundation/basalt/Md5.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/RegValueScrambler.h"
#include "welkin/MsxmlIds.h"

namespace {

constexpr DWORD kAnyContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

std::uint32_t ReadU32(const BYTE* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

std::uint64_t ReadU64(const BYTE* at) {
    std::uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void FreeGlobal(HGLOBAL memory) { GlobalFree(memory); }
using GlobalMemory = Basalt::Owned<HGLOBAL, FreeGlobal>;

// A document of the class named by the text; null when the class cannot be made.
IXMLDOMDocument* CreateDocumentOf(CQzXMLDocumentCalls& calls, const wchar_t* classText, bool& badText) {
    CLSID clsid;
    if (FAILED(CLSIDFromString(classText, &clsid))) {
        badText = true;
        return nullptr;
    }
    IXMLDOMDocument* document = nullptr;
    if (FAILED(calls.CoCreateInstance(clsid, &document))) return nullptr;
    return document;
}

}  // namespace

HRESULT CQzXMLDocumentCalls::CoCreateInstance(REFCLSID clsid, IXMLDOMDocument** document) {
    return ::CoCreateInstance(clsid, nullptr, kAnyContext, kIidXmlDomDocument, reinterpret_cast<void**>(document));
}

HRESULT CQzXMLDocumentCalls::put_validateOnParse(IXMLDOMDocument* document, VARIANT_BOOL value) {
    return document->put_validateOnParse(value);
}

HRESULT CQzXMLDocumentCalls::put_resolveExternals(IXMLDOMDocument* document, VARIANT_BOOL value) {
    return document->put_resolveExternals(value);
}

HRESULT CQzXMLDocumentCalls::put_async(IXMLDOMDocument* document, VARIANT_BOOL value) {
    return document->put_async(value);
}

HRESULT CQzXMLDocumentCalls::setProperty(IXMLDOMDocument2* document, const wchar_t* name, const VARIANT& value) {
    Basalt::OwnedBstr property(name);
    return document->setProperty(property.Get(), value);
}

HRESULT CQzXMLStreamSource::CreateStream(HGLOBAL memory, IStream** stream) {
    return CreateStreamOnHGlobal(memory, FALSE, stream);
}

CQzXMLBase::~CQzXMLBase() {
    node_.Reset();
    document_.Reset();
    if (comInitialised_) CoUninitialize();
}

BOOL CQzXMLBase::CreateDocument(IXMLDOMNode* node) {
    const HRESULT initialised = CoInitialize(nullptr);
    if (SUCCEEDED(initialised)) {
        comInitialised_ = TRUE;
    } else if (initialised == RPC_E_CHANGED_MODE) {
        comInitialised_ = FALSE;
    } else {
        return FALSE;
    }

    if (node) {
        node->AddRef();
        node_.Reset(node);
        return SUCCEEDED(node->get_ownerDocument(document_.Receive())) && document_;
    }

    CQzXMLDocumentCalls realCalls;
    CQzXMLDocumentCalls& calls = documentCalls_ ? *documentCalls_ : realCalls;
    bool badText = false;
    bool msxml60 = false;
    // The version-independent class is asked twice: a first failure of a freshly started server may pass.
    for (const wchar_t* classText : {kDomDocument60Text, kDomDocumentText, kDomDocumentText}) {
        document_.Reset(CreateDocumentOf(calls, classText, badText));
        if (badText) return FALSE;
        if (document_) {
            msxml60 = classText == kDomDocument60Text;
            break;
        }
    }
    if (!document_) return FALSE;

    calls.put_validateOnParse(document_.Get(), VARIANT_TRUE);
    calls.put_resolveExternals(document_.Get(), VARIANT_FALSE);
    calls.put_async(document_.Get(), VARIANT_FALSE);
    Basalt::ComRef<IXMLDOMDocument2> document2;
    if (SUCCEEDED(document_->QueryInterface(kIidXmlDomDocument2, document2.ReceiveVoid())) && document2) {
        Basalt::OwnedBstr xpath(L"XPath");
        VARIANT language;
        VariantInit(&language);
        language.vt = VT_BSTR;
        language.bstrVal = xpath.Get();
        calls.setProperty(document2.Get(), L"SelectionLanguage", language);
        // MSXML 6.0 refuses a map that declares its document type unless told otherwise.
        if (msxml60) {
            VARIANT allowed;
            VariantInit(&allowed);
            allowed.vt = VT_BOOL;
            allowed.boolVal = VARIANT_FALSE;
            calls.setProperty(document2.Get(), L"ProhibitDTD", allowed);
        }
    }
    return TRUE;
}

CQzXMLRef CQzXMLBase::Create(IXMLDOMNode* node) {
    CQzXMLRef object(new (std::nothrow) CQzXMLBase);
    if (!object || !object->CreateDocument(node)) return nullptr;
    return object;
}

DWORD CQzXMLBase::LoadEncipheredFile(const wchar_t* path, DWORD) {
    if (!path) return ERROR_INVALID_PARAMETER;
    const HANDLE opened = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return GetLastError();
    const Basalt::KernelHandle file(opened);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size)) return GetLastError();
    // Too short to hold a header and a body: refused outright (the last error of a good open says nothing).
    if (size.QuadPart <= static_cast<LONGLONG>(kLangMapHeaderSize)) return ERROR_INVALID_DATA;
    if (size.QuadPart > MAXDWORD) return ERROR_OUTOFMEMORY;
    const DWORD length = static_cast<DWORD>(size.QuadPart);
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[length]);
    if (!bytes) return ERROR_OUTOFMEMORY;
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.get(), length, &read, nullptr) || read != length) {
        const DWORD error = GetLastError();
        return error != 0 ? error : ERROR_HANDLE_EOF;
    }
    return LoadEncipheredBuffer(bytes.get(), length);
}

DWORD CQzXMLBase::LoadEncipheredBuffer(const BYTE* bytes, size_t length) {
    if (!bytes || length < kLangMapHeaderSize) return ERROR_INVALID_PARAMETER;
    const std::uint64_t bodyLength = ReadU64(bytes + 8);
    if (bodyLength == 0) return ERROR_INVALID_DATA;
    const BYTE* body = bytes + kLangMapHeaderSize;
    const size_t actualBody = length - kLangMapHeaderSize;
    BYTE digest[Basalt::kMd5Size];
    if (ComputeMD5(body, actualBody, digest, sizeof digest) != 0 || std::memcmp(digest, bytes + 16, sizeof digest) != 0 ||
        bodyLength != actualBody || ReadU32(bytes) != kLangMapMagic)
        return ERROR_INVALID_DATA;
    if (!document_) return ERROR_INVALID_PARAMETER;

    // Declared before the stream: the stream goes first, then the memory under it.
    GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, actualBody));
    if (!memory) return ERROR_OUTOFMEMORY;
    BYTE* plain = static_cast<BYTE*>(GlobalLock(memory.Get()));
    if (!plain) return ERROR_OUTOFMEMORY;
    const bool deciphered = RegValueScrambler(kLangMapKey, kLangMapKeyLength, 1).Transform(body, plain, actualBody);
    GlobalUnlock(memory.Get());
    if (!deciphered) return 6001;

    Basalt::ComRef<IStream> stream;
    CQzXMLStreamSource defaultSource;
    CQzXMLStreamSource& source = streamSource_ ? *streamSource_ : defaultSource;
    HRESULT hr = source.CreateStream(memory.Get(), stream.Receive());
    if (hr != S_OK) return static_cast<DWORD>(hr);
    if (!stream) return static_cast<DWORD>(E_POINTER);
    ULARGE_INTEGER streamSize;
    streamSize.QuadPart = actualBody;
    hr = stream->SetSize(streamSize);
    if (hr != S_OK) return static_cast<DWORD>(hr);

    VARIANT input;
    VariantInit(&input);
    input.vt = VT_UNKNOWN;
    input.punkVal = stream.Get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document_->load(input, &loaded);
    if (hr != S_OK) return static_cast<DWORD>(hr);
    // A document that did not load, or has no element, is no language map (never a success without a node).
    if (loaded != VARIANT_TRUE) return ERROR_INVALID_DATA;
    Basalt::ComRef<IXMLDOMElement> element;
    hr = document_->get_documentElement(element.Receive());
    if (hr != S_OK) return hr == S_FALSE ? ERROR_INVALID_DATA : static_cast<DWORD>(hr);
    if (!element) return ERROR_INVALID_DATA;
    node_.Reset(element.Detach());
    return 0;
}

DWORD CQzXMLBase::SelectNodes(const wchar_t* xpath, std::vector<CQzXMLRef>& nodes, DWORD* count) {
    if (!xpath || !count) return ERROR_INVALID_PARAMETER;
    if (!node_) return ERROR_INVALID_DATA;
    *count = 0;
    Basalt::OwnedBstr query(xpath);
    Basalt::ComRef<IXMLDOMNodeList> list;
    if (FAILED(node_->selectNodes(query.Get(), list.Receive())) || !list) return ERROR_INVALID_DATA;
    LONG length = 0;
    if (FAILED(list->get_length(&length)) || length <= 0) return ERROR_NO_MATCH;
    std::vector<CQzXMLRef> wrapped;
    try {
        for (LONG index = 0; index < length; ++index) {
            Basalt::ComRef<IXMLDOMNode> item;
            if (FAILED(list->get_item(index, item.Receive())) || !item) continue;
            if (CQzXMLRef object = Create(item.Get())) wrapped.push_back(std::move(object));
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (wrapped.empty()) return ERROR_NO_MATCH;
    *count = static_cast<DWORD>(wrapped.size());
    nodes = std::move(wrapped);
    return 0;
}

DWORD CQzXMLBase::GetNodeText(const wchar_t* name, wchar_t* out, DWORD* size) {
    if (!name || !size) return ERROR_INVALID_PARAMETER;
    if (!node_) return ERROR_INVALID_DATA;
    DOMNodeType type = NODE_INVALID;
    if (FAILED(node_->get_nodeType(&type)) || type != NODE_ELEMENT) return ERROR_INVALID_DATA;
    Basalt::ComRef<IXMLDOMElement> element;
    if (FAILED(node_->QueryInterface(kIidXmlDomElement, element.ReceiveVoid())) || !element) return ERROR_INVALID_DATA;
    Basalt::OwnedBstr attribute(name);
    Basalt::OwnedVariant value;
    if (element->getAttribute(attribute.Get(), value.Get()) != S_OK) return ERROR_INVALID_DATA;
    if ((*value).vt == VT_NULL || (*value).vt == VT_EMPTY) return ERROR_INVALID_DATA;
    if (FAILED(VariantChangeType(value.Get(), value.Get(), 0, VT_BSTR)) || !(*value).bstrVal) return ERROR_INVALID_DATA;
    const BSTR text = (*value).bstrVal;
    const DWORD length = SysStringLen(text);
    if (length == 0) return ERROR_INVALID_DATA;
    const DWORD capacity = *size / sizeof(wchar_t);
    if (!out || capacity < length) {
        *size = length * sizeof(wchar_t) + sizeof(wchar_t);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const DWORD copied = length < capacity ? length : capacity - 1;
    std::memcpy(out, text, copied * sizeof(wchar_t));
    out[copied] = L'\0';
    return copied < length ? kTextFillsBuffer : 0;
}
