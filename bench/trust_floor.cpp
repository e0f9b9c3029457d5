// The platform's floor for one trust check of the utility library as the demo lays it out: a GUI program that makes
// exactly the platform calls of that check and nothing else. WinVerifyTrust judges the validation library before it
// is loaded (with its verification state closed again), then the utility library, as the validation service judges
// it when it vouches. Arguments: the validation library, the utility library. Exit code: 0 when both pass.
#include <windows.h>
#include <shellapi.h>
#include <softpub.h>
#include <wintrust.h>

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
    if (!arguments || count < 3) return ERROR_BAD_ARGUMENTS;
    const LONG validation =
        Judge(arguments[1], WTD_STATEACTION_VERIFY, WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE);
    const LONG utility = Judge(arguments[2], 0, 0);
    LocalFree(arguments);
    return validation == 0 && utility == 0 ? 0 : 1;
}
