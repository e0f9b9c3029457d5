#pragma once
// Build outputs are known to the tests by their Linux paths; Wine shows the Linux root as drive Z:.
#include <string>

namespace testsupport {

std::wstring WindowsPathOf(const char* linuxPath);

}  // namespace testsupport
