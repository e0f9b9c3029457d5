// welkin's whole run of the demo's sample configuration (tools/demo/sample-oem.reg, laid out as tools/demo.sh lays
// it out), with and without the signed utility library beside welkin, next to two kinds of programs that show the
// platform's share: a GUI program that does nothing, and for each run its floor, a GUI program that makes exactly
// the platform calls of the trust checks that run makes (trust_floor: WinVerifyTrust on the validation library and
// on every file the validation service is asked about). Which files a run judges is taken from that run itself:
// a first round journals the validation double's requests. Every program is started and waited for the same way, in
// turn, round after round.
//
// welkin's own cost in a run is the run less its floor. What the trust check of the utility library and the calls
// into it add beyond the platform's own cost is then
//     (welkin with the library - welkin without it) - (the floor with the library - the floor without it),
// an upper bound: the first difference also holds welkin's calls into the library. Both are taken round by round;
// each cost is reported as the median of the rounds with the resolution of the rounds, and a cost they cannot tell
// from zero as the bound it is (never as a negative figure).
//
// The whole first boot: the demo's full layout (bus library with its settings manager answering at once, language
// selector, installer, telemetry service, service manager) with bench/first-boot-overlay.reg over the sample, so the
// commands start but are not waited for; then the steady-state second start on the machine that boot left. Both
// are set against the program that does nothing and against their floors.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchHarness.h"
#include "tests/doubles/DoubleIds.h"
#include "tests/support/WinePaths.h"

namespace {

const wchar_t kOobeFolder[] = L"C:\\Program Files\\Common Files\\Torvex\\OOBE";
const wchar_t kBareFolder[] = L"C:\\bench\\welkin-alone";
const wchar_t kUtilityFolder[] = L"C:\\bench\\welkin-utility";
const wchar_t kCommandFolder[] = L"C:\\demo";
const wchar_t kPlatformFolder[] = L"C:\\Program Files\\Common Files\\Torvex\\Platform";
const wchar_t kInstallerFolder[] = L"C:\\Program Files (x86)\\Common Files\\Torvex\\Installer";
const wchar_t kPartnerDataFolder[] = L"C:\\ProgramData\\Torvex\\KVR\\Regwiz\\PartnerData";
const wchar_t kValidationJournal[] = L"C:\\bench\\validation.txt";
const wchar_t kTelemetryServer[] =
    L"Software\\Classes\\CLSID\\{E782BE15-9936-4A7F-8DF9-9AB95D229DF1}\\InprocServer32";

// Nanoseconds from the start of the program until it has ended; its exit code in `code`.
double TimeRun(const std::wstring& program, const std::wstring& arguments, DWORD& code) {
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    code = static_cast<DWORD>(-1);
    const double start = bench::NowNs();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, L"C:\\", &startup,
                        &info))
        return 0;
    WaitForSingleObject(info.hProcess, INFINITE);
    const double elapsed = bench::NowNs() - start;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return elapsed;
}

bool Copy(const std::wstring& from, const std::wstring& folder, const wchar_t* name) {
    return CopyFileW(from.c_str(), (folder + L"\\" + name).c_str(), FALSE) != FALSE;
}

// The files as the demo has them: welkin with the signed utility and bus libraries beside it, the language selector,
// the installer, the OEM map ini, a partner data file, the stand-in commands and the telemetry service; a copy of
// welkin with only the utility library beside it; and one in a folder of its own, where it finds no library.
bool LayOutFiles() {
    const std::wstring welkin = testsupport::WindowsPathOf(WELKIN_EXE);
    const std::wstring command = testsupport::WindowsPathOf(COMMAND_DOUBLE_EXE);
    const std::wstring signedFolder = testsupport::WindowsPathOf(WELKIN_SIGNED_DIR "/good");
    const std::wstring kvrFolder = std::wstring(kCommandFolder) + L"\\KVR";
    for (const wchar_t* folder : {kOobeFolder, kBareFolder, kUtilityFolder, kCommandFolder, kPlatformFolder,
                                  kInstallerFolder, kPartnerDataFolder})
        SHCreateDirectoryExW(nullptr, folder, nullptr);
    SHCreateDirectoryExW(nullptr, kvrFolder.c_str(), nullptr);
    const HANDLE partnerData =
        CreateFileW((std::wstring(kPartnerDataFolder) + L"\\{0D5C1A3E-DEMO}.dat").c_str(), GENERIC_WRITE, 0, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (partnerData == INVALID_HANDLE_VALUE) return false;
    CloseHandle(partnerData);
    const std::wstring server = signedFolder + L"\\telemetry_service.dll";
    const bool registered =
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kTelemetryServer, nullptr, REG_SZ, server.c_str(),
                        static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kTelemetryServer, L"ThreadingModel", REG_SZ, L"Both",
                        sizeof L"Both") == ERROR_SUCCESS;
    return registered && Copy(welkin, kOobeFolder, L"welkin.exe") &&
           Copy(signedFolder + L"\\QzUtil.dll", kOobeFolder, L"QzUtil.dll") &&
           Copy(signedFolder + L"\\Corlune.dll", kOobeFolder, L"Corlune.dll") &&
           Copy(testsupport::WindowsPathOf(POMVEK_DLL), kPlatformFolder, L"Pomvek.dll") &&
           Copy(command, kInstallerFolder, L"qzinst.exe") &&
           Copy(testsupport::WindowsPathOf(DEMO_OEM_MAP), kvrFolder, L"qzoemmap.ini") &&
           Copy(welkin, kUtilityFolder, L"welkin.exe") &&
           Copy(signedFolder + L"\\QzUtil.dll", kUtilityFolder, L"QzUtil.dll") &&
           Copy(welkin, kBareFolder, L"welkin.exe") && Copy(command, kCommandFolder, L"welcome_tour.exe") &&
           Copy(command, kCommandFolder, L"register_device.exe");
}

