// The signature route of the module trust check on files signed by the test PKI.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/trust/ModuleTrust.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/support/TempFolder.h"

namespace {

using trusttest::SignedFile;

const wchar_t* const kSuiteNames[] = {L"Torvex, Inc.", nullptr};

struct SignedCase {
    const char* label;
    std::wstring path;
    bool trusted;
};

std::vector<SignedCase> PkiCases() {
    return {
        {"good", SignedFile(L"good", L"trust_payload"), true},
        {"good with a time stamp", SignedFile(L"good_stamped", L"trust_payload"), true},
        {"one flipped byte", SignedFile(L"tampered", L"trust_payload"), false},
        {"signer's signature damaged", SignedFile(L"bad_signature", L"trust_payload"), false},
        {"unsigned", trusttest::UnsignedFile(L"trust_payload"), false},
        {"expired", SignedFile(L"expired", L"trust_payload"), false},
        // An expired leaf stamped while it was valid passes on Windows; this Wine's WinVerifyTrust ignores RFC 3161
        // stamps (CERT_E_EXPIRED), so our own judgement of the stamp is shown in the signer and stamp tests.
        {"expired, back-dated by a self-made stamp", SignedFile(L"expired_forged_stamp", L"trust_payload"), false},
        {"not for code signing", SignedFile(L"wrong_usage", L"trust_payload"), false},
        {"untrusted root", SignedFile(L"stranger", L"trust_payload"), false},
    };
}

TEST(EmbeddedSignature, JudgesEachFileOfTheTestPki) {
    const Thumbprint root = trusttest::TestRootThumbprint();
    ASSERT_EQ(root.size(), 20u);
    for (const SignedCase& c : PkiCases()) {
        EXPECT_EQ(VerifyEmbeddedSignature(c.path.c_str(), kSuiteNames, &root, 1, nullptr), c.trusted) << c.label;
    }
}

TEST(EmbeddedSignature, StrangerRootIsRefusedEvenWhenTheListNamesIt) {
    // The chain itself is refused (its root is in no trusted store), whatever the list says.
    const Thumbprint stranger = trusttest::StrangerRootThumbprint();
    EXPECT_FALSE(VerifyEmbeddedSignature(SignedFile(L"stranger", L"trust_payload").c_str(), kSuiteNames, &stranger, 1,
                                         nullptr));
}

TEST(EmbeddedSignature, ListRulesDecideForAGoodSignature) {
    const std::wstring good = SignedFile(L"good", L"trust_payload");
    const Thumbprint root = trusttest::TestRootThumbprint();
    const Thumbprint other = trusttest::StrangerRootThumbprint();
    const std::wstring serial = trusttest::LeafSerialText("good");
    ASSERT_FALSE(serial.empty());
    std::wstring upperSerial = serial;
    for (wchar_t& ch : upperSerial) ch = static_cast<wchar_t>(towupper(ch));
    const wchar_t* const refused[] = {L"00", upperSerial.c_str(), nullptr};
    const wchar_t* const otherSerials[] = {L"0123456789abcdef", nullptr};
    const wchar_t* const upperNames[] = {L"TORVEX, INC.", nullptr};
    const wchar_t* const otherNames[] = {L"Orvan Corporation", L"Torvex, LLC", nullptr};

    struct Case {
        const char* label;
        const wchar_t* const* names;
        const Thumbprint* roots;
        size_t count;
        const wchar_t* const* serials;
        bool trusted;
    } cases[] = {
        {"no lists accept everything", nullptr, nullptr, 0, nullptr, true},
        {"name differing in case", upperNames, &root, 1, nullptr, true},
        {"name not on the list", otherNames, &root, 1, nullptr, false},
        {"root not on the list", kSuiteNames, &other, 1, nullptr, false},
        {"count 0 accepts any root", kSuiteNames, &other, 0, nullptr, true},
        {"refused serial, other case", kSuiteNames, &root, 1, refused, false},
        {"other serials refused", kSuiteNames, &root, 1, otherSerials, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VerifyEmbeddedSignature(good.c_str(), c.names, c.roots, c.count, c.serials), c.trusted) << c.label;
    }
}

TEST(EmbeddedSignature, BuiltInListRefusesTheTestRoot) {
    const TrustListValues& builtIn = BuiltInTrustList();
    EXPECT_EQ(builtIn.version, 7u);
    EXPECT_FALSE(VerifyEmbeddedSignature(SignedFile(L"good", L"trust_payload").c_str(), builtIn.names,
                                         builtIn.thumbprints, builtIn.thumbprintCount, builtIn.serials));
}

TEST(EmbeddedSignature, EmptyOrMissingPathIsNotTrusted) {
    EXPECT_FALSE(VerifyEmbeddedSignature(nullptr, nullptr, nullptr, 0, nullptr));
    EXPECT_FALSE(VerifyEmbeddedSignature(L"", nullptr, nullptr, 0, nullptr));
    EXPECT_FALSE(VerifyEmbeddedSignature(L"C:\\no\\such\\file.dll", nullptr, nullptr, 0, nullptr));
}

class RecordingValidator final : public FileValidator {
public:
    explicit RecordingValidator(DWORD answer) : answer_(answer) {}
    DWORD validateFile(const wchar_t* path) override {
        asked.push_back(path);
        return answer_;
    }
    std::vector<std::wstring> asked;

private:
    DWORD answer_;
};

// A trust list of our own on a scratch path, judged by a fixed signature verdict.
class InstalledListTest : public ::testing::Test {
protected:
    void TearDown() override { trusttest::DeleteUpdateAtom(); }

