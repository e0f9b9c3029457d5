#pragma once
// The file-level Authenticode judgement that the signature checks share: WinVerifyTrust with the generic verify
// action, no user interface, no revocation checks, no state kept, and the hash-only, cache-only and
// no-policy-usage provider flags.
#include <windows.h>

LONG VerifyAuthenticodeHashOnly(const wchar_t* path);
