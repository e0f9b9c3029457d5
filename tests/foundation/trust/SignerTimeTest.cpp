// The signing time of a signer: what its stamp claims, read from counter-signatures in messages built here (the
// PKI's files carry RFC 3161 stamps only; the PKCS #9 form needs a time-stamp server of the old kind), and when that
// claim counts.
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
    // Named as made by the certificate (by default the message signer's own).
    Bytes CounterSignature(const std::vector<Attribute>& authenticated, PCCERT_CONTEXT by = nullptr) {
        if (!by) by = certificate_.Get();
        std::vector<CRYPT_ATTRIBUTE> attributes;
        std::vector<std::vector<CRYPT_ATTR_BLOB>> blobs;
        Flatten(authenticated, attributes, blobs);
        BYTE fakeSignature[64] = {1, 2, 3};
        CMSG_SIGNER_INFO info = {};
        info.dwVersion = 1;
        info.Issuer = by->pCertInfo->Issuer;
        info.SerialNumber = by->pCertInfo->SerialNumber;
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
                                      const std::vector<Attribute>& unauthenticated,
                                      PCCERT_CONTEXT carried = nullptr) {
        const Bytes encoded = Encode(authenticated, unauthenticated, carried);
        TrustHandles::CryptMessage decoder(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
        if (encoded.empty() || !decoder ||
            !CryptMsgUpdate(decoder.Get(), encoded.data(), static_cast<DWORD>(encoded.size()), TRUE))
            return {};
        return decoder;
    }

    // An RFC 3161 token: a whole signed message whose signer's authenticated attributes are the given ones.
    Bytes Token(const std::vector<Attribute>& authenticated) { return Encode(authenticated, {}); }

private:
    Bytes Encode(const std::vector<Attribute>& authenticated, const std::vector<Attribute>& unauthenticated,
                 PCCERT_CONTEXT carried = nullptr) {
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
        CERT_BLOB certificate = {};
        if (carried) {
            certificate = {carried->cbCertEncoded, carried->pbCertEncoded};
            info.cCertEncoded = 1;
            info.rgCertEncoded = &certificate;
        }
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

// Opens the signed message embedded in a file.
struct SignedMessage {
    explicit SignedMessage(const std::wstring& path) {
        CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                         CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, store.Receive(),
                         message.Receive(), nullptr);
    }
    TrustHandles::CertStore store;
    TrustHandles::CryptMessage message;
};

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

TEST(SignerTime, ClaimedTimes) {
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
        ExpectTime(ClaimedSignerTime(message.Get(), 0), c.expected, c.label);
    }
}

// The first stamp of a file's first signer, as stored.
Bytes TokenOf(const std::wstring& path) {
    TrustHandles::CertStore store;
    TrustHandles::CryptMessage message;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, store.Receive(),
                          message.Receive(), nullptr))
        return {};
    DWORD error = 0;
    const Bytes data = TrustHandles::GetMessageParam(message.Get(), CMSG_SIGNER_UNAUTH_ATTR_PARAM, 0, error);
    if (error || data.size() < sizeof(CRYPT_ATTRIBUTES)) return {};
    const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(data.data());
    for (DWORD i = 0; i < attributes->cAttr; ++i) {
        if (kToken != attributes->rgAttr[i].pszObjId || attributes->rgAttr[i].cValue == 0) continue;
        const CRYPT_ATTR_BLOB& value = attributes->rgAttr[i].rgValue[0];
        return Bytes(value.pbData, value.pbData + value.cbData);
    }
    return {};
}

TEST(SignerTime, OnlyAVerifiedStampGivesItsTime) {
    const Expected june2015{true, 2015, 6, 1, 12};
    struct Case {
        const wchar_t* variant;
        Expected claimed, verified;
    } cases[] = {
        {L"expired_stamped", june2015, june2015},
        {L"good_stamped", {true, 2024, 3, 1, 12}, {true, 2024, 3, 1, 12}},
        // A time-stamping certificate that chains to no trusted root.
        {L"expired_forged_stamp", june2015, {true}},
        // The token's content changed after it was signed, or its signature damaged.
        {L"expired_damaged_stamp", june2015, {true}},
        {L"expired_stamp_bad_signature", june2015, {true}},
        {L"expired", {true}, {true}},
    };
    for (const Case& c : cases) {
        SignedMessage file(trusttest::SignedFile(c.variant, L"trust_payload"));
        ASSERT_TRUE(file.message);
        const std::string label(c.variant, c.variant + wcslen(c.variant));
        ExpectTime(ClaimedSignerTime(file.message.Get(), 0), c.claimed, (label + " claimed").c_str());
        ExpectTime(ReadSignerTime(file.message.Get(), 0), c.verified, (label + " verified").c_str());
    }
}

