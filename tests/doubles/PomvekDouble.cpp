// Stand-in for the suite's language selector: answers as its settings say (PomvekIds.h) and journals each call.
// The build with POMVEK_DOUBLE_LACKS_MAP has no GetLCIDFromTorvexLangMap export.
#include <windows.h>

#include <string>

#include "tests/doubles/JournalFile.h"
#include "tests/doubles/PomvekIds.h"

namespace {

bool Setting(const wchar_t* name, DWORD& value) {
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_LOCAL_MACHINE, doubles::kPomvekDoubleKey, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY,
                        nullptr, &value, &size) == ERROR_SUCCESS;
}

DWORD SettingOr(const wchar_t* name, DWORD fallback) {
    DWORD value = fallback;
    return Setting(name, value) ? value : fallback;
}

void Journal(const std::wstring& line) {
    doubles::AppendToRoadJournal("selector", doubles::Utf8(line + L"\n"));
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, doubles::kPomvekDoubleKey, L"Journal", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY,
                     nullptr, path, &size) != ERROR_SUCCESS)
        return;
    doubles::AppendToJournal(path, doubles::Utf8(line + L"\n"));
}

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI GetLCID(DWORD* lcid) {
    Journal(L"GetLCID");
    if (lcid) *lcid = SettingOr(L"GetLCIDValue", 1033);
    return SettingOr(L"GetLCIDResult", 0);
}

#ifndef POMVEK_DOUBLE_LACKS_MAP
extern "C" __declspec(dllexport) DWORD WINAPI GetLCIDFromTorvexLangMap(LCID lcid, LCID* mapped, const wchar_t* folder) {
    Journal(L"GetLCIDFromTorvexLangMap " + std::to_wstring(lcid) + L" " + (folder ? folder : L"(null)"));
    DWORD value = 0;
    if (mapped && Setting(L"MapLcid", value)) *mapped = value;
    return SettingOr(L"MapResult", 0);
}
#endif
