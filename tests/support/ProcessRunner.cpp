#include "tests/support/ProcessRunner.h"

#include <vector>

namespace testsupport {

namespace {

// The runner's environment with the options' variables added or replaced, as a CreateProcessW block.
std::vector<wchar_t> EnvironmentBlock(const std::map<std::wstring, std::wstring>& extra) {
    std::map<std::wstring, std::wstring> merged;
    if (wchar_t* current = GetEnvironmentStringsW()) {
        for (const wchar_t* p = current; *p; p += wcslen(p) + 1) {
            const std::wstring entry = p;
            const auto eq = entry.find(L'=', 1);  // names like "=C:" start with '='
            if (eq != std::wstring::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        FreeEnvironmentStringsW(current);
    }
    for (const auto& [name, value] : extra) merged[name] = value;
    std::vector<wchar_t> block;
    for (const auto& [name, value] : merged) {
        const std::wstring entry = name + L"=" + value;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

}  // namespace

RunningProcess::RunningProcess(const std::wstring& program, const ProcessOptions& options)
    : timeoutMs_(options.timeoutMs) {
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!options.arguments.empty()) commandLine += L" " + options.arguments;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    std::vector<wchar_t> environment = EnvironmentBlock(options.environment);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), options.workingFolder.empty() ? nullptr : options.workingFolder.c_str(),
                        &startup, &info)) {
        startError_ = GetLastError();
        return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
}

RunningProcess::~RunningProcess() {
    if (!process_) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 0xDEAD);
    CloseHandle(process_);
}

ProcessResult RunningProcess::Wait() {
    ProcessResult result;
    result.started = process_ != nullptr;
    result.startError = startError_;
    if (!process_) return result;
    if (WaitForSingleObject(process_, timeoutMs_) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 5000);
    }
    GetExitCodeProcess(process_, &result.exitCode);
    return result;
}

ProcessResult RunProcess(const std::wstring& program, const ProcessOptions& options) {
    return RunningProcess(program, options).Wait();
}

}  // namespace testsupport
