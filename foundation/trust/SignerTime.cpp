#include "foundation/trust/SignerTime.h"

#include <cstring>
#include <vector>

#include "foundation/trust/CryptHandles.h"
#include "foundation/trust/SignerRules.h"

namespace {
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kCounterSignatureOid[] = "1.2.840.113549.1.9.6";
constexpr char kTimeStampTokenOid[] = "1.3.6.1.4.1.311.3.3.1";
constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
}  // namespace

SignerTime ReadSignerTime(HCRYPTMSG message, DWORD index) {
    SignerTime result;
    DWORD error = 0;
    std::vector<BYTE> data = TrustHandles::GetMessageParam(message, CMSG_SIGNER_UNAUTH_ATTR_PARAM, index, error);
    if (error == static_cast<DWORD>(CRYPT_E_ATTRIBUTES_MISSING)) return result;
    if (error) {
        result.ok = false;
        return result;
    }
    if (data.size() < sizeof(CRYPT_ATTRIBUTES)) return result;  // success with nothing in it: no attributes
    const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(data.data());

    std::vector<BYTE> counterSigner;
    TrustHandles::CryptMessage token;
    for (DWORD i = 0; i < attributes->cAttr && counterSigner.empty(); ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[i];
        if (!attribute.pszObjId || attribute.cValue == 0) continue;
        const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
        if (strcmp(attribute.pszObjId, kCounterSignatureOid) == 0) {
            DWORD size = 0;
            if (!CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, 0, nullptr, &size)) {
                result.ok = false;
                return result;
            }
            counterSigner.resize(size);
            if (!CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, 0, counterSigner.data(),
                                   &size)) {
                result.ok = false;
                return result;
            }
        } else if (strcmp(attribute.pszObjId, kTimeStampTokenOid) == 0) {
            token.Reset(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
            if (!token || !CryptMsgUpdate(token.Get(), value.pbData, value.cbData, TRUE)) {
                result.ok = false;
                return result;
            }
            counterSigner = TrustHandles::GetMessageParam(token.Get(), CMSG_SIGNER_INFO_PARAM, 0, error);
            if (error || counterSigner.empty()) {
                result.ok = false;
                return result;
            }
        }
    }
    if (counterSigner.empty()) return result;

    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(counterSigner.data());
    for (DWORD i = 0; i < signer->AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer->AuthAttrs.rgAttr[i];
        if (!attribute.pszObjId || strcmp(attribute.pszObjId, kSigningTimeOid) != 0 || attribute.cValue == 0) continue;
        if (attribute.rgValue[0].cbData != 15) continue;
        const std::optional<SYSTEMTIME> time = SignerRules::ParseSigningTime(attribute.rgValue[0].pbData, 15);
        FILETIME file = {};
        if (!time || !SystemTimeToFileTime(&*time, &file)) {
            result.ok = false;
            return result;
        }
        result.time = file;
        return result;
    }
    return result;
}

