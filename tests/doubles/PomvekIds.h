#pragma once
// Settings of the language-selector double Pomvek.dll (HKLM, 64-bit view), read on every call, so a test can change
// the answers while the library stays loaded:
//   "GetLCIDResult" DWORD (default 0) and "GetLCIDValue" DWORD (default 1033): what GetLCID returns and leaves;
//   "MapResult" DWORD (default 0): what GetLCIDFromTorvexLangMap returns;
//   "MapLcid" DWORD: the LCID it leaves (absent: the LCID it was given);
//   "Journal" REG_SZ: file that gets one line per call, "GetLCID" or "GetLCIDFromTorvexLangMap <lcid> <folder>".
namespace doubles {

inline constexpr wchar_t kPomvekDoubleKey[] = L"Software\\WelkinTests\\PomvekDouble";

}  // namespace doubles
