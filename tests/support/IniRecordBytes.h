#pragma once
// Ini record bytes as the suite's writer makes them, for tests that build or damage records by hand: the payload
// enciphered and deciphered with the ini key, the header's digest made again over a changed payload, and the text
// of a stored structure.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "foundation/basalt/IniReader.h"

namespace testsupport {

std::vector<BYTE> IniEncipher(const std::vector<BYTE>& plain);
std::vector<BYTE> IniDecipher(const std::vector<BYTE>& enciphered);
// The digest over `payload` (all zero for an empty payload, as the writer leaves it).
void RedigestIniRecord(Basalt::IniRecordHeader& header, const std::vector<BYTE>& payload);
// Upper-case hex digits and the checksum pair, as the profile functions store a structure.
std::string StructText(const void* data, std::size_t size);

}  // namespace testsupport
