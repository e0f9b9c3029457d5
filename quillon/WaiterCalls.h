#pragma once
// The user32 and kernel32 calls of the idle waiter's run that tests must steer: the minimum-delay sleep, the two
// thread timers, the desktop-input query and the message loop's wait for the next message. CSystemWaiterCalls is
// the real system.
#include <windows.h>

class CWaiterCalls {
public:
    virtual ~CWaiterCalls() = default;
    virtual void Sleep(DWORD milliseconds) = 0;
    // A thread timer; 0 when it cannot be made, the reason in the thread's last error.
    virtual UINT_PTR SetTimer(UINT elapse, TIMERPROC procedure) = 0;
    virtual BOOL KillTimer(UINT_PTR id) = 0;
    // The UOI_IO flag of the calling thread's desktop: non-zero while that desktop receives input.
    virtual BOOL GetDesktopInputFlag(DWORD* flag) = 0;
    // The thread's next message of any window: > 0 a message, 0 WM_QUIT, -1 failure.
    virtual BOOL NextMessage(MSG* message) = 0;
};

class CSystemWaiterCalls : public CWaiterCalls {
public:
    void Sleep(DWORD milliseconds) override;
    UINT_PTR SetTimer(UINT elapse, TIMERPROC procedure) override;
    BOOL KillTimer(UINT_PTR id) override;
    BOOL GetDesktopInputFlag(DWORD* flag) override;
    BOOL NextMessage(MSG* message) override;
};
