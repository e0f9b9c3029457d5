#include "foundation/trust/SignerJudgement.h"

namespace {

bool RootOfChainAccepted(PCCERT_CHAIN_CONTEXT chain, const Thumbprint* thumbprints, size_t count) {
    for (DWORD c = 0; c < chain->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[c];
        if (!simple || simple->cElement == 0 || !simple->rgpElement[simple->cElement - 1]) continue;
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        BYTE thumbprint[20] = {};
        DWORD size = sizeof(thumbprint);
        if (!root || !CertGetCertificateContextProperty(root, CERT_SHA1_HASH_PROP_ID, thumbprint, &size)) continue;
        if (SignerRules::IsAcceptedRoot(thumbprint, size, thumbprints, count)) return true;
    }
    return false;
}

bool IsAcceptedRootAnywhere(PCCERT_CHAIN_CONTEXT chain, const Thumbprint* thumbprints, size_t count) {
    if (!thumbprints || count == 0) return true;
    if (RootOfChainAccepted(chain, thumbprints, count)) return true;
    for (DWORD i = 0; i < chain->cLowerQualityChainContext; ++i) {
        if (chain->rgpLowerQualityChainContext[i] &&
            RootOfChainAccepted(chain->rgpLowerQualityChainContext[i], thumbprints, count))
            return true;
    }
    return false;
}

}  // namespace

LONG AuthenticodeTimeStampPolicy::Verdict(PCCERT_CHAIN_CONTEXT chain) const {
    CERT_CHAIN_POLICY_PARA para = {};
    para.cbSize = sizeof(para);
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE_TS, chain, &para, &status))
        return TRUST_E_FAIL;
    return static_cast<LONG>(status.dwError);
}

bool ChainPasses(PCCERT_CHAIN_CONTEXT chain, const Thumbprint* thumbprints, size_t count, const ChainPolicy& policy) {
    if (!chain || chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) return false;
    if (!IsAcceptedRootAnywhere(chain, thumbprints, count)) return false;
    return policy.Verdict(chain) == 0;
}

bool SignerPasses(SignerEvidence& signer, const wchar_t* const* names, const Thumbprint* thumbprints, size_t count,
                  const wchar_t* const* serials) {
    if (SignerRules::IsRefusedSerial(signer.SerialText(), serials)) return false;
    if (!signer.HasCertificate()) return false;
    // A SignerInfo that merely names a suite certificate must not count.
    if (!signer.SignatureVerifies()) return false;
    if (!SignerRules::IsAcceptedSignerName(signer.Name().c_str(), names)) return false;
    const SignerTime time = signer.SigningTime();
    if (!time.ok) return false;
    if (!signer.ChainPassesAt(time.time, thumbprints, count)) return false;
    return signer.AuthenticodeVerdict() == 0;
}
