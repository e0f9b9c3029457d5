#include "foundation/basalt/RegValueCodec.h"

#include "foundation/basalt/CodePageText.h"
#include "foundation/basalt/RecordValue.h"
#include "foundation/basalt/RegStringPayload.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// Records of this codec keep their text in the thread's ANSI code page.
constexpr Basalt::RecordValueForm kRecordForm = {CP_THREAD_ACP, 500};

bool IsPlainText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

DWORD ReadPlainConverted(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    const DWORD callerSize = size != nullptr ? *size : 0;
    DWORD valueType = REG_NONE;
    LONG rc = RegQueryValueExA(key, name, nullptr, &valueType, data, size);
    if (type != nullptr) *type = valueType;
    if (!IsPlainText(valueType) || size == nullptr || *size == 0 || (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA))
        return static_cast<DWORD>(rc);

    std::vector<char> stored(*size);
    *size = callerSize;
    if (data != nullptr) std::memset(data, 0, callerSize);
    DWORD length = static_cast<DWORD>(stored.size());
    rc = RegQueryValueExA(key, name, nullptr, &valueType, reinterpret_cast<BYTE*>(stored.data()), &length);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    return Basalt::WidenStringPayload(CP_THREAD_ACP, valueType == REG_MULTI_SZ, stored.data(), length, data, size);
}

DWORD WritePlain(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size, bool convert) {
    if (!convert || !IsPlainText(type) || data == nullptr || size == 0)
        return static_cast<DWORD>(RegSetValueExA(key, name, 0, type, data, size));
    std::string stored;
    const DWORD rc = Basalt::NarrowStringPayload(CP_THREAD_ACP, type == REG_MULTI_SZ, data, size, stored);
    if (rc != ERROR_SUCCESS) return rc;
    return static_cast<DWORD>(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(stored.data()),
                                             static_cast<DWORD>(stored.size())));
}

}  // namespace

REGSAM QzRegViewAccess(DWORD flags, REGSAM rights) {
    if (flags & kQzRegView32) return rights | KEY_WOW64_32KEY;
    if (flags & kQzRegView64) return rights | KEY_WOW64_64KEY;
    return rights;
}

DWORD ReadScrambledRegValue(const Basalt::RegKeyHolder& holder, const char* name, DWORD* type, BYTE* data,
                            DWORD* size, DWORD flags, bool convert) {
    if (holder.Status() != ERROR_SUCCESS) return holder.Status();
    if (flags & kQzRegRecord)
        return Basalt::ReadRecordValue(holder.Key(), name, type, data, size, kRecordForm, convert);
    try {
        if (convert) return ReadPlainConverted(holder.Key(), name, type, data, size);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    return static_cast<DWORD>(RegQueryValueExA(holder.Key(), name, nullptr, type, data, size));
}

DWORD WriteScrambledRegValue(const Basalt::RegKeyHolder& holder, const char* name, DWORD type, const BYTE* data,
                             DWORD size, DWORD flags, bool convert) {
    if (holder.Status() != ERROR_SUCCESS) return holder.Status();
    if (flags & kQzRegRecord)
        return Basalt::WriteRecordValue(holder.Key(), name, type, data, size, kRecordForm, convert);
    try {
        return WritePlain(holder.Key(), name, type, data, size, convert);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

DWORD QzRegReadValueExW(HKEY root, const wchar_t* path, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size,
                        DWORD flags) {
    DWORD rc;
    try {
        std::string pathText, nameText;
        const char* ansiPath;
        const char* ansiName;
        if ((rc = Basalt::ToOptionalAnsi(CP_THREAD_ACP, path, pathText, ansiPath)) != ERROR_SUCCESS) return rc;
        if ((rc = Basalt::ToOptionalAnsi(CP_THREAD_ACP, name, nameText, ansiName)) != ERROR_SUCCESS) return rc;
        Basalt::RegKeyHolder holder;
        rc = static_cast<DWORD>(holder.Open(root, ansiPath, QzRegViewAccess(flags, KEY_READ)));
        if (rc == ERROR_SUCCESS) rc = ReadScrambledRegValue(holder, ansiName, type, data, size, flags, true);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    return rc == ERROR_INSUFFICIENT_BUFFER ? ERROR_MORE_DATA : rc;
}
