#include "foundation/trust/ModuleTrust.h"

#include <wincrypt.h>

#include <optional>
#include <string>
#include <vector>

#include "foundation/trust/CabinetApi.h"
#include "foundation/trust/CryptHandles.h"
#include "foundation/trust/EmbeddedSigner.h"

namespace {

bool IsEmpty(const wchar_t* path) { return !path || !*path; }

bool HasCabinetExtension(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' || *p == L'/') name = p + 1;
    }
    const wchar_t* dot = wcsrchr(name, L'.');
    return dot && CompareStringOrdinal(dot, -1, L".cab", -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool VerifyEmbeddedSignature(const wchar_t* path, const wchar_t* const* names, const Thumbprint* thumbprints,
                             size_t count, const wchar_t* const* serials) {
    if (IsEmpty(path)) return false;
    try {
        TrustHandles::CertStore store;
        TrustHandles::CryptMessage message;
        if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                              CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, store.Receive(),
                              message.Receive(), nullptr))
            return false;
        DWORD signers = 0, size = sizeof(signers);
        if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers == 0) return false;
        for (DWORD index = 0; index < signers; ++index) {
            DWORD error = 0;
            const std::vector<BYTE> info = TrustHandles::GetMessageParam(message.Get(), CMSG_SIGNER_INFO_PARAM, index, error);
            if (error || info.size() < sizeof(CMSG_SIGNER_INFO)) continue;
            EmbeddedSigner signer(path, store.Get(), message.Get(), index,
                                  *reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data()));
            if (SignerPasses(signer, names, thumbprints, count, serials)) return true;
        }
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool VerifyFileSignature(TrustList& installed, const wchar_t* path, DWORD builtInVersion, const wchar_t* const* names,
                         const Thumbprint* thumbprints, size_t count, const wchar_t* const* serials) {
    // An installed list counts only while loaded and newer than the built-in one; an older one must not stay
    // loaded to govern later checks.
    const auto usable = [builtInVersion](const TrustListValues& values) {
        return values.loaded && values.version > builtInVersion;
    };
    const auto passes = [&](const TrustListValues& values) {
        return usable(values) &&
               VerifyEmbeddedSignature(path, values.names, values.thumbprints, values.thumbprintCount, values.serials);
    };
    if (installed.IsLoaded()) {
        if (installed.WithValues(passes)) return true;
        // Another process may have installed a newer list. No lock is held here: reloading takes it exclusively.
        // A failed reload keeps the loaded list: the built-in list is not asked while one is loaded.
        if (GlobalFindAtomW(kTrustListUpdateAtom) != 0 && installed.Reload()) return installed.WithValues(passes);
        if (!installed.WithValues(usable)) installed.Unload();
        return false;
    }
    if (VerifyEmbeddedSignature(path, names, thumbprints, count, serials)) return true;
    if (!installed.Load()) return false;
    if (!installed.WithValues(usable)) {
        installed.Unload();
        return false;
    }
    return installed.WithValues(passes);
}

bool VerifyFileSignatureOrCabinet(TrustList& installed, const wchar_t* path, DWORD builtInVersion,
                                  const wchar_t* const* names, const Thumbprint* thumbprints, size_t count,
                                  const wchar_t* const* serials) {
    if (VerifyFileSignature(installed, path, builtInVersion, names, thumbprints, count, serials)) return true;
    if (IsEmpty(path) || !HasCabinetExtension(path)) return false;
    const CabinetApi cabinet;
    if (!ExtractTrustListFromCabinet(cabinet, installed, path)) return false;
    return VerifyFileSignature(installed, path, builtInVersion, names, thumbprints, count, serials);
}

DWORD CheckFileTrust(FileValidator& validator, TrustList& installed, const wchar_t* path) {
    if (IsEmpty(path)) return ERROR_INVALID_PARAMETER;
    if (validator.validateFile(path) == 0) return ERROR_SUCCESS;
    const TrustListValues& builtIn = BuiltInTrustList();
    return VerifyFileSignatureOrCabinet(installed, path, builtIn.version, builtIn.names, builtIn.thumbprints,
                                        builtIn.thumbprintCount, builtIn.serials)
               ? ERROR_SUCCESS
               : ERROR_ACCESS_DENIED;
}

DWORD CheckFileTrust(FileValidator& validator, const wchar_t* path) {
    return CheckFileTrust(validator, TrustList::Installed(), path);
}

DWORD VerifyModuleTrust(const wchar_t* path) {
    if (IsEmpty(path)) return ERROR_INVALID_PARAMETER;
    try {
        return CheckFileTrust(ValidationServiceClient::instance(), path);
    } catch (...) {
        return ERROR_ACCESS_DENIED;
    }
}
