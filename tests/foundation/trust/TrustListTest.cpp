// Reading, loading and installing trust-list files. The suite's own signature of the file is judged by a fixed
// verdict here (this Wine cannot verify script signatures).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <memory>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/trust/TrustList.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/support/TempFolder.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<std::wstring> Strings(const wchar_t* const* list) {
    std::vector<std::wstring> out;
    for (; list && *list; ++list) out.push_back(*list);
    return out;
}

struct Snapshot {
    bool loaded;
    DWORD version;
    std::vector<std::wstring> names, serials;
    std::vector<Thumbprint> thumbprints;
    bool namesAbsent, serialsAbsent;
};

Snapshot Take(const TrustList& list) {
    return list.WithValues([](const TrustListValues& v) {
        Snapshot s{v.loaded, v.version, Strings(v.names), Strings(v.serials), {}, v.names == nullptr,
                   v.serials == nullptr};
        for (size_t i = 0; i < v.thumbprintCount; ++i) s.thumbprints.push_back(v.thumbprints[i]);
        return s;
    });
}

class TrustListFileTest : public ::testing::Test {
protected:
    void TearDown() override { trusttest::DeleteUpdateAtom(); }

    std::unique_ptr<TrustList> ListOn(const std::wstring& path, bool signedBySuite = true) {
        return std::make_unique<TrustList>(path, std::make_shared<trusttest::FixedListSignature>(signedBySuite));
    }
    std::unique_ptr<TrustList> ListWith(const std::string& text, bool signedBySuite = true) {
        return ListOn(folder_.Write(L"list.js", text), signedBySuite);
    }

    testsupport::TempFolder folder_;
};

TEST_F(TrustListFileTest, Reading) {
    struct Case {
        const char* label;
        std::string text;
        bool loads;
        DWORD version;
    } cases[] = {
        {"spaces inside the brackets", "[ VER ]\n8\n", true, 8},
        {"two VER values", "[VER]\n8\n9\n", false, 0},
        {"no VER section", "[ORG]\nTorvex, Inc.\n", false, 0},
        {"section names keep their case", "[ver]\n8\n", false, 0},
        {"VER not decimal", "[VER]\n8a\n", false, 0},
        {"VER beyond 32 bits", "[VER]\n4294967296\n", false, 0},
        {"empty section name", "[VER]\n8\n[]\nx\n", false, 0},
        {"blank section name", "[ \t ]\n[VER]\n8\n", false, 0},
        {"values before the first header", "9\nstray\n[VER]\n8\n", true, 8},
        {"comments wherever they stand", "[VER]\n// 9\n/* 9\n  */ 9\n8\n// SIG // 9\n", true, 8},
        {"CR LF, tabs and spaces", "\t[VER]\t\r\n  8 \t\r\n", true, 8},
        {"VER seen twice continues one list", "[VER]\n8\n[ORG]\nA\n[VER]\n9\n", false, 0},
        {"other sections are ignored", "[XYZ]\nfoo\n[VER]\n10\n", true, 10},
        {"SHA digit that is not hexadecimal", "[VER]\n8\n[SHA]\n0g\n", false, 0},
        {"no final line end", "[VER]\n12", true, 12},
    };
    for (const Case& c : cases) {
        auto list = ListWith(c.text);
        EXPECT_EQ(list->Load(), c.loads) << c.label;
        EXPECT_EQ(list->IsLoaded(), c.loads) << c.label;
        EXPECT_EQ(list->Version(), c.version) << c.label;
    }
}

TEST_F(TrustListFileTest, Values) {
    auto list = ListWith(
        "[ORG]\nTorvex, Inc.\n[VER]\n8\n[SHA]\n00ff10\nabc\n\n[SER]\n0A1b\n[ORG]\n  Orvan Corporation\n");
    ASSERT_TRUE(list->Load());
    const Snapshot s = Take(*list);
    EXPECT_TRUE(s.loaded);
    EXPECT_THAT(s.names, ElementsAre(L"Torvex, Inc.", L"Orvan Corporation"));
    EXPECT_THAT(s.serials, ElementsAre(L"0A1b"));
    // An odd number of digits gives an entry that matches nothing.
    EXPECT_THAT(s.thumbprints, ElementsAre(Thumbprint{0x00, 0xff, 0x10}, Thumbprint{}));
}

TEST_F(TrustListFileTest, AbsentSectionsGiveAbsentLists) {
    auto list = ListWith("[VER]\n8\n");
    ASSERT_TRUE(list->Load());
    const Snapshot s = Take(*list);
    EXPECT_TRUE(s.namesAbsent);
    EXPECT_TRUE(s.serialsAbsent);
    EXPECT_TRUE(s.thumbprints.empty());  // and so any root is accepted
}

