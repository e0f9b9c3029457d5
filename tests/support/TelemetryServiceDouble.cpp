#include "tests/support/TelemetryServiceDouble.h"

#include <windows.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>

#include "clients/support/RapidJsonConfig.h"

#include "clients/analytics/TelemetryService.h"
#include "foundation/basalt/ComRef.h"
#include "tests/support/CommandJournal.h"

namespace testsupport {

namespace {

std::wstring GuidText(const CLSID& clsid) {
    wchar_t text[64] = {};
    StringFromGUID2(clsid, text, 64);
    return text;
}

// {5B2C9E31-7A0D-4C6B-9E4F-1D3A8B6C2E70}
constexpr GUID kServiceLibrary = {0x5b2c9e31, 0x7a0d, 0x4c6b, {0x9e, 0x4f, 0x1d, 0x3a, 0x8b, 0x6c, 0x2e, 0x70}};

// The service's one method after IUnknown's: SendRecord(BSTR, BSTR, BSTR).
void AddSendRecord(ICreateTypeInfo* service) {
    ELEMDESC texts[3] = {};
    for (ELEMDESC& text : texts) {
        text.tdesc.vt = VT_BSTR;
        text.paramdesc.wParamFlags = PARAMFLAG_FIN;
    }
    FUNCDESC method = {};
    method.memid = 0x60010000;
    method.funckind = FUNC_PUREVIRTUAL;
    method.invkind = INVOKE_FUNC;
    method.callconv = CC_STDCALL;
    method.cParams = 3;
    method.lprgelemdescParam = texts;
    method.elemdescFunc.tdesc.vt = VT_HRESULT;
    ASSERT_EQ(service->AddFuncDesc(0, &method), S_OK);
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"SendRecord"), const_cast<LPOLESTR>(L"first"),
                        const_cast<LPOLESTR>(L"json"), const_cast<LPOLESTR>(L"third")};
    ASSERT_EQ(service->SetFuncAndParamNames(0, names, 4), S_OK);
}

// One interface of the library being written, deriving from `parent`: the service's with its method, any other
// without methods of its own.
Basalt::ComRef<ITypeInfo> WriteInterface(ICreateTypeLib2* library, const LibraryInterface& entry,
                                         ITypeInfo* parent, size_t index) {
    const bool service = IsEqualIID(entry.iid, Orvan::Analytics::kTelemetryServiceIid);
    const std::wstring name = service ? L"ITelemetryService" : L"IServiceBase" + std::to_wstring(index);
    Basalt::ComRef<ICreateTypeInfo> written;
    Basalt::ComRef<ITypeInfo> info;
    EXPECT_EQ(library->CreateTypeInfo(const_cast<LPOLESTR>(name.c_str()), TKIND_INTERFACE, written.Receive()), S_OK);
    if (!written) return info;
    EXPECT_EQ(written->SetGuid(entry.iid), S_OK);
    if (entry.automation || entry.dual) {
        EXPECT_EQ(written->SetTypeFlags(TYPEFLAG_FOLEAUTOMATION | (entry.dual ? TYPEFLAG_FDUAL : 0)), S_OK);
    }
    HREFTYPE reference = 0;
    EXPECT_EQ(written->AddRefTypeInfo(parent, &reference), S_OK);
    EXPECT_EQ(written->AddImplType(0, reference), S_OK);
    if (service) AddSendRecord(written.Get());
    EXPECT_EQ(written->LayOut(), S_OK);
    EXPECT_EQ(written->QueryInterface(IID_ITypeInfo, info.ReceiveVoid()), S_OK);
    return info;
}

void WriteTypeLibrary(const std::wstring& file, const std::vector<LibraryInterface>& chain,
                      WORD minorVersion) {
    Basalt::ComRef<ITypeLib> standard;
    Basalt::ComRef<ITypeInfo> parent;
    Basalt::ComRef<ICreateTypeLib2> library;
    ASSERT_EQ(LoadTypeLib(L"stdole2.tlb", standard.Receive()), S_OK);
    const bool dual = std::any_of(chain.begin(), chain.end(), [](const auto& entry) { return entry.dual; });
    ASSERT_EQ(standard->GetTypeInfoOfGuid(dual ? IID_IDispatch : IID_IUnknown, parent.Receive()), S_OK);
    ASSERT_EQ(CreateTypeLib2(SYS_WIN64, file.c_str(), library.Receive()), S_OK);
    ASSERT_EQ(library->SetGuid(kServiceLibrary), S_OK);
    ASSERT_EQ(library->SetName(const_cast<LPOLESTR>(L"WelkinTelemetryTest")), S_OK);
    ASSERT_EQ(library->SetVersion(1, minorVersion), S_OK);
    for (size_t i = chain.size(); i-- > 0;) {
        parent = WriteInterface(library.Get(), chain[i], parent.Get(), i);
        ASSERT_TRUE(parent);
    }
    ASSERT_EQ(library->SaveAllChanges(), S_OK);
}

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

// "send <a> <b> <c> <json>": the position of the JSON text, or npos.
size_t JsonStart(const std::string& line) {
    if (line.rfind("send ", 0) != 0) return std::string::npos;
    size_t at = 4;
    for (int field = 0; field < 3 && at != std::string::npos; ++field) at = line.find(' ', at + 1);
    return at == std::string::npos ? at : at + 1;
}

}  // namespace

