#include "foundation/basalt/RegKey.h"

#include <objbase.h>
#include <shlwapi.h>

#include <new>
#include <vector>

#include "foundation/basalt/KeyAccessGrant.h"
#include "foundation/basalt/ProcAddress.h"

namespace Basalt {

namespace internal {

namespace {

constexpr REGSAM kViewMask = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
constexpr DWORD kSubkeyNameChars = 256;

using RegDeleteKeyExWFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

RegDeleteKeyExWFn RegDeleteKeyEx() {
    static const RegDeleteKeyExWFn found =
        GetProcAddressAs<RegDeleteKeyExWFn>(GetModuleHandleW(L"Advapi32.dll"), "RegDeleteKeyExW");
    return found;
}

}  // namespace

CRegKeyImpl::~CRegKeyImpl() { CRegKeyImpl::Close(); }

LONG CRegKeyImpl::QueryValue(const wchar_t* name, DWORD* type, void* data, ULONG* size) {
    return RegQueryValueExW(key_, name, nullptr, type, static_cast<BYTE*>(data), size);
}

LONG CRegKeyImpl::SetValue(const wchar_t* name, DWORD type, const void* data, ULONG size) {
    if (!data || size == 0) return ERROR_INVALID_PARAMETER;
    return RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG CRegKeyImpl::SetGUIDValue(const wchar_t* name, REFGUID value) {
    wchar_t text[64] = {};
    StringFromGUID2(value, text, 64);
    return SetStringValue(name, text, REG_SZ);
}

LONG CRegKeyImpl::SetBinaryValue(const wchar_t* name, const void* data, ULONG size) {
    return SetValue(name, REG_BINARY, data, size);
}

LONG CRegKeyImpl::SetDWORDValue(const wchar_t* name, DWORD value) {
    return SetValue(name, REG_DWORD, &value, sizeof value);
}

LONG CRegKeyImpl::SetQWORDValue(const wchar_t* name, ULONGLONG value) {
    return SetValue(name, REG_QWORD, &value, sizeof value);
}

LONG CRegKeyImpl::SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type) {
    if (!text) return ERROR_INVALID_DATA;
    return SetValue(name, type, text, static_cast<ULONG>((wcslen(text) + 1) * sizeof(wchar_t)));
}

LONG CRegKeyImpl::SetMultiStringValue(const wchar_t* name, const wchar_t* strings) {
    if (!strings) return ERROR_INVALID_DATA;
    ULONG size = 0;
    for (const wchar_t* p = strings;;) {
        const size_t length = wcslen(p);
        size += static_cast<ULONG>((length + 1) * sizeof(wchar_t));
        if (length == 0) break;
        p += length + 1;
    }
    return SetValue(name, REG_MULTI_SZ, strings, size);
}

LONG CRegKeyImpl::QueryGUIDValue(const wchar_t* name, GUID& value) {
    value = GUID{};
    wchar_t text[64] = {};
    ULONG count = 64;
    const LONG result = QueryStringValue(name, text, &count);
    if (result != ERROR_SUCCESS) return result;
    if (text[0] != L'{' || FAILED(CLSIDFromString(text, &value))) {
        value = GUID{};
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryBinaryValue(const wchar_t* name, void* data, ULONG* size) {
    return QueryTyped(name, REG_BINARY, data, size);
}

// A value of another type is refused as such even when it would not have fit the caller's buffer.
LONG CRegKeyImpl::QueryTyped(const wchar_t* name, DWORD wanted, void* data, ULONG* size) {
    if (!key_) return ERROR_INVALID_PARAMETER;
    DWORD type = 0;
    const LONG result = QueryValue(name, &type, data, size);
    if ((result == ERROR_SUCCESS || result == ERROR_MORE_DATA) && type != wanted) return ERROR_INVALID_DATA;
    return result;
}

LONG CRegKeyImpl::QueryDWORDValue(const wchar_t* name, DWORD& value) {
    ULONG size = sizeof value;
    return QueryTyped(name, REG_DWORD, &value, &size);
}

LONG CRegKeyImpl::QueryQWORDValue(const wchar_t* name, ULONGLONG& value) {
    ULONG size = sizeof value;
    return QueryTyped(name, REG_QWORD, &value, &size);
}

LONG CRegKeyImpl::QueryStringValue(const wchar_t* name, std::wstring& text) {
    ULONG count = 0;
    LONG result = QueryStringValue(name, nullptr, &count);
    if (result != ERROR_SUCCESS) return result;
    // One character more than reported: an odd stored size then reads as malformed instead of "more data".
    std::vector<wchar_t> buffer;
    try {
        buffer.assign(count + 1, L'\0');
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    count = static_cast<ULONG>(buffer.size());
    result = QueryStringValue(name, buffer.data(), &count);
    if (result != ERROR_SUCCESS) return result;
    text.assign(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* count) {
    if (!key_ || !count) return ERROR_INVALID_PARAMETER;
    const ULONG capacity = *count;
    ULONG size = capacity * sizeof(wchar_t);
    *count = 0;
    DWORD type = 0;
    const LONG result = QueryValue(name, &type, buffer, &size);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    if (buffer) {
        if (size == 0) {
            if (capacity > 0) buffer[0] = L'\0';
        } else if (size % sizeof(wchar_t) != 0 || buffer[size / sizeof(wchar_t) - 1] != L'\0') {
            return ERROR_INVALID_DATA;
        }
    }
    *count = size / sizeof(wchar_t);
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, ULONG* count) {
    if (!count) return ERROR_INVALID_PARAMETER;
    if (buffer && *count < 2) return ERROR_INSUFFICIENT_BUFFER;
    ULONG size = *count * sizeof(wchar_t);
    *count = 0;
    DWORD type = 0;
    const LONG result = QueryValue(name, &type, buffer, &size);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_MULTI_SZ) return ERROR_INVALID_DATA;
    if (buffer) {
        const ULONG chars = size / sizeof(wchar_t);
        if (size % sizeof(wchar_t) != 0 || size < 2 || buffer[chars - 1] != L'\0' ||
            (chars >= 2 && buffer[chars - 2] != L'\0'))
            return ERROR_INVALID_DATA;
    }
    *count = size / sizeof(wchar_t);
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, DWORD* size) {
    if (!key_ || !descriptor) return ERROR_INVALID_PARAMETER;
    return RegGetKeySecurity(key_, information, descriptor, size);
}

LONG CRegKeyImpl::SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor) {
    if (!key_ || !descriptor) return ERROR_INVALID_PARAMETER;
    return RegSetKeySecurity(key_, information, descriptor);
}

LONG CRegKeyImpl::Take(HKEY key, REGSAM access) {
    const LONG closed = Close();
    key_ = key;
    viewBits_ = access & kViewMask;
    deleteOnClose_ = false;
    return closed;
}

LONG CRegKeyImpl::Create(HKEY parent, const wchar_t* subkey, wchar_t* className, DWORD options, REGSAM access,
                         LPSECURITY_ATTRIBUTES security, DWORD* disposition) {
    HKEY created = nullptr;
    DWORD how = 0;
    const LONG result = RegCreateKeyExW(parent, subkey, 0, className, options, access, security, &created, &how);
    if (disposition) *disposition = how;
    if (result != ERROR_SUCCESS) return result;
    return Take(created, access);
}

LONG CRegKeyImpl::Open(HKEY parent, const wchar_t* subkey, REGSAM access) {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExW(parent, subkey, 0, access, &opened);
    if (result != ERROR_SUCCESS) return result;
    return Take(opened, access);
}

LONG CRegKeyImpl::Close() {
    if (!key_) {
        viewBits_ = 0;
        return ERROR_SUCCESS;
    }
    if (deleteOnClose_) {
        SHDeleteKeyW(key_, L"");
        deleteOnClose_ = false;
    }
    const LONG result = RegCloseKey(key_);
    key_ = nullptr;
    viewBits_ = 0;
    return result;
}

LONG CRegKeyImpl::Flush() {
    if (!key_) return ERROR_INVALID_PARAMETER;
    return RegFlushKey(key_);
}

HKEY CRegKeyImpl::Detach() {
    HKEY key = key_;
    key_ = nullptr;
    viewBits_ = 0;
    deleteOnClose_ = false;
    return key;
}

void CRegKeyImpl::Attach(HKEY key) {
    key_ = key;
    viewBits_ = 0;
    deleteOnClose_ = false;
}

LONG CRegKeyImpl::EnumKey(DWORD index, wchar_t* name, DWORD* nameLength, FILETIME* lastWrite) {
    if (!key_) return ERROR_INVALID_PARAMETER;
    FILETIME unused{};
    return RegEnumKeyExW(key_, index, name, nameLength, nullptr, nullptr, nullptr, lastWrite ? lastWrite : &unused);
}

LONG CRegKeyImpl::NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous) {
    if (!key_) return ERROR_INVALID_PARAMETER;
    return ::RegNotifyChangeKeyValue(key_, watchSubtree, filter, event, asynchronous);
}

LONG CRegKeyImpl::DeleteSubKey(const wchar_t* name) {
    if (!key_ || !name) return ERROR_INVALID_PARAMETER;
    if (RegDeleteKeyExWFn deleteEx = RegDeleteKeyEx()) return deleteEx(key_, name, viewBits_, 0);
    return RegDeleteKeyW(key_, name);
}

LONG CRegKeyImpl::DeleteSubKeyTree(const wchar_t* name) {
    if (!key_) return ERROR_INVALID_PARAMETER;
    CRegKeyImpl subkey;
    LONG result = subkey.Open(key_, name, viewBits_ | KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
    if (result != ERROR_SUCCESS) return result;
    for (;;) {
        wchar_t child[kSubkeyNameChars] = {};
        DWORD length = kSubkeyNameChars;
        if (subkey.EnumKey(0, child, &length, nullptr) != ERROR_SUCCESS) break;
        result = subkey.DeleteSubKeyTree(child);
        if (result != ERROR_SUCCESS) return result;
    }
    subkey.Close();
    return DeleteSubKey(name);
}

LONG CRegKeyImpl::DeleteValue(const wchar_t* name) {
    if (!key_ || !name) return ERROR_INVALID_PARAMETER;
    return RegDeleteValueW(key_, name);
}

LONG CRegKeyImpl::GrantKeyFullAccess(bool recurse) {
    if (!key_) return ERROR_INVALID_PARAMETER;
    AdvapiTable table;
    return GrantKeyFullAccessWith(table, key_, recurse);
}

void CRegKeyImpl::SetDeleteOnClose(bool deleteOnClose) { deleteOnClose_ = deleteOnClose; }

bool CRegKeyImpl::GetDeleteOnClose() { return deleteOnClose_; }

}  // namespace internal

CRegKey::CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl)
    : impl_(impl ? std::move(impl) : std::make_shared<internal::CRegKeyImpl>()) {}

CRegKey::~CRegKey() { impl_->Close(); }

LONG CRegKey::QueryValue(const wchar_t* name, DWORD* type, void* data, ULONG* size) {
    return impl_->QueryValue(name, type, data, size);
}
LONG CRegKey::SetValue(const wchar_t* name, DWORD type, const void* data, ULONG size) {
    return impl_->SetValue(name, type, data, size);
}
LONG CRegKey::SetGUIDValue(const wchar_t* name, REFGUID value) { return impl_->SetGUIDValue(name, value); }
LONG CRegKey::SetBinaryValue(const wchar_t* name, const void* data, ULONG size) {
    return impl_->SetBinaryValue(name, data, size);
}
LONG CRegKey::SetDWORDValue(const wchar_t* name, DWORD value) { return impl_->SetDWORDValue(name, value); }
LONG CRegKey::SetQWORDValue(const wchar_t* name, ULONGLONG value) { return impl_->SetQWORDValue(name, value); }
LONG CRegKey::SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type) {
    return impl_->SetStringValue(name, text, type);
}
LONG CRegKey::SetMultiStringValue(const wchar_t* name, const wchar_t* strings) {
    return impl_->SetMultiStringValue(name, strings);
}
LONG CRegKey::QueryGUIDValue(const wchar_t* name, GUID& value) { return impl_->QueryGUIDValue(name, value); }
LONG CRegKey::QueryBinaryValue(const wchar_t* name, void* data, ULONG* size) {
    return impl_->QueryBinaryValue(name, data, size);
}
LONG CRegKey::QueryDWORDValue(const wchar_t* name, DWORD& value) { return impl_->QueryDWORDValue(name, value); }
LONG CRegKey::QueryQWORDValue(const wchar_t* name, ULONGLONG& value) { return impl_->QueryQWORDValue(name, value); }
LONG CRegKey::QueryStringValue(const wchar_t* name, std::wstring& text) { return impl_->QueryStringValue(name, text); }
LONG CRegKey::QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* count) {
    return impl_->QueryStringValue(name, buffer, count);
}
LONG CRegKey::QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, ULONG* count) {
    return impl_->QueryMultiStringValue(name, buffer, count);
}
LONG CRegKey::GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, DWORD* size) {
    return impl_->GetKeySecurity(information, descriptor, size);
}
LONG CRegKey::SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor) {
    return impl_->SetKeySecurity(information, descriptor);
}
LONG CRegKey::Create(HKEY parent, const wchar_t* subkey, wchar_t* className, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, DWORD* disposition) {
    return impl_->Create(parent, subkey, className, options, access, security, disposition);
}
LONG CRegKey::Open(HKEY parent, const wchar_t* subkey, REGSAM access) { return impl_->Open(parent, subkey, access); }
LONG CRegKey::Flush() { return impl_->Flush(); }
LONG CRegKey::EnumKey(DWORD index, wchar_t* name, DWORD* nameLength, FILETIME* lastWrite) {
    return impl_->EnumKey(index, name, nameLength, lastWrite);
}
LONG CRegKey::NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous) {
    return impl_->NotifyChangeKeyValue(watchSubtree, filter, event, asynchronous);
}
LONG CRegKey::DeleteSubKey(const wchar_t* name) { return impl_->DeleteSubKey(name); }
LONG CRegKey::DeleteSubKeyTree(const wchar_t* name) { return impl_->DeleteSubKeyTree(name); }
LONG CRegKey::DeleteValue(const wchar_t* name) { return impl_->DeleteValue(name); }
LONG CRegKey::GrantKeyFullAccess(bool recurse) { return impl_->GrantKeyFullAccess(recurse); }

LONG CRegKey::Close() { return impl_->Close(); }
HKEY CRegKey::Detach() { return impl_->Detach(); }
void CRegKey::Attach(HKEY key) { impl_->Attach(key); }
HKEY CRegKey::Key() const { return impl_->Key(); }

}  // namespace Basalt
