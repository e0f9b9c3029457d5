#pragma once
// The COM class of the suite's telemetry service and the one method the system calls on it.
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

namespace Orvan::Analytics {

// {E782BE15-9936-4A7F-8DF9-9AB95D229DF1}
inline constexpr CLSID kTelemetryServiceClsid = {
    0xe782be15, 0x9936, 0x4a7f, {0x8d, 0xf9, 0x9a, 0xb9, 0x5d, 0x22, 0x9d, 0xf1}};
// {AC29BAF7-7EFF-4A82-8B29-76B1A3E27A6D}
inline constexpr IID kTelemetryServiceIid = {
    0xac29baf7, 0x7eff, 0x4a82, {0x8b, 0x29, 0x76, 0xb1, 0xa3, 0xe2, 0x7a, 0x6d}};
// In-process server or handler, local or remote server.
inline constexpr DWORD kTelemetryServiceContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// The first method after IUnknown's takes the record's JSON text between two texts that are always empty here.
struct ITelemetryService : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SendRecord(BSTR first, BSTR json, BSTR third) = 0;
};

}  // namespace Orvan::Analytics