void TelemetryServiceDouble::Register(const std::wstring& serverPath) {
    RegisterServer(Orvan::Analytics::kTelemetryServiceClsid, L"InprocServer32", serverPath);
}

void TelemetryServiceDouble::RegisterServer(const CLSID& clsid, const wchar_t* subkey, const std::wstring& path,
                                            DWORD type, const wchar_t* threadingModel) {
    const std::wstring key = KeptKey(L"CLSID\\" + GuidText(clsid)) + L"\\" + subkey;
    registry_.SetString(HKEY_LOCAL_MACHINE, key, nullptr, path, RegView::Wow64, type);
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"ThreadingModel", threadingModel, RegView::Wow64);
}

void TelemetryServiceDouble::RegisterTreatAs(const CLSID& clsid, const CLSID& treatAs) {
    registry_.SetString(HKEY_LOCAL_MACHINE, KeptKey(L"CLSID\\" + GuidText(clsid)) + L"\\TreatAs", nullptr,
                        GuidText(treatAs), RegView::Wow64);
}

void TelemetryServiceDouble::RegisterClassValue(const CLSID& clsid, const wchar_t* name, const std::wstring& value) {
    registry_.SetString(HKEY_LOCAL_MACHINE, KeptKey(L"CLSID\\" + GuidText(clsid)), name, value, RegView::Wow64);
}

void TelemetryServiceDouble::RegisterProgId(const std::wstring& progId, const CLSID& clsid) {
    registry_.SetString(HKEY_LOCAL_MACHINE, KeptKey(progId) + L"\\CLSID", nullptr, GuidText(clsid), RegView::Wow64);
}

void TelemetryServiceDouble::RegisterProxyStub(const IID& iid, const CLSID& proxyStub) {
    const std::wstring key = KeptKey(L"Interface\\" + GuidText(iid));
    registry_.SetString(HKEY_LOCAL_MACHINE, key + L"\\ProxyStubClsid32", nullptr, GuidText(proxyStub),
                        RegView::Wow64);
}

void TelemetryServiceDouble::RegisterTypeLibrary(const std::wstring& file, const std::vector<LibraryInterface>& chain,
                                                 WORD minorVersion) {
    // Registration writes the interfaces' keys and the library's; all are wiped with the classes.
    for (const LibraryInterface& entry : chain) KeptKey(L"Interface\\" + GuidText(entry.iid));
    KeptKey(L"TypeLib\\" + GuidText(kServiceLibrary));
    WriteTypeLibrary(file, chain, minorVersion);
    Basalt::ComRef<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(file.c_str(), REGKIND_REGISTER, library.Receive()), S_OK);
}

void TelemetryServiceDouble::RegisterTypeLibraryVersion(const IID& iid, const std::wstring& version) {
    registry_.SetString(HKEY_LOCAL_MACHINE, KeptKey(L"Interface\\" + GuidText(iid)) + L"\\TypeLib", L"Version",
                        version, RegView::Wow64);
}

void TelemetryServiceDouble::RegisterTypeLibraryPath(const std::wstring& version, const std::wstring& file) {
    registry_.SetString(HKEY_LOCAL_MACHINE,
                        KeptKey(L"TypeLib\\" + GuidText(kServiceLibrary)) + L"\\" + version + L"\\0\\win64", nullptr,
                        file, RegView::Wow64);
}

std::wstring TelemetryServiceDouble::KeptKey(const std::wstring& classesPath) {
    const std::wstring key = L"Software\\Classes\\" + classesPath;
    if (std::find(keys_.begin(), keys_.end(), key) == keys_.end()) keys_.push_back(key);
    return key;
}

void TelemetryServiceDouble::Unregister() {
    // Type-library registration writes the interface's key in both views, and COM reads the other view too.
    for (const std::wstring& key : keys_)
        for (RegView view : {RegView::Wow64, RegView::Wow32}) ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, key, view);
    keys_.clear();
}

std::vector<std::string> TelemetryServiceDouble::Events() const {
    std::vector<std::string> events;
    for (const std::string& line : ReadJournalLines(journal_)) {
        const size_t json = JsonStart(line);
        events.push_back(json == std::string::npos ? line : line.substr(0, json - 1));
    }
    return events;
}

std::vector<Orvan::Analytics::Record> TelemetryServiceDouble::SentRecords() const {
    std::vector<Orvan::Analytics::Record> records;
    for (const std::string& line : ReadJournalLines(journal_)) {
        const size_t json = JsonStart(line);
        if (json == std::string::npos) continue;
        Orvan::Analytics::Record& record = records.emplace_back();
        rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>> document;
        const std::wstring text = Widen(line.substr(json));
        document.Parse(text.c_str());
        if (document.HasParseError() || !document.IsObject()) {
            record[L"(unreadable)"] = text;
            continue;
        }
        for (const auto& member : document.GetObject())
            record[member.name.GetString()] = member.value.IsString() ? member.value.GetString() : L"(not a string)";
    }
    return records;
}

void TelemetryServiceDouble::ClearJournal() const { DeleteFileW(journal_.c_str()); }

}  // namespace testsupport
