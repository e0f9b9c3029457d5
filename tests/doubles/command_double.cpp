// Stand-in for an OEM-configured command. It appends one line to the journal file named by the environment variable
// WELKIN_COMMAND_JOURNAL: its whole command line and its current folder, separated by a tab, in UTF-8. It then exits
// with the number after "--exit" on its command line (0 without), after sleeping the milliseconds after "--sleep".
#include <windows.h>

#include <cwchar>
#include <string>

#include "tests/doubles/JournalFile.h"

namespace {

DWORD NumberAfter(const std::wstring& commandLine, const wchar_t* option) {
    const size_t at = commandLine.find(option);
    if (at == std::wstring::npos) return 0;
    return wcstoul(commandLine.c_str() + at + wcslen(option), nullptr, 0);
}

void AppendToJournal(const std::wstring& line) {
    doubles::AppendToRoadJournal("command", doubles::Utf8(line));
    wchar_t journal[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"WELKIN_COMMAND_JOURNAL", journal, MAX_PATH) == 0) return;
    doubles::AppendToJournal(journal, doubles::Utf8(line));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring commandLine = GetCommandLineW();
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    AppendToJournal(commandLine + L"\t" + folder + L"\n");
    if (const DWORD sleepMs = NumberAfter(commandLine, L"--sleep")) Sleep(sleepMs);
    return static_cast<int>(NumberAfter(commandLine, L"--exit"));
}
