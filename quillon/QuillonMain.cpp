// quillon.exe: the idle waiter on the real system.
#include <windows.h>

#include "quillon/Quillon.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CSystemWaiterCalls system;
    CSystemPdhCalls pdh;
    CSystemEventCalls events;
    return static_cast<int>(RunIdleWaiter({system, pdh, events}));
}
