// The per-signer rules and the chain rules of the signature check, each judged on its own: signer facts and chains
// are handed in, so that every rule shows whatever the platform's own checks would say.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "foundation/trust/CryptHandles.h"
#include "foundation/trust/EmbeddedSigner.h"
#include "foundation/trust/SignerJudgement.h"
#include "tests/foundation/trust/TrustTestFiles.h"

namespace {

// A chain context put together by hand from certificates of the test PKI, leaf first.
class BuiltChain {
public:
    BuiltChain(std::vector<const char*> stems, DWORD errorStatus) {
        for (const char* stem : stems) certificates_.emplace_back(trusttest::LoadPkiCertificate(stem));
        elements_.resize(certificates_.size());
        for (size_t i = 0; i < certificates_.size(); ++i) {
            elements_[i].cbSize = sizeof(CERT_CHAIN_ELEMENT);
            elements_[i].pCertContext = certificates_[i].Get();
            elementPointers_.push_back(&elements_[i]);
        }
        simple_.cbSize = sizeof(simple_);
        simple_.TrustStatus.dwErrorStatus = errorStatus;
        simple_.cElement = static_cast<DWORD>(elementPointers_.size());
        simple_.rgpElement = elementPointers_.data();
        simplePointer_ = &simple_;
        context_.cbSize = sizeof(context_);
        context_.TrustStatus.dwErrorStatus = errorStatus;
        context_.cChain = 1;
        context_.rgpChain = &simplePointer_;
    }
    BuiltChain(const BuiltChain&) = delete;
    BuiltChain& operator=(const BuiltChain&) = delete;

    bool Ready() const {
        for (const auto& certificate : certificates_)
            if (!certificate) return false;
        return true;
    }
    void AddLowerQuality(const BuiltChain& lower) {
        lower_.push_back(lower.Get());
        context_.cLowerQualityChainContext = static_cast<DWORD>(lower_.size());
        context_.rgpLowerQualityChainContext = lower_.data();
    }
    PCCERT_CHAIN_CONTEXT Get() const { return &context_; }

private:
    std::vector<TrustHandles::Certificate> certificates_;
    std::vector<CERT_CHAIN_ELEMENT> elements_;
    std::vector<PCERT_CHAIN_ELEMENT> elementPointers_;
    CERT_SIMPLE_CHAIN simple_ = {};
    PCERT_SIMPLE_CHAIN simplePointer_ = nullptr;
    std::vector<PCCERT_CHAIN_CONTEXT> lower_;
    CERT_CHAIN_CONTEXT context_ = {};
};

class FixedPolicy final : public ChainPolicy {
public:
    explicit FixedPolicy(LONG verdict) : verdict_(verdict) {}
    LONG Verdict(PCCERT_CHAIN_CONTEXT) const override { return verdict_; }

private:
    LONG verdict_;
};

TEST(ChainRules, EachRuleRefusesOnItsOwn) {
    const Thumbprint testRoot = trusttest::TestRootThumbprint();
    const Thumbprint strangerRoot = trusttest::StrangerRootThumbprint();
    const Thumbprint leaf = trusttest::LeafThumbprint("good");
    ASSERT_EQ(testRoot.size(), 20u);
    struct Case {
        const char* label;
        std::vector<const char*> chain;
        DWORD errorStatus;
        const Thumbprint* roots;
        size_t count;
        LONG policy;
        bool passes;
    } cases[] = {
        {"clean chain to a listed root", {"good", "root"}, 0, &testRoot, 1, 0, true},
        {"not valid at that time", {"good", "root"}, CERT_TRUST_IS_NOT_TIME_VALID, &testRoot, 1, 0, false},
        {"untrusted root", {"good", "root"}, CERT_TRUST_IS_UNTRUSTED_ROOT, &testRoot, 1, 0, false},
        {"partial chain", {"good"}, CERT_TRUST_IS_PARTIAL_CHAIN, &testRoot, 1, 0, false},
        {"not for code signing", {"good", "root"}, CERT_TRUST_IS_NOT_VALID_FOR_USAGE, &testRoot, 1, 0, false},
        {"root not on the list", {"good", "root"}, 0, &strangerRoot, 1, 0, false},
        {"a listed leaf is no listed root", {"good", "root"}, 0, &leaf, 1, 0, false},
        {"no list accepts every root", {"stranger", "stranger_root"}, 0, nullptr, 0, 0, true},
        {"count 0 accepts every root", {"stranger", "stranger_root"}, 0, &testRoot, 0, 0, true},
        {"policy refuses", {"good", "root"}, 0, &testRoot, 1, CERT_E_EXPIRED, false},
        {"policy call fails", {"good", "root"}, 0, &testRoot, 1, TRUST_E_FAIL, false},
    };
    for (const Case& c : cases) {
        BuiltChain chain(c.chain, c.errorStatus);
        ASSERT_TRUE(chain.Ready()) << c.label;
        EXPECT_EQ(ChainPasses(chain.Get(), c.roots, c.count, FixedPolicy(c.policy)), c.passes) << c.label;
    }
    EXPECT_FALSE(ChainPasses(nullptr, nullptr, 0, FixedPolicy(0)));
}

TEST(ChainRules, ListedRootOfALowerQualityChainCounts) {
    const Thumbprint testRoot = trusttest::TestRootThumbprint();
    BuiltChain best({"stranger", "stranger_root"}, 0);
    BuiltChain lower({"good", "root"}, 0);
    ASSERT_TRUE(best.Ready() && lower.Ready());
    EXPECT_FALSE(ChainPasses(best.Get(), &testRoot, 1, FixedPolicy(0)));
    best.AddLowerQuality(lower);
    EXPECT_TRUE(ChainPasses(best.Get(), &testRoot, 1, FixedPolicy(0)));
}

// Signer facts as a test sets them; records the times its chain was asked for.
class FakeSigner final : public SignerEvidence {
public:
    std::wstring serial = L"0a0b";
    bool certificate = true;
    bool signature = true;
    std::wstring name = L"Torvex, Inc.";
    SignerTime time;
    bool chain = true;
    LONG authenticode = 0;
    std::vector<std::optional<FILETIME>> chainAskedAt;

