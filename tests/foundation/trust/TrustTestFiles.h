#pragma once
// Where the test platform put its signed files, lists and certificates, and small helpers around them.
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "foundation/trust/TrustList.h"

namespace trusttest {

// <signed>\<variant>\<name>.dll, e.g. SignedFile(L"expired_stamped", L"trust_payload").
std::wstring SignedFile(const wchar_t* variant, const wchar_t* name);
std::wstring SignedFolder(const wchar_t* variant);
std::wstring UnsignedFile(const wchar_t* name);
std::wstring TrustListFile(const wchar_t* name);

// SHA-1 thumbprint of the test root (or of the stranger root).
Thumbprint TestRootThumbprint();
Thumbprint StrangerRootThumbprint();
// SHA-1 thumbprint of a leaf of the test PKI ("good", ...).
Thumbprint LeafThumbprint(const char* leaf);
// Serial number text (most significant byte first) of a leaf of the test PKI ("good", "expired", ...).
std::wstring LeafSerialText(const char* leaf);

// A certificate of the test PKI by file stem ("good", "stranger_root", ...); free it with CertFreeCertificateContext.
PCCERT_CONTEXT LoadPkiCertificate(const char* stem);

// Trust-list signature judgements for lists the tests write themselves.
class FixedListSignature final : public TrustListSignature {
public:
    explicit FixedListSignature(bool signedBySuite) : signed_(signedBySuite) {}
    bool IsSignedBySuite(const std::wstring&) const override { return signed_; }

private:
    bool signed_;
};

// The text of a list of the given version that accepts the given roots ("" none) and refuses the serial number
// (none when empty), with the usual extras.
std::string ListText(unsigned version, const Thumbprint& root, const std::wstring& refusedSerial = {});

// Deletes every reference of the update atom (it outlives the process otherwise).
void DeleteUpdateAtom();

}  // namespace trusttest
