// Test aid: exits with the code given on its command line, e.g. "exit_with 0x80004005", "exit_with --env NAME"
// (the number in environment variable NAME) or "exit_with --sleep 5000 3".
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    DWORD code = 0;
    for (int i = 1; argv && i < argc; ++i) {
        if (wcscmp(argv[i], L"--sleep") == 0 && i + 1 < argc) {
            Sleep(wcstoul(argv[++i], nullptr, 0));
        } else if (wcscmp(argv[i], L"--env") == 0 && i + 1 < argc) {
            wchar_t value[64] = {};
            GetEnvironmentVariableW(argv[++i], value, 64);
            code = wcstoul(value, nullptr, 0);
        } else {
            code = wcstoul(argv[i], nullptr, 0);
        }
    }
    LocalFree(argv);
    return static_cast<int>(code);
}
