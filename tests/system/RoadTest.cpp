// The whole road of a first boot through the real programs, on a KVR and on a Halvard machine with every double of
// the suite signed where welkin checks signatures and installed where the suite puts it: welkin's first start, the
// start after it, and quillon.exe on the same machine. The order of the calls into the suite comes from the road
// journal, which every double appends to as it is called; the steps that only write the registry are ordered by
// welkin's own log.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/system/WelkinRun.h"

namespace systemtest {
namespace {

using ::testing::Contains;

constexpr DWORD kEFail = 0x80004005;
constexpr DWORD kTimeout = 1460;

using testsupport::Narrow;

// The text of "name":"..." in a flat JSON object; empty when absent.
std::string JsonText(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const size_t at = json.find(key);
    if (at == std::string::npos) return std::string();
    const size_t from = at + key.size();
    return json.substr(from, json.find('"', from) - from);
}

// The value of a tab-separated name=value field of a bus journal line.
std::string BusField(const std::string& line, const std::string& name) {
    const size_t at = line.find("\t" + name + "=");
    if (at == std::string::npos) return std::string();
    const size_t from = at + name.size() + 2;
    return line.substr(from, line.find('\t', from) - from);
}

// The road's milestones: one text per call a step of the road makes into the suite. Bus handles, telemetry
// factories, the judgement of the telemetry server before each of its instances and the like are left out; a
// command start is its command line, a trust check the file's name.
std::vector<std::string> Milestones(const std::vector<RoadCall>& calls) {
    std::vector<std::string> milestones;
    for (const RoadCall& call : calls) {
        const std::string& line = call.line;
        const std::string telemetryServer = "\\telemetry_service.dll";
        const bool ofTelemetryServer = line.size() >= telemetryServer.size() &&
                                       line.compare(line.size() - telemetryServer.size(), std::string::npos,
                                                    telemetryServer) == 0;
        if (call.source == "validation" && line.rfind("get ", 0) != 0 && !ofTelemetryServer) {
            milestones.push_back("trust " + line.substr(line.find_last_of('\\') + 1));
        } else if (call.source == "selector") {
            milestones.push_back("selector " + line.substr(0, line.find(' ')));
        } else if (call.source == "utility" || call.source == "manager") {
            milestones.push_back(call.source + " " + line);
        } else if (call.source == "command") {
            milestones.push_back("start" + line.substr(0, line.find('\t')));
        } else if (call.source == "telemetry" && line.rfind("send ", 0) == 0) {
            milestones.push_back("event " + JsonText(line, "UniqueIdentifier"));
        } else if (call.source == "bus") {
            const std::string entry = line.substr(0, line.find('\t'));
            if (entry == "publish" || entry == "request")
                milestones.push_back("bus " + entry + " " + BusField(line, "name"));
        }
    }
    return milestones;
}

// Each part is found in a log line after the line of the part before it.
void ExpectInOrder(const std::vector<std::wstring>& lines, const std::vector<std::wstring>& parts) {
    size_t next = 0;
    for (const std::wstring& part : parts) {
        size_t at = next;
        while (at < lines.size() && lines[at].find(part) == std::wstring::npos) ++at;
        if (at == lines.size()) {
            ADD_FAILURE() << "no log line \"" << Narrow(part) << "\" after line " << next;
            return;
        }
        next = at + 1;
    }
}

bool AnyLineHas(const std::vector<std::wstring>& lines, const std::wstring& part) {
    for (const std::wstring& line : lines)
        if (line.find(part) != std::wstring::npos) return true;
    return false;
}

// What differs between the machines: the isdudata template is expanded against the family's substitute values,
// whose affiliate id comes from the OEM map ini (Halvard) or from the common build's language map (KVR).
struct RoadMachine {
    Family family;
    const wchar_t* isdudata;
};
const RoadMachine kMachines[] = {
    {Family::KVR, L"lcid=1031&lang=de-de&affid=778"},
    {Family::Halvard, L"lcid=1031&lang=de-de&affid=777"},
};

class RoadTest : public WelkinRun {
protected:
    void ExpectFirstRunValues(const Machine& machine) {
        const MachineValues& v = kMachineValues;
        EXPECT_EQ(3u, Dword(kScannerKey, L"OASEnabled").value_or(0));
        DWORD type = 0;
        std::vector<BYTE> installTime;
        EXPECT_TRUE(testsupport::ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kAntivirusSubstituteKey, L"InstallTime",
                                                       type, installTime));
        EXPECT_EQ(8u, installTime.size());
        // The language step, then the common build's language map over it.
        const FamilyKeys halvard = FamilyKeysOf(Family::Halvard), kvr = FamilyKeysOf(Family::KVR);
        for (const std::wstring& queryParams : {halvard.queryParams, kvr.queryParams}) {
            if (queryParams == kvr.queryParams && machine.family == Family::Halvard) {
                EXPECT_FALSE(KeyExists(queryParams)) << "the Halvard family writes no KVR values";
                continue;
            }
            EXPECT_EQ(v.langCode, String(queryParams, L"lang").value_or(L"?"));
            EXPECT_EQ(v.mapCulture, String(queryParams, L"culture").value_or(L"?"));
            EXPECT_EQ(v.mapAffid, String(queryParams, L"affid").value_or(L"?"));
            EXPECT_EQ(v.lcidText, String(queryParams, L"lcid").value_or(L"?"));
        }
        const std::wstring buildKey = machine.own.oemInfo + L"\\" + v.buildKey;
        EXPECT_EQ(v.lcid, RecordDword(buildKey, L"lcid").value_or(0));
        EXPECT_EQ(v.langCode, RecordString(buildKey, L"lang").value_or(L"?"));
        EXPECT_EQ(v.mapAffid, RecordString(buildKey, L"affid").value_or(L"?"));
    }