TEST(SignerTime, StampsThatDoNotCoverThisSignerGiveNoTime) {
    MessageBuilder build;
    ASSERT_TRUE(build.Ready());
    // A genuine token, verified for the file it was made for, carried over to another signer: its message
    // imprint is that of the other signer's digest.
    const Bytes genuine = TokenOf(trusttest::SignedFile(L"expired_stamped", L"trust_payload"));
    ASSERT_FALSE(genuine.empty());
    // A counter-signature named as made by the test platform's time-stamping certificate, which the message
    // carries, but whose signature is no signature at all.
    TrustHandles::Certificate tsa(trusttest::LoadPkiCertificate("tsa"));
    ASSERT_TRUE(tsa);
    const Bytes unsigned2015 = build.CounterSignature({{kSigningTime, {Utc("150601120000Z")}}}, tsa.Get());
    struct Case {
        const char* label;
        std::vector<Attribute> unauthenticated;
    } cases[] = {
        {"token of another signer", {{kToken, {genuine}}}},
        {"counter-signature that does not verify", {{kCounterSignature, {unsigned2015}}}},
    };
    for (const Case& c : cases) {
        TrustHandles::CryptMessage message = build.Signed({}, c.unauthenticated, tsa.Get());
        ASSERT_TRUE(message) << c.label;
        ExpectTime(ClaimedSignerTime(message.Get(), 0), {true, 2015, 6, 1, 12}, c.label);
        ExpectTime(ReadSignerTime(message.Get(), 0), {true}, c.label);
    }
}

Bytes Der(BYTE tag, const Bytes& value) {
    Bytes out{tag};
    if (value.size() < 0x80) {
        out.push_back(static_cast<BYTE>(value.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<BYTE>(value.size() >> 8));
        out.push_back(static_cast<BYTE>(value.size()));
    }
    out.insert(out.end(), value.begin(), value.end());
    return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

TEST(SignerTime, MessageImprintOfATimeStampToken) {
    const Bytes sha256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
    const Bytes digest(32, 0xab);
    const Bytes imprint = Der(0x30, Cat({Der(0x30, Cat({Der(0x06, sha256), Der(0x05, {})})), Der(0x04, digest)}));
    const Bytes head = Cat({Der(0x02, {1}), Der(0x06, {0x2a, 0x03, 0x04})});
    const Bytes rest = Cat({Der(0x02, {5}), Der(0x18, Bytes(15, '0')), Der(0x04, Bytes(200, 1))});  // long form
    const Bytes info = Der(0x30, Cat({head, imprint, rest}));
    struct Case {
        const char* label;
        Bytes content;
        bool readable;
    } cases[] = {
        {"TSTInfo", info, true},
        {"TSTInfo in its OCTET STRING", Der(0x04, info), true},
        {"OCTET STRING with more after the TSTInfo", Der(0x04, Cat({info, {0x05, 0x00}})), false},
        {"cut short", Bytes(info.begin(), info.end() - 210), false},
        {"no imprint", Der(0x30, head), false},
        {"imprint without its hash", Der(0x30, Cat({head, Der(0x30, Der(0x30, Der(0x06, sha256)))})), false},
        {"not a sequence", Der(0x31, Cat({head, imprint})), false},
        {"nothing", {}, false},
    };
    for (const Case& c : cases) {
        std::string algorithm;
        std::vector<BYTE> hash;
        ASSERT_EQ(ReadMessageImprint(c.content.data(), static_cast<DWORD>(c.content.size()), algorithm, hash),
                  c.readable)
            << c.label;
        if (!c.readable) continue;
        EXPECT_EQ(algorithm, "2.16.840.1.101.3.4.2.1") << c.label;
        EXPECT_EQ(hash, digest) << c.label;
    }
}

}  // namespace
