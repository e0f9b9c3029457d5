#include "welkin/processhelper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/CommandJournal.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

namespace {

using testsupport::TempFolder;

const std::wstring kCommand = testsupport::WindowsPathOf(COMMAND_DOUBLE_EXE);

class ProcessHelper : public testsupport::LoggingFixture {
protected:
    void SetUp() override {
        LoggingFixture::SetUp();
        journal_ = folder_.File(L"journal.txt");
        SetEnvironmentVariableW(L"WELKIN_COMMAND_JOURNAL", journal_.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"WELKIN_COMMAND_JOURNAL", nullptr);
        LoggingFixture::TearDown();
    }

    DWORD Launch(const std::wstring& arguments, const wchar_t* folder, bool wait, const std::wstring& program = kCommand) {
        std::vector<wchar_t> writable(arguments.begin(), arguments.end());
        writable.push_back(L'\0');
        CQzProcessHelper helper;
        return helper._CreateProcessAndWaitEx(program.c_str(), writable.data(), folder, wait);
    }

    std::vector<testsupport::CommandStart> Starts() const { return testsupport::ReadCommandStarts(journal_); }

    const testsupport::Entry* Line(DWORD sourceLine) {
        for (const auto& e : journal.entries)
            if (e.line == sourceLine) return &e;
        return nullptr;
    }

    TempFolder folder_;
    std::wstring journal_;
};

TEST_F(ProcessHelper, WaitedProgramGivesItsFullExitCode) {
    for (auto [arguments, expected] : {std::pair<const wchar_t*, DWORD>{L" --exit 3", 3},
                                       {L" --exit 0", 0},
                                       {L" --exit 0x80004005", 0x80004005u}}) {
        journal.entries.clear();
        EXPECT_EQ(expected, Launch(arguments, nullptr, true)) << arguments;
        const testsupport::Entry* success = Line(950);
        ASSERT_NE(nullptr, success);
        EXPECT_EQ(static_cast<DWORD>(ETWLogging::kSeverityError), success->severity);
        EXPECT_EQ(L"Create Process Success. Error code = " + std::to_wstring(expected), success->message);
        EXPECT_EQ(L"CQzProcessHelper::_CreateProcessAndWaitEx", success->function);
    }
}

TEST_F(ProcessHelper, CommandLineIsExactlyTheArgumentsString) {
    ASSERT_EQ(0u, Launch(L" --exit 0 \"quoted arg\"", nullptr, true));
    const auto starts = Starts();
    ASSERT_EQ(1u, starts.size());
    EXPECT_EQ(" --exit 0 \"quoted arg\"", starts[0].commandLine);

    ASSERT_NE(nullptr, Line(904));
    EXPECT_EQ(L"Start Create Process. Program : " + kCommand + L"  --exit 0 \"quoted arg\"", Line(904)->message);
    ASSERT_NE(nullptr, Line(930));
    EXPECT_EQ(L"End Create Process. Program : " + kCommand + L"  --exit 0 \"quoted arg\"", Line(930)->message);
}

TEST_F(ProcessHelper, GivenWorkingFolderIsPassedInItsLongPathForm) {
    const std::wstring workDir = folder_.File(L"work");
    CreateDirectoryW(workDir.c_str(), nullptr);
    ASSERT_EQ(0u, Launch(L" --exit 0", workDir.c_str(), true));
    ASSERT_NE(nullptr, Line(913));
    EXPECT_EQ(L"Start Create Process. Current Working Directory : \\\\?\\" + workDir, Line(913)->message);
    const auto starts = Starts();
    ASSERT_EQ(1u, starts.size());
    // The child sees the folder itself, whichever form the system reports it in.
    const std::string seen = starts[0].folder;
    const std::string expectedTail(workDir.begin() + 2, workDir.end());  // without the drive letter
    EXPECT_NE(std::string::npos, seen.find(expectedTail)) << seen;
}

// Only an absolute drive path written with backslashes gets the long-path prefix: the prefix would stop the system
// from repairing any other form, and a prefixed folder that is not absolute is refused (267).
TEST(StartFolderForm, PrefixOnlyAbsoluteDrivePathsWithBackslashes) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\X", L"\\\\?\\C:\\X"},
        {L"C:\\", L"\\\\?\\C:\\"},
        {L"d:\\a b\\c", L"\\\\?\\d:\\a b\\c"},
        {L"C:", L"C:"},
        {L"C:X", L"C:X"},
        {L"work", L"work"},
        {L"..\\work", L"..\\work"},
        {L"\\work", L"\\work"},
        {L"C:/X", L"C:/X"},
        {L"C:\\X/Y", L"C:\\X/Y"},
        {L"\\\\server\\share", L"\\\\server\\share"},
        {L"\\\\?\\C:\\X", L"\\\\?\\C:\\X"},
        {L"1:\\X", L"1:\\X"},
    };
    for (const auto& [given, form] : cases) EXPECT_EQ(std::wstring(form), StartFolderForm(given)) << given;
}