    std::wstring WriteList(const wchar_t* name, unsigned version, const Thumbprint& root,
                           const std::wstring& refusedSerial = {}) {
        return folder_.Write(name, trusttest::ListText(version, root, refusedSerial));
    }
    std::unique_ptr<TrustList> ListAt(const std::wstring& path) {
        return std::make_unique<TrustList>(path, std::make_shared<trusttest::FixedListSignature>(true));
    }

    testsupport::TempFolder folder_;
    const Thumbprint root_ = trusttest::TestRootThumbprint();
    const Thumbprint stranger_ = trusttest::StrangerRootThumbprint();
    const std::wstring good_ = SignedFile(L"good", L"trust_payload");
};

TEST_F(InstalledListTest, NullOrEmptyPathAsksNeitherAuthority) {
    RecordingValidator validator(0);
    auto list = ListAt(folder_.File(L"trusted.js"));
    EXPECT_EQ(CheckFileTrust(validator, *list, nullptr), 87u);
    EXPECT_EQ(CheckFileTrust(validator, *list, L""), 87u);
    EXPECT_TRUE(validator.asked.empty());
    EXPECT_EQ(VerifyModuleTrust(nullptr), 87u);
    EXPECT_EQ(VerifyModuleTrust(L""), 87u);
}

TEST_F(InstalledListTest, VouchedFileNeedsNoSignature) {
    RecordingValidator validator(0);
    auto list = ListAt(folder_.File(L"trusted.js"));
    const std::wstring unsignedFile = trusttest::UnsignedFile(L"trust_payload");
    EXPECT_EQ(CheckFileTrust(validator, *list, unsignedFile.c_str()), 0u);
    EXPECT_THAT(validator.asked, ::testing::ElementsAre(unsignedFile));
    EXPECT_FALSE(list->IsLoaded());
}

TEST_F(InstalledListTest, NewerInstalledListDecidesWhenTheBuiltInOneRefuses) {
    RecordingValidator validator(5);
    auto list = ListAt(WriteList(L"trusted.js", 8, root_));
    EXPECT_EQ(CheckFileTrust(validator, *list, good_.c_str()), 0u);
    EXPECT_TRUE(list->IsLoaded());
    for (const SignedCase& c : PkiCases()) {
        EXPECT_EQ(CheckFileTrust(validator, *list, c.path.c_str()), c.trusted ? 0u : 5u) << c.label;
    }
}

TEST_F(InstalledListTest, ListNotNewerThanBuiltInIsUnusableAndDoesNotStayLoaded) {
    RecordingValidator validator(5);
    auto list = ListAt(WriteList(L"trusted.js", 7, root_));
    EXPECT_EQ(CheckFileTrust(validator, *list, good_.c_str()), 5u);
    EXPECT_FALSE(list->IsLoaded());
    // The built-in values (here: ones that accept the test root) keep deciding the next check.
    EXPECT_TRUE(VerifyFileSignature(*list, good_.c_str(), 7, kSuiteNames, &root_, 1, nullptr));
}

TEST_F(InstalledListTest, LoadedListThatCannotGovernIsNotReplacedByTheBuiltInAnswer) {
    // The built-in values here accept the test root.
    auto notNewer = ListAt(WriteList(L"v7.js", 7, stranger_));
    ASSERT_TRUE(notNewer->Load());
    EXPECT_FALSE(VerifyFileSignature(*notNewer, good_.c_str(), 7, kSuiteNames, &root_, 1, nullptr));
    // Nor does it stay loaded to govern the next check.
    EXPECT_FALSE(notNewer->IsLoaded());

    // A loaded list whose reload (after another process's install) finds a file that is not newer keeps governing.
    auto reloaded = ListAt(WriteList(L"trusted.js", 8, stranger_));
    ASSERT_TRUE(reloaded->Load());
    WriteList(L"trusted.js", 7, root_);
    GlobalAddAtomW(kTrustListUpdateAtom);
    for (int call = 0; call < 2; ++call) {
        EXPECT_FALSE(VerifyFileSignature(*reloaded, good_.c_str(), 7, kSuiteNames, &root_, 1, nullptr)) << call;
        EXPECT_TRUE(reloaded->IsLoaded()) << call;
        EXPECT_EQ(reloaded->Version(), 8u) << call;
    }
}

TEST_F(InstalledListTest, FailedReloadKeepsTheInstalledList) {
    // An installed list refuses the good leaf's serial, which the built-in values here accept; its install raised
    // the update atom.
    const std::wstring path = folder_.File(L"Core\\trusted.js");
    auto list = ListAt(path);
    ASSERT_TRUE(list->Install(WriteList(L"refusing.js", 8, root_, trusttest::LeafSerialText("good"))));
    ASSERT_NE(GlobalFindAtomW(kTrustListUpdateAtom), 0);
    const auto check = [&] { return VerifyFileSignature(*list, good_.c_str(), 7, kSuiteNames, &root_, 1, nullptr); };
    {
        // Another process holds the file open without sharing: every reload fails.
        const Basalt::KernelHandle holder(
            CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(holder.Get(), INVALID_HANDLE_VALUE);
        ASSERT_FALSE(list->Reload());
        for (int call = 0; call < 2; ++call) {
            EXPECT_FALSE(check()) << call;
            EXPECT_EQ(list->Version(), 8u) << call;
        }
    }
    // A reload that succeeds governs: the same list still refuses, a newer one that does not accepts.
    EXPECT_FALSE(check());
    ASSERT_TRUE(ListAt(path)->Install(WriteList(L"accepting.js", 9, root_)));
    EXPECT_TRUE(check());
    EXPECT_EQ(list->Version(), 9u);
}

TEST_F(InstalledListTest, LoadedListIsNotRetriedAgainstTheBuiltInOne) {
    auto list = ListAt(WriteList(L"trusted.js", 8, stranger_));
    ASSERT_TRUE(list->Load());
    EXPECT_FALSE(VerifyFileSignature(*list, good_.c_str(), 7, kSuiteNames, &root_, 1, nullptr));
}

TEST_F(InstalledListTest, UpdateAtomMakesALoadedListReload) {
    const std::wstring path = WriteList(L"trusted.js", 8, stranger_);
    auto list = ListAt(path);
    ASSERT_TRUE(list->Load());
    EXPECT_FALSE(VerifyFileSignature(*list, good_.c_str(), 7, nullptr, nullptr, 0, nullptr));

    // Another list object (as another process would) installs a newer file and raises the atom.
    auto other = ListAt(path);
    ASSERT_TRUE(other->Install(WriteList(L"newer.js", 9, root_)));
    ASSERT_NE(GlobalFindAtomW(kTrustListUpdateAtom), 0);
    EXPECT_TRUE(VerifyFileSignature(*list, good_.c_str(), 7, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(list->Version(), 9u);
}

TEST_F(InstalledListTest, WithoutTheAtomALoadedListIsNotReread) {
    const std::wstring path = WriteList(L"trusted.js", 8, stranger_);
    auto list = ListAt(path);
    ASSERT_TRUE(list->Load());
    WriteList(L"trusted.js", 9, root_);
    EXPECT_FALSE(VerifyFileSignature(*list, good_.c_str(), 7, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(list->Version(), 8u);
}

TEST_F(InstalledListTest, CabinetBringsTheListThatTrustsIt) {
    RecordingValidator validator(5);
    auto list = ListAt(folder_.File(L"core\\trusted.js"));
    const std::wstring cabinet = trusttest::TrustListFile(L"signed_list_v8.cab");
    EXPECT_EQ(CheckFileTrust(validator, *list, cabinet.c_str()), 0u);
    EXPECT_TRUE(list->IsLoaded());
    EXPECT_EQ(list->Version(), 8u);
}

TEST_F(InstalledListTest, CabinetWithoutANewerListStaysUntrusted) {
    RecordingValidator validator(5);
    for (const wchar_t* name : {L"signed_list_v7.cab", L"signed_no_list.cab", L"corrupt.cab"}) {
        auto list = ListAt(folder_.File(L"core\\trusted.js"));
        EXPECT_EQ(CheckFileTrust(validator, *list, trusttest::TrustListFile(name).c_str()), 5u) << name;
        EXPECT_FALSE(list->IsLoaded()) << name;
    }
}

TEST(ModuleTrust, TestRootIsForeignToTheShippedLists) {
    // No validation service in this prefix, no installed list: the built-in list alone decides.
    EXPECT_EQ(VerifyModuleTrust(SignedFile(L"good", L"trust_payload").c_str()), 5u);
    EXPECT_EQ(VerifyModuleTrust(trusttest::UnsignedFile(L"trust_payload").c_str()), 5u);
}

}  // namespace
