#pragma once
// Drives the telemetry service double (tests/doubles/TelemetryServiceDouble.cpp): registers it as the service's
// in-process server under HKLM (this Wine ignores HKCU classes) with ThreadingModel "Both", names its settings as
// environment variables, and reads its journal back. A test may lay out the service's class (and the double's other
// class) otherwise: a handler, a redirection, a path in another form.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "clients/analytics/Record.h"
#include "tests/support/ScratchRegistry.h"

namespace testsupport {

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
    // One entry of a class this helper registers and wipes (the service's, or doubles::kClsidTelemetryRedirect):
    // `subkey` "InprocServer32" or "InprocHandler32" with the path stored as `type`, or the class it is treated as.
    void RegisterServer(const CLSID& clsid, const wchar_t* subkey, const std::wstring& path, DWORD type = REG_SZ);
    void RegisterTreatAs(const CLSID& clsid, const CLSID& treatAs);
    void Unregister();

    // The journal's lines with the JSON of each "send" line cut off ("send 0 42 0").
    std::vector<std::string> Events() const;
    // The records of the "send" lines, in order, read back from their JSON.
    std::vector<Orvan::Analytics::Record> SentRecords() const;
    void ClearJournal() const;
    const std::wstring& JournalPath() const { return journal_; }

private:
    // The class's key, remembered for Unregister.
    std::wstring KeptClassKey(const CLSID& clsid);

    std::wstring journal_;
    ScratchRegistry registry_;
    std::vector<std::wstring> classKeys_;
};

}  // namespace testsupport
