#include "foundation/logging/FileLogger.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/Format.h"
#include "foundation/basalt/IniReader.h"
#include "tests/foundation/logging/LogFileText.h"
#include "tests/support/TempFolder.h"

using ETWLogging::CLogging;
using testsupport::TempFolder;

namespace {

SYSTEMTIME g_now = {2026, 12, 4, 10, 13, 5, 9, 0};
void WINAPI FakeClock(LPSYSTEMTIME time) { *time = g_now; }

using logtest::LogsRoot;
using logtest::ProgramData;

// The program's own names: the log name and the tag come from the image file of this test program.
const wchar_t kLogName[] = L"logging_file_logger_tests";

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Utf16Bytes(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

const std::string kBom = "\xFF\xFE";

void WriteSettings(const std::wstring& iniPath, const std::vector<std::pair<const wchar_t*, DWORD>>& values) {
    Basalt::CObfuscatedIniReader ini;
    ini.Load(iniPath);
    for (const auto& [key, value] : values) ASSERT_TRUE(ini.SetDWORD(L"Config", key, value)) << "key " << key;
}

bool ReadSetting(const std::wstring& iniPath, const wchar_t* key, DWORD& value) {
    Basalt::CObfuscatedIniReader ini;
    return ini.Load(iniPath) && ini.GetDWORD(L"Config", key, value);
}

// A log file grown to the given size, as a full file of an earlier run would be.
void WriteFullFile(const std::wstring& path, DWORD size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string bytes(size, 'F');
    DWORD written = 0;
    WriteFile(file, bytes.data(), size, &written, nullptr);
    CloseHandle(file);
}

// Holds a file open against writers (readers are fine), so the profile functions cannot rewrite it.
class WriteLock {
public:
    explicit WriteLock(const std::wstring& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {
        EXPECT_NE(INVALID_HANDLE_VALUE, handle_);
    }
    ~WriteLock() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }

private:
    HANDLE handle_;
};

class FileLoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Basalt::RemoveFolderTree(LogsRoot().c_str());
        g_now = {2026, 12, 4, 10, 13, 5, 9, 0};
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        group_ = L"g_" + std::wstring(name.begin(), name.end());
        folder_ = LogsRoot() + L"\\" + group_ + L"\\" + kLogName;
    }
    void TearDown() override { Basalt::RemoveFolderTree(LogsRoot().c_str()); }

    std::wstring LogFile(int index, const std::wstring& suffix = L"") const {
        return folder_ + L"\\" + kLogName + suffix + Basalt::Format(L"%03d", index) + L".log";
    }
    std::wstring PerLogIni() const { return folder_ + L"\\log.ini"; }
    std::wstring GlobalIni() const { return LogsRoot() + L"\\log.ini"; }
    void PrepareFolder() const { ASSERT_TRUE(Basalt::CreateFolderPath(folder_.c_str(), nullptr)); }

    // Opens with the given Options; no module, so the tag is the image file name.
    void Open(CLogging& logger, DWORD options) {
        PrepareFolder();
        WriteSettings(PerLogIni(), {{L"Options", options}, {L"Severity", 1}});
        ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
    }

    std::string Body(int index = 0) const { return TempFolder::ReadAll(LogFile(index)); }

    std::wstring group_;
    std::wstring folder_;
};

TEST_F(FileLoggerTest, HeadAndMessageOnlyWithOptionsZero) {
    struct Case {
        WORD hour;
        DWORD severity;
        const wchar_t* message;
        const wchar_t* line;
    } cases[] = {
        {0, 1, L"midnight", L"12/10/2026 12:05:09 AM$ -- (Normal)$ midnight\r\n"},
        {12, 2, L"noon", L"12/10/2026 12:05:09 PM$ -- (Warning)$ noon\r\n"},
        {13, 3, L"afternoon", L"12/10/2026 01:05:09 PM$ -- (Information)$ afternoon\r\n"},
        {11, 4, L"morning", L"12/10/2026 11:05:09 AM$ -- (Error)$ morning\r\n"},
        {23, 5, L"ends in a line feed\n", L"12/10/2026 11:05:09 PM$ -- (Critical)$ ends in a line feed\n"},
        {9, 6, L"crlf already\r\n", L"12/10/2026 09:05:09 AM$ -- (Information)$ crlf already\r\n"},
    };
    CLogging logger(FakeClock);
    Open(logger, 0);
    std::wstring expected;
    for (const Case& c : cases) {
        g_now.wHour = c.hour;
        EXPECT_EQ(0u, logger.logString(L"C:\\src\\x.cpp", L"Ns::C::f", 12, c.severity, c.message));
        expected += c.line;
    }
    EXPECT_EQ(kBom + Utf16Bytes(expected), Body());
}

