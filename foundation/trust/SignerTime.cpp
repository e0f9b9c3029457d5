#include "foundation/trust/SignerTime.h"

#include <cstring>
#include <string>

#include "foundation/trust/CryptHandles.h"
#include "foundation/trust/SignerRules.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kCounterSignatureOid[] = "1.2.840.113549.1.9.6";
constexpr char kTimeStampTokenOid[] = "1.3.6.1.4.1.311.3.3.1";
constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
constexpr char kMessageDigestOid[] = "1.2.840.113549.1.9.4";

// The first stamp of a signer: a decoded PKCS #9 counter-signer (with the attribute's encoded value) or an
// RFC 3161 token, whose first signer is the counter-signer.
struct Stamp {
    bool found = false;
    std::vector<BYTE> counterSigner;  // CMSG_SIGNER_INFO
    std::vector<BYTE> encoded;        // the PKCS #9 counter-signature as stored
    TrustHandles::CryptMessage token;

    const CMSG_SIGNER_INFO& CounterSigner() const {
        return *reinterpret_cast<const CMSG_SIGNER_INFO*>(counterSigner.data());
    }
};

// False when an attribute that names a stamp does not decode.
bool FindStamp(HCRYPTMSG message, DWORD index, Stamp& stamp) {
    DWORD error = 0;
    const std::vector<BYTE> data = TrustHandles::GetMessageParam(message, CMSG_SIGNER_UNAUTH_ATTR_PARAM, index, error);
    if (error == static_cast<DWORD>(CRYPT_E_ATTRIBUTES_MISSING)) return true;
    if (error) return false;
    if (data.size() < sizeof(CRYPT_ATTRIBUTES)) return true;  // success with nothing in it: no attributes
    const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(data.data());
    for (DWORD i = 0; i < attributes->cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[i];
        if (!attribute.pszObjId || attribute.cValue == 0) continue;
        const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
        if (strcmp(attribute.pszObjId, kCounterSignatureOid) == 0) {
            DWORD size = 0;
            if (!CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, 0, nullptr, &size))
                return false;
            stamp.counterSigner.resize(size);
            if (!CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, 0,
                                   stamp.counterSigner.data(), &size))
                return false;
            stamp.encoded.assign(value.pbData, value.pbData + value.cbData);
        } else if (strcmp(attribute.pszObjId, kTimeStampTokenOid) == 0) {
            stamp.token.Reset(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
            if (!stamp.token || !CryptMsgUpdate(stamp.token.Get(), value.pbData, value.cbData, TRUE)) return false;
            stamp.counterSigner = TrustHandles::GetMessageParam(stamp.token.Get(), CMSG_SIGNER_INFO_PARAM, 0, error);
            if (error || stamp.counterSigner.size() < sizeof(CMSG_SIGNER_INFO)) return false;
        } else {
            continue;
        }
        if (stamp.counterSigner.size() < sizeof(CMSG_SIGNER_INFO)) return false;
        stamp.found = true;
        return true;
    }
    return true;
}

