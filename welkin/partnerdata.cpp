// The partner data files of a common-build model.
#include <string>
#include <vector>

#include "foundation/basalt/RegValueCodec.h"
#include "foundation/logging/LogStream.h"
#include "welkin/QzRegEnum.h"
#include "welkin/WelkinFiles.h"
#include "welkin/welkinmodule.h"

using ETWLogging::kSeverityError;

namespace {

constexpr DWORD kInstallDirBytes = 520;
constexpr wchar_t kPartnerDataKey[] = L"SOFTWARE\\Torvex\\Halvard\\CommonBuild\\PartnerDataFile";
constexpr wchar_t kPartnerDataFolder[] = L":\\Programdata\\Torvex\\KVR\\Regwiz\\PartnerData\\";

}  // namespace

DWORD CwelkinModule::GetPDFilename(std::vector<std::wstring>& paths) {
    paths.clear();
    wchar_t installDir[kInstallDirBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kInstallDirBytes;
    if (QzRegReadValueExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\KVR", L"Install Dir", nullptr,
                          reinterpret_cast<BYTE*>(installDir), &size, 0) != 0 ||
        !*installDir)
        return ERROR_PATH_NOT_FOUND;
    const std::wstring folder = std::wstring(1, installDir[0]) + kPartnerDataFolder;

    CQzRegistryEnum registry;
    for (const std::wstring& name : registry.EnumRegkeys(HKEY_LOCAL_MACHINE, kPartnerDataKey)) {
        const auto values = registry.EnumRegValues(HKEY_LOCAL_MACHINE, std::wstring(kPartnerDataKey) + L"\\" + name);
        const auto file = values.find(L"GuidFilename");
        if (file == values.end()) continue;
        const std::wstring path = folder + file->second;
        if (FileExists(path.c_str()) == 0) paths.push_back(path);
    }
    return 0;
}

BOOL CwelkinModule::IsCommonBuildModel() {
    std::vector<std::wstring> paths;
    if (GetPDFilename(paths) != 0) {
        LOG_AT(kSeverityError, L"IsCommonBuildModel: Error reading partner data file: 5 ");
        return FALSE;
    }
    return paths.empty() ? FALSE : TRUE;
}
