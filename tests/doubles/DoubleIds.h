#pragma once
// Identifiers and registry settings shared by the trust test doubles and the tests that drive them.
#include <windows.h>

namespace doubles {

// Settings of the validation-service double (HKLM, 64-bit view), read on every call.
//   "Mode" DWORD: 0 refuse (default), 1 vouch for every path, 2 vouch for the paths in "Paths",
//                 3 vouch for files whose Authenticode signature WinVerifyTrust accepts.
//   "Paths" REG_MULTI_SZ, "VerdictBits" DWORD (verdict word when vouching, default 9),
//   "StatusBits" DWORD (status word, default 2), "Interfaces" DWORD (1: the newer interface, 2: the older; default 3),
//   "Journal" REG_SZ: file that gets one line per request ("get <name>" or "<flags> <path>").
inline constexpr wchar_t kValidationDoubleKey[] = L"Software\\WelkinTests\\ValidationDouble";

// {0B7E3C51-4D2A-4F0E-9C61-2A8F5E7D1B01}: created through the first factory interface.
inline constexpr GUID kClsidBothFactories = {0x0b7e3c51, 0x4d2a, 0x4f0e, {0x9c, 0x61, 0x2a, 0x8f, 0x5e, 0x7d, 0x1b, 0x01}};
// {0B7E3C51-4D2A-4F0E-9C61-2A8F5E7D1B02}: the server offers only the second factory interface.
inline constexpr GUID kClsidSecondFactoryOnly = {0x0b7e3c51, 0x4d2a, 0x4f0e, {0x9c, 0x61, 0x2a, 0x8f, 0x5e, 0x7d, 0x1b, 0x02}};
// {0B7E3C51-4D2A-4F0E-9C61-2A8F5E7D1B10}: the object's own interface.
inline constexpr GUID kIidTestObject = {0x0b7e3c51, 0x4d2a, 0x4f0e, {0x9c, 0x61, 0x2a, 0x8f, 0x5e, 0x7d, 0x1b, 0x10}};

// {0B7E3C51-4D2A-4F0E-9C61-2A8F5E7D1B20}: a class the telemetry service double also serves, for classes that are
// treated as another one.
inline constexpr GUID kClsidTelemetryRedirect = {
    0x0b7e3c51, 0x4d2a, 0x4f0e, {0x9c, 0x61, 0x2a, 0x8f, 0x5e, 0x7d, 0x1b, 0x20}};

// How the object was made, as its Origin() reports it.
enum Origin : DWORD { kViaClassFactory = 1, kViaFirstFactory = 2, kViaSecondFactory = 3 };

struct ITestObject : IUnknown {
    virtual DWORD STDMETHODCALLTYPE Origin() = 0;
};

}  // namespace doubles
