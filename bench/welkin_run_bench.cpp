// welkin's whole run of the demo's sample configuration (tools/demo/sample-oem.reg, laid out as tools/demo.sh lays
// it out), with and without the signed utility library beside welkin, next to two programs that show the
// platform's share: a GUI program that does nothing, and the floor, a GUI program that makes exactly the platform
// calls of one trust check of the utility library (WinVerifyTrust on the validation library and on the utility
// library). Every program is started and waited for the same way, in turn, round after round.
//
// What the trust check of the library adds beyond the platform's own cost is then
//     (welkin with the library - welkin without it) - (the floor - the program that does nothing),
// an upper bound: the first difference also holds welkin's calls into the library.
//
// The whole first boot: the demo's full layout (bus library with its settings manager answering at once, language
// selector, installer, telemetry service, service manager) with bench/first-boot-overlay.reg over the sample, so the
// commands start but are not waited for; then the steady-state second start on the machine that boot left. Both
// are set against the program that does nothing.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchHarness.h"
#include "tests/support/WinePaths.h"

namespace {

const wchar_t kOobeFolder[] = L"C:\\Program Files\\Common Files\\Torvex\\OOBE";
const wchar_t kBareFolder[] = L"C:\\bench\\welkin-alone";
const wchar_t kUtilityFolder[] = L"C:\\bench\\welkin-utility";
const wchar_t kCommandFolder[] = L"C:\\demo";
const wchar_t kPlatformFolder[] = L"C:\\Program Files\\Common Files\\Torvex\\Platform";
const wchar_t kInstallerFolder[] = L"C:\\Program Files (x86)\\Common Files\\Torvex\\Installer";
const wchar_t kPartnerDataFolder[] = L"C:\\ProgramData\\Torvex\\KVR\\Regwiz\\PartnerData";
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

struct Series {
    const char* name;
    std::vector<double> samples;
    bench::Figures figures;
};

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
    const std::wstring floorArguments = L"\"" + testsupport::WindowsPathOf(WELKIN_SIGNED_DIR "/good/jxvvtpa.dll") +
                                        L"\" \"" + std::wstring(kUtilityFolder) + L"\\QzUtil.dll\"";
    const std::wstring withLibrary = std::wstring(kUtilityFolder) + L"\\welkin.exe";
    const std::wstring installed = std::wstring(kOobeFolder) + L"\\welkin.exe";
    const std::wstring withoutLibrary = std::wstring(kBareFolder) + L"\\welkin.exe";

    Series empty{"a GUI program that does nothing", {}, {}};
    Series trustFloor{"the floor: WinVerifyTrust on the validation and the utility library", {}, {}};
    Series alone{"welkin.exe, one run of the demo sample, no utility library", {}, {}};
    Series signedLibrary{"welkin.exe, one run of the demo sample, signed QzUtil.dll and validation double", {}, {}};
    Series firstBoot{"welkin.exe, the whole first boot (every stand-in, commands not waited for)", {}, {}};
    Series secondStart{"welkin.exe, the steady-state second start", {}, {}};
    DWORD floorCode = 0, aloneCode = 0, libraryCode = 0, firstBootCode = 0, secondStartCode = 0;
    for (int round = 0; round < 23; ++round) {
        DWORD code = 0;
        const double emptyNs = TimeRun(idle, L"", code);
        const double floorNs = TimeRun(floor, floorArguments, floorCode);
        if (!LayOutSample()) {
            std::printf("could not lay out the sample\n");
            return 1;
        }
        const double aloneNs = TimeRun(withoutLibrary, L"", aloneCode);
        LayOutSample();
        const double libraryNs = TimeRun(withLibrary, L"", libraryCode);
        if (!LayOutFirstBoot()) {
            std::printf("could not lay out the first boot\n");
            return 1;
        }
        const double firstBootNs = TimeRun(installed, L"", firstBootCode);
        const double secondStartNs = TimeRun(installed, L"", secondStartCode);
        if (round < 2) continue;  // warm-up
        empty.samples.push_back(emptyNs);
        trustFloor.samples.push_back(floorNs);
        alone.samples.push_back(aloneNs);
        signedLibrary.samples.push_back(libraryNs);
        firstBoot.samples.push_back(firstBootNs);
        secondStart.samples.push_back(secondStartNs);
    }
    for (Series* series : {&empty, &trustFloor, &alone, &signedLibrary, &firstBoot, &secondStart}) {
        series->figures = bench::Summarize(series->samples);
        bench::Report(series->name, series->figures);
    }
    std::printf("exit codes of the last round: floor %lu, welkin alone %lu, welkin with the library %lu, first boot "
                "%lu, second start %lu\n",
                floorCode, aloneCode, libraryCode, firstBootCode, secondStartCode);
    const auto againstTheEmptyProgram = [&](const Series& series, const char* target) {
        bench::ReportValue(std::string(series.name) + " / the program that does nothing (median, target <= " + target +
                               ")",
                           series.figures.medianNs / empty.figures.medianNs, "x");
    };
    againstTheEmptyProgram(firstBoot, "3x");
    againstTheEmptyProgram(secondStart, "2x");
    // Every start checks a signature before it loads a suite library: the floor program pays the platform's share.
    for (const Series* series : {&firstBoot, &secondStart})
        bench::ReportValue(std::string(series->name) + " / the floor (median)",
                           series->figures.medianNs / trustFloor.figures.medianNs, "x");
    const auto beyondTheFloor = [&](const char* which, double bench::Figures::*figure) {
        const double floorCost = trustFloor.figures.*figure - empty.figures.*figure;
        const double libraryCost = signedLibrary.figures.*figure - alone.figures.*figure;
        std::printf("%s: the floor beyond the empty program %.1f ms, the library beyond welkin alone %.1f ms\n", which,
                    floorCost / 1e6, libraryCost / 1e6);
        bench::ReportValue(std::string("the trust check and library calls beyond the floor (") + which +
                               ", target <= 20 ms)",
                           (libraryCost - floorCost) / 1e6, "ms");
    };
    beyondTheFloor("medians", &bench::Figures::medianNs);
    beyondTheFloor("minimums", &bench::Figures::minNs);
    return 0;
}
