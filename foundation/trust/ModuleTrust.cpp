#include "foundation/trust/ModuleTrust.h"

#include <wincrypt.h>

#include <optional>
#include <string>
#include <vector>

#include "foundation/trust/AuthenticodeFile.h"
#include "foundation/trust/CabinetApi.h"
#include "foundation/trust/CryptHandles.h"
#include "foundation/trust/SignerRules.h"
#include "foundation/trust/SignerTime.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool IsEmpty(const wchar_t* path) { return !path || !*path; }

bool HasCabinetExtension(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' || *p == L'/') name = p + 1;
    }
    const wchar_t* dot = wcsrchr(name, L'.');
    return dot && CompareStringOrdinal(dot, -1, L".cab", -1, TRUE) == CSTR_EQUAL;
}

bool RootOfChainAccepted(PCCERT_CHAIN_CONTEXT chain, const Thumbprint* thumbprints, size_t count) {
    for (DWORD c = 0; c < chain->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[c];
        if (!simple || simple->cElement == 0) continue;
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        BYTE thumbprint[20] = {};
        DWORD size = sizeof(thumbprint);
        if (!CertGetCertificateContextProperty(root, CERT_SHA1_HASH_PROP_ID, thumbprint, &size)) continue;
        if (SignerRules::IsAcceptedRoot(thumbprint, size, thumbprints, count)) return true;
    }
    return false;
}

bool IsAcceptedRootAnywhere(PCCERT_CHAIN_CONTEXT chain, const Thumbprint* thumbprints, size_t count) {
    if (!thumbprints || count == 0) return true;
    if (RootOfChainAccepted(chain, thumbprints, count)) return true;
    for (DWORD i = 0; i < chain->cLowerQualityChainContext; ++i) {
        if (RootOfChainAccepted(chain->rgpLowerQualityChainContext[i], thumbprints, count)) return true;
    }
    return false;
}

bool SignerPasses(const wchar_t* path, HCERTSTORE store, HCRYPTMSG message, DWORD index, const CMSG_SIGNER_INFO& info,
                  const wchar_t* const* names, const Thumbprint* thumbprints, size_t count,
                  const wchar_t* const* serials) {
    if (SignerRules::IsRefusedSerial(SignerRules::SerialText(info.SerialNumber.pbData, info.SerialNumber.cbData),
                                     serials))
        return false;

    CERT_INFO wanted = {};
    wanted.Issuer = info.Issuer;
    wanted.SerialNumber = info.SerialNumber;
    TrustHandles::Certificate certificate(CertGetSubjectCertificateFromStore(store, kEncoding, &wanted));
    if (!certificate) return false;

    // This signer's own signature, made with this certificate: a SignerInfo that merely names a suite
    // certificate must not count.
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify = {};
    verify.cbSize = sizeof(verify);
    verify.dwSignerIndex = index;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(certificate.Get());
    if (!CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify)) return false;

    wchar_t name[512] = {};
    if (CertGetNameStringW(certificate.Get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, name, 512) <= 1) return false;
    if (!SignerRules::IsAcceptedSignerName(name, names)) return false;

    const SignerTime signingTime = ReadSignerTime(message, index);
    if (!signingTime.ok) return false;

    LPSTR codeSigning = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &codeSigning;
    FILETIME at = signingTime.time.value_or(FILETIME{});
    TrustHandles::CertChain chain;
    if (!CertGetCertificateChain(nullptr, certificate.Get(), signingTime.time ? &at : nullptr, store, &chainPara,
                                 CERT_CHAIN_RETURN_LOWER_QUALITY_CONTEXTS | CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL,
                                 nullptr, chain.Receive()))
        return false;
    if (chain.Get()->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) return false;
    if (!IsAcceptedRootAnywhere(chain.Get(), thumbprints, count)) return false;

    CERT_CHAIN_POLICY_PARA policyPara = {};
    policyPara.cbSize = sizeof(policyPara);
    CERT_CHAIN_POLICY_STATUS policyStatus = {};
    policyStatus.cbSize = sizeof(policyStatus);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE_TS, chain.Get(), &policyPara, &policyStatus) ||
        policyStatus.dwError != 0)
        return false;

    return VerifyAuthenticodeHashOnly(path) == 0;
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
            if (SignerPasses(path, store.Get(), message.Get(), index,
                             *reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data()), names, thumbprints, count,
                             serials))
                return true;
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
        if (GlobalFindAtomW(kTrustListUpdateAtom) != 0 && installed.Reload() && installed.WithValues(passes))
            return true;
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
