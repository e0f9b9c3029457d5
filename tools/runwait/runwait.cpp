// Starts a program, waits for it and prints its full 32-bit exit code (a Linux parent of Wine sees 8 bits only).
//     runwait <program> [arguments...]
#include <windows.h>

#include <cstdio>
#include <string>

#include "foundation/basalt/Format.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fputs("usage: runwait <program> [arguments...]\n", stderr);
        return 2;
    }
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    for (int i = 2; i < argc; ++i) commandLine += L" " + std::wstring(argv[i]);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        const std::wstring text = Basalt::Format(L"runwait: cannot start %s (error %lu)\n", argv[1], GetLastError());
        fputws(text.c_str(), stderr);
        return 1;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    const std::wstring text = Basalt::Format(L"exit code %lu (0x%08lX)\n", code, code);
    fputws(text.c_str(), stdout);
    return 0;
}
