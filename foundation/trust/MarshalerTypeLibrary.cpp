#include "foundation/trust/MarshalerTypeLibrary.h"

#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "foundation/basalt/ComRef.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/RegKey.h"

namespace {

// A type description's attributes, released with it.
class TypeAttributes {
public:
    explicit TypeAttributes(ITypeInfo* info) : info_(info) {
        if (FAILED(info_->GetTypeAttr(&attributes_))) attributes_ = nullptr;
    }
    TypeAttributes(const TypeAttributes&) = delete;
    TypeAttributes& operator=(const TypeAttributes&) = delete;
    ~TypeAttributes() {
        if (attributes_) info_->ReleaseTypeAttr(attributes_);
    }
    const TYPEATTR* operator->() const { return attributes_; }
    explicit operator bool() const { return attributes_ != nullptr; }

private:
    ITypeInfo* info_;
    TYPEATTR* attributes_ = nullptr;
};

// The description that implementation slot `slot` of `info` refers to.
HRESULT ReferencedType(ITypeInfo* info, UINT slot, Basalt::ComRef<ITypeInfo>& referenced) {
    HREFTYPE reference = 0;
    const HRESULT hr = info->GetRefTypeOfImplType(slot, &reference);
    return FAILED(hr) ? hr : info->GetRefTypeInfo(reference, referenced.Receive());
}

HRESULT BaseInFile(const std::wstring& file, REFIID iid, IID& base) {
    Basalt::ComRef<ITypeLib> library;
    Basalt::ComRef<ITypeInfo> info;
    HRESULT hr = LoadTypeLibEx(file.c_str(), REGKIND_NONE, library.Receive());
    if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(iid, info.Receive());
    if (FAILED(hr)) return hr;
    TYPEKIND kind = TKIND_MAX;
    {
        const TypeAttributes attributes(info.Get());
        if (!attributes) return E_FAIL;
        kind = attributes->typekind;
    }
    if (kind == TKIND_DISPATCH) {
        // Slot -1 of a dual interface is its vtable half; a dispatch interface without one is marshalled as IDispatch.
        Basalt::ComRef<ITypeInfo> dual;
        if (FAILED(ReferencedType(info.Get(), static_cast<UINT>(-1), dual))) {
            base = IID_IDispatch;
            return S_OK;
        }
        info = std::move(dual);
        const TypeAttributes attributes(info.Get());
        if (!attributes) return E_FAIL;
        kind = attributes->typekind;
    }
    if (kind != TKIND_INTERFACE) return TYPE_E_WRONGTYPEKIND;
    Basalt::ComRef<ITypeInfo> parent;
    if (FAILED(hr = ReferencedType(info.Get(), 0, parent))) return hr;
    const TypeAttributes attributes(parent.Get());
    if (!attributes) return E_FAIL;
    base = attributes->guid;
    return S_OK;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    return StringFromGUID2(guid, text, 40) ? std::wstring(text) : std::wstring();
}

// "major.minor" in hexadecimal, each fitting a WORD, and nothing else.
bool ParseVersion(const std::wstring& text, WORD& major, WORD& minor) {
    unsigned int high = 0;
    unsigned int low = 0;
    int used = 0;
    if (swscanf(text.c_str(), L"%x.%x%n", &high, &low, &used) != 2 || static_cast<size_t>(used) != text.size())
        return false;
    if (high > 0xffff || low > 0xffff) return false;
    major = static_cast<WORD>(high);
    minor = static_cast<WORD>(low);
    return true;
}

// The file registered under exactly this library text and version text.
bool LiteralRegisteredFile(const std::wstring& library, const std::wstring& version, std::wstring& file) {
    for (const wchar_t* platform : {L"win64", L"win32"}) {
        Basalt::CRegKey key;
        const std::wstring path = L"TypeLib\\" + library + L"\\" + version + L"\\0\\" + platform;
        if (key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ) != ERROR_SUCCESS) continue;
        return key.QueryStringValue(nullptr, file) == ERROR_SUCCESS;
    }
    return false;
}

}  // namespace

HRESULT ReadMarshalerBaseInterfaces(REFIID iid, std::vector<IID>& bases) {
    bases.clear();
    Basalt::CRegKey entry;
    GUID libraryId = GUID_NULL;
    std::wstring library;
    std::wstring version;
    const std::wstring path = L"Interface\\" + GuidText(iid) + L"\\TypeLib";
    // The library's text as stored, for the path a marshaler builds from it.
    if (entry.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ) != ERROR_SUCCESS ||
        entry.QueryStringValue(nullptr, library) != ERROR_SUCCESS ||
        entry.QueryStringValue(L"Version", version) != ERROR_SUCCESS)
        return REGDB_E_KEYMISSING;
    WORD major = 0;
    WORD minor = 0;
    if (entry.QueryGUIDValue(nullptr, libraryId) != ERROR_SUCCESS || !ParseVersion(version, major, minor))
        return REGDB_E_INVALIDVALUE;
    std::vector<std::wstring> files;
    Basalt::Owned<BSTR, SysFreeString> chosen;
    if (SUCCEEDED(QueryPathOfRegTypeLib(libraryId, major, minor, LOCALE_NEUTRAL, chosen.Receive())) && chosen)
        files.emplace_back(chosen.Get());
    std::wstring literal;
    if (LiteralRegisteredFile(library, version, literal) &&
        std::none_of(files.begin(), files.end(), [&](const std::wstring& known) {
            return CompareStringOrdinal(known.c_str(), -1, literal.c_str(), -1, TRUE) == CSTR_EQUAL;
        }))
        files.push_back(literal);
    if (files.empty()) return TYPE_E_LIBNOTREGISTERED;
    for (const std::wstring& file : files) {
        IID base = GUID_NULL;
        if (const HRESULT hr = BaseInFile(file, iid, base); FAILED(hr)) return hr;
        if (std::none_of(bases.begin(), bases.end(), [&](const IID& known) { return IsEqualIID(known, base); }))
            bases.push_back(base);
    }
    return S_OK;
}
