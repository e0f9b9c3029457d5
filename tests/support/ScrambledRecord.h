#pragma once
// A registry value as the suite stores it scrambled (REG_BINARY record holding the type and the payload), for tests
// that lay out settings; an encoding failure fails the test.
#include <windows.h>

#include <vector>

namespace testsupport {

std::vector<BYTE> ScrambledRecord(DWORD type, const void* payload, DWORD length);

}  // namespace testsupport
