#pragma once
// Module status codes: the u32 result of every operation of the Orvan client libraries. 0 is success; failures have
// the top bit set. moduleStatusToString names a code for the logs; runGuarded runs a callback and turns any exception
// it throws into MODULE_STATUS_UNKNOWN_EXCEPTION, so nothing escapes into a caller that cannot take exceptions (the
// bus library's C callbacks, destructors). ModuleException is what the constructors of the loaders throw.
#include <cstdint>
#include <stdexcept>

namespace Orvan {

inline constexpr uint32_t MODULE_STATUS_SUCCESS = 0x00000000;
inline constexpr uint32_t MODULE_STATUS_NOT_SUPPORTED = 0x80000001;
inline constexpr uint32_t MODULE_STATUS_UNSUCCESSFUL = 0x80000002;
inline constexpr uint32_t MODULE_STATUS_BUFFER_TOO_SMALL = 0x80000003;
inline constexpr uint32_t MODULE_STATUS_NOT_IMPLEMENTED = 0x80000004;
inline constexpr uint32_t MODULE_STATUS_INVALID_BUFFER_SIZE = 0x80000005;
inline constexpr uint32_t MODULE_STATUS_DATA_ERROR = 0x80000006;
inline constexpr uint32_t MODULE_STATUS_INVALID_HANDLE = 0x80000007;
inline constexpr uint32_t MODULE_STATUS_INVALID_PARAMETER = 0x80000008;
inline constexpr uint32_t MODULE_STATUS_NO_MEMORY = 0x80000009;
inline constexpr uint32_t MODULE_STATUS_NOT_FOUND = 0x8000000A;
inline constexpr uint32_t MODULE_STATUS_ON_DEMAND_ENABLED = 0x8000000B;
inline constexpr uint32_t MODULE_STATUS_PROPERTY_NOT_FOUND = 0x8000000C;
inline constexpr uint32_t MODULE_STATUS_TIMEOUT = 0x8000000D;
inline constexpr uint32_t MODULE_STATUS_NO_SUBSCRIBERS = 0x8000000E;
inline constexpr uint32_t MODULE_STATUS_UNKNOWN_EXCEPTION = 0x8000000F;
inline constexpr uint32_t MODULE_STATUS_DUPLICATE_MODULE = 0x80000010;
inline constexpr uint32_t MODULE_STATUS_PARTIAL_SUCCESS = 0x80000011;
inline constexpr uint32_t MODULE_STATUS_UWP_APP_NOT_INSTALLED = 0x80000012;
inline constexpr uint32_t MODULE_STATUS_APP_SERVICE_UNAVAILABLE = 0x80000013;
inline constexpr uint32_t MODULE_STATUS_APP_SERVICE_UNAUTHORIZED = 0x80000014;
inline constexpr uint32_t MODULE_STATUS_SESSION_INVALID = 0x80000015;
inline constexpr uint32_t MODULE_STATUS_INVALID_STATE = 0x800000FF;

// The code's name ("MODULE_STATUS_TIMEOUT"); "MODULE_STATUS_UNKNOWN" for a code without one. The text is constant.
const wchar_t* moduleStatusToString(uint32_t code);

// Runs the callable; whatever it throws is swallowed and gives MODULE_STATUS_UNKNOWN_EXCEPTION.
template <class Function>
uint32_t runGuarded(Function&& function) noexcept {
    try {
        return static_cast<uint32_t>(function());
    } catch (...) {
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
}

class ModuleException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace Orvan
