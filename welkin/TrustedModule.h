#pragma once
// Loading one of the suite's modules by its full path; a path that is no exact module path (absolute, its file name
// with an extension: foundation/trust/ModulePath.h) is refused with ERROR_BAD_PATHNAME before anything is looked up
// or judged. A module already loaded from that path is taken as it is,
// with one more reference. Otherwise the file must pass VerifyModuleTrust before `load` runs: its refusal is the
// result (574 when the check itself failed unexpectedly), and nothing is loaded.
#include <windows.h>

#include <functional>
#include <string>

// 0 with `module` set (the caller frees it); the trust refusal, or the last error of a failed load.
DWORD LoadTrustedModule(const std::wstring& path, const std::function<HMODULE(const wchar_t*)>& load,
                        HMODULE& module);
