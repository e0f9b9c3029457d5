#pragma once
// The cipher keys of the scrambled records: GUID texts of 38 characters, used without their terminating NUL.
#include <cstddef>

namespace Basalt {

inline constexpr char kRegistryRecordKey[] = "{B71E09C4-2D5A-4fcb-8A36-E41D7C25F90A}";
inline constexpr char kIniRecordKey[] = "{C3E81A96-5F27-4B0D-9A64-71B2E5D8F03C}";
// Keys a cipher that was given no key.
inline constexpr char kDefaultCipherKey[] = "{3A9F5D21-7C4E-4B08-9E13-5F2A6C8D0B47}";

inline constexpr int kRecordKeyLength = 38;
static_assert(sizeof kRegistryRecordKey == kRecordKeyLength + 1 && sizeof kIniRecordKey == kRecordKeyLength + 1 &&
              sizeof kDefaultCipherKey == kRecordKeyLength + 1);

}  // namespace Basalt
