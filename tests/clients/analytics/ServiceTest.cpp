// The legacy transport and whole Sends against the telemetry service double, registered in this prefix as the
// service's in-process server. The signed double stays loaded by the test (its live-object count is read from it),
// so every instance the transport made must have been released by the time a call returns. Unsigned copies are
// never loaded by the test: the transport must not load them either, which their own journal shows (a module
// journals "attach" when it is loaded, a check COM cannot undo by unloading it at CoUninitialize).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <comdef.h>
#include <objbase.h>

#include <algorithm>
#include <functional>
#include <new>
#include <thread>

#include "clients/analytics/Event.h"
#include "clients/analytics/LegacyTransport.h"
#include "clients/analytics/SDKConnector.h"
#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/trust/TrustedLoading.h"
#include "tests/doubles/ComObject.h"
#include "tests/doubles/DoubleIds.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/ModuleLoadWatch.h"
#include "tests/support/TelemetryServiceDouble.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

namespace {

using Orvan::Analytics::CJSONFormatter;
using Orvan::Analytics::CLegacyTransport;
using Orvan::Analytics::CSDKConnector;
using Orvan::Analytics::IFormatter;
using Orvan::Analytics::Record;
using Orvan::Analytics::v2::CEvent;
using testing::ElementsAre;
using testsupport::TelemetryServiceDouble;

// {0B7E3C51-4D2A-4F0E-9C61-2A8F5E7D1B30}: a class of the test served by the platform's script-component host.
constexpr CLSID kClsidScriptlet = {0x0b7e3c51, 0x4d2a, 0x4f0e, {0x9c, 0x61, 0x2a, 0x8f, 0x5e, 0x7d, 0x1b, 0x30}};
// {0B7E3C51-4D2A-4F0E-9C61-2A8F5E7D1B31} and ...32: interfaces the service's interface may derive from.
constexpr IID kIidServiceBase = {0x0b7e3c51, 0x4d2a, 0x4f0e, {0x9c, 0x61, 0x2a, 0x8f, 0x5e, 0x7d, 0x1b, 0x31}};
constexpr IID kIidServiceBase2 = {0x0b7e3c51, 0x4d2a, 0x4f0e, {0x9c, 0x61, 0x2a, 0x8f, 0x5e, 0x7d, 0x1b, 0x32}};

const std::vector<std::string> kPlainCreation = {"factory first", "factory second", "factory IClassFactory",
                                                 "create IClassFactory"};

// Joins line lists for expectations that follow one another.
std::vector<std::string> Lines(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class ServiceTest : public ::testing::Test {
protected:
    ServiceTest() : service_(scratch_.File(L"telemetry.txt")) {
        // The process-wide trust client is made by the first check: the validation double is always installed.
        validation_.Install(L"15.5", trusttest::SignedFolder(L"good"));
        validation_.SetMode(trusttest::ValidationDouble::kVouchSigned);
    }
    void SetUp() override {
        SetEnvironmentVariableW(TelemetryServiceDouble::kJournal, service_.JournalPath().c_str());
        Register(trusttest::SignedFile(L"good", L"telemetry_service"));
        service_.ClearJournal();  // the test's own load
    }
    void TearDown() override {
        for (const wchar_t* name : {TelemetryServiceDouble::kJournal, TelemetryServiceDouble::kResult,
                                    TelemetryServiceDouble::kFactories, TelemetryServiceDouble::kFailCreate})
            SetEnvironmentVariableW(name, nullptr);
        service_.Unregister();
    }

    void Register(const std::wstring& server) {
        service_.Register(server);
        module_.Reset(LoadLibraryW(server.c_str()));
        ASSERT_TRUE(module_) << GetLastError();
        liveObjects_ = reinterpret_cast<long (*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_.Get(), "TelemetryDoubleLiveObjects")));
        ASSERT_NE(liveObjects_, nullptr);
    }
    static void Set(const wchar_t* name, const wchar_t* value) { SetEnvironmentVariableW(name, value); }

    long LiveObjects() const { return liveObjects_(); }
    // True when this thread holds no COM initialisation: a single-threaded one can then begin.
    static bool ApartmentReleased() {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(hr)) CoUninitialize();
        return hr == S_OK;
    }

    testsupport::TempFolder scratch_;
    trusttest::ValidationDouble validation_;
    TelemetryServiceDouble service_;
    Basalt::LoadedModule module_;
    long (*liveObjects_)() = nullptr;
};

