#pragma once
// The registry wrapper of the Orvan libraries: HKLM values read through Basalt::CRegKey with KEY_READ. Tests replace
// it through the shared pointers the classes take.
#include <cstdint>
#include <string>

namespace Orvan {

class RegistryAPI {
public:
    virtual ~RegistryAPI() = default;
    // 0 on success, MODULE_STATUS_UNSUCCESSFUL on any failure (also a text of 260 characters or more with its
    // terminator, which does not fit the read buffer).
    virtual uint32_t readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value);
    virtual uint32_t readDWORD(const std::wstring& keyPath, const std::wstring& valueName, uint32_t& value);
};

}  // namespace Orvan
