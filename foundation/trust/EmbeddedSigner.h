#pragma once
// The facts of one signer of a file's embedded signature, read from the file's signed message and certificate
// store (both stay owned by the caller and must outlive the object). Each fact is read when first asked for.
#include <windows.h>
#include <wincrypt.h>

#include <optional>
#include <string>

#include "foundation/trust/CryptHandles.h"
#include "foundation/trust/SignerJudgement.h"

class EmbeddedSigner final : public SignerEvidence {
public:
    EmbeddedSigner(const wchar_t* path, HCERTSTORE store, HCRYPTMSG message, DWORD index,
                   const CMSG_SIGNER_INFO& info);

    std::wstring SerialText() override;
    bool HasCertificate() override;
    bool SignatureVerifies() override;
    std::wstring Name() override;
    SignerTime SigningTime() override;
    bool ChainPassesAt(const std::optional<FILETIME>& at, const Thumbprint* thumbprints, size_t count) override;
    LONG AuthenticodeVerdict() override;

private:
    PCCERT_CONTEXT Certificate();

    const wchar_t* path_;
    HCERTSTORE store_;
    HCRYPTMSG message_;
    DWORD index_;
    const CMSG_SIGNER_INFO& info_;
    bool looked_ = false;
    TrustHandles::Certificate certificate_;
};
