#include "tests/foundation/logging/LogFileText.h"

#include <windows.h>
#include <shlobj.h>

namespace logtest {

std::wstring ProgramData() {
    PWSTR path = nullptr;
    SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path);
    std::wstring text = path ? path : L"";
    CoTaskMemFree(path);
    return text;
}

std::wstring LogsRoot() { return ProgramData() + L"\\Torvex\\QZLOGS"; }

std::wstring TextAfterMark(const std::string& bytes) {
    std::wstring text;
    for (size_t at = 2; at + 1 < bytes.size(); at += 2)
        text += static_cast<wchar_t>(static_cast<BYTE>(bytes[at]) | (static_cast<BYTE>(bytes[at + 1]) << 8));
    return text;
}

}  // namespace logtest