TEST_F(ProcessHelper, EmptyWorkingFolderStartsInTheCallersFolder) {
    wchar_t own[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, own);
    for (const wchar_t* folder : {static_cast<const wchar_t*>(nullptr), L""}) {
        EXPECT_EQ(0u, Launch(L" --exit 0", folder, true));
    }
    const auto starts = Starts();
    ASSERT_EQ(2u, starts.size());
    const std::wstring ownText(own);
    for (const auto& start : starts) EXPECT_EQ(std::string(ownText.begin(), ownText.end()), start.folder);
    EXPECT_EQ(nullptr, Line(913));
}

TEST_F(ProcessHelper, MissingProgramGivesTheSystemError) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              Launch(L" --exit 0", nullptr, true, folder_.File(L"absent.exe")));
    const testsupport::Entry* failure = Line(935);
    ASSERT_NE(nullptr, failure);
    EXPECT_EQ(static_cast<DWORD>(ETWLogging::kSeverityError), failure->severity);
    EXPECT_EQ(L"Create Process failed. Error code = 2", failure->message);
    EXPECT_EQ(nullptr, Line(950));
}

TEST_F(ProcessHelper, WorkingFolderTooLongForItsLongPathFormIsRefused) {
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L'a');
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), Launch(L" --exit 0", longFolder.c_str(), true));
    EXPECT_TRUE(Starts().empty());
}

TEST_F(ProcessHelper, UnwaitedStartReturnsAtOnce) {
    const DWORD before = GetTickCount();
    EXPECT_EQ(0u, Launch(L" --sleep 5000 --exit 9", nullptr, false));
    EXPECT_LT(GetTickCount() - before, 4000u);
}

int g_timerTicks = 0;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++g_timerTicks; }

TEST_F(ProcessHelper, WaitDispatchesTheThreadsMessages) {
    g_timerTicks = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, CountTick);
    ASSERT_NE(0u, timer);
    EXPECT_EQ(4u, Launch(L" --sleep 400 --exit 4", nullptr, true));
    KillTimer(nullptr, timer);
    EXPECT_GT(g_timerTicks, 0);
}

TEST_F(ProcessHelper, FailedWaitReturnsTheSystemError) {
    CQzProcessHelper helper;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), helper._WaitForProcess(nullptr));
}

}  // namespace

namespace {

TEST_F(ProcessHelper, UnreadableExitCodeIsReportedAsAnErrorNotAsSuccess) {
    std::wstring commandLine = L"\"" + kCommand + L"\" --sleep 200 --exit 0";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(kCommand.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
    CloseHandle(info.hThread);
    // A handle that may wait for the process but not query it.
    HANDLE waitOnly = OpenProcess(SYNCHRONIZE, FALSE, info.dwProcessId);
    ASSERT_NE(nullptr, waitOnly);
    CQzProcessHelper helper;
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), helper._WaitForProcess(waitOnly));
    CloseHandle(waitOnly);
    WaitForSingleObject(info.hProcess, 5000);
    CloseHandle(info.hProcess);
}

}  // namespace
