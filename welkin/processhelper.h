#pragma once
// Starts a program on the interactive desktop and, when asked, waits for it while the calling thread keeps
// dispatching window messages (welkin has no message loop of its own; this wait is the only place it pumps).
// Both handles of the new process are closed before a launch returns.
#include <string>

#include "welkin/Win32Api.h"

class CQzProcessHelper {
public:
    CQzProcessHelper();
    virtual ~CQzProcessHelper() = default;

    // `arguments` is the whole command line the new process sees (callers begin it with a blank); it must be
    // writable. An empty or null working folder leaves the new process in welkin's current folder; a given one is
    // passed in the form of StartFolderForm (refused with 206 when that form is longer than 260 characters).
    // Returns the exit code when waited for, 0 when started without waiting, or the Win32 error of the start.
    DWORD _CreateProcessAndWaitEx(const wchar_t* programPath, wchar_t* arguments, const wchar_t* workingFolder,
                                  bool wait);
    // The process's exit code, or the Win32 error of a failed wait or exit-code query.
    DWORD _WaitForProcess(HANDLE process);

private:
    CQzWin32API api_;
};

// The working folder as the new process gets it: the long-path form "\\?\<folder>" for an absolute drive path
// written with backslashes ("C:\X", "C:\"), the folder as given otherwise (relative, drive-relative, forward
// slashes, share or already prefixed), since the prefix turns off the system's own path repairs.
std::wstring StartFolderForm(const std::wstring& folder);
