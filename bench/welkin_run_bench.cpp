// welkin's own time for one whole run of a sample configuration (a run flag and two UserMode commands, started
// without waiting), against a GUI-subsystem program that does nothing, both started and waited for the same way.
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "bench/BenchHarness.h"
#include "tests/support/ScrambledRecord.h"
#include "tests/support/WinePaths.h"

namespace {

void SetRecord(const std::wstring& key, const wchar_t* name, DWORD type, const void* payload, DWORD size) {
    const std::vector<BYTE> record = testsupport::ScrambledRecord(type, payload, size);
    HKEY handle = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
    RegSetValueExW(handle, name, 0, REG_BINARY, record.data(), static_cast<DWORD>(record.size()));
    RegCloseKey(handle);
}

void SetRecordDword(const std::wstring& key, const wchar_t* name, DWORD value) {
    SetRecord(key, name, REG_DWORD, &value, sizeof value);
}

void SetRecordString(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    const std::string ansi(text.begin(), text.end());
    SetRecord(key, name, REG_SZ, ansi.c_str(), static_cast<DWORD>(ansi.size() + 1));
}

// The sample: run flag set, two commands due now, neither waited for.
void LayOutSample(const std::wstring& command) {
    SetRecordDword(L"Software\\Torvex\\Halvard\\Oem", L"OEMMgr", 1);
    for (const wchar_t* name : {L"first", L"second"}) {
        const std::wstring key = std::wstring(L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode\\") + name;
        SetRecordString(key, L"runcmd", command);
        SetRecordString(key, L"cmdargs", L"--exit 0");
        SetRecordDword(key, L"bootcount", 0);
        SetRecordDword(key, L"wait", 0);
    }
}

// Nanoseconds from the start of the program until it has ended.
double TimeRun(const std::wstring& program) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const double start = bench::NowNs();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return 0;
    WaitForSingleObject(info.hProcess, INFINITE);
    const double elapsed = bench::NowNs() - start;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return elapsed;
}

}  // namespace

int main() {
    const std::wstring welkin = testsupport::WindowsPathOf(WELKIN_EXE);
    const std::wstring idle = testsupport::WindowsPathOf(EXIT_WITH_EXE);
    const std::wstring command = testsupport::WindowsPathOf(COMMAND_DOUBLE_EXE);
    std::vector<double> welkinRuns, idleRuns;
    for (int i = 0; i < 13; ++i) {
        LayOutSample(command);
        const double welkinNs = TimeRun(welkin);
        const double idleNs = TimeRun(idle);
        if (i < 2) continue;  // warm-up
        welkinRuns.push_back(welkinNs);
        idleRuns.push_back(idleNs);
    }
    const bench::Figures welkinFigures = bench::Summarize(welkinRuns);
    const bench::Figures idleFigures = bench::Summarize(idleRuns);
    bench::Report("welkin.exe, one run of the sample configuration", welkinFigures);
    bench::Report("a GUI program that does nothing", idleFigures);
    bench::ReportValue("ratio of the medians", welkinFigures.medianNs / idleFigures.medianNs, "x");
    return 0;
}
