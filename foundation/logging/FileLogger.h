#pragma once
// The file logger: writes UTF-16LE text lines into a ring of numbered log files under
//     <ProgramData>\Torvex\QZLOGS\[<group>\]<log name>\<log name>[_<host>]NNN.log
// configured by log.ini files (section "Config", values as ini records): the per-log one in the log folder, then the
// global one in QZLOGS. Every write opens the current file (moving to the next index when it reached MaxSize),
// appends one line and closes it again; "LastLogIdx" in the per-log ini carries the ring position across processes.
// Writes of one logger are serialised by its own lock and each write keeps its file handle to itself, so the logger
// may be called from any thread. A logger that is disabled (log.ini "Enable" = 0, or a log folder that cannot be
// created) writes nothing and answers no severity.
#include <windows.h>

#include <mutex>
#include <optional>
#include <string>

#include "foundation/logging/LoggingIf.h"

namespace Basalt {
class CObfuscatedIniReader;
}

namespace ETWLogging {

class CLogging : public CLoggerBase<CLoggingIf> {
public:
    static constexpr DWORD kDefaultMaxSize = 0x40000;
    static constexpr DWORD kMinMaxSize = 0x40000;
    static constexpr DWORD kMaxMaxSize = 0xA00000;
    static constexpr DWORD kDefaultMaxEntries = 3;
    static constexpr DWORD kMinMaxEntries = 2;
    static constexpr DWORD kMaxMaxEntries = 100;
    static constexpr DWORD kDefaultSeverity = kSeverityInformation;
    static constexpr DWORD kDefaultOptions = 16;

    // Options bits.
    static constexpr DWORD kOptionDebugOutput = 1;
    static constexpr DWORD kOptionProcessThread = 4;
    static constexpr DWORD kOptionFileLine = 8;
    static constexpr DWORD kOptionTag = 16;
    static constexpr DWORD kOptionFunction = 32;

    // Codes beyond the Win32 ones.
    static constexpr DWORD kAlreadyOpen = 20001;
    static constexpr DWORD kNotOpen = 20002;

    using LocalTimeSource = void(WINAPI*)(LPSYSTEMTIME);
    // The clock is replaced by tests only.
    explicit CLogging(LocalTimeSource clock = &::GetLocalTime);
    ~CLogging() override;
    CLogging(const CLogging&) = delete;
    CLogging& operator=(const CLogging&) = delete;

    // 0, 20001 when open, 87 for an empty group or host (null is fine) or no log name, 14 without memory, or the
    // root folder's failure; a failed open leaves the defaults.
    DWORD open(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD reserved) override;
    DWORD registerProvider() override { return 0; }
    void getIdentityName(std::wstring&) override {}
    void getGroupName(std::wstring&) override {}
    // 0, or 20002 when not open; the settings go back to their defaults.
    DWORD close() override;
    void setEnabled(bool enabled) override { enabled_ = enabled ? 1 : 0; }
    bool isEnabled() override { return enabled_ == 1; }
    void log(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
             ...) override;
    // Writes a finished message whatever its severity (the gate is the caller's). 0; 87 for an empty message, a
    // severity outside 1..6 or an unusable log folder; 14 without memory; the codes of CreateFileW and WriteFile.
    DWORD logString(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                    const wchar_t* message) override;
    bool isSeverityEnabled(DWORD severity) override { return enabled_ != 0 && severity >= threshold_; }
    void setMaxEntries(DWORD count) override;
    DWORD getMaxEntries() override { return maxEntries_; }
    void setMaxSize(DWORD bytes) override;
    DWORD getMaxSize() override { return maxSize_; }

    // The common application-data folder. 87 for a null buffer or when the folder is unknown, 122 when it does
    // not fit in `size` characters.
    DWORD getLogRootFolder(wchar_t* buffer, DWORD size);

    DWORD getOptions() const { return options_; }
    // Empty until opened.
    const std::wstring& logFolder() const { return logFolder_; }
    // The line a write appends for the message, without writing it: 0, or 87 for an empty message or a severity
    // outside 1..6.
    DWORD formatLine(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                     const wchar_t* message, std::wstring& text) const;

private:
    class LogFile;
    struct Setting;
    enum class Lookup { Absent, Accepted, Repaired, RepairFailed };
    static Lookup Consult(Basalt::CObfuscatedIniReader& ini, const Setting& setting, DWORD& value);
    void applyEnable(DWORD value) { enabled_ = value != 0 ? 1 : 0; }
    // Taken as it is: 0 lets every severity pass.
    void applySeverity(DWORD value) { threshold_ = value; }
    void applyOptions(DWORD value) { options_ = value; }

    void resetToDefaults();
    DWORD buildPaths();
    void readSettings();
    bool folderReady();
    DWORD lastLogIndex(bool fresh);
    void storeLastLogIndex(DWORD index);
    std::wstring logFilePath(DWORD index) const;
    DWORD openLogFile(LogFile& file);

    const LocalTimeSource clock_;
    std::mutex lock_;
    DWORD open_ = 0;
    std::optional<std::wstring> group_;
    std::wstring logName_;
    std::wstring imageName_;  // the tag; kept only when open was given no module
    DWORD processId_ = 0;
    std::optional<std::wstring> suffix_;
    std::wstring logFolder_;
    std::wstring perLogIni_;
    std::wstring globalIni_;
    DWORD maxSize_ = kDefaultMaxSize;
    DWORD maxEntries_ = kDefaultMaxEntries;
    DWORD options_ = kDefaultOptions;
    volatile DWORD enabled_ = 1;
    enum class FolderState { Unchecked, Ready, Failed } folderState_ = FolderState::Unchecked;
    // An index this logger moved to but could not store as "LastLogIdx": used instead of the stored one, so that
    // the next write appends to the current file rather than creating it anew.
    std::optional<DWORD> unsavedIndex_;
    // "LastLogIdx" as last read, with the facts of the per-log ini it was read from.
    struct StoredIndex {
        FILETIME written;
        DWORD sizeLow;
        DWORD sizeHigh;
        DWORD index;
    };
    std::optional<StoredIndex> storedIndex_;
};

}  // namespace ETWLogging
