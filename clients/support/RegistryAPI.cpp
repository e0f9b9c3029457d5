#include "clients/support/RegistryAPI.h"

#include <windows.h>

#include "clients/support/ModuleStatus.h"
#include "foundation/basalt/RegKey.h"

namespace Orvan {

namespace {
constexpr REGSAM kReadAccess = 0x20019;  // KEY_READ
constexpr ULONG kReadBufferCharacters = 260;
}  // namespace

uint32_t RegistryAPI::readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value) {
    Basalt::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), kReadAccess) != ERROR_SUCCESS) return MODULE_STATUS_UNSUCCESSFUL;
    wchar_t buffer[kReadBufferCharacters] = {};
    ULONG count = kReadBufferCharacters;
    if (key.QueryStringValue(valueName.c_str(), buffer, &count) != ERROR_SUCCESS) return MODULE_STATUS_UNSUCCESSFUL;
    buffer[kReadBufferCharacters - 1] = L'\0';
    value = buffer;
    return MODULE_STATUS_SUCCESS;
}

uint32_t RegistryAPI::readDWORD(const std::wstring& keyPath, const std::wstring& valueName, uint32_t& value) {
    Basalt::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), kReadAccess) != ERROR_SUCCESS) return MODULE_STATUS_UNSUCCESSFUL;
    DWORD read = 0;
    if (key.QueryDWORDValue(valueName.c_str(), read) != ERROR_SUCCESS) return MODULE_STATUS_UNSUCCESSFUL;
    value = read;
    return MODULE_STATUS_SUCCESS;
}

}  // namespace Orvan
