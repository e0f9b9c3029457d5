#include "foundation/basalt/RegValueCodec.h"

#include "foundation/basalt/CodePageText.h"
#include "foundation/basalt/RegStringPayload.h"
#include "foundation/basalt/RegistryRecord.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr DWORD kFirstRawReadSize = 500;

bool IsPlainText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }
bool IsRecordText(DWORD type) { return type == REG_SZ || type == REG_MULTI_SZ; }

// A record's raw REG_BINARY bytes, decoded into the given type, data and size.
DWORD ReadRecordValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    std::vector<BYTE> raw(kFirstRawReadSize);
    DWORD rawType = REG_NONE;
    DWORD rawSize = static_cast<DWORD>(raw.size());
    LONG rc = RegQueryValueExA(key, name, nullptr, &rawType, raw.data(), &rawSize);
    if (rc == ERROR_MORE_DATA) {
        raw.resize(rawSize);
        rc = RegQueryValueExA(key, name, nullptr, &rawType, raw.data(), &rawSize);
    }
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    if (rawType != REG_BINARY) return ERROR_INVALID_DATA;
    return DecodeRegRecord(raw.data(), rawSize, type, data, size);
}

DWORD ReadRecord(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size, bool convert) {
    if (size == nullptr && type == nullptr) return ERROR_INVALID_PARAMETER;
    const DWORD callerSize = size != nullptr ? *size : 0;
    DWORD storedType = REG_NONE;
    DWORD length = 0;
    DWORD rc = ReadRecordValue(key, name, &storedType, nullptr, size != nullptr ? &length : nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != nullptr) *type = storedType;
    if (size == nullptr) return ERROR_SUCCESS;

    // The decoder refuses to decipher an empty payload (6001); it gets a real buffer even then.
    std::vector<BYTE> payload(std::max<DWORD>(length, 1));
    rc = ReadRecordValue(key, name, nullptr, payload.data(), &length);
    if (rc != ERROR_SUCCESS) return rc;
    if (convert && IsRecordText(storedType)) {
        *size = callerSize;
        return Basalt::WidenStringPayload(CP_THREAD_ACP, storedType == REG_MULTI_SZ,
                                          reinterpret_cast<const char*>(payload.data()), length, data, size);
    }
    *size = length;
    if (data == nullptr) return ERROR_SUCCESS;
    if (length > callerSize) return ERROR_MORE_DATA;
    std::memcpy(data, payload.data(), length);
    return ERROR_SUCCESS;
}

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

DWORD StoreRecord(HKEY key, const char* name, DWORD type, const BYTE* payload, DWORD length) {
    std::vector<BYTE> record;
    try {
        if (length > MAXDWORD - Basalt::kRecordHeaderSize) throw std::bad_alloc();
        record.resize(length + Basalt::kRecordHeaderSize);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const DWORD rc = EncodeRegRecord(payload, length, type, record.data(), static_cast<DWORD>(record.size()));
    if (rc != ERROR_SUCCESS) return rc;
    return static_cast<DWORD>(
        RegSetValueExA(key, name, 0, REG_BINARY, record.data(), static_cast<DWORD>(record.size())));
}

DWORD WriteRecord(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size, bool convert) {
    if (data == nullptr || size == 0) return ERROR_INVALID_PARAMETER;
    if (!convert || !IsRecordText(type)) return StoreRecord(key, name, type, data, size);
    std::string stored;
    const DWORD rc = Basalt::NarrowStringPayload(CP_THREAD_ACP, type == REG_MULTI_SZ, data, size, stored);
    if (rc != ERROR_SUCCESS) return rc;
    return StoreRecord(key, name, type, reinterpret_cast<const BYTE*>(stored.data()),
                       static_cast<DWORD>(stored.size()));
}

// A null or empty text stays absent (nullptr); otherwise its ANSI form in `ansi`.
DWORD ToAnsi(const wchar_t* text, std::string& ansi, const char*& converted) {
    converted = nullptr;
    if (text == nullptr || *text == L'\0') return ERROR_SUCCESS;
    DWORD count = 0;
    DWORD rc = WideToAnsi(CP_THREAD_ACP, text, nullptr, &count);
    if (rc != ERROR_SUCCESS) return rc;
    ansi.resize(count);
    rc = WideToAnsi(CP_THREAD_ACP, text, ansi.data(), &count);
    if (rc != ERROR_SUCCESS) return rc;
    converted = ansi.c_str();
    return ERROR_SUCCESS;
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
    try {
        if (flags & kQzRegRecord) return ReadRecord(holder.Key(), name, type, data, size, convert);
        if (convert) return ReadPlainConverted(holder.Key(), name, type, data, size);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    return static_cast<DWORD>(RegQueryValueExA(holder.Key(), name, nullptr, type, data, size));
}

DWORD WriteScrambledRegValue(const Basalt::RegKeyHolder& holder, const char* name, DWORD type, const BYTE* data,
                             DWORD size, DWORD flags, bool convert) {
    if (holder.Status() != ERROR_SUCCESS) return holder.Status();
    try {
        if (flags & kQzRegRecord) return WriteRecord(holder.Key(), name, type, data, size, convert);
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
        if ((rc = ToAnsi(path, pathText, ansiPath)) != ERROR_SUCCESS) return rc;
        if ((rc = ToAnsi(name, nameText, ansiName)) != ERROR_SUCCESS) return rc;
        Basalt::RegKeyHolder holder;
        rc = static_cast<DWORD>(holder.Open(root, ansiPath, QzRegViewAccess(flags, KEY_READ)));
        if (rc == ERROR_SUCCESS) rc = ReadScrambledRegValue(holder, ansiName, type, data, size, flags, true);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    return rc == ERROR_INSUFFICIENT_BUFFER ? ERROR_MORE_DATA : rc;
}
