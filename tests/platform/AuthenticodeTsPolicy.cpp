// Chain-policy provider for CERT_CHAIN_POLICY_AUTHENTICODE_TS, registered in the test prefix only: this Wine has no
// such policy. The verdict comes from the chain's own error bits, in the order a code-signing check reports them.
#include <windows.h>
#include <wincrypt.h>

namespace {

struct Verdict {
    DWORD bit;
    LONG error;
};

constexpr Verdict kVerdicts[] = {
    {CERT_TRUST_IS_NOT_SIGNATURE_VALID, TRUST_E_CERT_SIGNATURE},
    {CERT_TRUST_IS_REVOKED, CERT_E_REVOKED},
    {CERT_TRUST_IS_PARTIAL_CHAIN, CERT_E_CHAINING},
    {CERT_TRUST_IS_CYCLIC, CERT_E_CHAINING},
    {CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_E_UNTRUSTEDROOT},
    {CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED},
    {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_E_WRONG_USAGE},
};

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI VerifyAuthenticodeTsPolicy(LPCSTR, PCCERT_CHAIN_CONTEXT chain,
                                                                       PCERT_CHAIN_POLICY_PARA,
                                                                       PCERT_CHAIN_POLICY_STATUS status) {
    if (!chain || !status || status->cbSize < sizeof(CERT_CHAIN_POLICY_STATUS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    status->dwError = 0;
    status->lChainIndex = -1;
    status->lElementIndex = -1;
    const DWORD bits = chain->TrustStatus.dwErrorStatus;
    if (bits == CERT_TRUST_NO_ERROR) return TRUE;
    // Fail closed: an error bit this table does not know still refuses the chain.
    status->dwError = static_cast<DWORD>(CERT_E_CHAINING);
    for (const Verdict& verdict : kVerdicts) {
        if (bits & verdict.bit) {
            status->dwError = static_cast<DWORD>(verdict.error);
            break;
        }
    }
    status->lChainIndex = 0;
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
