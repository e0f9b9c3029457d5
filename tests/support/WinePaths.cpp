#include "tests/support/WinePaths.h"

namespace testsupport {

std::wstring WindowsPathOf(const char* linuxPath) {
    std::wstring path = L"Z:";
    for (const char* p = linuxPath; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

}  // namespace testsupport