    std::wstring SerialText() override { return serial; }
    bool HasCertificate() override { return certificate; }
    bool SignatureVerifies() override { return signature; }
    std::wstring Name() override { return name; }
    SignerTime SigningTime() override { return time; }
    bool ChainPassesAt(const std::optional<FILETIME>& at, const Thumbprint*, size_t) override {
        chainAskedAt.push_back(at);
        return chain;
    }
    LONG AuthenticodeVerdict() override { return authenticode; }
};

const wchar_t* const kNames[] = {L"Orvan Corporation", L"Torvex, Inc.", nullptr};
const wchar_t* const kRefused[] = {L"FFFF", L"0A0B", nullptr};

TEST(SignerJudgement, EachFactThatFailsRefusesTheSigner) {
    struct Case {
        const char* label;
        void (*spoil)(FakeSigner&);
        const wchar_t* const* serials;
    } cases[] = {
        {"every fact good", [](FakeSigner&) {}, nullptr},
        {"serial refused, other case", [](FakeSigner&) {}, kRefused},
        {"no certificate", [](FakeSigner& s) { s.certificate = false; }, nullptr},
        {"signature not made with the certificate", [](FakeSigner& s) { s.signature = false; }, nullptr},
        {"name not on the list", [](FakeSigner& s) { s.name = L"Torvex, LLC"; }, nullptr},
        {"no name", [](FakeSigner& s) { s.name.clear(); }, nullptr},
        {"time stamp that does not decode", [](FakeSigner& s) { s.time.ok = false; }, nullptr},
        {"chain refused", [](FakeSigner& s) { s.chain = false; }, nullptr},
        {"file's digest does not match", [](FakeSigner& s) { s.authenticode = TRUST_E_BAD_DIGEST; }, nullptr},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        FakeSigner signer;
        cases[i].spoil(signer);
        EXPECT_EQ(SignerPasses(signer, kNames, nullptr, 0, cases[i].serials), i == 0) << cases[i].label;
    }
}

TEST(SignerJudgement, ChainIsBuiltAtTheVerifiedStampTimeElseNow) {
    FakeSigner stamped;
    stamped.time.time = FILETIME{0x12345678, 0x01d0a0b0};
    EXPECT_TRUE(SignerPasses(stamped, kNames, nullptr, 0, nullptr));
    ASSERT_EQ(stamped.chainAskedAt.size(), 1u);
    ASSERT_TRUE(stamped.chainAskedAt[0].has_value());
    EXPECT_EQ(stamped.chainAskedAt[0]->dwLowDateTime, 0x12345678u);
    EXPECT_EQ(stamped.chainAskedAt[0]->dwHighDateTime, 0x01d0a0b0u);

    FakeSigner unstamped;
    EXPECT_TRUE(SignerPasses(unstamped, kNames, nullptr, 0, nullptr));
    ASSERT_EQ(unstamped.chainAskedAt.size(), 1u);
    EXPECT_FALSE(unstamped.chainAskedAt[0].has_value());
}

// The real facts of the first signer of a file of the test PKI.
class FileSigner {
public:
    explicit FileSigner(const std::wstring& path) : path_(path) {
        if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path_.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                              CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, store_.Receive(),
                              message_.Receive(), nullptr))
            return;
        DWORD error = 0;
        info_ = TrustHandles::GetMessageParam(message_.Get(), CMSG_SIGNER_INFO_PARAM, 0, error);
        if (error || info_.size() < sizeof(CMSG_SIGNER_INFO)) return;
        signer_ = std::make_unique<EmbeddedSigner>(path_.c_str(), store_.Get(), message_.Get(), 0,
                                                   *reinterpret_cast<const CMSG_SIGNER_INFO*>(info_.data()));
    }
    EmbeddedSigner* operator->() const { return signer_.get(); }
    explicit operator bool() const { return signer_ != nullptr; }