bool Load(const char* file) {
    DWORD code = 0;
    TimeRun(testsupport::WindowsPathOf(REGTOOL_EXE), L"load \"" + testsupport::WindowsPathOf(file) + L"\"", code);
    return code == 0;
}

// The sample afresh: what an earlier run changed or added under the family's key goes first.
bool LayOutSample() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Torvex\\Halvard");
    return Load(DEMO_SAMPLE);
}

// The sample with its commands not waited for.
bool LayOutFirstBoot() { return LayOutSample() && Load(FIRST_BOOT_OVERLAY); }

// The trust judgements of one run, from the validation double's journal: the hand-out of its interface ("get <name>",
// made once the trust check has judged the library) and every file it was asked about ("<flags> <path>"). They
// become the floor's arguments, in the run's order; `judged` lists the files.
std::wstring FloorArguments(const std::wstring& validationLibrary, std::vector<std::wstring>& judged) {
    std::wstring arguments;
    const HANDLE opened = CreateFileW(kValidationJournal, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return arguments;
    std::string bytes(GetFileSize(opened, nullptr), '\0');
    DWORD read = 0;
    ReadFile(opened, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(opened);
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read),
                                                        text.data(), static_cast<int>(text.size()))));
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        const std::wstring line = text.substr(start, end - start);
        const size_t space = line.find(L' ');
        if (space == std::wstring::npos) continue;
        if (line.compare(0, space, L"get") == 0) {
            arguments += L" /sibling \"" + validationLibrary + L"\"";
        } else {
            judged.push_back(line.substr(space + 1));
            arguments += L" \"" + judged.back() + L"\"";
        }
    }
    return arguments;
}

struct Series {
    std::string name;
    std::vector<double> samples;
    bench::Figures figures;
};

// One way of starting welkin: the machine it finds, the program, the floor of its trust checks, and both series.
struct Scenario {
    const char* name;
    std::function<bool()> layOut;
    std::wstring program;
    std::wstring floorArguments{};
    std::vector<std::wstring> judged{};
    Series run{};
    Series floor{};
    DWORD runCode = 0;
    DWORD floorCode = 0;
};

// Differences are taken within a round, where the runs follow each other: the machine's load changes between
// rounds more than within one.
std::vector<double> RoundByRound(const std::vector<double>& minuend, const std::vector<double>& subtrahend) {
    std::vector<double> differences;
    for (size_t i = 0; i < minuend.size() && i < subtrahend.size(); ++i)
        differences.push_back(minuend[i] - subtrahend[i]);
    return differences;
}

double MedianMs(const std::vector<double>& samplesNs) { return bench::Summarize(samplesNs).medianNs / 1e6; }

// A cost taken round by round, with how finely the rounds resolve it: twice the standard error of the median,
// estimated from the median absolute deviation. No cost is below zero, so one that the rounds cannot tell from zero
// is given as the bound it is.
void ReportCost(const std::string& name, const std::vector<double>& differencesNs) {
    if (differencesNs.empty()) return;
    const double median = MedianMs(differencesNs);
    std::vector<double> deviations;
    for (const double difference : differencesNs) deviations.push_back(std::fabs(difference - median * 1e6));
    const double spread = 1.4826 * MedianMs(deviations);
    const double resolution = 2 * 1.2533 * spread / std::sqrt(static_cast<double>(differencesNs.size()));
    if (median - resolution > 0)
        std::printf("%-58s %12.1f ms (+/- %.1f ms)\n", name.c_str(), median, resolution);
    else
        std::printf("%-58s at most %.1f ms (not told from zero: median %.1f ms, +/- %.1f ms)\n", name.c_str(),
                    std::max(median, 0.0) + resolution, median, resolution);
    std::fflush(stdout);
}

}  // namespace

