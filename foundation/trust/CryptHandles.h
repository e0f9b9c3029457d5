#pragma once
// Owners of the certificate-store, message, certificate and chain handles that the trust checks open. Each frees
// its handle when it goes away; none can be copied.
#include <windows.h>
#include <wincrypt.h>

#include "foundation/basalt/OwnedHandle.h"
#include <vector>

namespace TrustHandles {

template <class Handle, void (*Free)(Handle)>
using Owned = Basalt::Owned<Handle, Free>;

inline void CloseStoreForced(HCERTSTORE store) { CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG); }
inline void CloseMessage(HCRYPTMSG message) { CryptMsgClose(message); }
inline void FreeCertificate(PCCERT_CONTEXT certificate) { CertFreeCertificateContext(certificate); }
inline void FreeChain(PCCERT_CHAIN_CONTEXT chain) { CertFreeCertificateChain(chain); }

using CertStore = Owned<HCERTSTORE, CloseStoreForced>;
using CryptMessage = Owned<HCRYPTMSG, CloseMessage>;
using Certificate = Owned<PCCERT_CONTEXT, FreeCertificate>;
using CertChain = Owned<PCCERT_CHAIN_CONTEXT, FreeChain>;

// Builds the chain of a certificate for one usage (the single identifier of an AND match) at the time (the current
// time when null), with `extra` as additional store. False when no chain could be built.
inline bool GetChainForUsage(PCCERT_CONTEXT certificate, const FILETIME* at, HCERTSTORE extra, const char* usage,
                             DWORD flags, CertChain& chain) {
    LPSTR identifier = const_cast<LPSTR>(usage);
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = &identifier;
    FILETIME time = at ? *at : FILETIME{};
    return CertGetCertificateChain(nullptr, certificate, at ? &time : nullptr, extra, &para, flags, nullptr,
                                   chain.Receive()) != FALSE;
}

// A parameter of a message, size first; error is the last error (never 0) when it cannot be read.
inline std::vector<BYTE> GetMessageParam(HCRYPTMSG message, DWORD param, DWORD index, DWORD& error) {
    DWORD size = 0;
    error = 0;
    if (!CryptMsgGetParam(message, param, index, nullptr, &size)) {
        error = GetLastError();
        if (error == 0) error = ERROR_INVALID_DATA;
        return {};
    }
    std::vector<BYTE> data(size);
    if (size && !CryptMsgGetParam(message, param, index, data.data(), &size)) {
        error = GetLastError();
        if (error == 0) error = ERROR_INVALID_DATA;
        return {};
    }
    data.resize(size);
    return data;
}

}  // namespace TrustHandles