    void ExpectCompletion(const Machine& machine, const RoadMachine& road) {
        for (const wchar_t* oem : {kKVROem, kHalvardOem}) {
            SCOPED_TRACE(Narrow(oem));
            EXPECT_EQ(1u, Dword(oem, L"OOBEDone").value_or(0));
            EXPECT_EQ(0u, RecordDword(oem, L"DisableServices").value_or(99));
            EXPECT_FALSE(Dword(oem, L"facmode").has_value());
        }
        EXPECT_EQ(0u, RecordDword(machine.own.oem, L"OEMMgr").value_or(99));
        EXPECT_EQ(0u, RecordDword(kHalvardOem, L"OEMMgr").value_or(99));
        const std::vector<BusCall> bus = BusCalls();
        const std::string property = R"({"name":"Core.OOBE.OOBEComplete","value":"1","volatile":false})";
        bool propertySet = false;
        for (const BusCall& call : bus) propertySet |= call.entry == "request" && call.fields.at("data") == property;
        EXPECT_TRUE(propertySet);
        // Every queued command is gone: the family's own ones run, the other family's deleted unrun.
        EXPECT_FALSE(KeyExists(machine.own.userModeKVR + L"\\" + machine.productCommand));
        EXPECT_FALSE(KeyExists(machine.own.userMode + L"\\" + machine.partnerCommand));
        EXPECT_FALSE(KeyExists(machine.other.userModeKVR + L"\\" + machine.strayCommand));
        EXPECT_FALSE(KeyExists(machine.other.userMode + L"\\" + machine.strayCommand));
        // After the flags: isdudata from the values the first-run steps wrote, the retry flag, the service host.
        EXPECT_EQ(road.isdudata, RecordString(machine.own.appInfo, L"isdudata").value_or(L"?"));
        if (machine.family == Family::KVR) {
            EXPECT_EQ(road.isdudata, RecordString(machine.other.appInfo, L"isdudata").value_or(L"?"));
        }
        EXPECT_EQ(L"0", String(kRetryKey, L"TaskScheduleRetry").value_or(L"?"));
        EXPECT_EQ(1u, FreshInstallComplete().value_or(0));
    }
};

TEST_F(RoadTest, FirstBootRunsTheWholeRoadOnceAndEveryStartClosesWithTheServices) {
    for (const RoadMachine& road : kMachines) {
        const Machine machine = InstallMachine(road.family);
        SCOPED_TRACE(Narrow(machine.name));
        InstallSuite();
        LogToFile();

        ASSERT_EQ(0u, RunWelkin());
        const std::string workingDir = Narrow(machine.kvrFolder) + "\\OnOOBE";
        const std::vector<std::string> firstStart = {
            "trust QzUtil.dll",
            // The language step: the selector, then the common build's current-language lookups.
            "selector GetLCID",
            "event welkin_locale_lcid_check", "selector GetLCIDFromTorvexLangMap", "event welkin_locale_lcid_check",
            "utility QzGetOSVersion2 6",
            "event welkin_locale_lcid_check", "selector GetLCIDFromTorvexLangMap", "event welkin_locale_lcid_check",
            "start OnOOBE.inf /longpath /install /DoNotDeleteSetupFiles /WorkingDir=\"" + workingDir + "\"",
            "start --exit 0 /product",
            "start --exit 0 /affid=A3 /lang=fr-fr",
            "event welkin_apply_usermode_settings",
            "trust Corlune.dll", "bus publish Core.OOBE.OOBEComplete",
            "trust Corlune.dll", "bus request SETTINGS_MANAGER_SET_PROPERTY",
            "event welkin_monitoring",
            "utility QzDeleteTask welkin",
            "event welkin_start_all_services",
            "trust RVXAAPI.DLL",
            "manager QzDllGetClassObject IServiceManager", "manager StartServicesByHost KESTRO 5000", "manager Release",
        };
        EXPECT_EQ(firstStart, Milestones(RoadCalls()));
        const std::vector<std::wstring> log = LogLines();
        ExpectInOrder(log, {L"Execute welkin main logic", L"Enter OOBE COMPLETE Stage",
                            L"GetLCID from pomvek.dll returned: 1031 lRet: 0",
                            L"Start Create Process. Program : " + InstallerPath(), L"Enable OAS",
                            L"Schedule Scan entry present. Reset schedule scan install date.",
                            L"apply user mode settings for only KVR returned : 0",
                            L"apply user mode settings except KVR returned : 0", L"set oobe done = 1 flag",
                            L"Published Core.OOBE.OOBEComplete message successfully!",
                            L"Set Core.OOBE.OOBEComplete message successfully!", L"set DisableServices flag = 0",
                            L"delete facmode registry  key", L"qzappcfg.exe if it exists.",
                            L"TaskScheduleEntry: Deleting the Task Schedule Entry", L"Set DisableServices flag = 0",
                            L"Start Post Oobe Services", L"Called sm->StartServicesByHost: lRet = 0"});
        ExpectFirstRunValues(machine);
        ExpectCompletion(machine, road);

        // The next start after the OOBE work: a command the PC maker queued late, the services disabled again and
        // scanning switched off; only the every-start work may happen.
        AddCommand(machine.own.userMode, L"late", L"--exit 0 /late", 2, true);
        for (const wchar_t* oem : {kKVROem, kHalvardOem}) SetRecordDword(oem, L"DisableServices", 1);
        SetDword(kScannerKey, L"OASEnabled", 1);
        ClearJournals();

        EXPECT_EQ(kEFail, RunWelkin());
        const std::vector<std::string> secondStart = {
            "trust QzUtil.dll", "event welkin_start_all_services", "trust RVXAAPI.DLL",
            "manager QzDllGetClassObject IServiceManager", "manager StartServicesByHost KESTRO 5000", "manager Release",
        };
        EXPECT_EQ(secondStart, Milestones(RoadCalls()));
        const std::vector<std::wstring> again = LogLines();
        for (const wchar_t* firstRunOnly : {L"Execute welkin main logic", L"Enter OOBE COMPLETE Stage",
                                            L"Run command >> : ", L"set oobe done = 1 flag", L"Published "})
            EXPECT_FALSE(AnyLineHas(again, firstRunOnly)) << Narrow(firstRunOnly);
        ExpectInOrder(again, {L"Set DisableServices flag = 0", L"Start Post Oobe Services",
                              L"Called sm->StartServicesByHost: lRet = 0"});
        EXPECT_TRUE(CommandStarts().empty());
        EXPECT_EQ(2u, RecordDword(machine.own.userMode + L"\\late", L"bootcount").value_or(0));
        EXPECT_EQ(1u, Dword(kScannerKey, L"OASEnabled").value_or(0));
        EXPECT_EQ(0u, RecordDword(kHalvardOem, L"DisableServices").value_or(99));
        // The KVR Oem key is the services flag's only in the KVR family.
        EXPECT_EQ(machine.family == Family::KVR ? 0u : 1u, RecordDword(kKVROem, L"DisableServices").value_or(99));
        EXPECT_EQ(0u, RecordDword(machine.own.oem, L"OEMMgr").value_or(99));
        ResetMachine();
    }
}

// quillon.exe is started during OOBE by something outside the system and answers only through its exit code.
TEST_F(RoadTest, QuillonOnTheSameMachineReportsThroughItsExitCode) {
    InstallKVRMachine();
    InstallSuite();

    // Fake counters: the idle test opens on them, but Wine's desktop never reports input, so no sample is taken
    // and the maximum delay (one minute) ends the wait.
    InstallQuillon(true);
    EXPECT_EQ(kTimeout, RunQuillon({{L"MinimumDelay", 0}, {L"MaximumDelay", 1}, {L"QueryInterval", 1}}));
    const std::vector<std::string> counters = CounterCalls();
    EXPECT_THAT(counters, Contains("PdhAddCounterW \\Memory\\Available MBytes"));
    EXPECT_THAT(counters, Contains("PdhAddCounterW \\Processor(_Total)\\% Idle Time"));
    EXPECT_THAT(counters, Contains("PdhAddCounterW \\PhysicalDisk(_Total)\\% Idle Time"));
    ASSERT_FALSE(counters.empty());
    EXPECT_EQ("PdhCloseQuery", counters.back());

    // This machine's own counters: whatever Wine answers, the code is one of quillon's: idle, the maximum delay,
    // or the failing status with which the idle test could not open.
    InstallQuillon(false);
    const DWORD real = RunQuillon({{L"MinimumDelay", 0}, {L"MaximumDelay", 1}, {L"QueryInterval", 1}});
    std::printf("quillon with this machine's counters ended with 0x%lx\n", static_cast<unsigned long>(real));
    EXPECT_TRUE(real == 0 || real == kTimeout || (real & 0x80000000u) != 0) << std::hex << real;
    EXPECT_EQ(counters, CounterCalls()) << "the fake counters were loaded without being named";
}

}  // namespace
}  // namespace systemtest