TEST_F(TrustListFileTest, NotLoadedWithoutTheSuiteSignatureOrWithoutFile) {
    EXPECT_FALSE(ListWith("[VER]\n8\n", false)->Load());
    EXPECT_FALSE(ListOn(folder_.File(L"absent.js"))->Load());
    const Snapshot s = Take(*ListWith("[VER]\n8\n", false));
    EXPECT_FALSE(s.loaded);
    EXPECT_EQ(s.version, 0u);
}

TEST_F(TrustListFileTest, FailedReadGivesNoText) {
    const std::string text = "[VER]\n8\n" + std::string(12000, ' ') + "\n[SER]\n0a1b\n";
    const std::wstring path = folder_.Write(L"list.js", text);
    struct Case {
        const char* label;
        DWORD access;
        bool read;
    } cases[] = {
        {"readable", GENERIC_READ, true},
        {"open without read access", GENERIC_WRITE, false},
    };
    for (const Case& c : cases) {
        const Basalt::KernelHandle file(
            CreateFileW(path.c_str(), c.access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE) << c.label;
        std::string bytes = "left over";
        EXPECT_EQ(ReadWholeFile(file.Get(), bytes), c.read) << c.label;
        EXPECT_EQ(bytes, c.read ? text : std::string()) << c.label;
    }
}

TEST_F(TrustListFileTest, LoadAfterAFailedLoadStartsFromAnEmptyTable) {
    const std::wstring path = folder_.Write(L"list.js", "[ORG]\nA\n[VER]\n8\n9\n");
    auto list = ListOn(path);
    ASSERT_FALSE(list->Load());
    folder_.Write(L"list.js", "[ORG]\nB\n[VER]\n9\n");
    ASSERT_TRUE(list->Load());
    EXPECT_EQ(list->Version(), 9u);
    EXPECT_THAT(Take(*list).names, ElementsAre(L"B"));
}

TEST_F(TrustListFileTest, ReloadReadsTheFileAgain) {
    const std::wstring path = folder_.Write(L"list.js", "[VER]\n8\n");
    auto list = ListOn(path);
    ASSERT_TRUE(list->Load());
    folder_.Write(L"list.js", "[VER]\n9\n");
    EXPECT_TRUE(list->Load());  // already loaded: not read again
    EXPECT_EQ(list->Version(), 8u);
    EXPECT_TRUE(list->Reload());
    EXPECT_EQ(list->Version(), 9u);
}

TEST(TrustListDefaults, DefaultPathIsUnderTheWindowsDriveRoot) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring expected =
        std::wstring(windows, 3) + L"Program Files\\Common Files\\Torvex\\Platform\\Core\\trusted.js";
    EXPECT_EQ(TrustList::DefaultPath(), expected);
    EXPECT_EQ(TrustList::Installed().Path(), expected);
    EXPECT_FALSE(TrustList::Installed().IsLoaded());
}

TEST(TrustListDefaults, RealSignatureJudgementRefusesWhatTheSuiteDidNotSign) {
    // A list with no signature, and a file signed by a leaf that is not the suite's list signer.
    const EmbeddedTrustListSignature judgement;
    EXPECT_FALSE(judgement.IsSignedBySuite(trusttest::TrustListFile(L"list_v8.js")));
    EXPECT_FALSE(judgement.IsSignedBySuite(trusttest::SignedFile(L"good", L"trust_payload")));
    EXPECT_FALSE(judgement.IsSignedBySuite(L"C:\\no\\such\\trusted.js"));
    TrustList list(trusttest::TrustListFile(L"list_v8.js"));
    EXPECT_FALSE(list.Load());
}

TEST(TrustListDefaults, SignatureJudgementNeedsTheNamedSignersOwnSignature) {
    // Files signed by the test PKI's "good" leaf, judged with that leaf as the list signer.
    const EmbeddedTrustListSignature judgement(trusttest::LeafThumbprint("good"));
    struct Case {
        const char* label;
        std::wstring path;
        bool accepted;
    };
    const Case cases[] = {
        {"signed by the named signer", trusttest::SignedFile(L"good", L"trust_payload"), true},
        {"one flipped byte", trusttest::SignedFile(L"tampered", L"trust_payload"), false},
        {"the signer's signature damaged", trusttest::SignedFile(L"bad_signature", L"trust_payload"), false},
        {"signed by another leaf", trusttest::SignedFile(L"stranger", L"trust_payload"), false},
        {"unsigned", trusttest::UnsignedFile(L"trust_payload"), false},
    };
    for (const Case& c : cases) EXPECT_EQ(judgement.IsSignedBySuite(c.path), c.accepted) << c.label;
}

