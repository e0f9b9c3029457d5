#include "foundation/basalt/ObfuscatedRegKey.h"

#include <new>
#include <string>

#include "foundation/basalt/CodePageText.h"
#include "foundation/basalt/RecordValue.h"
#include "foundation/basalt/RegistryRecord.h"

namespace Basalt {

namespace {

constexpr RecordValueForm kKeyRecordForm = {CP_UTF8, 256};

// Runs `call` with the ANSI form of the value name (null stays null: the default value).
template <class Call>
LONG WithAnsiName(const wchar_t* name, Call call) {
    try {
        std::string ansi;
        if (name) {
            DWORD count = 0;
            DWORD result = WideToAnsi(CP_THREAD_ACP, name, nullptr, &count);
            if (result != ERROR_SUCCESS) return static_cast<LONG>(result);
            ansi.assign(count, '\0');
            result = WideToAnsi(CP_THREAD_ACP, name, ansi.data(), &count);
            if (result != ERROR_SUCCESS) return static_cast<LONG>(result);
        }
        return static_cast<LONG>(call(name ? ansi.c_str() : nullptr));
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

}  // namespace

LONG CObfuscatedRegKeyImpl::QueryValue(const wchar_t* name, DWORD* type, void* data, ULONG* size) {
    if (!size && !type) return ERROR_INVALID_PARAMETER;
    return WithAnsiName(name, [&](const char* ansiName) {
        return ReadRecordValue(Key(), ansiName, type, static_cast<BYTE*>(data), size, kKeyRecordForm, true);
    });
}

LONG CObfuscatedRegKeyImpl::SetValue(const wchar_t* name, DWORD type, const void* data, ULONG size) {
    if (!data || size == 0) return ERROR_INVALID_PARAMETER;
    return WithAnsiName(name, [&](const char* ansiName) {
        return WriteRecordValue(Key(), ansiName, type, static_cast<const BYTE*>(data), size, kKeyRecordForm, true);
    });
}

DWORD CObfuscatedRegKeyImpl::EncodeRecord(const BYTE* payload, DWORD length, DWORD valueType, BYTE* output,
                                          DWORD outputSize) {
    return EncodeRegRecord(payload, length, valueType, output, outputSize);
}

DWORD CObfuscatedRegKeyImpl::DecodeRecord(BYTE* record, DWORD recordLength, DWORD* valueType, BYTE* data,
                                          DWORD* size) {
    return DecodeRegRecord(record, recordLength, valueType, data, size);
}

CObfuscatedRegKey::CObfuscatedRegKey() : CRegKey(std::make_shared<CObfuscatedRegKeyImpl>()) {}

CObfuscatedRegKey::~CObfuscatedRegKey() = default;

}  // namespace Basalt
