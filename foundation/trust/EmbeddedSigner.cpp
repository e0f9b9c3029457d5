#include "foundation/trust/EmbeddedSigner.h"

#include "foundation/trust/AuthenticodeFile.h"

namespace {
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
}  // namespace

EmbeddedSigner::EmbeddedSigner(const wchar_t* path, HCERTSTORE store, HCRYPTMSG message, DWORD index,
                               const CMSG_SIGNER_INFO& info)
    : path_(path), store_(store), message_(message), index_(index), info_(info) {}

PCCERT_CONTEXT EmbeddedSigner::Certificate() {
    if (!looked_) {
        looked_ = true;
        CERT_INFO wanted = {};
        wanted.Issuer = info_.Issuer;
        wanted.SerialNumber = info_.SerialNumber;
        certificate_.Reset(CertGetSubjectCertificateFromStore(store_, kEncoding, &wanted));
    }
    return certificate_.Get();
}

std::wstring EmbeddedSigner::SerialText() {
    return SignerRules::SerialText(info_.SerialNumber.pbData, info_.SerialNumber.cbData);
}

bool EmbeddedSigner::HasCertificate() { return Certificate() != nullptr; }

bool EmbeddedSigner::SignatureVerifies() {
    if (!Certificate()) return false;
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify = {};
    verify.cbSize = sizeof(verify);
    verify.dwSignerIndex = index_;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(Certificate());
    return CryptMsgControl(message_, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify) != FALSE;
}

std::wstring EmbeddedSigner::Name() {
    wchar_t name[512] = {};
    if (!Certificate() ||
        CertGetNameStringW(Certificate(), CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, name, 512) <= 1)
        return {};
    return name;
}

SignerTime EmbeddedSigner::SigningTime() { return ReadSignerTime(message_, index_); }

bool EmbeddedSigner::ChainPassesAt(const std::optional<FILETIME>& at, const Thumbprint* thumbprints, size_t count) {
    if (!Certificate()) return false;
    TrustHandles::CertChain chain;
    if (!TrustHandles::GetChainForUsage(Certificate(), at ? &*at : nullptr, store_, szOID_PKIX_KP_CODE_SIGNING,
                                        CERT_CHAIN_RETURN_LOWER_QUALITY_CONTEXTS | CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL,
                                        chain))
        return false;
    return ChainPasses(chain.Get(), thumbprints, count, AuthenticodeTimeStampPolicy());
}

LONG EmbeddedSigner::AuthenticodeVerdict() { return VerifyAuthenticodeHashOnly(path_); }