// A connector whose service cannot be used: it still connects and sends, through the null transport.
void ExpectNullTransportChosen() {
    CSDKConnector connector;
    ASSERT_TRUE(connector.connect());
    Record record = {{L"a", L"b"}};
    EXPECT_TRUE(connector.send(record));
    EXPECT_EQ(record[L"__transport.name"], L"NULL-Pattern v1");
    connector.disconnect();
}

std::string SendLine(const Record& record) {
    std::wstring json;
    CJSONFormatter().format(record, json);
    return "send 0 " + std::to_string(json.size()) + " 0";
}

TEST_F(ServiceTest, EventArrivesAsOneJsonObject) {
    CEvent event(L"welkin_test");
    event.Label(L"a label").Category(L"PartnerComponent").Action(L"act").Add(L"Hit.Path", L"C:\\x\\\"y\"/\n\x7f");
    event.Send();
    // initialize makes and releases one instance, send another; the double answers neither trusted factory
    // interface, so each is made by plain creation after both were asked.
    EXPECT_EQ(service_.Events(), Lines({kPlainCreation, {"release"}, kPlainCreation, {SendLine(event.record()), "release"}}));
    const auto records = service_.SentRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], event.record());
    EXPECT_EQ(records[0].at(L"__transport.name"), L"Legacy v1");
    EXPECT_EQ(records[0].at(L"Hit.Path"), L"C:\\x\\\"y\"/\n\x7f");
    EXPECT_EQ(records[0].count(L"__record.created.seconds"), 1u);
    EXPECT_EQ(LiveObjects(), 0);
    EXPECT_TRUE(ApartmentReleased());
}

TEST_F(ServiceTest, MissingServiceDropsTheRecordQuietly) {
    service_.Unregister();
    ExpectNullTransportChosen();
    CEvent(L"dropped").Send();
    EXPECT_TRUE(service_.Events().empty());
    EXPECT_TRUE(ApartmentReleased());
}

TEST_F(ServiceTest, ServiceAnswerDecidesTheSendResult) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"0", true}, {L"1", true}, {L"0x80004005", false}, {L"0x8007000E", false}, {L"0x80070005", false}};
    for (const auto& [result, accepted] : cases) {
        Set(TelemetryServiceDouble::kResult, result);
        service_.ClearJournal();
        CLegacyTransport transport;
        EXPECT_TRUE(transport.initialize()) << testing::PrintToString(std::wstring(result));
        EXPECT_EQ(transport.send(Record{{L"a", L"b"}}), accepted) << testing::PrintToString(std::wstring(result));
        EXPECT_EQ(service_.Events(), Lines({kPlainCreation, {"release"}, kPlainCreation, {"send 0 9 0", "release"}}));
        EXPECT_EQ(LiveObjects(), 0);
        EXPECT_TRUE(ApartmentReleased());
    }
}

TEST_F(ServiceTest, ServiceThatCannotCreateIsPassedOver) {
    Set(TelemetryServiceDouble::kFailCreate, L"1");
    CLegacyTransport transport;
    EXPECT_FALSE(transport.initialize());
    EXPECT_FALSE(transport.send(Record{{L"a", L"b"}}));
    ExpectNullTransportChosen();
    for (const std::string& line : service_.Events()) EXPECT_EQ(line.rfind("send", 0), std::string::npos) << line;
    EXPECT_EQ(LiveObjects(), 0);
    EXPECT_TRUE(ApartmentReleased());
}

// A formatter that fails the way a real one can: refusing, out of memory, or the COM error of a text allocation.
class FailingFormatter : public IFormatter {
public:
    enum class How { Refuse, BadAlloc, ComError };
    explicit FailingFormatter(How how) : how_(how) {}
    bool format(const Record&, std::wstring& text) override {
        text.clear();
        if (how_ == How::BadAlloc) throw std::bad_alloc();
        if (how_ == How::ComError) throw _com_error(E_OUTOFMEMORY);
        return false;
    }

private:
    How how_;
};

TEST_F(ServiceTest, FailuresInsideSendAnswerFalseAndReleaseEverything) {
    using How = FailingFormatter::How;
    for (How how : {How::Refuse, How::BadAlloc, How::ComError}) {
        service_.ClearJournal();
        CLegacyTransport transport(GUID_NULL, std::make_unique<FailingFormatter>(how));
        bool answer = true;
        EXPECT_NO_THROW(answer = transport.send(Record{{L"a", L"b"}})) << static_cast<int>(how);
        EXPECT_FALSE(answer) << static_cast<int>(how);
        EXPECT_EQ(service_.Events(), Lines({kPlainCreation, {"release"}})) << static_cast<int>(how);
        EXPECT_EQ(LiveObjects(), 0) << static_cast<int>(how);
        EXPECT_TRUE(ApartmentReleased()) << static_cast<int>(how);
    }
    service_.ClearJournal();
    CLegacyTransport withoutFormatter(GUID_NULL, nullptr);
    EXPECT_FALSE(withoutFormatter.send(Record{{L"a", L"b"}}));
    EXPECT_TRUE(service_.Events().empty());
}

