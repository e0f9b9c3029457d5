#pragma once
// Language-map files as the suite ships them, made by the tests from the record cipher: the 32-byte header ("LMXM",
// 4 unread bytes, the body length, the MD5 of the body) and the XML text enciphered under the language-map key.
#include <string>

namespace testsupport {

std::string EncipheredLangMap(const std::string& xml);

// Recomputes the length and digest fields of a file after its body was changed.
void SealLangMap(std::string& file);

}  // namespace testsupport