int main() {
    SetEnvironmentVariableW(L"WELKIN_DEMO_BIN", kCommandFolder);
    SetEnvironmentVariableW(L"WELKIN_DEMO_SIGNED", testsupport::WindowsPathOf(WELKIN_SIGNED_DIR "/good").c_str());
    if (!LayOutFiles()) {
        std::printf("could not lay out the demo's files\n");
        return 1;
    }
    const std::wstring idle = testsupport::WindowsPathOf(EXIT_WITH_EXE);
    const std::wstring floor = testsupport::WindowsPathOf(TRUST_FLOOR_EXE);
    const std::wstring validationLibrary = testsupport::WindowsPathOf(WELKIN_SIGNED_DIR "/good/jxvvtpa.dll");
    const std::wstring installed = std::wstring(kOobeFolder) + L"\\welkin.exe";
    const auto again = [] { return true; };

    Series empty{"a GUI program that does nothing", {}, {}};
    Scenario alone{"one run of the demo sample, no utility library", LayOutSample,
                   std::wstring(kBareFolder) + L"\\welkin.exe"};
    Scenario withLibrary{"one run of the demo sample, signed QzUtil.dll and validation double", LayOutSample,
                         std::wstring(kUtilityFolder) + L"\\welkin.exe"};
    Scenario firstBoot{"the whole first boot (every stand-in, commands not waited for)", LayOutFirstBoot, installed};
    Scenario secondStart{"the steady-state second start", again, installed};
    Scenario* const scenarios[] = {&alone, &withLibrary, &firstBoot, &secondStart};
    for (Scenario* scenario : scenarios) {
        scenario->run.name = std::string("welkin.exe, ") + scenario->name;
        scenario->floor.name = "  its floor: WinVerifyTrust of its trust checks";
    }

    for (int round = 0; round < 44; ++round) {
        // The first round is the probe: the validation double journals what each run has judged.
        const bool probe = round == 0;
        DWORD code = 0;
        const double emptyNs = TimeRun(idle, L"", code);
        for (Scenario* scenario : scenarios) {
            if (!scenario->layOut()) {
                std::printf("could not lay out the machine for %s\n", scenario->name);
                return 1;
            }
            if (probe) {
                DeleteFileW(kValidationJournal);
                RegSetKeyValueW(HKEY_LOCAL_MACHINE, doubles::kValidationDoubleKey, L"Journal", REG_SZ,
                                kValidationJournal, sizeof kValidationJournal);
            }
            const double runNs = TimeRun(scenario->program, L"", scenario->runCode);
            if (probe) {
                RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, doubles::kValidationDoubleKey, L"Journal");
                scenario->floorArguments = FloorArguments(validationLibrary, scenario->judged);
                continue;
            }
            const double floorNs = TimeRun(floor, scenario->floorArguments, scenario->floorCode);
            if (round < 3) continue;  // warm-up
            scenario->run.samples.push_back(runNs);
            scenario->floor.samples.push_back(floorNs);
        }
        if (round >= 3) empty.samples.push_back(emptyNs);
    }

    empty.figures = bench::Summarize(empty.samples);
    bench::Report(empty.name, empty.figures);
    for (Scenario* scenario : scenarios) {
        for (Series* series : {&scenario->run, &scenario->floor}) {
            series->figures = bench::Summarize(series->samples);
            bench::Report(series->name, series->figures);
        }
        std::printf("  %zu files judged:", scenario->judged.size());
        for (const std::wstring& file : scenario->judged) std::printf(" %ls", file.c_str());
        std::printf("\n  exit codes of the last round: welkin %lu, floor %lu\n", scenario->runCode,
                    scenario->floorCode);
    }
    const auto againstTheEmptyProgram = [&](const Scenario& scenario, const char* target) {
        bench::ReportValue(scenario.run.name + " / the program that does nothing (median, target <= " + target + ")",
                           scenario.run.figures.medianNs / empty.figures.medianNs, "x");
    };
    againstTheEmptyProgram(firstBoot, "3x");
    againstTheEmptyProgram(secondStart, "2x");
    for (const Scenario* scenario : scenarios)
        ReportCost(std::string("welkin's own cost beyond its floor, ") + scenario->name + " (median of the rounds)",
                   RoundByRound(scenario->run.samples, scenario->floor.samples));
    const std::vector<double> libraryCost = RoundByRound(withLibrary.run.samples, alone.run.samples);
    const std::vector<double> floorCost = RoundByRound(withLibrary.floor.samples, alone.floor.samples);
    ReportCost("the floor with the library beyond the floor without it", floorCost);
    ReportCost("welkin with the library beyond welkin alone", libraryCost);
    ReportCost("the trust check and library calls beyond the floor (median of the rounds, target <= 20 ms)",
               RoundByRound(libraryCost, floorCost));
    return 0;
}