TEST_F(ServiceTest, SendOnAnotherThreadKeepsToThatThread) {
    bool sent = false;
    std::thread worker([&sent] {
        CLegacyTransport transport;
        sent = transport.send(Record{{L"thread", L"worker"}});
    });
    worker.join();
    EXPECT_TRUE(sent);
    ASSERT_EQ(service_.SentRecords().size(), 1u);
    EXPECT_EQ(service_.SentRecords()[0], (Record{{L"thread", L"worker"}}));
    EXPECT_TRUE(ApartmentReleased());
}

TEST_F(ServiceTest, TrustedFactoriesAreAskedInOrder) {
    const std::pair<const wchar_t*, std::vector<std::string>> cases[] = {
        {L"both", {"factory first", "create first"}},
        // Only the second interface: the first is still asked first.
        {L"second", {"factory first", "factory second", "create second"}},
    };
    for (const auto& [factories, creation] : cases) {
        Set(TelemetryServiceDouble::kFactories, factories);
        service_.ClearJournal();
        CLegacyTransport transport;
        EXPECT_TRUE(transport.send(Record{{L"a", L"b"}}));
        EXPECT_EQ(service_.Events(), Lines({creation, {"send 0 9 0", "release"}}))
            << testing::PrintToString(std::wstring(factories));
        EXPECT_EQ(LiveObjects(), 0);
    }
}

TEST_F(ServiceTest, UnsignedServerIsNeitherLoadedNorSentAnything) {
    // A copy of its own, so that nothing else in this process has loaded it.
    const std::wstring unsigned_ = scratch_.File(L"telemetry_unsigned.dll");
    ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(TELEMETRY_DOUBLE_DLL).c_str(), unsigned_.c_str(), FALSE));
    service_.Unregister();
    service_.Register(unsigned_);
    // Whatever factories it would offer: without the trusted ones plain creation would be tried, with them the
    // factory's module would be judged only after loading.
    for (const wchar_t* factories : {L"", L"first", L"second", L"both"}) {
        Set(TelemetryServiceDouble::kFactories, factories);
        CLegacyTransport transport;
        EXPECT_FALSE(transport.initialize()) << testing::PrintToString(std::wstring(factories));
        EXPECT_FALSE(transport.send(Record{{L"a", L"b"}})) << testing::PrintToString(std::wstring(factories));
        ExpectNullTransportChosen();
        CEvent(L"refused").Send();
        // Not even attached: the module's code never ran in this process.
        EXPECT_TRUE(service_.Events().empty()) << testing::PrintToString(std::wstring(factories));
        EXPECT_TRUE(ApartmentReleased());
    }
}