private:
    std::wstring path_;
    TrustHandles::CertStore store_;
    TrustHandles::CryptMessage message_;
    std::vector<BYTE> info_;
    std::unique_ptr<EmbeddedSigner> signer_;
};

TEST(EmbeddedSignerFacts, ReadFromTheFilesOfTheTestPki) {
    const Thumbprint root = trusttest::TestRootThumbprint();
    struct Case {
        const wchar_t* variant;
        bool signature;
        bool stamped;           // a verified time
        bool chainAtThatTime;   // the chain for code signing at the verified time, or now
        bool chainNow;
    } cases[] = {
        {L"good", true, false, true, true},
        {L"bad_signature", false, false, true, true},
        {L"good_stamped", true, true, true, true},
        {L"expired", true, false, false, false},
        // Stamped while it was valid by the test platform's time-stamping certificate.
        {L"expired_stamped", true, true, true, false},
        // The same back-dated claim: stamped by a self-made certificate, with the token's content changed, with
        // the token's signature damaged.
        {L"expired_forged_stamp", true, false, false, false},
        {L"expired_damaged_stamp", true, false, false, false},
        {L"expired_stamp_bad_signature", true, false, false, false},
        {L"wrong_usage", true, false, false, false},
        {L"stranger", true, false, false, false},
    };
    for (const Case& c : cases) {
        FileSigner signer(trusttest::SignedFile(c.variant, L"trust_payload"));
        ASSERT_TRUE(signer) << c.variant;
        EXPECT_TRUE(signer->HasCertificate()) << c.variant;
        EXPECT_EQ(signer->SignatureVerifies(), c.signature) << c.variant;
        EXPECT_EQ(signer->Name(), L"Torvex, Inc.") << c.variant;
        const SignerTime time = signer->SigningTime();
        EXPECT_TRUE(time.ok) << c.variant;
        EXPECT_EQ(time.time.has_value(), c.stamped) << c.variant;
        EXPECT_EQ(signer->ChainPassesAt(time.time, &root, 1), c.chainAtThatTime) << c.variant;
        EXPECT_EQ(signer->ChainPassesAt(std::nullopt, &root, 1), c.chainNow) << c.variant;
    }
}

TEST(EmbeddedSignerFacts, SerialAndAuthenticodeVerdict) {
    FileSigner good(trusttest::SignedFile(L"good", L"trust_payload"));
    ASSERT_TRUE(good);
    EXPECT_EQ(good->SerialText(), trusttest::LeafSerialText("good"));
    EXPECT_EQ(good->AuthenticodeVerdict(), 0);
    FileSigner tampered(trusttest::SignedFile(L"tampered", L"trust_payload"));
    ASSERT_TRUE(tampered);
    EXPECT_EQ(tampered->AuthenticodeVerdict(), TRUST_E_BAD_DIGEST);
}

}  // namespace
