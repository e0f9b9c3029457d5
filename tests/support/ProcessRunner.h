#pragma once
// Starts a Windows program with CreateProcessW, waits for it with a time-out and reports its full 32-bit exit code
// (a Linux parent of Wine would only see the low 8 bits).
#include <windows.h>

#include <map>
#include <string>

namespace testsupport {

struct ProcessResult {
    bool started = false;
    DWORD startError = 0;   // GetLastError of CreateProcessW when not started
    bool timedOut = false;  // the program was killed after the time-out
    DWORD exitCode = 0;     // GetExitCodeProcess
};

struct ProcessOptions {
    std::wstring arguments;                         // appended to the quoted program path
    std::wstring workingFolder;                     // empty: the runner's own
    std::map<std::wstring, std::wstring> environment;  // added to (or replacing in) the runner's environment
    DWORD timeoutMs = 60000;
};

ProcessResult RunProcess(const std::wstring& program, const ProcessOptions& options = {});

// A started program that the test waits for later (options.timeoutMs applies to Wait).
class RunningProcess {
public:
    RunningProcess(const std::wstring& program, const ProcessOptions& options);
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;
    ~RunningProcess();

    bool Started() const { return process_ != nullptr; }
    DWORD StartError() const { return startError_; }
    // Waits up to the time-out, kills the program when it is still running, and reports its exit code.
    ProcessResult Wait();

private:
    HANDLE process_ = nullptr;
    DWORD startError_ = 0;
    DWORD timeoutMs_;
};

}  // namespace testsupport
