#include "tests/foundation/trust/TrustTestFiles.h"

#include <wincrypt.h>

#include <vector>

#include "foundation/trust/SignerRules.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

namespace trusttest {

namespace {

std::string ReadLinuxFile(const char* folder, const char* name) {
    const std::wstring path = testsupport::WindowsPathOf(folder) + L"\\" + std::wstring(name, name + strlen(name));
    return testsupport::TempFolder::ReadAll(path);
}

PCCERT_CONTEXT LoadPem(const char* name) {
    const std::string pem = ReadLinuxFile(WELKIN_PKI_DIR, name);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr))
        return nullptr;
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
}

Thumbprint ThumbprintOf(const char* pem) {
    PCCERT_CONTEXT certificate = LoadPem(pem);
    if (!certificate) return {};
    Thumbprint thumbprint(20);
    DWORD size = 20;
    CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, thumbprint.data(), &size);
    CertFreeCertificateContext(certificate);
    return thumbprint;
}

std::wstring Join(const char* folder, const std::wstring& rest) { return testsupport::WindowsPathOf(folder) + rest; }

}  // namespace

std::wstring SignedFolder(const wchar_t* variant) { return Join(WELKIN_SIGNED_DIR, std::wstring(L"\\") + variant); }

std::wstring SignedFile(const wchar_t* variant, const wchar_t* name) {
    return SignedFolder(variant) + L"\\" + name + L".dll";
}

std::wstring UnsignedFile(const wchar_t* name) {
    return Join(WELKIN_UNSIGNED_DIR, std::wstring(L"\\") + name + L".dll");
}

std::wstring TrustListFile(const wchar_t* name) { return Join(WELKIN_TRUST_LISTS_DIR, std::wstring(L"\\") + name); }

PCCERT_CONTEXT LoadPkiCertificate(const char* stem) { return LoadPem((std::string(stem) + ".pem").c_str()); }

Thumbprint TestRootThumbprint() { return ThumbprintOf("root.pem"); }
Thumbprint StrangerRootThumbprint() { return ThumbprintOf("stranger_root.pem"); }

Thumbprint LeafThumbprint(const char* leaf) { return ThumbprintOf((std::string(leaf) + ".pem").c_str()); }

std::wstring LeafSerialText(const char* leaf) {
    const std::string name = std::string(leaf) + ".pem";
    PCCERT_CONTEXT certificate = LoadPem(name.c_str());
    if (!certificate) return {};
    const std::wstring text = SignerRules::SerialText(certificate->pCertInfo->SerialNumber.pbData,
                                                      certificate->pCertInfo->SerialNumber.cbData);
    CertFreeCertificateContext(certificate);
    return text;
}

std::string ListText(unsigned version, const Thumbprint& root, const std::wstring& refusedSerial) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (BYTE b : root) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 15]);
    }
    std::string text = "/* list */\r\n[VER]\r\n" + std::to_string(version) + "\r\n[ORG]\r\nTorvex, Inc.\r\n";
    if (!hex.empty()) text += "[SHA]\r\n" + hex + "\r\n";
    if (!refusedSerial.empty()) text += "[SER]\r\n" + std::string(refusedSerial.begin(), refusedSerial.end()) + "\r\n";
    return text + "// SIG // Begin signature block\r\n";
}

void DeleteUpdateAtom() {
    ATOM atom;
    for (int i = 0; i < 1000 && (atom = GlobalFindAtomW(kTrustListUpdateAtom)) != 0; ++i) {
        SetLastError(0);
        GlobalDeleteAtom(atom);
        if (GetLastError() != 0) break;
    }
}

}  // namespace trusttest
