#include "welkin/welkin.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "foundation/basalt/Format.h"
#include "foundation/basalt/SystemLibrary.h"
#include "foundation/logging/LogStream.h"
#include "welkin/QzStartServices.h"
#include "welkin/WelkinEvents.h"
#include "welkin/welkinmodule.h"

using ETWLogging::kSeverityError;
using ETWLogging::kSeverityInformation;
using ETWLogging::kSeverityNormal;

namespace {

// Every line of the entry names the program entry, whichever helper writes it.
ETWLogging::LogSiteFacts EntrySite(DWORD line) { return {line, L"wWinMain", LOG_SITE_FILE}; }

// The program's file version from its resources, as a "Version: a.b.c.d" line.
void LogVersionLine(const wchar_t* path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    std::vector<BYTE> info(size ? size : 1);
    if (!GetFileVersionInfoW(path, 0, size, info.data())) {
        ETWLogging::LogLine(kSeverityError, EntrySite(__LINE__))
            << L"Unable to acquire version information, GetLastError: " << GetLastError();
        return;
    }
    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length == 0) {
        ETWLogging::LogLine(kSeverityError, EntrySite(__LINE__))
            << L"VerQueryValue failed acquiring \\VarFileInfo\\Translation ";
        return;
    }
    const std::wstring query = Basalt::Format(L"\\StringFileInfo\\%04x%04x\\FileVersion", translation->language,
                                              translation->codePage);
    wchar_t* text = nullptr;
    if (!VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) || !text) return;
    unsigned parts[4] = {};
    if (swscanf(text, L"%u,%u,%u,%u", &parts[0], &parts[1], &parts[2], &parts[3]) == 4)
        ETWLogging::LogLine(kSeverityInformation, EntrySite(__LINE__))
            << L"Version: " << parts[0] << L"." << parts[1] << L"." << parts[2] << L"." << parts[3];
}

}  // namespace

int RunWelkin() {
    const bool safeSearch = EnableSafeDllSearch();
    // The identity is set before the first line: the first log call creates the logger with the identity of then.
    ETWLogging::InitLogging(nullptr, L"welkin", nullptr, nullptr, 0);
    if (!safeSearch)
        ETWLogging::LogLine(kSeverityError, EntrySite(__LINE__))
            << L"Failed to Initialize Secure DLL Loading, KB2533623 might not be installed, continue.";

    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        path[0] = L'\0';
        ETWLogging::LogLine(kSeverityError, EntrySite(__LINE__)) << L"Unable to acquire the path of the module";
    } else {
        ETWLogging::LogLine(kSeverityInformation, EntrySite(__LINE__)) << L"GetModuleFileName: " << path;
    }
    LogVersionLine(path);

    int exitCode = E_FAIL;
    {
        CwelkinModule module;
        DWORD flag = 0;
        if (module.getOemMgrAllowedToRunFlag(&flag) != 0)
            ETWLogging::LogLine(kSeverityError, EntrySite(__LINE__)) << L"Error when reading OEM execution flag";
        if (flag != 0) {
            ETWLogging::LogLine(kSeverityNormal, EntrySite(__LINE__)) << L"Execute welkin main logic";
            exitCode = module.Run();
        }
        setServicesDisableFlag();
        SendStartAllServicesEvent();

        ETWLogging::LogLine(kSeverityNormal, EntrySite(__LINE__)) << L"Start Post Oobe Services";
        CQzStartServices().StartAllOobeServices();
    }
    return exitCode;
}
