#pragma once
// Whether a module file of the suite may be loaded. The validation-trust service is asked first; when it does not
// vouch, the file's embedded Authenticode signature must pass for one signer against a trust list: the built-in
// one, or the installed one where that applies. A cabinet that is not trusted yet may bring a newer trust list.
// Results: 0 trusted, 87 null or empty path, 5 not trusted. Every failure inside the check is "not trusted".
#include <windows.h>

#include "foundation/trust/TrustList.h"
#include "foundation/trust/ValidationServiceClient.h"

// The process-wide validation client and installed trust list.
DWORD VerifyModuleTrust(const wchar_t* path);

DWORD CheckFileTrust(FileValidator& validator, const wchar_t* path);
DWORD CheckFileTrust(FileValidator& validator, TrustList& installed, const wchar_t* path);

bool VerifyFileSignatureOrCabinet(TrustList& installed, const wchar_t* path, DWORD builtInVersion,
                                  const wchar_t* const* names, const Thumbprint* thumbprints, size_t count,
                                  const wchar_t* const* serials);
// Chooses between the built-in list (the arguments) and the installed list. While the installed list is loaded it
// alone decides; a file it refuses is judged once more after a reload when the update atom exists, and a reload
// that fails keeps the loaded list (the answer is then false). Otherwise the built-in list is asked first, and
// when it refuses, the installed list is loaded and decides.
bool VerifyFileSignature(TrustList& installed, const wchar_t* path, DWORD builtInVersion, const wchar_t* const* names,
                         const Thumbprint* thumbprints, size_t count, const wchar_t* const* serials);
// True when one signer of the file passes every rule.
bool VerifyEmbeddedSignature(const wchar_t* path, const wchar_t* const* names, const Thumbprint* thumbprints,
                             size_t count, const wchar_t* const* serials);
