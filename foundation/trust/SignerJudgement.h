#pragma once
// The rules that one signer of a module file must pass, apart from how the signer's facts are read, and the rules
// that its certificate chain must pass, apart from how the chain is built. Each rule is judged here once, so that
// it can be shown on its own whatever the platform's own checks say.
//
// A signer passes when, in this order: its serial is not refused; its certificate is in the file; its signature
// was made with that certificate; its name is on the list; its time stamp reads (a verified stamp gives the time,
// otherwise it is judged at the current time); its chain, built at that time for code signing, passes; and the
// file's Authenticode verdict is 0. The first rule that fails ends the judgement.
#include <windows.h>
#include <wincrypt.h>

#include <optional>
#include <string>

#include "foundation/trust/SignerRules.h"
#include "foundation/trust/SignerTime.h"

// The Authenticode time-stamp chain policy's verdict on a chain; 0 accepts.
class ChainPolicy {
public:
    virtual ~ChainPolicy() = default;
    virtual LONG Verdict(PCCERT_CHAIN_CONTEXT chain) const = 0;
};

// CertVerifyCertificateChainPolicy with CERT_CHAIN_POLICY_AUTHENTICODE_TS, no flags; a failed call refuses.
class AuthenticodeTimeStampPolicy final : public ChainPolicy {
public:
    LONG Verdict(PCCERT_CHAIN_CONTEXT chain) const override;
};

// True when the chain's trust status has no error, the root of one of its simple chains or of a lower-quality
// chain context is on the thumbprint list (a null list or a count of 0 accepts every root), and the policy accepts.
bool ChainPasses(PCCERT_CHAIN_CONTEXT chain, const Thumbprint* thumbprints, size_t count, const ChainPolicy& policy);

// The facts of one signer of a file, each read when it is first asked for.
class SignerEvidence {
public:
    virtual ~SignerEvidence() = default;
    // The serial number as hexadecimal text, most significant byte first.
    virtual std::wstring SerialText() = 0;
    // The certificate named by the signer's issuer and serial number is among the file's certificates.
    virtual bool HasCertificate() = 0;
    // The signer's signature verifies with that certificate.
    virtual bool SignatureVerifies() = 0;
    // The certificate's friendly display name; empty when it cannot be read.
    virtual std::wstring Name() = 0;
    virtual SignerTime SigningTime() = 0;
    // The certificate's chain for code signing at the time (the current time when none) passes ChainPasses.
    virtual bool ChainPassesAt(const std::optional<FILETIME>& at, const Thumbprint* thumbprints, size_t count) = 0;
    // The file's WinVerifyTrust verdict (hash only, no policy usage, no revocation).
    virtual LONG AuthenticodeVerdict() = 0;
};

bool SignerPasses(SignerEvidence& signer, const wchar_t* const* names, const Thumbprint* thumbprints, size_t count,
                  const wchar_t* const* serials);
