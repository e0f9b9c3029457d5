#pragma once
// Registry-key handles. internal::CRegKeyImpl owns one open HKEY and works through the wide registry functions;
// Basalt::CRegKey is a thin handle that forwards every operation to a shared implementation (several handles may
// share one). Results are Win32 codes and nothing is logged: 87 for a missing key or argument, 13 for a value of the
// wrong type or a malformed string, 122/234 for short buffers, 14 for memory, the system's codes otherwise.
// A key object is used by one thread at a time.
//
// The typed getters and setters reach the value only through the implementation's virtual QueryValue and
// SetValue, so an implementation that stores values differently (CObfuscatedRegKeyImpl) changes all of them.
#include <windows.h>

#include <memory>
#include <string>

namespace Basalt {

namespace internal {

class CRegKeyImpl {
public:
    CRegKeyImpl() = default;
    CRegKeyImpl(const CRegKeyImpl&) = delete;
    CRegKeyImpl& operator=(const CRegKeyImpl&) = delete;
    virtual ~CRegKeyImpl();

    virtual LONG QueryValue(const wchar_t* name, DWORD* type, void* data, ULONG* size);
    virtual LONG SetValue(const wchar_t* name, DWORD type, const void* data, ULONG size);
    virtual LONG SetGUIDValue(const wchar_t* name, REFGUID value);
    virtual LONG SetBinaryValue(const wchar_t* name, const void* data, ULONG size);
    virtual LONG SetDWORDValue(const wchar_t* name, DWORD value);
    virtual LONG SetQWORDValue(const wchar_t* name, ULONGLONG value);
    virtual LONG SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type);
    // `strings`: NUL-separated strings ending with an empty one.
    virtual LONG SetMultiStringValue(const wchar_t* name, const wchar_t* strings);
    virtual LONG QueryGUIDValue(const wchar_t* name, GUID& value);
    virtual LONG QueryBinaryValue(const wchar_t* name, void* data, ULONG* size);
    virtual LONG QueryDWORDValue(const wchar_t* name, DWORD& value);
    virtual LONG QueryQWORDValue(const wchar_t* name, ULONGLONG& value);
    virtual LONG QueryStringValue(const wchar_t* name, std::wstring& text);
    // *count in characters. Without a buffer it asks for the length only. A stored text must end with its NUL.
    virtual LONG QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* count);
    virtual LONG QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, ULONG* count);
    virtual LONG GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, DWORD* size);
    virtual LONG SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor);
    // On failure the held key stays; on success the held key is closed and replaced (the result is that close's).
    virtual LONG Create(HKEY parent, const wchar_t* subkey, wchar_t* className, DWORD options, REGSAM access,
                        LPSECURITY_ATTRIBUTES security, DWORD* disposition);
    virtual LONG Open(HKEY parent, const wchar_t* subkey, REGSAM access);
    // With delete-on-close set, everything below the key and its values are deleted first.
    virtual LONG Close();
    virtual LONG Flush();
    virtual HKEY Detach();
    // Takes the handle without closing a held one: attach only to an empty implementation.
    virtual void Attach(HKEY key);
    virtual LONG EnumKey(DWORD index, wchar_t* name, DWORD* nameLength, FILETIME* lastWrite);
    virtual LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous);
    // In the registry view the key was opened in.
    virtual LONG DeleteSubKey(const wchar_t* name);
    virtual LONG DeleteSubKeyTree(const wchar_t* name);
    virtual LONG DeleteValue(const wchar_t* name);
    // Adds a full-access grant for Everyone to the key's DACL (and, with recurse, to every key below it).
    virtual LONG GrantKeyFullAccess(bool recurse);
    virtual void SetDeleteOnClose(bool deleteOnClose);
    virtual bool GetDeleteOnClose();

    HKEY Key() const { return key_; }

private:
    LONG Take(HKEY key, REGSAM access);
    LONG QueryTyped(const wchar_t* name, DWORD wanted, void* data, ULONG* size);

    HKEY key_ = nullptr;
    REGSAM viewBits_ = 0;  // KEY_WOW64_64KEY / KEY_WOW64_32KEY of the last Open or Create
    bool deleteOnClose_ = false;
};

}  // namespace internal

class CRegKey {
public:
    // An empty pointer is replaced by a new plain implementation.
    explicit CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl = nullptr);
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    // Closes through the implementation, then drops the shared reference.
    virtual ~CRegKey();

    virtual LONG QueryValue(const wchar_t* name, DWORD* type, void* data, ULONG* size);
    virtual LONG SetValue(const wchar_t* name, DWORD type, const void* data, ULONG size);
    virtual LONG SetGUIDValue(const wchar_t* name, REFGUID value);
    virtual LONG SetBinaryValue(const wchar_t* name, const void* data, ULONG size);
    virtual LONG SetDWORDValue(const wchar_t* name, DWORD value);
    virtual LONG SetQWORDValue(const wchar_t* name, ULONGLONG value);
    virtual LONG SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type = REG_SZ);
    virtual LONG SetMultiStringValue(const wchar_t* name, const wchar_t* strings);
    virtual LONG QueryGUIDValue(const wchar_t* name, GUID& value);
    virtual LONG QueryBinaryValue(const wchar_t* name, void* data, ULONG* size);
    virtual LONG QueryDWORDValue(const wchar_t* name, DWORD& value);
    virtual LONG QueryQWORDValue(const wchar_t* name, ULONGLONG& value);
    virtual LONG QueryStringValue(const wchar_t* name, std::wstring& text);
    virtual LONG QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* count);
    virtual LONG QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, ULONG* count);
    virtual LONG GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, DWORD* size);
    virtual LONG SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor);
    virtual LONG Create(HKEY parent, const wchar_t* subkey, wchar_t* className = nullptr,
                        DWORD options = REG_OPTION_NON_VOLATILE, REGSAM access = KEY_READ | KEY_WRITE,
                        LPSECURITY_ATTRIBUTES security = nullptr, DWORD* disposition = nullptr);
    virtual LONG Open(HKEY parent, const wchar_t* subkey, REGSAM access = KEY_READ | KEY_WRITE);
    virtual LONG Flush();
    virtual LONG EnumKey(DWORD index, wchar_t* name, DWORD* nameLength, FILETIME* lastWrite = nullptr);
    virtual LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous = TRUE);
    virtual LONG DeleteSubKey(const wchar_t* name);
    virtual LONG DeleteSubKeyTree(const wchar_t* name);
    virtual LONG DeleteValue(const wchar_t* name);
    virtual LONG GrantKeyFullAccess(bool recurse);

    LONG Close();
    HKEY Detach();
    void Attach(HKEY key);
    HKEY Key() const;

protected:
    internal::CRegKeyImpl& Impl() const { return *impl_; }

private:
    std::shared_ptr<internal::CRegKeyImpl> impl_;
};

}  // namespace Basalt
