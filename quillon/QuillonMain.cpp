// quillon.exe: the idle waiter on the real system. Its stream lines create the logger under the group "Common".
#include <windows.h>

#include "foundation/logging/LogStream.h"
#include "quillon/Quillon.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ETWLogging::SetLogStreamModuleName(L"Common");
    CSystemWaiterCalls system;
    CSystemPdhCalls pdh;
    CSystemEventCalls events;
    return static_cast<int>(RunIdleWaiter({system, pdh, events}));
}