TEST(TrustListDefaults, BuiltInList) {
    const TrustListValues& builtIn = BuiltInTrustList();
    EXPECT_EQ(builtIn.version, 7u);
    EXPECT_THAT(Strings(builtIn.names), ElementsAre(L"Orvan Corporation", L"Torvex, Inc.", L"Torvex, LLC",
                                                    L"Torvex, LLC."));
    ASSERT_EQ(builtIn.thumbprintCount, 6u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(builtIn.thumbprints[i].size(), 20u);
    EXPECT_TRUE(Strings(builtIn.serials).empty());
}

class InstallTest : public TrustListFileTest {
protected:
    std::wstring Candidate(const wchar_t* name, unsigned version) {
        return folder_.Write(name, "[VER]\n" + std::to_string(version) + "\n[ORG]\nTorvex, Inc.\n");
    }
    std::wstring installedPath_ = folder_.File(L"Core\\trusted.js");
    // The copy that is judged and installed.
    std::wstring candidatePath_ = folder_.File(L"Core\\trusted.tmp.js");
    std::unique_ptr<TrustList> installed_ = ListOn(installedPath_);
};

TEST_F(InstallTest, VersionRules) {
    // Never a list that is not above the built-in one, even with none installed.
    EXPECT_FALSE(InstallTrustListFromFile(*installed_, Candidate(L"v7.js", 7)));
    EXPECT_EQ(GetFileAttributesW(installedPath_.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GlobalFindAtomW(kTrustListUpdateAtom), 0);

    EXPECT_TRUE(InstallTrustListFromFile(*installed_, Candidate(L"v8.js", 8)));
    EXPECT_EQ(installed_->Version(), 8u);
    EXPECT_EQ(testsupport::TempFolder::ReadAll(installedPath_), testsupport::TempFolder::ReadAll(folder_.File(L"v8.js")));
    EXPECT_NE(GlobalFindAtomW(kTrustListUpdateAtom), 0);

    EXPECT_FALSE(InstallTrustListFromFile(*installed_, Candidate(L"same.js", 8)));
    EXPECT_FALSE(InstallTrustListFromFile(*installed_, Candidate(L"older.js", 7)));
    EXPECT_TRUE(InstallTrustListFromFile(*installed_, Candidate(L"v9.js", 9)));
    EXPECT_EQ(installed_->Version(), 9u);
}

// Says every list is signed and, while judging the first one, overwrites the source file with a list that does not
// load (as anyone who can write the folder of an extracted copy could).
class SwappingSignature final : public TrustListSignature {
public:
    explicit SwappingSignature(std::wstring source) : source_(std::move(source)) {}
    bool IsSignedBySuite(const std::wstring& path) const override {
        judged.push_back(path);
        if (judged.size() == 1) {
            HANDLE file = CreateFileW(source_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD written = 0;
            WriteFile(file, "[VER]\n8\n9\n", 10, &written, nullptr);
            CloseHandle(file);
        }
        return true;
    }
    mutable std::vector<std::wstring> judged;

private:
    std::wstring source_;
};

TEST_F(InstallTest, TheCopyThatIsInstalledIsTheOneJudged) {
    const std::wstring source = Candidate(L"v9.js", 9);
    const std::string judgedText = testsupport::TempFolder::ReadAll(source);
    auto signature = std::make_shared<SwappingSignature>(source);
    TrustList installed(installedPath_, signature);
    EXPECT_TRUE(InstallTrustListFromFile(installed, source));
    EXPECT_EQ(installed.Version(), 9u);
    EXPECT_EQ(testsupport::TempFolder::ReadAll(installedPath_), judgedText);
    ASSERT_FALSE(signature->judged.empty());
    // Beside the installed file and, as Windows finds a script's signature by the extension (this Wine verifies
    // none), still a ".js" file: a copy named otherwise could never pass there.
    const std::wstring& judged = signature->judged[0];
    EXPECT_EQ(judged, candidatePath_);
    EXPECT_EQ(CompareStringOrdinal(PathFindExtensionW(judged.c_str()), -1, L".js", -1, TRUE), CSTR_EQUAL) << judged;
    std::wstring folder = judged;
    PathRemoveFileSpecW(folder.data());
    EXPECT_EQ(folder.c_str(), folder_.File(L"Core")) << judged;
    EXPECT_NE(CompareStringOrdinal(judged.c_str(), -1, installedPath_.c_str(), -1, TRUE), CSTR_EQUAL) << judged;
}

TEST_F(InstallTest, CopyLeftByAnEarlierInstallIsReplaced) {
    // A newer list left under the copy's name must neither be installed nor stop the install. (This Wine copies
    // over a hidden file on its own; Windows does not.)
    struct Case {
        const char* label;
        DWORD attributes;
    } cases[] = {
        {"plain", FILE_ATTRIBUTE_NORMAL},
        {"hidden, as a cabinet's entry may leave it", FILE_ATTRIBUTE_HIDDEN},
    };
    unsigned version = 8;
    for (const Case& c : cases) {
        folder_.Write(L"Core\\trusted.tmp.js", "[VER]\n99\n");
        ASSERT_TRUE(SetFileAttributesW(candidatePath_.c_str(), c.attributes)) << c.label;
        const std::wstring source = Candidate(L"next.js", version);
        EXPECT_TRUE(InstallTrustListFromFile(*installed_, source)) << c.label;
        EXPECT_EQ(installed_->Version(), version) << c.label;
        EXPECT_EQ(testsupport::TempFolder::ReadAll(installedPath_), testsupport::TempFolder::ReadAll(source))
            << c.label;
        ++version;
    }
}

TEST_F(InstallTest, RefusedCandidateLeavesNoCopyBehind) {
    ASSERT_TRUE(InstallTrustListFromFile(*installed_, Candidate(L"v9.js", 9)));
    const std::string before = testsupport::TempFolder::ReadAll(installedPath_);
    for (unsigned version : {7u, 9u}) {
        EXPECT_FALSE(InstallTrustListFromFile(*installed_, Candidate(L"old.js", version))) << version;
        EXPECT_EQ(GetFileAttributesW(candidatePath_.c_str()), INVALID_FILE_ATTRIBUTES)
            << version;
        EXPECT_EQ(testsupport::TempFolder::ReadAll(installedPath_), before) << version;
        EXPECT_EQ(installed_->Version(), 9u) << version;
    }
}

TEST_F(InstallTest, CandidateMustCarryTheSuiteSignature) {
    auto refusing = ListOn(installedPath_, false);
    EXPECT_FALSE(InstallTrustListFromFile(*refusing, Candidate(L"v8.js", 8)));
    EXPECT_EQ(GetFileAttributesW(installedPath_.c_str()), INVALID_FILE_ATTRIBUTES);
}

std::vector<std::wstring> PendingRenames() {
    std::vector<std::wstring> entries;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return entries;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                         &size);
        // Pairs of strings, an empty destination meaning delete: walk every string, empty ones included.
        const size_t count = size / sizeof(wchar_t);
        for (size_t i = 0; i < count;) {
            std::wstring entry(data.data() + i);
            entries.push_back(entry);
            i += entry.size() + 1;
        }
    }
    RegCloseKey(key);
    return entries;
}

void ClearPendingRenames() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_SET_VALUE,
                      &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"PendingFileRenameOperations");
    RegCloseKey(key);
}

