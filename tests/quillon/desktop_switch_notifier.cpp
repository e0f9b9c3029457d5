// Test aid: announces a desktop switch to every out-of-context WinEvent hook, as the system does when the input
// desktop changes.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    NotifyWinEvent(EVENT_SYSTEM_DESKTOPSWITCH, GetDesktopWindow(), OBJID_WINDOW, CHILDID_SELF);
    return 0;
}
