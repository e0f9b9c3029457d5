// The process-wide trust check and the loaders built on it, with the validation-service double installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include "foundation/trust/ModuleTrust.h"
#include "foundation/trust/TrustedLoading.h"
#include "tests/doubles/ComObject.h"
#include "tests/doubles/DoubleIds.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/TempFolder.h"

namespace {

using trusttest::SignedFile;
using trusttest::UnsignedFile;

// The process-wide validation client is made by the first check and then kept, so every test here sees the service
// installed the same way (version 15.5, the good double).
class ProcessTrustTest : public ::testing::Test {
protected:
    ProcessTrustTest() { double_.Install(L"15.5", trusttest::SignedFolder(L"good")); }

    trusttest::ValidationDouble double_;
};

std::vector<std::wstring> PkiFiles() {
    return {SignedFile(L"good", L"trust_payload"),     SignedFile(L"good_stamped", L"trust_payload"),
            SignedFile(L"tampered", L"trust_payload"), UnsignedFile(L"trust_payload"),
            SignedFile(L"expired", L"trust_payload"),  SignedFile(L"expired_stamped", L"trust_payload"),
            SignedFile(L"wrong_usage", L"trust_payload"), SignedFile(L"stranger", L"trust_payload")};
}

TEST_F(ProcessTrustTest, ServiceVouchesOrTheShippedListsDecide) {
    double_.SetMode(trusttest::ValidationDouble::kVouchAll);
    for (const std::wstring& file : PkiFiles()) EXPECT_EQ(VerifyModuleTrust(file.c_str()), 0u) << file.c_str();
    // Refused by the service, the test root is foreign to the shipped lists: nothing passes.
    double_.SetMode(trusttest::ValidationDouble::kRefuse);
    double_.ClearJournal();
    for (const std::wstring& file : PkiFiles()) EXPECT_EQ(VerifyModuleTrust(file.c_str()), 5u) << file.c_str();
    EXPECT_THAT(double_.Journal(), ::testing::Contains(L"512 " + SignedFile(L"tampered", L"trust_payload")));
    EXPECT_EQ(double_.Journal().size(), PkiFiles().size());
}

TEST_F(ProcessTrustTest, TrustedLoadLibraryExChecksBeforeLoading) {
    const std::wstring file = SignedFile(L"good", L"trust_payload");
    double_.SetMode(trusttest::ValidationDouble::kRefuse);
    SetLastError(0);
    EXPECT_EQ(TrustedLoadLibraryEx(file.c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_EQ(GetModuleHandleW(file.c_str()), nullptr);

    SetLastError(0);
    EXPECT_EQ(TrustedLoadLibraryEx(nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), 87u);

    double_.Vouch({file});
    HMODULE module = TrustedLoadLibraryEx(file.c_str(), 0);
    ASSERT_NE(module, nullptr);
    using AnswerFn = DWORD (*)();
    auto answer = reinterpret_cast<AnswerFn>(reinterpret_cast<void*>(GetProcAddress(module, "PayloadAnswer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42u);
    FreeLibrary(module);
}

// A path that is not absolute is judged against the current folder but loaded from the search path, and a file name
// without an extension is loaded with ".dll" appended: both are refused even when every file would pass.
TEST_F(ProcessTrustTest, TrustedLoadLibraryExLoadsOnlyExactPaths) {
    const std::wstring file = SignedFile(L"good", L"trust_payload");
    const size_t nameAt = file.find_last_of(L'\\');
    const size_t folderAt = file.find_last_of(L'\\', nameAt - 1);
    const std::wstring parent = file.substr(0, folderAt);
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(parent.c_str()));
    double_.SetMode(trusttest::ValidationDouble::kVouchAll);
    const std::wstring fromParent = file.substr(folderAt + 1);
    // From the current folder, from the current drive's root, and from the current folder of the file's drive.
    // The signed file without its extension, where the loader would open the unsigned one beside it.
    const testsupport::TempFolder scratch;
    const std::wstring bare = scratch.File(L"trust_payload");
    ASSERT_TRUE(CopyFileW(file.c_str(), bare.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(UnsignedFile(L"trust_payload").c_str(), (bare + L".dll").c_str(), FALSE));
    const std::wstring relatives[] = {fromParent, L".\\" + fromParent, file.substr(2), file.substr(0, 2) + fromParent,
                                      bare};
    for (const std::wstring& relative : relatives) {
        SetLastError(0);
        const HMODULE module = TrustedLoadLibraryEx(relative.c_str(), 0);
        EXPECT_EQ(module, nullptr) << relative.c_str();
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME)) << relative.c_str();
        if (module) FreeLibrary(module);
    }
    SetCurrentDirectoryW(previous);
}

TEST_F(ProcessTrustTest, ModuleOfAddress) {
    wchar_t path[MAX_PATH] = {};
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(GetModulePathFromAddress(reinterpret_cast<const void*>(&PkiFiles), path), 0u);
    EXPECT_STREQ(path, self);
    EXPECT_EQ(GetModulePathFromAddress(nullptr, path), 87u);
    EXPECT_EQ(GetModulePathFromAddress(reinterpret_cast<const void*>(0x10), path), 5u);
    EXPECT_EQ(VerifyModuleOfAddress(reinterpret_cast<const void*>(0x10)), 87u);
    double_.Vouch({self});
    EXPECT_EQ(VerifyModuleOfAddress(reinterpret_cast<const void*>(&PkiFiles)), 0u);
    double_.SetMode(trusttest::ValidationDouble::kRefuse);
    EXPECT_EQ(VerifyModuleOfAddress(reinterpret_cast<const void*>(&PkiFiles)), 5u);
}

TEST_F(ProcessTrustTest, ModuleWhoseNameDoesNotFitThePathBufferIsNotFound) {
    // A copy of the payload deep enough that its name is longer than a path buffer.
    testsupport::TempFolder temp;
    std::wstring folder = L"\\\\?\\" + temp.Path();
    while (folder.size() < MAX_PATH + 20) {
        folder += L"\\" + std::wstring(50, L'd');
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    const std::wstring copy = folder + L"\\deep_payload.dll";
    ASSERT_TRUE(CopyFileW(UnsignedFile(L"trust_payload").c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, 0);
    ASSERT_NE(module, nullptr);
    const void* code = reinterpret_cast<const void*>(GetProcAddress(module, "PayloadAnswer"));
    ASSERT_NE(code, nullptr);

    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(GetModulePathFromAddress(code, path), 5u);
    // A service that vouches for every path must not be asked about a cut one.
    double_.SetMode(trusttest::ValidationDouble::kVouchAll);
    EXPECT_EQ(VerifyModuleOfAddress(code), 87u);
    FreeLibrary(module);
    DeleteFileW(copy.c_str());
    while (folder.size() > temp.Path().size() + 4) {
        RemoveDirectoryW(folder.c_str());
        folder.resize(folder.find_last_of(L'\\'));
    }
}

// COM classes of the server double, registered under HKLM (this Wine ignores HKCU classes) with ThreadingModel
// "Both" (an "Apartment" server fails from this multithreaded apartment).
class TrustedComTest : public ProcessTrustTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        double_.SetMode(trusttest::ValidationDouble::kVouchSigned);
    }
    void TearDown() override { CoUninitialize(); }

    static std::wstring ServerKey(const GUID& clsid) {
        wchar_t text[64] = {};
        StringFromGUID2(clsid, text, 64);
        return std::wstring(L"Software\\Classes\\CLSID\\") + text + L"\\InprocServer32";
    }
    void Register(const GUID& clsid, const std::wstring& server, DWORD type = REG_SZ) {
        registry_.SetString(HKEY_LOCAL_MACHINE, ServerKey(clsid), nullptr, server, testsupport::RegView::Default, type);
        registry_.SetString(HKEY_LOCAL_MACHINE, ServerKey(clsid), L"ThreadingModel", L"Both");
    }

    static DWORD OriginOf(void* object) {
        auto* test = static_cast<doubles::ITestObject*>(object);
        const DWORD origin = test->Origin();
        test->Release();
        return origin;
    }

    testsupport::ScratchRegistry registry_;
};

TEST_F(TrustedComTest, SignedServerIsCreatedThroughTheFactoryInterfaces) {
    Register(doubles::kClsidBothFactories, SignedFile(L"good", L"trust_com_server"));
    Register(doubles::kClsidSecondFactoryOnly, SignedFile(L"good", L"trust_com_server"));
    void* object = reinterpret_cast<void*>(1);
    ASSERT_EQ(TrustedCoCreateInstance(doubles::kClsidBothFactories, nullptr, CLSCTX_INPROC_SERVER,
                                      doubles::kIidTestObject, &object, TRUE),
              S_OK);
    EXPECT_EQ(OriginOf(object), doubles::kViaFirstFactory);
    // The outer object plays no part on the checked path.
    IUnknown* outer = reinterpret_cast<IUnknown*>(&object);
    ASSERT_EQ(TrustedCoCreateInstance(doubles::kClsidSecondFactoryOnly, outer, CLSCTX_INPROC_SERVER,
                                      doubles::kIidTestObject, &object, TRUE),
              S_OK);
    EXPECT_EQ(OriginOf(object), doubles::kViaSecondFactory);
}

TEST_F(TrustedComTest, UnsignedServerIsRefusedOnlyWhenChecked) {
    Register(doubles::kClsidBothFactories, UnsignedFile(L"trust_com_server"));
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(TrustedCoCreateInstance(doubles::kClsidBothFactories, nullptr, CLSCTX_INPROC_SERVER,
                                      doubles::kIidTestObject, &object, TRUE),
              E_ACCESSDENIED);
    EXPECT_EQ(object, nullptr);

    ASSERT_EQ(CoCreateInstanceViaFactory(doubles::kClsidBothFactories, nullptr, CLSCTX_INPROC_SERVER,
                                         doubles::kIidTestObject, &object),
              S_OK);
    EXPECT_EQ(OriginOf(object), doubles::kViaFirstFactory);

    ASSERT_EQ(TrustedCoCreateInstance(doubles::kClsidBothFactories, nullptr, CLSCTX_INPROC_SERVER,
                                      doubles::kIidTestObject, &object, FALSE),
              S_OK);
    EXPECT_EQ(OriginOf(object), doubles::kViaClassFactory);
}

TEST_F(TrustedComTest, RegisteredServerIsJudgedBeforeItIsLoaded) {
    // Copies of their own, so that nothing else in this process has loaded them.
    testsupport::TempFolder servers;
    for (const wchar_t* name : {L"unsigned.dll", L"unsigned_expanded.dll", L"unsigned_list.dll"})
        ASSERT_TRUE(CopyFileW(UnsignedFile(L"trust_com_server").c_str(), servers.File(name).c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(SignedFile(L"good", L"trust_com_server").c_str(), servers.File(L"relative.dll").c_str(),
                          FALSE));
    SetEnvironmentVariableW(L"WELKIN_TEST_SERVERS", servers.Path().c_str());
    SetEnvironmentVariableW(L"WELKIN_TEST_SIGNED", trusttest::SignedFolder(L"good").c_str());
    // A bare name would be judged against the current directory, where a signed copy lies.
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(servers.Path().c_str()));
    struct Case {
        const char* name;
        std::wstring registered;
        DWORD type;
        HRESULT expected;
        std::wstring neverLoaded;  // when refused
    };
    const Case cases[] = {
        {"unsigned", servers.File(L"unsigned.dll"), REG_SZ, E_ACCESSDENIED, servers.File(L"unsigned.dll")},
        {"unsigned through an environment string", L"%WELKIN_TEST_SERVERS%\\unsigned_expanded.dll", REG_EXPAND_SZ,
         E_ACCESSDENIED, servers.File(L"unsigned_expanded.dll")},
        {"signed through an environment string", L"%WELKIN_TEST_SIGNED%\\trust_com_server.dll", REG_EXPAND_SZ, S_OK,
         L""},
        {"bare name", L"relative.dll", REG_SZ, E_ACCESSDENIED, servers.File(L"relative.dll")},
        // A value of another type is not read as a path to judge; COM may still read one from it.
        {"unsigned as a text list", servers.File(L"unsigned_list.dll") + L'\0', REG_MULTI_SZ, E_ACCESSDENIED,
         servers.File(L"unsigned_list.dll")},
    };
    for (const Case& c : cases) {
        Register(doubles::kClsidBothFactories, c.registered, c.type);
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(TrustedCoCreateInstance(doubles::kClsidBothFactories, nullptr, CLSCTX_INPROC_SERVER,
                                          doubles::kIidTestObject, &object, TRUE),
                  c.expected)
            << c.name;
        if (SUCCEEDED(c.expected)) {
            EXPECT_EQ(OriginOf(object), doubles::kViaFirstFactory) << c.name;
        } else {
            EXPECT_EQ(object, nullptr) << c.name;
            EXPECT_EQ(GetModuleHandleW(c.neverLoaded.c_str()), nullptr) << c.name;
        }
    }
    SetCurrentDirectoryW(previous);
    SetEnvironmentVariableW(L"WELKIN_TEST_SERVERS", nullptr);
    SetEnvironmentVariableW(L"WELKIN_TEST_SIGNED", nullptr);
}

// A factory of this unsigned program, registered with COM for a class whose registry entry names the signed server.
class ProgramFactory final : public doubles::ComObject<ITrustedClassFactory> {
public:
    explicit ProgramFactory(int& creations) : ComObject(kTrustedFactoryIid), creations_(creations) {}
    HRESULT STDMETHODCALLTYPE Create(REFIID, void** out) override {
        ++creations_;
        *out = nullptr;
        return E_NOTIMPL;
    }

private:
    int& creations_;
};

TEST_F(TrustedComTest, FactoryServedFromAnotherModuleThanTheRegisteredOneIsJudgedToo) {
    Register(doubles::kClsidBothFactories, SignedFile(L"good", L"trust_com_server"));
    int creations = 0;
    auto* factory = new ProgramFactory(creations);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(doubles::kClsidBothFactories, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &cookie),
              S_OK);
    factory->Release();
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(TrustedCoCreateInstance(doubles::kClsidBothFactories, nullptr, CLSCTX_INPROC_SERVER,
                                      doubles::kIidTestObject, &object, TRUE),
              E_ACCESSDENIED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(creations, 0);
    CoRevokeClassObject(cookie);
}

TEST_F(TrustedComTest, AnObjectIsJudgedByTheModuleThatHoldsItsCode) {
    double_.SetMode(trusttest::ValidationDouble::kRefuse);
    double_.ClearJournal();
    ComServerJudgement judgement;
    // A stream of the platform's COM library, in the System folder: passes, and nobody is asked about it.
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    EXPECT_EQ(judgement.JudgeObject(stream), 0u);
    stream->Release();
    EXPECT_TRUE(double_.Journal().empty()) << testing::PrintToString(double_.Journal());
    // An object of this unsigned program is judged, and refused.
    int creations = 0;
    auto* own = new ProgramFactory(creations);
    EXPECT_EQ(judgement.JudgeObject(own), 5u);
    own->Release();
    EXPECT_EQ(judgement.JudgeObject(nullptr), 87u);
}

TEST_F(TrustedComTest, UncheckedCreationIsPlainCoCreateInstance) {
    Register(doubles::kClsidBothFactories, SignedFile(L"good", L"trust_com_server"));
    IUnknown* outer = reinterpret_cast<IUnknown*>(this);
    void* plain = reinterpret_cast<void*>(1);
    void* ours = reinterpret_cast<void*>(1);
    const HRESULT expected = CoCreateInstance(doubles::kClsidBothFactories, outer, CLSCTX_INPROC_SERVER,
                                              doubles::kIidTestObject, &plain);
    EXPECT_EQ(expected, CLASS_E_NOAGGREGATION);
    EXPECT_EQ(TrustedCoCreateInstance(doubles::kClsidBothFactories, outer, CLSCTX_INPROC_SERVER,
                                      doubles::kIidTestObject, &ours, FALSE),
              expected);
    EXPECT_EQ(ours, nullptr);
}

TEST_F(TrustedComTest, Failures) {
    EXPECT_EQ(TrustedCoCreateInstance(doubles::kClsidBothFactories, nullptr, CLSCTX_INPROC_SERVER,
                                      doubles::kIidTestObject, nullptr, TRUE),
              E_POINTER);
    EXPECT_EQ(CoCreateInstanceViaFactory(doubles::kClsidBothFactories, nullptr, CLSCTX_INPROC_SERVER,
                                         doubles::kIidTestObject, nullptr),
              E_POINTER);
    // {0B7E3C51-4D2A-4F0E-9C61-2A8F5E7D1BFF}: never registered.
    const GUID unknown = {0x0b7e3c51, 0x4d2a, 0x4f0e, {0x9c, 0x61, 0x2a, 0x8f, 0x5e, 0x7d, 0x1b, 0xff}};
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(TrustedCoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, doubles::kIidTestObject, &object, TRUE),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    // Outside any apartment COM's own answer, not a refusal.
    CoUninitialize();
    EXPECT_EQ(TrustedCoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, doubles::kIidTestObject, &object, TRUE),
              CO_E_NOTINITIALIZED);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
}

}  // namespace