// The service's class laid out in the forms COM reads besides a plain in-process server path. Each layout either
// leads COM only to the signed server, which gets the record, or nothing is loaded and nothing is sent, on both
// roads: the trusted factory interfaces and plain creation.
TEST_F(ServiceTest, OnlyAJudgedModuleIsLoadedWhateverFormTheRegistrationTakes) {
    const CLSID& service = Orvan::Analytics::kTelemetryServiceClsid;
    const CLSID& redirect = doubles::kClsidTelemetryRedirect;
    const IID& serviceIid = Orvan::Analytics::kTelemetryServiceIid;
    const std::wstring signedServer = trusttest::SignedFile(L"good", L"telemetry_service");
    // A plain text path holding "%": COM loads the file as written, while the expanded path names a signed copy.
    const std::wstring literalFolder = scratch_.File(L"%WELKIN_TEST_SERVER%");
    ASSERT_TRUE(CreateDirectoryW(literalFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(scratch_.File(L"signed").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(signedServer.c_str(), scratch_.File(L"signed\\telemetry_service.dll").c_str(), FALSE));
    SetEnvironmentVariableW(L"WELKIN_TEST_SERVER", L"signed");
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring systemFolder = system;
    const std::wstring workingFolder = Basalt::GetCurrentFolder();
    int copies = 0;
    std::vector<std::wstring> placed;  // outside the scratch folder
    std::vector<Basalt::LoadedModule> loaded;
    // A fresh unsigned copy for each use, so that a load shows in the journal even after COM has unloaded one.
    const auto unsignedCopy = [&](const std::wstring& folder) {
        const std::wstring path = folder + L"\\telemetry_service" + std::to_wstring(++copies) + L".dll";
        EXPECT_TRUE(CopyFileW(testsupport::WindowsPathOf(TELEMETRY_DOUBLE_DLL).c_str(), path.c_str(), FALSE));
        if (folder == systemFolder) placed.push_back(path);
        return path;
    };
    // The signed server as a file without an extension, beside an unsigned copy of that name with ".dll".
    const auto signedWithoutExtension = [&](const std::wstring& folder) {
        std::wstring path = unsignedCopy(folder);
        path.resize(path.size() - 4);
        EXPECT_TRUE(CopyFileW(signedServer.c_str(), path.c_str(), FALSE));
        if (folder == systemFolder) placed.push_back(path);
        return path;
    };
    // A script component whose script, once run, leaves a file and creates a class of an unsigned server; `host`
    // (the platform's script-component host) registered as `subkey` of `clsid`, which names the script. A host that
    // serves no script components (this Wine's) can still be seen loaded.
    const std::wstring scriptRan = scratch_.File(L"script_ran.txt");
    const auto scriptHost = [&](const std::wstring& host, const CLSID& clsid, const wchar_t* subkey) {
        service_.RegisterServer(redirect, L"InprocServer32", unsignedCopy(scratch_.Path()));
        service_.RegisterProgId(L"WelkinTest.Unsigned", redirect);
        std::wstring marker = scriptRan;
        for (size_t at = 0; (at = marker.find(L'\\', at)) != std::wstring::npos; at += 2) marker.insert(at, 1, L'\\');
        const std::wstring script = scratch_.File(L"component" + std::to_wstring(++copies) + L".sct");
        std::string text =
            "<?xml version=\"1.0\"?>\n<component>\n<registration progid=\"WelkinTest.Component\" version=\"1.00\"/>\n"
            "<public></public>\n<script language=\"JScript\">\n<![CDATA[\n"
            "new ActiveXObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" +
            std::string(marker.begin(), marker.end()) +
            "\", true).Close();\nnew ActiveXObject(\"WelkinTest.Unsigned\");\n]]>\n</script>\n</component>\n";
        Basalt::KernelHandle file(CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
        service_.RegisterServer(clsid, subkey, host, REG_SZ, L"Both");
        service_.RegisterClassValue(clsid, L"ScriptletURL", script);
    };
    // The signed server, made in another apartment: COM marshals its interface to this one.
    const auto apartmentServer = [&] {
        service_.RegisterServer(service, L"InprocServer32", signedServer, REG_SZ, L"Apartment");
    };
    const auto typeLibrary = [&] { return scratch_.File(L"service" + std::to_wstring(++copies) + L".tlb"); };
    // The base interface marshalled by an unsigned proxy/stub.
    const auto unsignedBaseProxyStub = [&] {
        service_.RegisterProxyStub(kIidServiceBase, redirect);
        service_.RegisterServer(redirect, L"InprocServer32", unsignedCopy(scratch_.Path()));
    };
    struct Case {
        const char* name;
        std::function<void()> layOut;
        bool sent;
    };
    const Case cases[] = {
        {"treated as a class of an unsigned server",
         [&] {
             service_.RegisterTreatAs(service, redirect);
             service_.RegisterServer(redirect, L"InprocServer32", unsignedCopy(scratch_.Path()));
         },
         false},
        {"treated as a class of the signed server",
         [&] {
             service_.RegisterTreatAs(service, redirect);
             service_.RegisterServer(redirect, L"InprocServer32", signedServer);
         },
         true},
        {"treated as a class that is treated as it again",
         [&] {
             service_.RegisterTreatAs(service, redirect);
             service_.RegisterTreatAs(redirect, service);
             service_.RegisterServer(redirect, L"InprocServer32", signedServer);
         },
         false},
        {"only an unsigned in-process handler",
         [&] { service_.RegisterServer(service, L"InprocHandler32", unsignedCopy(scratch_.Path())); }, false},
        {"plain text with \"%\" whose file as written is unsigned",
         [&] {
             const std::wstring literal = unsignedCopy(literalFolder);
             const std::wstring file = literal.substr(literalFolder.size());
             ASSERT_TRUE(CopyFileW(signedServer.c_str(), (scratch_.File(L"signed") + file).c_str(), FALSE));
             service_.RegisterServer(service, L"InprocServer32", scratch_.Path() + L"\\%WELKIN_TEST_SERVER%" + file);
         },
         false},
        {"the signed server's path in double quotes",
         [&] { service_.RegisterServer(service, L"InprocServer32", L"\"" + signedServer + L"\""); }, true},
        {"a quoted path after the signed server's, the whole text vouched for",
         [&] {
             const std::wstring text = signedServer + L"\"" + unsignedCopy(scratch_.Path()) + L"\"";
             validation_.Vouch({text});
             service_.RegisterServer(service, L"InprocServer32", text);
         },
         false},
        {"a signed file without an extension, an unsigned one with \".dll\" beside it",
         [&] { service_.RegisterServer(service, L"InprocServer32", signedWithoutExtension(scratch_.Path())); },
         false},
        {"the same in the System folder",
         [&] { service_.RegisterServer(service, L"InprocServer32", signedWithoutExtension(systemFolder)); }, false},
        {"the signed server with the platform's default handler",
         [&] {
             service_.RegisterServer(service, L"InprocServer32", signedServer);
             service_.RegisterServer(service, L"InprocHandler32", L"ole32.dll");
         },
         true},
        {"the signed server with the platform's default handler by its path",
         [&] {
             service_.RegisterServer(service, L"InprocServer32", signedServer);
             service_.RegisterServer(service, L"InprocHandler32", L"%SystemRoot%\\system32\\ole32.dll", REG_EXPAND_SZ);
         },
         true},
        {"only a handler by the bare name of an unsigned module loaded from outside the System folder",
         [&] {
             const std::wstring handler = unsignedCopy(scratch_.Path());
             loaded.emplace_back(LoadLibraryW(handler.c_str()));
             ASSERT_TRUE(loaded.back());
             service_.RegisterServer(service, L"InprocHandler32", handler.substr(scratch_.Path().size() + 1));
         },
         false},
        {"only an unsigned handler by a bare name the working folder resolves",
         [&] {
             const std::wstring handler = unsignedCopy(scratch_.Path());
             ASSERT_TRUE(SetCurrentDirectoryW(scratch_.Path().c_str()));
             service_.RegisterServer(service, L"InprocHandler32", handler.substr(scratch_.Path().size() + 1));
         },
         false},
        {"the signed server made in another apartment, its interface marshalled by an unsigned proxy/stub",
         [&] {
             apartmentServer();
             service_.RegisterProxyStub(Orvan::Analytics::kTelemetryServiceIid, redirect);
             service_.RegisterServer(redirect, L"InprocServer32", unsignedCopy(scratch_.Path()));
         },
         false},
        {"the same, the unsigned proxy/stub named through the System folder",
         [&] {
             // "<System>\../../<path from the drive root, with "/">": the text begins in the System folder, the file
             // does not lie in it.
             std::wstring path = unsignedCopy(scratch_.Path());
             std::replace(path.begin(), path.end(), L'\\', L'/');
             std::wstring up = L"../";  // one step for each folder of the System folder's path
             for (size_t i = 3; i < systemFolder.size(); ++i)
                 if (systemFolder[i] == L'\\') up += L"../";
             path = systemFolder + L"\\" + up + path.substr(3);
             apartmentServer();
             service_.RegisterProxyStub(Orvan::Analytics::kTelemetryServiceIid, redirect);
             service_.RegisterServer(redirect, L"InprocServer32", path);
         },
         false},
        {"the signed server made in another apartment, its interface marshalled by the platform's type library "
         "marshaler",
         [&] {
             apartmentServer();
             service_.RegisterTypeLibrary(typeLibrary());
         },
         true},
        {"the same, the interface deriving from one whose proxy/stub is unsigned",
         [&] {
             apartmentServer();
             service_.RegisterTypeLibrary(typeLibrary(), {{serviceIid, true}, {kIidServiceBase, false}});
             unsignedBaseProxyStub();
         },
         false},
        {"the same through a base interface that the type library marshaler marshals in turn",
         [&] {
             apartmentServer();
             service_.RegisterTypeLibrary(typeLibrary(),
                                          {{serviceIid, true}, {kIidServiceBase2, true}, {kIidServiceBase, false}});
             unsignedBaseProxyStub();
         },
         false},
        {"the same, the library version the entry names deriving from it, a newer minor version from IUnknown",
         [&] {
             apartmentServer();
             service_.RegisterTypeLibrary(typeLibrary(), {{serviceIid, true}}, 5);
             service_.RegisterTypeLibrary(typeLibrary(), {{serviceIid, true}, {kIidServiceBase, false}}, 0);
             service_.RegisterTypeLibraryVersion(serviceIid, L"1.0");
             unsignedBaseProxyStub();
         },
         false},
        {"the same, the version text of the entry (\"1.00\") naming a file deriving from it, the library's 1.0 from "
         "IUnknown",
         [&] {
             apartmentServer();
             const std::wstring deriving = typeLibrary();
             service_.RegisterTypeLibrary(deriving, {{serviceIid, true}, {kIidServiceBase, false}}, 0);
             service_.RegisterTypeLibraryPath(L"1.00", deriving);
             service_.RegisterTypeLibrary(typeLibrary());
             service_.RegisterTypeLibraryVersion(serviceIid, L"1.00");
             unsignedBaseProxyStub();
         },
         false},
        {"only an unsigned handler in the System folder, as a platform module that runs what a registration names",
         [&] { service_.RegisterServer(service, L"InprocHandler32", unsignedCopy(systemFolder)); }, false},
        {"the signed server made in another apartment, its interface marshalled by an unsigned proxy/stub in the "
         "System folder",
         [&] {
             apartmentServer();
             service_.RegisterProxyStub(Orvan::Analytics::kTelemetryServiceIid, redirect);
             service_.RegisterServer(redirect, L"InprocServer32", unsignedCopy(systemFolder));
         },
         false},
        {"only a handler, the platform's script-component host by its path, its script creating an unsigned class",
         [&] { scriptHost(systemFolder + L"\\scrobj.dll", service, L"InprocHandler32"); }, false},
        {"the same host by its bare name", [&] { scriptHost(L"scrobj.dll", service, L"InprocHandler32"); }, false},
        {"the signed server made in another apartment, its interface marshalled by a class of the script-component "
         "host",
         [&] {
             apartmentServer();
             service_.RegisterProxyStub(Orvan::Analytics::kTelemetryServiceIid, kClsidScriptlet);
             scriptHost(systemFolder + L"\\scrobj.dll", kClsidScriptlet, L"InprocServer32");
         },
         false},
    };
    testsupport::ModuleLoadWatch watch;
    ASSERT_TRUE(watch.Registered());
    for (const wchar_t* factories : {L"", L"both"}) {
        Set(TelemetryServiceDouble::kFactories, factories);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", factories "
                                            << testing::PrintToString(std::wstring(factories)));
            service_.Unregister();
            c.layOut();
            service_.ClearJournal();
            watch.Clear();
            CLegacyTransport transport;
            EXPECT_EQ(transport.initialize(), c.sent);
            EXPECT_EQ(transport.send(Record{{L"a", L"b"}}), c.sent);
            const auto events = service_.Events();
            if (c.sent) {
                EXPECT_THAT(events, testing::Contains("send 0 9 0"));
                EXPECT_THAT(events, testing::Not(testing::Contains("attach")));
            } else {
                EXPECT_TRUE(events.empty()) << testing::PrintToString(events);
            }
            EXPECT_FALSE(watch.SawLoaded(L"scrobj.dll"));
            EXPECT_EQ(GetFileAttributesW(scriptRan.c_str()), INVALID_FILE_ATTRIBUTES) << "a script ran";
            DeleteFileW(scriptRan.c_str());
            EXPECT_EQ(LiveObjects(), 0);
            EXPECT_TRUE(ApartmentReleased());
            validation_.SetMode(trusttest::ValidationDouble::kVouchSigned);
            SetCurrentDirectoryW(workingFolder.c_str());
        }
    }
    SetEnvironmentVariableW(L"WELKIN_TEST_SERVER", nullptr);
    for (const std::wstring& file : placed) DeleteFileW(file.c_str());
}

// Every interface the transport asks COM for is marshalled when the server is made in another apartment; an unsigned
// proxy/stub for any of them is never loaded. The registry entries of IClassFactory and IRemUnknown are the
// platform's own, so their proxy/stub is registered in this process instead, where COM looks first.
TEST_F(ServiceTest, NoInterfaceAskedForIsMarshalledByAnUnjudgedProxyStub) {
    const CLSID& proxyStub = doubles::kClsidTelemetryRedirect;
    const struct {
        const char* name;
        const IID& iid;
        const wchar_t* factories;
    } cases[] = {
        {"first factory interface", kTrustedFactoryIid, L"both"},
        {"second factory interface", kTrustedFactoryIid2, L"both"},
        {"IClassFactory", IID_IClassFactory, L""},
        {"IRemUnknown, which COM marshals for each proxy", kRemUnknownIid, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A copy of its own for each row, so that a load shows even after COM has unloaded an earlier one.
        const std::wstring unsignedServer = scratch_.File(L"proxy_stub_" + std::to_wstring(&c - cases) + L".dll");
        ASSERT_TRUE(
            CopyFileW(testsupport::WindowsPathOf(TELEMETRY_DOUBLE_DLL).c_str(), unsignedServer.c_str(), FALSE));
        Set(TelemetryServiceDouble::kFactories, c.factories);
        service_.Unregister();
        service_.RegisterServer(Orvan::Analytics::kTelemetryServiceClsid, L"InprocServer32",
                                trusttest::SignedFile(L"good", L"telemetry_service"), REG_SZ, L"Apartment");
        service_.RegisterServer(proxyStub, L"InprocServer32", unsignedServer);
        // Held across the send: the registration in this process lives as long as the multithreaded apartment.
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        if (IsEqualIID(c.iid, IID_IClassFactory) || IsEqualIID(c.iid, kRemUnknownIid))
            ASSERT_EQ(CoRegisterPSClsid(c.iid, proxyStub), S_OK);
        else
            service_.RegisterProxyStub(c.iid, proxyStub);
        service_.ClearJournal();
        CLegacyTransport transport;
        EXPECT_FALSE(transport.send(Record{{L"a", L"b"}}));
        const auto events = service_.Events();
        EXPECT_THAT(events, testing::Not(testing::Contains("attach"))) << testing::PrintToString(events);
        EXPECT_THAT(events, testing::Not(testing::Contains(testing::StartsWith("send"))));
        CoUninitialize();
        EXPECT_EQ(LiveObjects(), 0);
    }
}

// The type-library marshaler is followed on every reading of the registration down to IUnknown; where it cannot be,
// its proxy/stub is refused: whatever the marshaler would do with such a registration, nothing was judged for it.
TEST_F(ServiceTest, TheTypeLibraryMarshalerIsFollowedOnEveryReadingOrRefused) {
    const IID& serviceIid = Orvan::Analytics::kTelemetryServiceIid;
    int files = 0;
    const auto library = [&] { return scratch_.File(L"judged" + std::to_wstring(++files) + L".tlb"); };
    const std::wstring unsignedServer = scratch_.File(L"proxy_stub.dll");
    ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(TELEMETRY_DOUBLE_DLL).c_str(), unsignedServer.c_str(), FALSE));
    const auto unsignedBaseProxyStub = [&] {
        service_.RegisterProxyStub(kIidServiceBase, doubles::kClsidTelemetryRedirect);
        service_.RegisterServer(doubles::kClsidTelemetryRedirect, L"InprocServer32", unsignedServer);
    };
    // The service's interface and then `count` automation interfaces, each deriving from the next.
    const auto automationChain = [](int count) {
        std::vector<testsupport::LibraryInterface> chain = {{serviceIid, true}};
        for (int i = 0; i < count; ++i)
            chain.push_back({{0x5b2c9e40u + static_cast<unsigned>(i), 0x7a0d, 0x4c6b, {0x9e, 0x4f, 0x1d, 0x3a, 0x8b,
                                                                                      0x6c, 0x2e, 0x70}},
                             true});
        return chain;
    };
    const struct {
        const char* name;
        std::function<void()> layOut;
        bool trusted;
    } cases[] = {
        {"automation interfaces down to IUnknown",
         [&] { service_.RegisterTypeLibrary(library(), automationChain(3)); }, true},
        {"as many interfaces as one judgement follows",
         [&] {
             service_.RegisterTypeLibrary(library(),
                                          automationChain(ComServerJudgement::kMaxMarshaledInterfaces - 1));
         },
         true},
        {"one more", [&] {
             service_.RegisterTypeLibrary(library(), automationChain(ComServerJudgement::kMaxMarshaledInterfaces));
         },
         false},
        {"an entry without the library's version",
         [&] {
             service_.RegisterTypeLibrary(library());
             wchar_t iid[40] = {};
             StringFromGUID2(serviceIid, iid, 40);
             Basalt::RegistryKey entry;
             ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                     (std::wstring(L"Software\\Classes\\Interface\\") + iid + L"\\TypeLib").c_str(), 0,
                                     KEY_SET_VALUE | KEY_WOW64_64KEY, entry.Receive()),
                       ERROR_SUCCESS);
             ASSERT_EQ(RegDeleteValueW(entry.Get(), L"Version"), ERROR_SUCCESS);
         },
         false},
        {"a registered file that is gone",
         [&] {
             const std::wstring file = library();
             service_.RegisterTypeLibrary(file);
             ASSERT_TRUE(DeleteFileW(file.c_str()));
         },
         false},
        {"the library version the lookup chooses deriving from an interface with an unsigned proxy/stub, the one the "
         "entry's version text (\"1.00\") names from IUnknown",
         [&] {
             const std::wstring plain = library();
             service_.RegisterTypeLibrary(plain);
             service_.RegisterTypeLibraryPath(L"1.00", plain);
             service_.RegisterTypeLibrary(library(), {{serviceIid, true}, {kIidServiceBase, false}}, 0);
             service_.RegisterTypeLibraryVersion(serviceIid, L"1.00");
             unsignedBaseProxyStub();
         },
         false},
        {"a dual interface, its vtable half deriving from an interface with an unsigned proxy/stub",
         [&] {
             service_.RegisterTypeLibrary(library(), {{serviceIid, true, true}, {kIidServiceBase, false}});
             unsignedBaseProxyStub();
         },
         false},
        {"a dual interface deriving from IDispatch",
         [&] { service_.RegisterTypeLibrary(library(), {{serviceIid, true, true}}); }, true},
        {"a loop through two versions of the library",
         [&] {
             // 1.1: the base derives from the service's interface; 1.0: the service's from the base.
             service_.RegisterTypeLibrary(library(), {{kIidServiceBase, true}, {serviceIid, true}}, 1);
             service_.RegisterTypeLibrary(library(), {{serviceIid, true}, {kIidServiceBase, true}}, 0);
             service_.RegisterTypeLibraryVersion(serviceIid, L"1.0");
             service_.RegisterTypeLibraryVersion(kIidServiceBase, L"1.1");
         },
         false},
    };
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        service_.Unregister();
        c.layOut();
        ComServerJudgement judgement;
        EXPECT_EQ(judgement.JudgeProxyStub(serviceIid) == ERROR_SUCCESS, c.trusted);
    }
    CoUninitialize();
}

