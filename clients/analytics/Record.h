#pragma once
// A telemetry record: property name to value, both wide text. Names beginning with "__" belong to the library.
// The map's order carries no meaning.
#include <string>
#include <unordered_map>

namespace Orvan::Analytics {

using Record = std::unordered_map<std::wstring, std::wstring>;

// The private prefix of the library's own property names.
inline constexpr wchar_t kPrivatePrefix[] = L"__";

inline bool IsPrivateName(const std::wstring& name) { return name.size() >= 2 && name.compare(0, 2, kPrivatePrefix) == 0; }

}  // namespace Orvan::Analytics
