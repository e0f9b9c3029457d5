#include "foundation/basalt/RecordValue.h"

#include "foundation/basalt/RegStringPayload.h"
#include "foundation/basalt/RegistryRecord.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace Basalt {

namespace {

bool IsRecordText(DWORD type) { return type == REG_SZ || type == REG_MULTI_SZ; }

// The raw REG_BINARY bytes, decoded into the given type, data and size.
DWORD DecodeStoredRecord(HKEY key, const char* name, DWORD firstReadSize, DWORD* type, BYTE* data, DWORD* size) {
    std::vector<BYTE> raw(firstReadSize);
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

DWORD ReadRecord(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size, const RecordValueForm& form,
                 bool convert) {
    const DWORD callerSize = size != nullptr ? *size : 0;
    DWORD storedType = REG_NONE;
    DWORD length = 0;
    DWORD rc = DecodeStoredRecord(key, name, form.firstReadSize, &storedType, nullptr,
                                  size != nullptr ? &length : nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != nullptr) *type = storedType;
    if (size == nullptr) return ERROR_SUCCESS;

    // The decoder refuses to decipher an empty payload (6001); it gets a real buffer even then.
    std::vector<BYTE> payload(std::max<DWORD>(length, 1));
    rc = DecodeStoredRecord(key, name, form.firstReadSize, nullptr, payload.data(), &length);
    if (rc != ERROR_SUCCESS) return rc;
    if (convert && IsRecordText(storedType)) {
        *size = callerSize;
        return WidenStringPayload(form.codePage, storedType == REG_MULTI_SZ,
                                  reinterpret_cast<const char*>(payload.data()), length, data, size);
    }
    *size = length;
    if (data == nullptr) return ERROR_SUCCESS;
    if (length > callerSize) return ERROR_MORE_DATA;
    std::memcpy(data, payload.data(), length);
    return ERROR_SUCCESS;
}

DWORD StoreRecord(HKEY key, const char* name, DWORD type, const BYTE* payload, DWORD length) {
    std::vector<BYTE> record;
    try {
        if (length > MAXDWORD - kRecordHeaderSize) throw std::bad_alloc();
        record.resize(length + kRecordHeaderSize);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const DWORD rc = EncodeRegRecord(payload, length, type, record.data(), static_cast<DWORD>(record.size()));
    if (rc != ERROR_SUCCESS) return rc;
    return static_cast<DWORD>(
        RegSetValueExA(key, name, 0, REG_BINARY, record.data(), static_cast<DWORD>(record.size())));
}

}  // namespace

DWORD ReadRecordValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size, const RecordValueForm& form,
                      bool convert) {
    if (size == nullptr && type == nullptr) return ERROR_INVALID_PARAMETER;
    try {
        return ReadRecord(key, name, type, data, size, form, convert);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

DWORD WriteRecordValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size,
                       const RecordValueForm& form, bool convert) {
    if (data == nullptr || size == 0) return ERROR_INVALID_PARAMETER;
    if (!convert || !IsRecordText(type)) return StoreRecord(key, name, type, data, size);
    std::string stored;
    try {
        const DWORD rc = NarrowStringPayload(form.codePage, type == REG_MULTI_SZ, data, size, stored);
        if (rc != ERROR_SUCCESS) return rc;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    return StoreRecord(key, name, type, reinterpret_cast<const BYTE*>(stored.data()),
                       static_cast<DWORD>(stored.size()));
}

}  // namespace Basalt
