#include "quillon/WaiterCalls.h"

void CSystemWaiterCalls::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

UINT_PTR CSystemWaiterCalls::SetTimer(UINT elapse, TIMERPROC procedure) {
    return ::SetTimer(nullptr, 0, elapse, procedure);
}

BOOL CSystemWaiterCalls::KillTimer(UINT_PTR id) { return ::KillTimer(nullptr, id); }

BOOL CSystemWaiterCalls::GetDesktopInputFlag(DWORD* flag) {
    return GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_IO, flag, sizeof *flag, nullptr);
}

BOOL CSystemWaiterCalls::NextMessage(MSG* message) { return ::GetMessageW(message, nullptr, 0, 0); }
