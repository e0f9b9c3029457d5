// The signing time of a signer, read from counter-signatures in messages built here (the PKI's files carry RFC 3161
// stamps only; the PKCS #9 form needs a time-stamp server of the old kind).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/trust/CryptHandles.h"
#include "foundation/trust/SignerTime.h"
#include "tests/foundation/trust/TrustTestFiles.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
using Bytes = std::vector<BYTE>;

Bytes TimeValue(BYTE tag, const std::string& digits) {
    const std::string bytes = std::string(1, static_cast<char>(tag)) + static_cast<char>(digits.size()) + digits;
    return Bytes(bytes.begin(), bytes.end());
}
Bytes Utc(const std::string& digits) { return TimeValue(0x17, digits); }
Bytes Generalized(const std::string& digits) { return TimeValue(0x18, digits); }

// Keeps attribute values alive while messages are encoded.
struct Attribute {
    std::string oid;
    std::vector<Bytes> values;
};

class MessageBuilder {
public:
    MessageBuilder() {
        CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
        CryptGenKey(provider_, AT_SIGNATURE, 1024u << 16, &key_);
        certificate_.Reset(trusttest::LoadPkiCertificate("good"));
    }
    ~MessageBuilder() {
        if (key_) CryptDestroyKey(key_);
        if (provider_) CryptReleaseContext(provider_, 0);
    }
    bool Ready() const { return provider_ && key_ && certificate_; }

    // A PKCS #9 counter-signature value whose authenticated attributes are the given ones.
    Bytes CounterSignature(const std::vector<Attribute>& authenticated) {
        std::vector<CRYPT_ATTRIBUTE> attributes;
        std::vector<std::vector<CRYPT_ATTR_BLOB>> blobs;
        Flatten(authenticated, attributes, blobs);
        BYTE fakeSignature[64] = {1, 2, 3};
        CMSG_SIGNER_INFO info = {};
        info.dwVersion = 1;
        info.Issuer = certificate_.Get()->pCertInfo->Issuer;
        info.SerialNumber = certificate_.Get()->pCertInfo->SerialNumber;
        info.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_OIWSEC_sha1);
        info.HashEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_RSA);
        info.EncryptedHash = {sizeof(fakeSignature), fakeSignature};
        info.AuthAttrs = {static_cast<DWORD>(attributes.size()), attributes.data()};
        DWORD size = 0;
        if (!CryptEncodeObject(kEncoding, PKCS7_SIGNER_INFO, &info, nullptr, &size)) return {};
        Bytes encoded(size);
        CryptEncodeObject(kEncoding, PKCS7_SIGNER_INFO, &info, encoded.data(), &size);
        encoded.resize(size);
        return encoded;
    }

    // A signed message whose one signer carries the given attributes, opened for decoding.
    TrustHandles::CryptMessage Signed(const std::vector<Attribute>& authenticated,
                                      const std::vector<Attribute>& unauthenticated) {
        const Bytes encoded = Encode(authenticated, unauthenticated);
        TrustHandles::CryptMessage decoder(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
        if (encoded.empty() || !decoder ||
            !CryptMsgUpdate(decoder.Get(), encoded.data(), static_cast<DWORD>(encoded.size()), TRUE))
            return {};
        return decoder;
    }

    // An RFC 3161 token: a whole signed message whose signer's authenticated attributes are the given ones.
    Bytes Token(const std::vector<Attribute>& authenticated) { return Encode(authenticated, {}); }

private:
    Bytes Encode(const std::vector<Attribute>& authenticated, const std::vector<Attribute>& unauthenticated) {
        std::vector<CRYPT_ATTRIBUTE> auth, unauth;
        std::vector<std::vector<CRYPT_ATTR_BLOB>> authBlobs, unauthBlobs;
        Flatten(authenticated, auth, authBlobs);
        Flatten(unauthenticated, unauth, unauthBlobs);
        CMSG_SIGNER_ENCODE_INFO signer = {};
        signer.cbSize = sizeof(signer);
        signer.pCertInfo = certificate_.Get()->pCertInfo;
        signer.hCryptProv = provider_;
        signer.dwKeySpec = AT_SIGNATURE;
        signer.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_OIWSEC_sha1);
        signer.cAuthAttr = static_cast<DWORD>(auth.size());
        signer.rgAuthAttr = auth.data();
        signer.cUnauthAttr = static_cast<DWORD>(unauth.size());
        signer.rgUnauthAttr = unauth.data();
        CMSG_SIGNED_ENCODE_INFO info = {};
        info.cbSize = sizeof(info);
        info.cSigners = 1;
        info.rgSigners = &signer;
        TrustHandles::CryptMessage encoder(CryptMsgOpenToEncode(kEncoding, 0, CMSG_SIGNED, &info, nullptr, nullptr));
        static const BYTE content[] = "signed content";
        if (!encoder || !CryptMsgUpdate(encoder.Get(), content, sizeof(content), TRUE)) return {};
        DWORD error = 0;
        Bytes encoded = TrustHandles::GetMessageParam(encoder.Get(), CMSG_CONTENT_PARAM, 0, error);
        return error ? Bytes{} : encoded;
    }

    static void Flatten(const std::vector<Attribute>& in, std::vector<CRYPT_ATTRIBUTE>& out,
                        std::vector<std::vector<CRYPT_ATTR_BLOB>>& blobs) {
        blobs.resize(in.size());
        for (size_t i = 0; i < in.size(); ++i) {
            for (const Bytes& value : in[i].values)
                blobs[i].push_back({static_cast<DWORD>(value.size()), const_cast<BYTE*>(value.data())});
        }
        for (size_t i = 0; i < in.size(); ++i) {
            out.push_back({const_cast<LPSTR>(in[i].oid.c_str()), static_cast<DWORD>(blobs[i].size()),
                           blobs[i].data()});
        }
    }

    HCRYPTPROV provider_ = 0;
    HCRYPTKEY key_ = 0;
    TrustHandles::Certificate certificate_;
};

