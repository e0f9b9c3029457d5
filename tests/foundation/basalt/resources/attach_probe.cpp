// A library that tells whether its entry point ran: the export "attached" is 1 once DllMain saw the process attach,
// and stays 0 when the library was loaded without running its entry point.
#include <windows.h>

extern "C" __declspec(dllexport) int attached;
int attached = 0;

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) attached = 1;
    return TRUE;
}