SignerTime ClaimOf(const Stamp& stamp) {
    SignerTime result;
    if (!stamp.found) return result;
    const CMSG_SIGNER_INFO& signer = stamp.CounterSigner();
    for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer.AuthAttrs.rgAttr[i];
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

// One DER element: tag, then its value. Lengths of up to four bytes.
bool ReadElement(const BYTE*& at, const BYTE* end, BYTE tag, const BYTE*& value, size_t& length) {
    if (end - at < 2 || at[0] != tag) return false;
    const BYTE first = at[1];
    at += 2;
    if (first < 0x80) {
        length = first;
    } else {
        const int bytes = first & 0x7f;
        if (bytes == 0 || bytes > 4 || end - at < bytes) return false;
        length = 0;
        for (int i = 0; i < bytes; ++i) length = length << 8 | *at++;
    }
    if (static_cast<size_t>(end - at) < length) return false;
    value = at;
    at += length;
    return true;
}

// Some decoders hand out a token's content with its OCTET STRING, others without: [at, end) becomes the TSTInfo.
bool UnwrapContent(const BYTE*& at, const BYTE*& end) {
    if (at == end || *at != 0x04) return true;
    const BYTE* value = nullptr;
    size_t length = 0;
    if (!ReadElement(at, end, 0x04, value, length) || at != end) return false;
    at = value;
    end = value + length;
    return true;
}

std::string DottedOid(const BYTE* bytes, size_t size) {
    if (size == 0 || (bytes[0] & 0x80)) return {};
    const unsigned first = bytes[0] < 80 ? bytes[0] / 40 : 2;
    std::string text = std::to_string(first);
    text += '.';
    text += std::to_string(bytes[0] - first * 40);
    unsigned long long arc = 0;
    for (size_t i = 1; i < size; ++i) {
        if (arc > (~0ull >> 7)) return {};
        arc = arc << 7 | (bytes[i] & 0x7f);
        if (bytes[i] & 0x80) continue;
        text += '.';
        text += std::to_string(arc);
        arc = 0;
    }
    return (bytes[size - 1] & 0x80) ? std::string() : text;
}

// The certificate of a signer, looked up by issuer and serial number.
TrustHandles::Certificate SignerCertificate(HCERTSTORE store, const CMSG_SIGNER_INFO& signer) {
    CERT_INFO wanted = {};
    wanted.Issuer = signer.Issuer;
    wanted.SerialNumber = signer.SerialNumber;
    return TrustHandles::Certificate(CertGetSubjectCertificateFromStore(store, kEncoding, &wanted));
}

bool ChainsForTimeStamping(PCCERT_CONTEXT certificate, HCERTSTORE store, const FILETIME& at) {
    TrustHandles::CertChain chain;
    return TrustHandles::GetChainForUsage(certificate, &at, store, szOID_PKIX_KP_TIMESTAMP_SIGNING,
                                          CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, chain) &&
           chain.Get()->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR;
}

bool HashEquals(const char* algorithm, const BYTE* data, size_t size, const BYTE* expected, size_t expectedSize) {
    const ALG_ID id = algorithm ? CertOIDToAlgId(algorithm) : 0;
    if (id == 0) return false;
    BYTE hash[64] = {};
    DWORD hashSize = sizeof(hash);
    return CryptHashCertificate(0, id, 0, data, static_cast<DWORD>(size), hash, &hashSize) &&
           hashSize == expectedSize && std::memcmp(hash, expected, hashSize) == 0;
}

// The token's content is what its signer signed: its message-digest attribute is the hash of the content. (Not
// every platform's signature verification compares the two.)
bool ContentMatchesItsDigest(const std::vector<BYTE>& content, const CMSG_SIGNER_INFO& signer) {
    const BYTE* at = content.data();
    const BYTE* end = at + content.size();
    if (!UnwrapContent(at, end)) return false;
    for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer.AuthAttrs.rgAttr[i];
        if (!attribute.pszObjId || strcmp(attribute.pszObjId, kMessageDigestOid) != 0) continue;
        if (attribute.cValue != 1) return false;
        const BYTE* digest = attribute.rgValue[0].pbData;
        const BYTE* digestEnd = digest + attribute.rgValue[0].cbData;
        const BYTE* value = nullptr;
        size_t length = 0;
        return ReadElement(digest, digestEnd, 0x04, value, length) && digest == digestEnd &&
               HashEquals(signer.HashAlgorithm.pszObjId, at, static_cast<size_t>(end - at), value, length);
    }
    return false;
}

bool ImprintCoversDigest(const std::vector<BYTE>& content, const CRYPT_DATA_BLOB& signerDigest) {
    std::string algorithm;
    std::vector<BYTE> imprint;
    return ReadMessageImprint(content.data(), static_cast<DWORD>(content.size()), algorithm, imprint) &&
           HashEquals(algorithm.c_str(), signerDigest.pbData, signerDigest.cbData, imprint.data(), imprint.size());
}

bool TokenVerifies(const Stamp& stamp, const CRYPT_DATA_BLOB& signerDigest, const FILETIME& at) {
    const TrustHandles::CertStore store(
        CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, stamp.token.Get()));
    if (!store) return false;
    const TrustHandles::Certificate certificate = SignerCertificate(store.Get(), stamp.CounterSigner());
    if (!certificate) return false;
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify = {};
    verify.cbSize = sizeof(verify);
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(certificate.Get());
    if (!CryptMsgControl(stamp.token.Get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify)) return false;
    DWORD error = 0;
    const std::vector<BYTE> content = TrustHandles::GetMessageParam(stamp.token.Get(), CMSG_CONTENT_PARAM, 0, error);
    return !error && ContentMatchesItsDigest(content, stamp.CounterSigner()) &&
           ImprintCoversDigest(content, signerDigest) && ChainsForTimeStamping(certificate.Get(), store.Get(), at);
}

