#include "welkin/processhelper.h"

#include <string>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/logging/LogStream.h"

namespace {

constexpr size_t kCommandLineLogChars = 1040;
constexpr size_t kLongFolderChars = 261;

// Site facts of the launcher's lines: their source lines are fixed so that logs stay comparable between builds.
#define PROCESS_LOG_SITE(lineNumber) (::ETWLogging::LogSiteFacts{lineNumber, LOG_SITE_FUNCTION, LOG_SITE_FILE})

}  // namespace

std::wstring StartFolderForm(const std::wstring& folder) {
    const bool driveLetter = folder.size() >= 3 && ((folder[0] >= L'A' && folder[0] <= L'Z') ||
                                                    (folder[0] >= L'a' && folder[0] <= L'z'));
    const bool absoluteDrivePath = driveLetter && folder[1] == L':' && folder[2] == L'\\';
    if (!absoluteDrivePath || folder.find(L'/') != std::wstring::npos) return folder;
    return L"\\\\?\\" + folder;
}

CQzProcessHelper::CQzProcessHelper() { api_.LoadFunctions(); }

DWORD CQzProcessHelper::_CreateProcessAndWaitEx(const wchar_t* programPath, wchar_t* arguments,
                                                const wchar_t* workingFolder, bool wait) {
    std::wstring commandLine = std::wstring(programPath ? programPath : L"") + L" " + (arguments ? arguments : L"");
    if (commandLine.size() > kCommandLineLogChars - 1) commandLine.resize(kCommandLineLogChars - 1);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;

    ETWLogging::LogLine(ETWLogging::kSeverityNormal, PROCESS_LOG_SITE(904))
        << L"Start Create Process. Program : " << commandLine.c_str();

    // No folder at all (rather than "") when none is configured: CreateProcessW refuses an empty folder.
    std::wstring longFolder;
    const wchar_t* currentFolder = nullptr;
    if (workingFolder && *workingFolder) {
        longFolder = StartFolderForm(workingFolder);
        if (longFolder.size() > kLongFolderChars - 1) {
            // A cut folder would name another folder: refuse the start instead.
            ETWLogging::LogLine(ETWLogging::kSeverityError, PROCESS_LOG_SITE(935))
                << L"Create Process failed. Error code = " << static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE);
            return ERROR_FILENAME_EXCED_RANGE;
        }
        ETWLogging::LogLine(ETWLogging::kSeverityNormal, PROCESS_LOG_SITE(913))
            << L"Start Create Process. Current Working Directory : " << longFolder.c_str();
        currentFolder = longFolder.c_str();
    }

    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessW(programPath, arguments, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                                        nullptr, currentFolder, &startup, &info);
    const DWORD startError = started ? 0 : GetLastError();
    ETWLogging::LogLine(ETWLogging::kSeverityNormal, PROCESS_LOG_SITE(930))
        << L"End Create Process. Program : " << commandLine.c_str();
    if (!started) {
        ETWLogging::LogLine(ETWLogging::kSeverityError, PROCESS_LOG_SITE(935))
            << L"Create Process failed. Error code = " << startError;
        return startError;
    }

    Basalt::KernelHandle process(info.hProcess);
    CloseHandle(info.hThread);
    const DWORD result = wait ? _WaitForProcess(process.Get()) : 0;
    ETWLogging::LogLine(ETWLogging::kSeverityError, PROCESS_LOG_SITE(950))
        << L"Create Process Success. Error code = " << result;
    return result;
}

DWORD CQzProcessHelper::_WaitForProcess(HANDLE process) {
    for (;;) {
        const DWORD signalled = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (signalled == WAIT_OBJECT_0) {
            DWORD exitCode = 0;
            // A failed query must not read as exit code 0, which callers take for "done".
            if (!GetExitCodeProcess(process, &exitCode)) {
                const DWORD error = GetLastError();
                return error ? error : ERROR_FUNCTION_FAILED;
            }
            return exitCode;
        }
        if (signalled != WAIT_OBJECT_0 + 1) return GetLastError();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}
