// The test platform itself: the prefix trusts the test root, and our provider of the Authenticode time-stamp chain
// policy gives real verdicts. Without these the signature tests would pass for the wrong reasons.
#include <gtest/gtest.h>

#include "foundation/trust/CryptHandles.h"
#include "tests/foundation/trust/TrustTestFiles.h"

namespace {

struct PolicyCase {
    const char* leaf;
    bool withRootInStore;  // the leaf's own root offered as an extra store (it is in no trusted store)
    DWORD chainBit;
    LONG verdict;
};

TEST(TestPlatform, TimeStampPolicyGivesTheChainsVerdict) {
    const PolicyCase cases[] = {
        {"good", false, 0, 0},
        {"expired", false, CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED},
        {"wrong_usage", false, CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_E_WRONG_USAGE},
        {"stranger", true, CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_E_UNTRUSTEDROOT},
        {"stranger", false, CERT_TRUST_IS_PARTIAL_CHAIN, CERT_E_CHAINING},
    };
    for (const PolicyCase& c : cases) {
        TrustHandles::Certificate leaf(trusttest::LoadPkiCertificate(c.leaf));
        ASSERT_TRUE(leaf) << c.leaf;
        TrustHandles::CertStore extra(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
        if (c.withRootInStore) {
            TrustHandles::Certificate root(trusttest::LoadPkiCertificate("stranger_root"));
            ASSERT_TRUE(CertAddCertificateContextToStore(extra.Get(), root.Get(), CERT_STORE_ADD_ALWAYS, nullptr));
        }
        LPSTR codeSigning = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
        CERT_CHAIN_PARA para = {};
        para.cbSize = sizeof(para);
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = &codeSigning;
        TrustHandles::CertChain chain;
        ASSERT_TRUE(CertGetCertificateChain(nullptr, leaf.Get(), nullptr, extra.Get(), &para, 0, nullptr,
                                            chain.Receive()))
            << c.leaf;
        EXPECT_EQ(chain.Get()->TrustStatus.dwErrorStatus & c.chainBit, c.chainBit) << c.leaf;
        if (c.chainBit == 0) {
            EXPECT_EQ(chain.Get()->TrustStatus.dwErrorStatus, 0u) << c.leaf;
        }

        CERT_CHAIN_POLICY_PARA policyPara = {};
        policyPara.cbSize = sizeof(policyPara);
        CERT_CHAIN_POLICY_STATUS status = {};
        status.cbSize = sizeof(status);
        ASSERT_TRUE(CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE_TS, chain.Get(), &policyPara,
                                                     &status))
            << c.leaf;
        EXPECT_EQ(static_cast<LONG>(status.dwError), c.verdict) << c.leaf;
    }
}

}  // namespace
