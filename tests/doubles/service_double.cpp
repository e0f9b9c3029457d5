// Stand-in for a Windows service of the suite (an own-process service). Its mode is the first word of its command
// line after the program path, as the service's binary path sets it:
//   good                 start pending for a moment with a rising check point, then running until it is stopped;
//   stuck <hint> <life>  start pending with the wait hint <hint> ms and a check point that never advances; after
//                        <life> ms it reports stopped and exits by itself (stop is refused while start is pending);
//   dies                 start pending, then the process ends without reporting anything more.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

enum class Mode { Good, Stuck, Dies };

struct Settings {
    Mode mode = Mode::Good;
    DWORD hintMs = 0;
    DWORD lifeMs = 0;
};

Settings g_settings;
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;
SERVICE_STATUS g_current = {};

Settings ParseSettings() {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    Settings settings;
    if (words && count > 1) {
        const std::wstring mode = words[1];
        if (mode == L"stuck") settings.mode = Mode::Stuck;
        if (mode == L"dies") settings.mode = Mode::Dies;
        if (count > 2) settings.hintMs = wcstoul(words[2], nullptr, 10);
        if (count > 3) settings.lifeMs = wcstoul(words[3], nullptr, 10);
    }
    LocalFree(words);
    return settings;
}

void Report(DWORD state, DWORD checkPoint, DWORD hintMs) {
    g_current.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_current.dwCurrentState = state;
    g_current.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    g_current.dwWin32ExitCode = NO_ERROR;
    g_current.dwCheckPoint = checkPoint;
    g_current.dwWaitHint = hintMs;
    SetServiceStatus(g_status, &g_current);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP && g_current.dwCurrentState == SERVICE_RUNNING) {
        Report(SERVICE_STOP_PENDING, 1, 2000);
        SetEvent(g_stop);
        return NO_ERROR;
    }
    if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
    return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, wchar_t** names) {
    g_status = RegisterServiceCtrlHandlerExW(names ? names[0] : L"", Control, nullptr);
    if (!g_status) return;
    switch (g_settings.mode) {
    case Mode::Good:
        for (DWORD checkPoint = 1; checkPoint <= 3; ++checkPoint) {
            Report(SERVICE_START_PENDING, checkPoint, 3000);
            Sleep(100);
        }
        Report(SERVICE_RUNNING, 0, 0);
        WaitForSingleObject(g_stop, INFINITE);
        Report(SERVICE_STOPPED, 0, 0);
        return;
    case Mode::Stuck:
        Report(SERVICE_START_PENDING, 1, g_settings.hintMs);
        Sleep(g_settings.lifeMs);
        Report(SERVICE_STOPPED, 0, 0);
        return;
    case Mode::Dies:
        Report(SERVICE_START_PENDING, 1, 3000);
        Sleep(1500);
        ExitProcess(3);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    g_settings = ParseSettings();
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t anyName[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = {{anyName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