TEST_F(InstallTest, BlockedReplaceIsScheduledToReplaceAndReleasesTheFileLock) {
    ASSERT_TRUE(InstallTrustListFromFile(*installed_, Candidate(L"v8.js", 8)));
    ClearPendingRenames();
    {
        // Another process holds the installed file without delete sharing: replacing it fails now.
        HANDLE holder = CreateFileW(installedPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(InstallTrustListFromFile(*installed_, Candidate(L"v9.js", 9)));
        CloseHandle(holder);
    }
    const std::vector<std::wstring> pending = PendingRenames();
    ClearPendingRenames();
    // The destination is marked to replace the file that is there ("!").
    ASSERT_GE(pending.size(), 2u);
    EXPECT_THAT(pending[0], ::testing::EndsWith(candidatePath_));
    EXPECT_THAT(pending[1], ::testing::StartsWith(L"!"));
    EXPECT_THAT(pending[1], ::testing::EndsWith(L"Core\\trusted.js"));
    EXPECT_EQ(installed_->Version(), 8u);

    // Nothing of the failed install is still locked or open: the next install goes through.
    EXPECT_TRUE(InstallTrustListFromFile(*installed_, Candidate(L"v10.js", 10)));
    EXPECT_EQ(installed_->Version(), 10u);
}

}  // namespace