// An ordinary class factory of this (unsigned) program, registered with COM at run time for the service's class: a
// road to an object that no registration names.
class ProgramFactory final : public doubles::ComObject<IClassFactory> {
public:
    explicit ProgramFactory(std::vector<std::string>& calls) : ComObject(IID_IClassFactory), calls_(calls) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        calls_.push_back("create");
        *out = nullptr;
        if (outer || !IsEqualIID(iid, Orvan::Analytics::kTelemetryServiceIid)) return E_NOINTERFACE;
        *out = static_cast<Orvan::Analytics::ITelemetryService*>(new ProgramService(calls_));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    class ProgramService final : public doubles::ComObject<Orvan::Analytics::ITelemetryService> {
    public:
        explicit ProgramService(std::vector<std::string>& calls)
            : ComObject(Orvan::Analytics::kTelemetryServiceIid), calls_(calls) {}
        HRESULT STDMETHODCALLTYPE SendRecord(BSTR, BSTR, BSTR) override {
            calls_.push_back("send");
            return S_OK;
        }

    private:
        std::vector<std::string>& calls_;
    };
    std::vector<std::string>& calls_;
};

TEST_F(ServiceTest, AnObjectPlainCreationMadeIsGivenNothingUnlessItsModuleIsTrusted) {
    // The registration COM does not use for a class registered at run time: it passes, and plain creation follows.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);  // keeps the registration alive between calls
    std::vector<std::string> calls;
    auto* factory = new ProgramFactory(calls);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(Orvan::Analytics::kTelemetryServiceClsid, factory, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    factory->Release();
    CLegacyTransport transport;
    EXPECT_FALSE(transport.initialize());
    EXPECT_FALSE(transport.send(Record{{L"a", L"b"}}));
    EXPECT_EQ(calls, (std::vector<std::string>{"create", "create"}));  // made, judged, released unused
    CoRevokeClassObject(cookie);
    CoUninitialize();
}

// On both roads: plain creation, where the object's module is judged, and the trusted factory interfaces, where the
// factory's module is.
TEST_F(ServiceTest, TheServerJudgedBeforeCreationIsNotJudgedAgainForItsObject) {
    const std::wstring server = trusttest::SignedFile(L"good", L"telemetry_service");
    for (const wchar_t* factories : {L"", L"both"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(factories)));
        Set(TelemetryServiceDouble::kFactories, factories);
        validation_.ClearJournal();
        CLegacyTransport transport;
        ASSERT_TRUE(transport.send(Record{{L"a", L"b"}}));
        const auto judged = validation_.Journal();
        EXPECT_EQ(std::count_if(judged.begin(), judged.end(),
                                [&](const std::wstring& line) { return line.find(server) != std::wstring::npos; }),
                  1)
            << testing::PrintToString(judged);
    }
}

}  // namespace
