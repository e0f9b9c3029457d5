#pragma once
// The language-map documents: enciphered XML files that map an LCID (or an "lcid terms" key) to a language code,
// culture, affiliate id, domain and build key.
//
// File form (little-endian): "LMXM" (u32 0x4D584D4C), 4 bytes not read, u64 body length (= file size - 32), the MD5
// of the enciphered body, then the body: XML text enciphered with the record cipher under the language-map key
// (kLangMapKey, its NUL included, one round).
//
// CQzRefCount: an intrusive reference count changed with interlocked operations; Release deletes at zero.
// CQzXMLBase: one MSXML DOM document (MSXML 6.0, else the version-independent DOMDocument) or a node of one, with
// its own COM initialisation. A loaded object holds the document element; a selection hands out one object per
// node. The destructor releases the node, then the document, and only then ends its COM initialisation.
//
// Codes: 0; 87 bad argument; 13 not a language map (size, magic, length, digest) or a node without the attribute;
// 14 no memory for the file or the deciphered body; 6001 deciphering failed; 1169 no nodes; 8 buffer too small
// (the size says the need) or no memory for the result; 0x8007007A a text that fills the buffer exactly, cut by
// one character; otherwise the failing COM call's HRESULT or the file call's error.
#include <windows.h>
#include <msxml2.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "foundation/basalt/ComRef.h"

// The language-map cipher key; used with its terminating NUL as the 39th key byte.
inline constexpr char kLangMapKey[] = "{5E2B8C17-A4D3-49fe-B821-0C7F3A9E6D54}";
inline constexpr int kLangMapKeyLength = sizeof kLangMapKey;
inline constexpr DWORD kLangMapMagic = 0x4D584D4C;
inline constexpr size_t kLangMapHeaderSize = 32;
inline constexpr DWORD kTextFillsBuffer = 0x8007007A;

class CQzRefCount {
public:
    CQzRefCount() = default;
    CQzRefCount(const CQzRefCount&) = delete;
    CQzRefCount& operator=(const CQzRefCount&) = delete;
    virtual ~CQzRefCount() = default;

    LONG AddRef() { return InterlockedIncrement(&count_); }
    // The count left; the object is gone when it is 0.
    LONG Release() {
        const LONG left = InterlockedDecrement(&count_);
        if (left == 0) delete this;
        return left;
    }

private:
    volatile LONG count_ = 1;
};

struct CQzRefRelease {
    void operator()(CQzRefCount* object) const {
        if (object) object->Release();
    }
};

class CQzXMLBase;
using CQzXMLRef = std::unique_ptr<CQzXMLBase, CQzRefRelease>;

// How a load puts the deciphered memory behind a stream. The default is CreateStreamOnHGlobal without deleting on
// release; tests hand in their own to watch the stream's life.
class CQzXMLStreamSource {
public:
    virtual ~CQzXMLStreamSource() = default;
    virtual HRESULT CreateStream(HGLOBAL memory, IStream** stream);
};

// The calls that make a new document and set it up. The default object makes the real calls; tests hand in their
// own to see them, since how a document parses need not show what it was told.
class CQzXMLDocumentCalls {
public:
    virtual ~CQzXMLDocumentCalls() = default;
    virtual HRESULT CoCreateInstance(REFCLSID clsid, IXMLDOMDocument** document);
    virtual HRESULT put_validateOnParse(IXMLDOMDocument* document, VARIANT_BOOL value);
    virtual HRESULT put_resolveExternals(IXMLDOMDocument* document, VARIANT_BOOL value);
    virtual HRESULT put_async(IXMLDOMDocument* document, VARIANT_BOOL value);
    virtual HRESULT setProperty(IXMLDOMDocument2* document, const wchar_t* name, const VARIANT& value);
};

class CQzXMLBase : public CQzRefCount {
public:
    CQzXMLBase() = default;
    ~CQzXMLBase() override;

    // Initialises COM for this object (a thread already in another apartment model is fine) and takes the node's
    // owner document (with a node) or creates a new synchronous document with XPath selection (without one). A new
    // document never reads anything outside the map (resolveExternals off); an MSXML 6.0 one is told to accept a
    // DOCTYPE (ProhibitDTD off), which the older class does by default.
    BOOL CreateDocument(IXMLDOMNode* node);
    // A new object around a node (count 1); null when its document cannot be had.
    static CQzXMLRef Create(IXMLDOMNode* node);

    // Reads the whole file and loads it; `count` is not used. A file shorter than the header and one byte is 13.
    DWORD LoadEncipheredFile(const wchar_t* path, DWORD count = 0);
    // Checks, deciphers and loads a language map held in memory.
    DWORD LoadEncipheredBuffer(const BYTE* bytes, size_t length);

    // The nodes the XPath selects from this object's node, each wrapped in an object of its own, in order.
    DWORD SelectNodes(const wchar_t* xpath, std::vector<CQzXMLRef>& nodes, DWORD* count);
    // The text of the element's attribute into `out` (`size` in bytes, in/out).
    DWORD GetNodeText(const wchar_t* name, wchar_t* out, DWORD* size);

    // Tests only: the stream maker of the next loads (null: the default).
    void SetStreamSource(CQzXMLStreamSource* source) { streamSource_ = source; }
    // Tests only: the document calls of the next CreateDocument (null: the real ones).
    void SetDocumentCalls(CQzXMLDocumentCalls* calls) { documentCalls_ = calls; }

private:
    BOOL comInitialised_ = FALSE;
    Basalt::ComRef<IXMLDOMDocument> document_;
    Basalt::ComRef<IXMLDOMNode> node_;
    CQzXMLStreamSource* streamSource_ = nullptr;
    CQzXMLDocumentCalls* documentCalls_ = nullptr;
};
