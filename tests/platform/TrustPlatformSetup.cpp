// Prepares a Wine prefix for signature tests: puts the test root into the machine Root store (replacing earlier
// copies of the same subject, so a rebuilt PKI leaves no stale root behind) and registers our provider of the
// Authenticode time-stamp chain policy. Safe to run again.
// Usage: trust_platform_setup.exe <root.der> <policy dll (Windows path)> <export name>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<BYTE> ReadFileBytes(const wchar_t* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool InstallRoot(const std::vector<BYTE>& der) {
    PCCERT_CONTEXT root = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (!root) return false;
    // The machine Root store's registry part, opened directly: changes made through the system store do not
    // reach the registry in this Wine once the Root store has been built.
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\SystemCertificates\\Root", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        CertFreeCertificateContext(root);
        return false;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_REG, 0, 0, 0, key);
    bool ok = false;
    if (store) {
        PCCERT_CONTEXT old = nullptr;
        while ((old = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                                 &root->pCertInfo->Subject, nullptr)) != nullptr) {
            CertDeleteCertificateFromStore(old);  // frees the context too
        }
        ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
        CertCloseStore(store, 0);
    }
    RegCloseKey(key);
    CertFreeCertificateContext(root);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        fwprintf(stderr, L"usage: trust_platform_setup root.der policy.dll export\n");
        return 2;
    }
    const std::vector<BYTE> der = ReadFileBytes(argv[1]);
    if (der.empty() || !InstallRoot(der)) {
        fwprintf(stderr, L"trust_platform_setup: cannot install the test root (%lu)\n", GetLastError());
        return 3;
    }
    char exportName[128] = {};
    WideCharToMultiByte(CP_ACP, 0, argv[3], -1, exportName, sizeof(exportName) - 1, nullptr, nullptr);
    if (!CryptRegisterOIDFunction(X509_ASN_ENCODING, CRYPT_OID_VERIFY_CERTIFICATE_CHAIN_POLICY_FUNC,
                                  CERT_CHAIN_POLICY_AUTHENTICODE_TS, argv[2], exportName)) {
        fwprintf(stderr, L"trust_platform_setup: cannot register the chain policy (%lu)\n", GetLastError());
        return 4;
    }
    return 0;
}