const std::string kSigningTime = "1.2.840.113549.1.9.5";
const std::string kCounterSignature = "1.2.840.113549.1.9.6";
const std::string kToken = "1.3.6.1.4.1.311.3.3.1";

struct Expected {
    bool ok;
    WORD year = 0, month = 0, day = 0, hour = 0;
};

void ExpectTime(const SignerTime& time, const Expected& expected, const char* label) {
    EXPECT_EQ(time.ok, expected.ok) << label;
    EXPECT_EQ(time.time.has_value(), expected.year != 0) << label;
    if (!time.time || expected.year == 0) return;
    SYSTEMTIME at = {};
    ASSERT_TRUE(FileTimeToSystemTime(&*time.time, &at)) << label;
    EXPECT_EQ(at.wYear, expected.year) << label;
    EXPECT_EQ(at.wMonth, expected.month) << label;
    EXPECT_EQ(at.wDay, expected.day) << label;
    EXPECT_EQ(at.wHour, expected.hour) << label;
}

TEST(SignerTime, CounterSignatures) {
    MessageBuilder build;
    ASSERT_TRUE(build.Ready());
    const Bytes june2015 = build.CounterSignature({{kSigningTime, {Utc("150601120000Z")}}});
    const Bytes year69 = build.CounterSignature({{kSigningTime, {Utc("690102030405Z")}}});
    const Bytes year70 = build.CounterSignature({{kSigningTime, {Utc("700102030405Z")}}});
    const Bytes noTime = build.CounterSignature({{"1.2.840.113549.1.9.3", {{0x06, 0x01, 0x2a}}}});
    const Bytes generalizedOnly = build.CounterSignature({{kSigningTime, {Generalized("20150601120000Z")}}});
    const Bytes secondTimeCounts = build.CounterSignature(
        {{kSigningTime, {Generalized("20150601120000Z")}}, {kSigningTime, {Utc("160701130000Z")}}});
    const Bytes badMonth = build.CounterSignature({{kSigningTime, {Utc("151301120000Z")}}});
    const Bytes token2018 = build.Token({{kSigningTime, {Utc("180301100000Z")}}});
    ASSERT_FALSE(june2015.empty());
    ASSERT_FALSE(token2018.empty());

    struct Case {
        const char* label;
        std::vector<Attribute> unauthenticated;
        Expected expected;
    } cases[] = {
        {"no unauthenticated attributes", {}, {true}},
        {"counter-signature", {{kCounterSignature, {june2015}}}, {true, 2015, 6, 1, 12}},
        {"two-digit year 69", {{kCounterSignature, {year69}}}, {true, 2069, 1, 2, 3}},
        {"two-digit year 70", {{kCounterSignature, {year70}}}, {true, 1970, 1, 2, 3}},
        {"counter-signature without time", {{kCounterSignature, {noTime}}}, {true}},
        {"only a generalized time", {{kCounterSignature, {generalizedOnly}}}, {true}},
        {"first 15-byte time counts", {{kCounterSignature, {secondTimeCounts}}}, {true, 2016, 7, 1, 13}},
        {"time that is no date", {{kCounterSignature, {badMonth}}}, {false}},
        // Well-formed, but a sequence of one integer is neither a signer nor a message.
        {"undecodable counter-signature", {{kCounterSignature, {{0x30, 0x03, 0x02, 0x01, 0x05}}}}, {false}},
        {"undecodable token", {{kToken, {{0x30, 0x03, 0x02, 0x01, 0x05}}}}, {false}},
        {"other attributes only", {{"1.2.3.4", {{0x05, 0x00}}}}, {true}},
        {"time-stamp token", {{"1.2.3.4", {{0x05, 0x00}}}, {kToken, {token2018}}}, {true, 2018, 3, 1, 10}},
        // The attributes form a DER set, stored sorted: the short counter-signature comes before the token.
        {"first decoded attribute ends the walk",
         {{kToken, {token2018}}, {kCounterSignature, {noTime}}},
         {true}},
    };
    for (const Case& c : cases) {
        TrustHandles::CryptMessage message = build.Signed({}, c.unauthenticated);
        ASSERT_TRUE(message) << c.label;
        ExpectTime(ReadSignerTime(message.Get(), 0), c.expected, c.label);
    }
}

}  // namespace
