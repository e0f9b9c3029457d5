#pragma once
// Drives the telemetry service double (tests/doubles/TelemetryServiceDouble.cpp): registers it as the service's
// in-process server under HKLM (this Wine ignores HKCU classes) with ThreadingModel "Both", names its settings as
// environment variables, and reads its journal back. A test may lay out the service's class (and the double's other
// class) otherwise: a handler, a redirection, a path in another form, another threading model, and the proxy/stub
// COM marshals the service's interface with.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "clients/analytics/Record.h"
#include "clients/analytics/TelemetryService.h"
#include "tests/support/ScratchRegistry.h"

namespace testsupport {

// An interface of a type library the helper below writes; `automation` (and `dual`) ones are registered with the
// platform's type-library marshaler (a proxy/stub in the System folder) as their proxy/stub.
struct LibraryInterface {
    IID iid;
    bool automation;
    bool dual = false;
};

class TelemetryServiceDouble {
public:
    // The double's settings, as environment variable names.
    static constexpr wchar_t kJournal[] = L"WELKIN_TELEMETRY_JOURNAL";
    static constexpr wchar_t kResult[] = L"WELKIN_TELEMETRY_RESULT";
    static constexpr wchar_t kFactories[] = L"WELKIN_TELEMETRY_FACTORIES";
    static constexpr wchar_t kFailCreate[] = L"WELKIN_TELEMETRY_FAIL_CREATE";

    explicit TelemetryServiceDouble(std::wstring journalPath) : journal_(std::move(journalPath)) {}
    ~TelemetryServiceDouble() { Unregister(); }

    // The double as the service's in-process server.
    void Register(const std::wstring& serverPath);
    // One entry of a class this helper registers and wipes (the service's, the double's other class or a class of
    // the test): `subkey` "InprocServer32" or "InprocHandler32" with the path stored as `type`, or the class it is
    // treated as, or a named value of the class's own key.
    void RegisterServer(const CLSID& clsid, const wchar_t* subkey, const std::wstring& path, DWORD type = REG_SZ,
                        const wchar_t* threadingModel = L"Both");
    void RegisterTreatAs(const CLSID& clsid, const CLSID& treatAs);
    void RegisterClassValue(const CLSID& clsid, const wchar_t* name, const std::wstring& value);
    // A program id naming the class.
    void RegisterProgId(const std::wstring& progId, const CLSID& clsid);
    // The class COM loads to marshal the interface (the service's, or another whose key this helper may wipe).
    void RegisterProxyStub(const IID& iid, const CLSID& proxyStub);
    // Writes a type library of version 1.minorVersion to `file` and registers it: chain[0] derives from chain[1],
    // each from the next, the last from IUnknown (from IDispatch where an interface of the chain is dual). The
    // service's interface, wherever it stands, has its method; any other interface none of its own.
    void RegisterTypeLibrary(const std::wstring& file, const std::vector<LibraryInterface>& chain =
                                                          {{Orvan::Analytics::kTelemetryServiceIid, true}},
                             WORD minorVersion = 0);
    // The library version (its text, "major.minor") the interface's type-library entry names.
    void RegisterTypeLibraryVersion(const IID& iid, const std::wstring& version);
    // The file registered for the library under a version text, language 0, 64-bit.
    void RegisterTypeLibraryPath(const std::wstring& version, const std::wstring& file);
    void Unregister();

    // The journal's lines with the JSON of each "send" line cut off ("send 0 42 0").
    std::vector<std::string> Events() const;
    // The records of the "send" lines, in order, read back from their JSON.
    std::vector<Orvan::Analytics::Record> SentRecords() const;
    void ClearJournal() const;
    const std::wstring& JournalPath() const { return journal_; }

private:
    // The key under "Software\Classes" (a class's "CLSID\{...}"), remembered for Unregister.
    std::wstring KeptKey(const std::wstring& classesPath);

    std::wstring journal_;
    ScratchRegistry registry_;
    std::vector<std::wstring> keys_;
};

}  // namespace testsupport
