#include "welkin/QzIniValueStore.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr DWORD kUnknownPlainSize = 5120;
constexpr DWORD kDwordTextChars = 20;
constexpr DWORD kNoAnsiForm = 1396;
constexpr DWORD kNoEntryNameMemory = 1001;

// The ini calls leave the last error at 0 after some failures (a struct whose checksum is wrong, for one): such a
// read is a bad datum, never a success with an unfilled buffer.
DWORD FailedRead() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_INVALID_DATA;
}

// UTF-8 text of `length` bytes (a terminator inside ends it) into the caller's wide buffer, terminated.
DWORD Utf8ToCaller(const char* text, DWORD length, BYTE* buffer, DWORD* size) {
    const DWORD bytes = static_cast<DWORD>(strnlen(text, length));
    const int wide = bytes == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(bytes), nullptr, 0);
    if (bytes != 0 && wide <= 0) return FailedRead();
    const DWORD needed = (static_cast<DWORD>(wide) + 1) * sizeof(wchar_t);
    if (needed > *size) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    wchar_t* out = reinterpret_cast<wchar_t*>(buffer);
    if (wide > 0) MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(bytes), out, wide);
    out[wide] = L'\0';
    *size = needed;
    return ERROR_SUCCESS;
}

}  // namespace

bool CQzIniValueStore::EnsureBuffer(DWORD bytes) {
    if (bytes <= scratchSize && scratch) return true;
    std::unique_ptr<BYTE[]> grown(new (std::nothrow) BYTE[bytes == 0 ? 1 : bytes]());
    if (!grown) return false;
    scratch = std::move(grown);
    scratchSize = bytes;
    return true;
}

DWORD CQzIniValueStore::DecodeValue(const BYTE* datum, DWORD datumSize, DWORD* type, BYTE* out,
                                    Basalt::IniRecordHeader& header, DWORD* size) {
    if (datum == nullptr || datumSize == 0) return ERROR_INVALID_DATA;
    const DWORD offered = size != nullptr ? *size : 0;
    const DWORD rc = Basalt::CObfuscatedIniReader::DecodeRecord(datum, datumSize, out, offered, header);
    if (rc == ERROR_INVALID_DATA) return rc;
    if (type != nullptr) *type = header.type;
    if (size != nullptr) *size = header.length;
    return rc;
}

DWORD CQzIniValueStore::QueryValue(const wchar_t* name, DWORD* type, BYTE* buffer, DWORD* size, DWORD* enciphered) {
    if (size == nullptr) return ERROR_INVALID_FUNCTION;
    if (status != ERROR_SUCCESS) return status;
    if (name == nullptr) return ERROR_INVALID_PARAMETER;

    BOOL usedDefault = FALSE;
    const int nameBytes = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, &usedDefault);
    if (nameBytes <= 0) return GetLastError();
    if (usedDefault) return kNoAnsiForm;
    std::unique_ptr<char[]> headerName(new (std::nothrow) char[static_cast<size_t>(nameBytes) + 1]());
    if (!headerName) return kNoEntryNameMemory;
    headerName[0] = '_';
    if (WideCharToMultiByte(CP_ACP, 0, name, -1, headerName.get() + 1, nameBytes, nullptr, nullptr) <= 0)
        return GetLastError();
    const char* datumName = headerName.get() + 1;
    const char* sectionName = section.get();
    const char* file = iniPath.get();

    Basalt::IniRecordHeader header = {};
    if (!GetPrivateProfileStructA(sectionName, headerName.get(), &header, sizeof header, file)) {
        header = {};
        header.type = REG_SZ;
        header.length = buffer != nullptr ? *size : kUnknownPlainSize;
    }
    if (type != nullptr) *type = header.type;
    if (enciphered != nullptr) *enciphered = header.enciphered != 0 ? 1 : 0;
    if (header.type == REG_SZ && header.length > MAXDWORD / 2) return ERROR_INVALID_DATA;
    if (buffer == nullptr) {
        *size = header.type == REG_SZ ? header.length * 2 : header.length;
        return ERROR_SUCCESS;
    }
    if (*size < header.length) return ERROR_NOT_ENOUGH_MEMORY;

    if (header.enciphered != 0) {
        if (header.type == REG_SZ) {
            if (!EnsureBuffer(header.length)) return ERROR_NOT_ENOUGH_MEMORY;
            SetLastError(ERROR_SUCCESS);
            if (!GetPrivateProfileStructA(sectionName, datumName, scratch.get(), header.length, file))
                return FailedRead();
            DWORD plain = header.length;
            const DWORD rc = DecodeValue(scratch.get(), header.length, nullptr, scratch.get(), header, &plain);
            if (rc != ERROR_SUCCESS) return rc;
            return Utf8ToCaller(reinterpret_cast<const char*>(scratch.get()), plain, buffer, size);
        }
        // Read beside the caller's buffer: a datum that fails its checks leaves no output.
        *size = header.length;
        if (!EnsureBuffer(header.length)) return ERROR_NOT_ENOUGH_MEMORY;
        SetLastError(ERROR_SUCCESS);
        if (!GetPrivateProfileStructA(sectionName, datumName, scratch.get(), header.length, file))
            return FailedRead();
        DWORD plain = header.length;
        return DecodeValue(scratch.get(), header.length, nullptr, buffer, header, &plain);
    }

    if (header.type == REG_DWORD) {
        if (*size < sizeof(DWORD)) return ERROR_NOT_ENOUGH_MEMORY;
        char text[kDwordTextChars + 1] = {};
        GetPrivateProfileStringA(sectionName, datumName, "", text, kDwordTextChars, file);
        const DWORD number = static_cast<DWORD>(std::strtoul(text, nullptr, 10));
        std::memcpy(buffer, &number, sizeof number);
        *size = sizeof number;
        return ERROR_SUCCESS;
    }
    if (header.type != REG_SZ) {
        // Beside the caller's buffer as well: the ini call may have written part of a datum that then fails its
        // checksum.
        *size = header.length;
        if (!EnsureBuffer(header.length)) return ERROR_NOT_ENOUGH_MEMORY;
        SetLastError(ERROR_SUCCESS);
        if (!GetPrivateProfileStructA(sectionName, datumName, scratch.get(), header.length, file))
            return FailedRead();
        std::memcpy(buffer, scratch.get(), header.length);
        return ERROR_SUCCESS;
    }
    if (*size < sizeof(wchar_t)) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD chars = *size / sizeof(wchar_t);
    if (!EnsureBuffer(chars)) return ERROR_NOT_ENOUGH_MEMORY;
    char* text = reinterpret_cast<char*>(scratch.get());
    const DWORD length = GetPrivateProfileStringA(sectionName, datumName, "", text, chars, file);
    return Utf8ToCaller(text, length, buffer, size);
}