TEST_F(FileLoggerTest, AllFieldsWithOptions63) {
    g_now = {2026, 3, 1, 7, 14, 30, 0, 0};
    CLogging logger(FakeClock);
    Open(logger, 63);
    const DWORD pid = GetCurrentProcessId(), tid = GetCurrentThreadId();
    const std::wstring ids = L"[PID:" + std::wstring(pid < 10000 ? 5 - std::to_wstring(pid).size() : 0, L' ') +
                             std::to_wstring(pid) + L" TID:" +
                             std::wstring(tid < 10000 ? 5 - std::to_wstring(tid).size() : 0, L' ') +
                             std::to_wstring(tid) + L"]$";
    ASSERT_EQ(0u, logger.logString(L"foundation/logging/a_source_file_name_longer_than_twenty.cpp",
                                   L"ETWLogging::SomeClass::aMethodWhoseFullNameIsLongerThanForty", 7, 4, L"long"));
    ASSERT_EQ(0u, logger.logString(L"C:\\src\\short.cpp", L"Ns::f", 12345, 3, L"short"));
    ASSERT_EQ(0u, logger.logString(L"", L"", 1, 3, L"no site"));
    const std::wstring expected =
        L"03/07/2026 02:30:00 PM$ -- (Error)$ [logging_file_lo]$ " + ids +
        L" [a_source_file_name_l:    7]$ [ETWLogging::SomeClass::aMethodWhoseFullN()]$ long\r\n"
        L"03/07/2026 02:30:00 PM$ -- (Information)$ [logging_file_lo]$ " + ids +
        L" [           short.cpp:12345]$ [                                   Ns::f()]$ short\r\n"
        L"03/07/2026 02:30:00 PM$ -- (Information)$ [logging_file_lo]$ " + ids + L" no site\r\n";
    EXPECT_EQ(kBom + Utf16Bytes(expected), Body());
}

TEST_F(FileLoggerTest, ModuleGivenNamesTheLogAndDropsTheTag) {
    CLogging logger(FakeClock);
    PrepareFolder();
    WriteSettings(PerLogIni(), {{L"Options", 16}});
    ASSERT_EQ(0u, logger.open(group_.c_str(), GetModuleHandleW(nullptr), L"host", 0));
    ASSERT_EQ(0u, logger.logString(L"f.cpp", L"fn", 1, 3, L"tagless"));
    EXPECT_EQ(kBom + Utf16Bytes(L"12/10/2026 01:05:09 PM$ -- (Information)$ tagless\r\n"),
              TempFolder::ReadAll(LogFile(0, L"_host")));
}

TEST_F(FileLoggerTest, BadLinesWriteNothing) {
    CLogging logger(FakeClock);
    Open(logger, 16);
    for (DWORD severity : {0u, 7u}) EXPECT_EQ(87u, logger.logString(L"f", L"fn", 1, severity, L"x"));
    EXPECT_EQ(87u, logger.logString(L"f", L"fn", 1, 3, L""));
    EXPECT_EQ(87u, logger.logString(L"f", L"fn", 1, 3, nullptr));
    EXPECT_FALSE(Exists(LogFile(0)));
}

