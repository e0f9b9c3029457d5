// A signed library of about 1 MiB for the signature tests and the benchmark. The padding is initialised data, so
// it is part of the file and of its signed digest.
#include <windows.h>

extern "C" {
extern const unsigned char kPayloadPadding[1 << 20];
__attribute__((used)) const unsigned char kPayloadPadding[1 << 20] = {0x57, 0x4c};
}

extern "C" __declspec(dllexport) DWORD PayloadAnswer() { return 42u + kPayloadPadding[0] - 0x57; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
