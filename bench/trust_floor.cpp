// The platform's floor for the trust checks of one welkin run: a GUI program that makes exactly the WinVerifyTrust
// calls of those checks, in the run's order, and nothing else. Arguments, one per judgement: "/sibling <file>" for
// the signed sibling library that the trust check judges before it loads it (its verification state is closed
// again), or a file, judged as the validation service judges a file it is asked about. Exit code: 0 when every
// judgement passed.
#include <windows.h>
#include <shellapi.h>
#include <softpub.h>
#include <wintrust.h>

#include <cwchar>

namespace {

LONG Judge(const wchar_t* path, DWORD stateAction, DWORD providerFlags) {
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = stateAction;
    data.dwProvFlags = providerFlags;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (stateAction == WTD_STATEACTION_VERIFY) {
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    }
    return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return ERROR_BAD_ARGUMENTS;
    bool passed = true;
    for (int i = 1; i < count; ++i) {
        const bool sibling = wcscmp(arguments[i], L"/sibling") == 0 && i + 1 < count;
        const LONG result =
            sibling ? Judge(arguments[++i], WTD_STATEACTION_VERIFY,
                            WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE)
                    : Judge(arguments[i], 0, 0);
        passed = passed && result == 0;
    }
    LocalFree(arguments);
    return passed ? 0 : 1;
}