bool CounterSignatureVerifies(const Stamp& stamp, HCRYPTMSG message, DWORD index, const FILETIME& at) {
    const TrustHandles::CertStore store(CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message));
    if (!store) return false;
    const TrustHandles::Certificate certificate = SignerCertificate(store.Get(), stamp.CounterSigner());
    if (!certificate) return false;
    DWORD error = 0;
    std::vector<BYTE> signer = TrustHandles::GetMessageParam(message, CMSG_ENCODED_SIGNER, index, error);
    if (error || signer.empty()) return false;
    std::vector<BYTE> counterSignature = stamp.encoded;
    return CryptMsgVerifyCountersignatureEncodedEx(
               0, kEncoding, signer.data(), static_cast<DWORD>(signer.size()), counterSignature.data(),
               static_cast<DWORD>(counterSignature.size()), CMSG_VERIFY_SIGNER_CERT,
               const_cast<CERT_CONTEXT*>(certificate.Get()), 0, nullptr) &&
           ChainsForTimeStamping(certificate.Get(), store.Get(), at);
}

}  // namespace

bool ReadMessageImprint(const BYTE* content, DWORD size, std::string& hashAlgorithm, std::vector<BYTE>& hash) {
    if (!content) return false;
    const BYTE* at = content;
    const BYTE* end = content + size;
    const BYTE* value = nullptr;
    size_t length = 0;
    if (!UnwrapContent(at, end)) return false;
    const BYTE* info = nullptr;
    if (!ReadElement(at, end, 0x30, info, length) || at != end) return false;  // TSTInfo
    const BYTE* infoEnd = info + length;
    if (!ReadElement(info, infoEnd, 0x02, value, length)) return false;  // version
    if (!ReadElement(info, infoEnd, 0x06, value, length)) return false;  // policy
    const BYTE* imprint = nullptr;
    if (!ReadElement(info, infoEnd, 0x30, imprint, length)) return false;
    const BYTE* imprintEnd = imprint + length;
    const BYTE* algorithm = nullptr;
    if (!ReadElement(imprint, imprintEnd, 0x30, algorithm, length)) return false;
    const BYTE* algorithmEnd = algorithm + length;
    if (!ReadElement(algorithm, algorithmEnd, 0x06, value, length)) return false;
    hashAlgorithm = DottedOid(value, length);
    if (hashAlgorithm.empty()) return false;
    if (!ReadElement(imprint, imprintEnd, 0x04, value, length) || imprint != imprintEnd) return false;
    hash.assign(value, value + length);
    return true;
}

SignerTime ClaimedSignerTime(HCRYPTMSG message, DWORD index) {
    Stamp stamp;
    if (!FindStamp(message, index, stamp)) return SignerTime{false, std::nullopt};
    return ClaimOf(stamp);
}

SignerTime ReadSignerTime(HCRYPTMSG message, DWORD index) {
    Stamp stamp;
    if (!FindStamp(message, index, stamp)) return SignerTime{false, std::nullopt};
    SignerTime claim = ClaimOf(stamp);
    if (!claim.ok || !claim.time) return claim;

    DWORD error = 0;
    const std::vector<BYTE> signer = TrustHandles::GetMessageParam(message, CMSG_SIGNER_INFO_PARAM, index, error);
    if (error || signer.size() < sizeof(CMSG_SIGNER_INFO)) return SignerTime{false, std::nullopt};
    const CRYPT_DATA_BLOB& digest = reinterpret_cast<const CMSG_SIGNER_INFO*>(signer.data())->EncryptedHash;
    const bool verified = stamp.token ? TokenVerifies(stamp, digest, *claim.time)
                                      : CounterSignatureVerifies(stamp, message, index, *claim.time);
    if (!verified) claim.time.reset();
    return claim;
}