TEST_F(FileLoggerTest, OpenAndCloseCodes) {
    CLogging logger;
    EXPECT_EQ(87u, logger.open(L"", nullptr, nullptr, 0));
    EXPECT_EQ(87u, logger.open(L"g", nullptr, L"", 0));
    EXPECT_EQ(CLogging::kNotOpen, logger.close());
    ASSERT_EQ(0u, logger.open(nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(LogsRoot() + L"\\" + kLogName, logger.logFolder());
    EXPECT_EQ(CLogging::kAlreadyOpen, logger.open(L"g", nullptr, nullptr, 0));
    EXPECT_EQ(0u, logger.close());
    EXPECT_EQ(CLogging::kNotOpen, logger.close());
    EXPECT_EQ(87u, logger.logString(L"f", L"fn", 1, 3, L"closed"));

    wchar_t root[MAX_PATH];
    EXPECT_EQ(0u, logger.getLogRootFolder(root, MAX_PATH));
    EXPECT_EQ(ProgramData(), root);
    EXPECT_EQ(87u, logger.getLogRootFolder(nullptr, MAX_PATH));
    EXPECT_EQ(122u, logger.getLogRootFolder(root, 3));
}

TEST_F(FileLoggerTest, CloseRestoresTheDefaults) {
    CLogging logger;
    PrepareFolder();
    WriteSettings(PerLogIni(), {{L"Enable", 0}, {L"MaxSize", 0x100000}, {L"MaxEntries", 9}, {L"Severity", 5},
                                {L"Options", 63}});
    ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
    EXPECT_FALSE(logger.isEnabled());
    EXPECT_EQ(0x100000u, logger.getMaxSize());
    EXPECT_EQ(9u, logger.getMaxEntries());
    EXPECT_EQ(5u, logger.getSeverity());
    EXPECT_EQ(63u, logger.getOptions());
    ASSERT_EQ(0u, logger.close());
    EXPECT_TRUE(logger.isEnabled());
    EXPECT_EQ(0x40000u, logger.getMaxSize());
    EXPECT_EQ(3u, logger.getMaxEntries());
    EXPECT_EQ(3u, logger.getSeverity());
    EXPECT_EQ(16u, logger.getOptions());
}

TEST_F(FileLoggerTest, SettersClampToTheRing) {
    CLogging logger;
    struct Case {
        DWORD given, entries, size;
    } cases[] = {{0, 2, 0x40000}, {2, 2, 0x40000}, {100, 100, 0x40000}, {101, 100, 0x40000},
                 {0x50000, 100, 0x50000}, {0xA00001, 100, 0xA00000}};
    for (const Case& c : cases) {
        logger.setMaxEntries(c.given);
        logger.setMaxSize(c.given);
        EXPECT_EQ(c.entries, logger.getMaxEntries()) << c.given;
        EXPECT_EQ(c.size, logger.getMaxSize()) << c.given;
    }
    logger.setSeverity(0);
    EXPECT_EQ(1u, logger.getSeverity());
    logger.setSeverity(9);
    EXPECT_EQ(6u, logger.getSeverity());
}

TEST_F(FileLoggerTest, SettingsComeFromThePerLogIniThenTheGlobalOneAndBadValuesAreRepaired) {
    struct Case {
        const char* what;
        std::vector<std::pair<const wchar_t*, DWORD>> perLog, global;
        DWORD maxSize, maxEntries, severity;
        bool enabled;
        // What the files hold afterwards for MaxSize (0: absent).
        DWORD perLogMaxSize, globalMaxSize;
    } cases[] = {
        {"defaults", {}, {}, 0x40000, 3, 3, true, 0, 0},
        {"per-log bad, global absent", {{L"MaxSize", 100}}, {{L"Options", 16}}, 0x40000, 3, 3, true, 0x40000, 0},
        {"per-log bad, global good", {{L"MaxSize", 100}}, {{L"MaxSize", 0x100000}}, 0x100000, 3, 3, true, 0x40000,
         0x100000},
        {"per-log good", {{L"MaxSize", 0x100000}}, {{L"MaxSize", 0x200000}}, 0x100000, 3, 3, true, 0x100000,
         0x200000},
        {"global bad", {{L"Options", 16}}, {{L"MaxSize", 0xA00001}}, 0x40000, 3, 3, true, 0, 0x40000},
        {"ring limits", {{L"MaxEntries", 1}, {L"Severity", 7}}, {{L"MaxEntries", 100}, {L"Severity", 0}}, 0x40000,
         100, 0, true, 0, 0},
        {"disabled by the global ini", {{L"Options", 0}}, {{L"Enable", 0}}, 0x40000, 3, 3, false, 0, 0},
        {"any non-zero enables", {{L"Enable", 5}}, {{L"Enable", 0}}, 0x40000, 3, 3, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Basalt::RemoveFolderTree(LogsRoot().c_str());
        PrepareFolder();
        if (!c.perLog.empty()) WriteSettings(PerLogIni(), c.perLog);
        if (!c.global.empty()) WriteSettings(GlobalIni(), c.global);
        CLogging logger;
        ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
        EXPECT_EQ(c.maxSize, logger.getMaxSize());
        EXPECT_EQ(c.maxEntries, logger.getMaxEntries());
        EXPECT_EQ(c.severity, logger.getSeverity());
        EXPECT_EQ(c.enabled, logger.isEnabled());
        DWORD stored = 0;
        EXPECT_EQ(c.perLogMaxSize != 0, ReadSetting(PerLogIni(), L"MaxSize", stored));
        if (c.perLogMaxSize) {
            EXPECT_EQ(c.perLogMaxSize, stored);
        }
        EXPECT_EQ(c.globalMaxSize != 0, ReadSetting(GlobalIni(), L"MaxSize", stored));
        if (c.globalMaxSize) {
            EXPECT_EQ(c.globalMaxSize, stored);
        }
    }
}

// When the repair of a bad per-log value cannot be written, the setting stays and the global ini is not asked.
TEST_F(FileLoggerTest, FailedRepairLeavesTheSetting) {
    PrepareFolder();
    WriteSettings(PerLogIni(), {{L"MaxSize", 100}});
    WriteSettings(GlobalIni(), {{L"MaxSize", 0x100000}});
    WriteLock lock(PerLogIni());
    CLogging logger;
    ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
    EXPECT_EQ(0x40000u, logger.getMaxSize());
}

TEST_F(FileLoggerTest, TheRingRunsThroughMaxEntriesFilesAndLastLogIdxFollows) {
    CLogging logger(FakeClock);
    Open(logger, 0);
    ASSERT_EQ(0u, logger.logString(L"f", L"fn", 1, 3, L"first"));
    DWORD index = 99;
    EXPECT_FALSE(ReadSetting(PerLogIni(), L"LastLogIdx", index));  // no move yet

    const std::string line0 = Utf16Bytes(L"12/10/2026 01:05:09 PM$ -- (Information)$ line 0\r\n");
    for (int step = 1; step <= 4; ++step) {
        SCOPED_TRACE(step);
        const int full = (step - 1) % 3, next = step % 3;
        WriteFullFile(LogFile(full), 0x40000);
        ASSERT_EQ(0u, logger.logString(L"f", L"fn", 1, 3, L"line 0"));
        EXPECT_EQ(kBom + line0, Body(next));
        ASSERT_TRUE(ReadSetting(PerLogIni(), L"LastLogIdx", index));
        EXPECT_EQ(static_cast<DWORD>(next), index);
    }
    EXPECT_FALSE(Exists(LogFile(3)));
    // Short of MaxSize: appended, no byte-order mark in the middle.
    ASSERT_EQ(0u, logger.logString(L"f", L"fn", 1, 3, L"line 0"));
    EXPECT_EQ(kBom + line0 + line0, Body(1));
}

TEST_F(FileLoggerTest, AStoredIndexBeyondTheRingStartsAgainAtZero) {
    PrepareFolder();
    WriteSettings(PerLogIni(), {{L"LastLogIdx", 7}, {L"Options", 0}});
    TempFolder::RemoveTree(LogFile(0));
    WriteFullFile(LogFile(0), 10);  // an old short file: created anew all the same
    CLogging logger(FakeClock);
    ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
    ASSERT_EQ(0u, logger.logString(L"f", L"fn", 1, 3, L"again"));
    EXPECT_EQ(kBom + Utf16Bytes(L"12/10/2026 01:05:09 PM$ -- (Information)$ again\r\n"), Body(0));
    DWORD index = 99;
    ASSERT_TRUE(ReadSetting(PerLogIni(), L"LastLogIdx", index));
    EXPECT_EQ(0u, index);
}

// Another writer moved the ring (same ini size, perhaps the same tick of the file clock): a full file makes the
// logger read the index afresh instead of moving on from the one it saw last.
TEST_F(FileLoggerTest, AMoveByAnotherWriterIsFollowed) {
    PrepareFolder();
    WriteSettings(PerLogIni(), {{L"LastLogIdx", 0}, {L"Options", 0}});
    CLogging logger(FakeClock);
    ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
    ASSERT_EQ(0u, logger.logString(L"f", L"fn", 1, 3, L"in 0"));
    WriteSettings(PerLogIni(), {{L"LastLogIdx", 2}});
    WriteFullFile(LogFile(0), 0x40000);
    ASSERT_EQ(0u, logger.logString(L"f", L"fn", 1, 3, L"in 2"));
    EXPECT_EQ(kBom + Utf16Bytes(L"12/10/2026 01:05:09 PM$ -- (Information)$ in 2\r\n"), Body(2));
    EXPECT_FALSE(Exists(LogFile(1)));
}

// The file moved to could not be recorded in "LastLogIdx": the next lines go on in it instead of recreating it.
TEST_F(FileLoggerTest, UnrecordedMoveAppendsInsteadOfRecreating) {
    CLogging logger(FakeClock);
    Open(logger, 0);
    WriteFullFile(LogFile(0), 0x40000);
    {
        WriteLock lock(PerLogIni());
        ASSERT_EQ(0u, logger.logString(L"f", L"fn", 1, 3, L"A"));
        ASSERT_EQ(0u, logger.logString(L"f", L"fn", 1, 3, L"B"));
    }
    EXPECT_EQ(kBom + Utf16Bytes(L"12/10/2026 01:05:09 PM$ -- (Information)$ A\r\n"
                                L"12/10/2026 01:05:09 PM$ -- (Information)$ B\r\n"),
              Body(1));
    DWORD index = 99;
    EXPECT_FALSE(ReadSetting(PerLogIni(), L"LastLogIdx", index));
}

TEST_F(FileLoggerTest, DisabledByTheIniSilencesEverySeverityAndEveryRoad) {
    PrepareFolder();
    WriteSettings(PerLogIni(), {{L"Enable", 0}, {L"Severity", 0}});
    CLogging logger;
    ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
    for (DWORD severity = 1; severity <= 6; ++severity) EXPECT_FALSE(logger.isSeverityEnabled(severity)) << severity;
    logger.log(5, L"f", L"fn", 1, L"%s", L"through log");
    EXPECT_EQ(0u, logger.logString(L"f", L"fn", 1, 5, L"through logString"));
    EXPECT_EQ(0u, logger.logError(L"f", L"fn", 1, L"through the fixed-severity road"));
    EXPECT_FALSE(Exists(LogFile(0)));

    logger.setEnabled(true);
    EXPECT_TRUE(logger.isSeverityEnabled(1));
}

TEST_F(FileLoggerTest, ThresholdGatesLogButNotLogString) {
    CLogging logger(FakeClock);
    PrepareFolder();
    WriteSettings(PerLogIni(), {{L"Options", 0}});
    ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
    EXPECT_FALSE(logger.isSeverityEnabled(2));
    EXPECT_TRUE(logger.isSeverityEnabled(3));
    logger.log(2, L"f", L"fn", 1, L"dropped %d", 1);
    logger.log(3, L"f", L"fn", 1, L"kept %d", 2);
    logger.logString(L"f", L"fn", 1, 1, L"direct");
    logger.logNormal(L"f", L"fn", 1, L"fixed %s", L"normal");
    EXPECT_EQ(kBom + Utf16Bytes(L"12/10/2026 01:05:09 PM$ -- (Information)$ kept 2\r\n"
                                L"12/10/2026 01:05:09 PM$ -- (Normal)$ direct\r\n"
                                L"12/10/2026 01:05:09 PM$ -- (Normal)$ fixed normal\r\n"),
              Body());
}

TEST_F(FileLoggerTest, AFolderThatCannotBeMadeSilencesTheLoggerForGood) {
    // A file where the group folder belongs, or where the log folder itself belongs.
    for (const std::wstring& blocker : {LogsRoot() + L"\\" + group_, folder_}) {
        SCOPED_TRACE(testing::Message() << "file at " << blocker);
        Basalt::RemoveFolderTree(LogsRoot().c_str());
        ASSERT_TRUE(Basalt::CreateFolderPath(LogsRoot().c_str(), nullptr));
        if (blocker == folder_) {
            ASSERT_TRUE(Basalt::CreateFolderPath((LogsRoot() + L"\\" + group_).c_str(), nullptr));
        }
        WriteFullFile(blocker, 1);
        CLogging logger;
        ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
        EXPECT_EQ(87u, logger.logString(L"f", L"fn", 1, 3, L"x"));
        EXPECT_FALSE(logger.isEnabled());
        EXPECT_EQ(10000u, logger.getSeverity());
        EXPECT_FALSE(logger.isSeverityEnabled(6));

        ASSERT_TRUE(DeleteFileW(blocker.c_str()));
        EXPECT_EQ(87u, logger.logString(L"f", L"fn", 1, 3, L"x"));
        EXPECT_FALSE(Exists(folder_));
    }
}

// A line before open has no folder to check: it is refused and leaves the folder check to the open logger.
TEST_F(FileLoggerTest, ALineBeforeOpenIsRefusedAndTheOpenLoggerStillWrites) {
    CLogging logger(FakeClock);
    EXPECT_EQ(87u, logger.logString(L"f", L"fn", 1, 3, L"too early"));
    Open(logger, 0);
    EXPECT_EQ(0u, logger.logString(L"f", L"fn", 1, 3, L"opened"));
    EXPECT_EQ(kBom + Utf16Bytes(L"12/10/2026 01:05:09 PM$ -- (Information)$ opened\r\n"), Body());
}

// Lines from many threads, over several files: none lost, none torn.
TEST_F(FileLoggerTest, ConcurrentWritersKeepEveryLineWhole) {
    PrepareFolder();
    WriteSettings(PerLogIni(), {{L"Options", 0}, {L"MaxEntries", 100}});
    CLogging logger(FakeClock);
    ASSERT_EQ(0u, logger.open(group_.c_str(), nullptr, nullptr, 0));
    constexpr int kThreads = 8, kLines = 150;
    const std::wstring padding(300, L'.');
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                const std::wstring message = L"<" + std::to_wstring(t * 1000 + i) + padding + L">";
                if (logger.logString(L"f", L"fn", 1, 3, message.c_str()) != 0) ++failures;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());

    const std::wstring head = L"12/10/2026 01:05:09 PM$ -- (Information)$ <";
    std::set<int> seen;
    int files = 0;
    for (int index = 0; Exists(LogFile(index)); ++index, ++files) {
        const std::string bytes = Body(index);
        ASSERT_EQ(kBom, bytes.substr(0, 2)) << index;
        const std::wstring text = logtest::TextAfterMark(bytes);
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = text.find(L"\r\n", at);
            ASSERT_NE(std::wstring::npos, end) << "torn line at the end of file " << index;
            const std::wstring line = text.substr(at, end - at);
            ASSERT_EQ(0u, line.compare(0, head.size(), head)) << "torn line in file " << index;
            const size_t number = line.find(L'.', head.size());
            ASSERT_EQ(padding + L">", line.substr(number)) << "torn line in file " << index;
            seen.insert(std::stoi(line.substr(head.size(), number - head.size())));
            at = end + 2;
        }
    }
    EXPECT_GE(files, 2);
    EXPECT_EQ(static_cast<size_t>(kThreads * kLines), seen.size());
}

}  // namespace
