#include "foundation/logging/FileLogger.h"

#include <shlobj.h>

#include <cstring>
#include <new>
#include <vector>

#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/Format.h"
#include "foundation/basalt/IniReader.h"
#include "foundation/basalt/ShlObjAPI.h"

namespace ETWLogging {

namespace {

constexpr wchar_t kLogsBelowRoot[] = L"\\Torvex\\QZLOGS\\";
constexpr wchar_t kIniName[] = L"log.ini";
constexpr wchar_t kSection[] = L"Config";
constexpr wchar_t kLastLogIdx[] = L"LastLogIdx";
constexpr wchar_t kLogExtension[] = L".log";
constexpr DWORD kSelfDisabledThreshold = 10000;
constexpr size_t kFieldBound = 260;  // characters of the time and of each formatted field
constexpr size_t kTagWidth = 15;
constexpr size_t kFileWidth = 20;
constexpr size_t kFunctionWidth = 40;
constexpr WCHAR kByteOrderMark = 0xFEFF;

std::wstring ModulePath(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring FileNameOf(const std::wstring& path) {
    std::wstring folder, name;
    return Basalt::SplitPath(path, folder, false, name) ? name : path;
}

std::wstring WithoutExtension(const std::wstring& name) {
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

// Source paths may use either separator.
const wchar_t* SourceBaseName(const wchar_t* path) {
    const wchar_t* base = path;
    for (const wchar_t* at = path; *at; ++at)
        if (*at == L'\\' || *at == L'/') base = at + 1;
    return base;
}

std::wstring Bounded(const wchar_t* format, ...) {
    wchar_t buffer[kFieldBound];
    va_list args;
    va_start(args, format);
    Basalt::FormatInto(buffer, kFieldBound, format, args);
    va_end(args);
    return buffer;
}

// The value cut to `width` characters, right-aligned in a field of that width.
std::wstring Field(const wchar_t* value, size_t width) {
    std::wstring cut(value, wcsnlen(value, width));
    return std::wstring(width - cut.size(), L' ') + cut;
}

}  // namespace

struct CLogging::Setting {
    const wchar_t* key;
    DWORD defaultValue;
    DWORD lowest;
    DWORD highest;
    void (CLogging::*apply)(DWORD);
};

// A value that is not accepted is repaired to the default in the file where it was found.
CLogging::Lookup CLogging::Consult(Basalt::CObfuscatedIniReader& ini, const Setting& setting, DWORD& value) {
    if (!ini.GetDWORD(kSection, setting.key, value)) return Lookup::Absent;
    if (value >= setting.lowest && value <= setting.highest) return Lookup::Accepted;
    return ini.SetDWORD(kSection, setting.key, setting.defaultValue) ? Lookup::Repaired : Lookup::RepairFailed;
}

// A log file open for one write.
class CLogging::LogFile {
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    // Creates the file anew, starting with the byte-order mark. 0 or the code of CreateFileW.
    DWORD Create(const std::wstring& path) {
        if (!OpenWith(path, CREATE_ALWAYS)) return GetLastError();
        return Append(&kByteOrderMark, sizeof kByteOrderMark);
    }
    // Opens the file for appending, creating a missing one (with the byte-order mark). A file that reached maxSize
    // is closed again and reported full.
    DWORD OpenForAppend(const std::wstring& path, DWORD maxSize, bool& full) {
        full = false;
        if (!OpenWith(path, OPEN_ALWAYS)) return GetLastError();
        if (GetLastError() != ERROR_ALREADY_EXISTS) return Append(&kByteOrderMark, sizeof kByteOrderMark);
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(handle_, &size)) return GetLastError();
        if (size.LowPart >= maxSize) {
            full = true;
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
        return 0;
    }
    // Writes at the end of the file as it is at that moment, so another process appending to the same file between
    // a seek and the write cannot be overwritten.
    DWORD Append(const void* data, DWORD bytes) {
        OVERLAPPED atEnd{};
        atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
        DWORD written = 0;
        if (!WriteFile(handle_, data, bytes, &written, &atEnd)) return GetLastError();
        return 0;
    }

private:
    bool OpenWith(const std::wstring& path, DWORD disposition) {
        handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE, nullptr);
        return handle_ != INVALID_HANDLE_VALUE;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

CLogging::CLogging(LocalTimeSource clock) : clock_(clock) { threshold_ = kDefaultSeverity; }

CLogging::~CLogging() {
    if (open_) close();
}

void CLogging::resetToDefaults() {
    open_ = 0;
    group_.reset();
    logName_.clear();
    imageName_.clear();
    processId_ = 0;
    suffix_.reset();
    logFolder_.clear();
    perLogIni_.clear();
    globalIni_.clear();
    maxSize_ = kDefaultMaxSize;
    maxEntries_ = kDefaultMaxEntries;
    threshold_ = kDefaultSeverity;
    options_ = kDefaultOptions;
    enabled_ = 1;
    folderState_ = FolderState::Unchecked;
    unsavedIndex_.reset();
    storedIndex_.reset();
}

DWORD CLogging::open(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD) {
    std::lock_guard<std::mutex> guard(lock_);
    if (open_) return kAlreadyOpen;
    if ((group && !*group) || (host && !*host)) return ERROR_INVALID_PARAMETER;
    DWORD rc = 0;
    try {
        if (group) group_ = group;
        if (module) {
            logName_ = WithoutExtension(FileNameOf(ModulePath(module)));
        } else {
            imageName_ = FileNameOf(ModulePath(nullptr));
            logName_ = WithoutExtension(imageName_);
        }
        if (host) suffix_ = host;
        rc = buildPaths();
        if (rc == 0) readSettings();
    } catch (const std::bad_alloc&) {
        rc = ERROR_OUTOFMEMORY;
    }
    if (rc != 0) {
        resetToDefaults();
        return rc;
    }
    processId_ = GetCurrentProcessId();
    open_ = 1;
    return 0;
}

DWORD CLogging::close() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!open_) return kNotOpen;
    resetToDefaults();
    return 0;
}

DWORD CLogging::getLogRootFolder(wchar_t* buffer, DWORD size) {
    if (!buffer) return ERROR_INVALID_PARAMETER;
    Basalt::KnownFolderPath folder;
    if (FAILED(Basalt::ShlObjAPI().SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr, folder.Receive())) ||
        !folder.Get())
        return ERROR_INVALID_PARAMETER;
    const size_t length = std::wcslen(folder.Get());
    if (length >= size) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(buffer, folder.Get(), (length + 1) * sizeof(wchar_t));
    return 0;
}

DWORD CLogging::buildPaths() {
    if (logName_.empty()) return ERROR_INVALID_PARAMETER;
    wchar_t known[MAX_PATH];
    const DWORD rc = getLogRootFolder(known, MAX_PATH);
    if (rc != 0) return rc;
    const std::wstring root = std::wstring(known) + kLogsBelowRoot;
    logFolder_ = group_ ? root + *group_ + L"\\" + logName_ : root + logName_;
    perLogIni_ = logFolder_ + L"\\" + kIniName;
    globalIni_ = root + kIniName;
    return 0;
}

void CLogging::readSettings() {
    if (!Basalt::FileExists(perLogIni_.c_str()) && !Basalt::FileExists(globalIni_.c_str())) return;
    Basalt::CObfuscatedIniReader perLog, global;
    perLog.Load(perLogIni_);
    global.Load(globalIni_);

    static const Setting settings[] = {
        {L"Enable", 1, 0, MAXDWORD, &CLogging::applyEnable},
        {L"MaxSize", kDefaultMaxSize, kMinMaxSize, kMaxMaxSize, &CLogging::setMaxSize},
        {L"MaxEntries", kDefaultMaxEntries, kMinMaxEntries, kMaxMaxEntries, &CLogging::setMaxEntries},
        {L"Severity", kDefaultSeverity, 0, 6, &CLogging::applySeverity},
        {L"Options", kDefaultOptions, 0, MAXDWORD, &CLogging::applyOptions},
    };
    for (const Setting& setting : settings) {
        DWORD value = 0;
        Lookup found = Consult(perLog, setting, value);
        if (found == Lookup::Absent || found == Lookup::Repaired) found = Consult(global, setting, value);
        if (found == Lookup::RepairFailed) continue;  // the setting is left as it is
        (this->*setting.apply)(found == Lookup::Accepted ? value : setting.defaultValue);
    }
}

void CLogging::setMaxEntries(DWORD count) {
    maxEntries_ = count < kMinMaxEntries ? kMinMaxEntries : count > kMaxMaxEntries ? kMaxMaxEntries : count;
}

void CLogging::setMaxSize(DWORD bytes) {
    maxSize_ = bytes < kMinMaxSize ? kMinMaxSize : bytes > kMaxMaxSize ? kMaxMaxSize : bytes;
}

void CLogging::log(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                   ...) {
    if (enabled_ == 0 || severity < threshold_) return;
    wchar_t buffer[kFixedSeverityBufferChars];
    va_list args;
    va_start(args, format);
    Basalt::FormatInto(buffer, kFixedSeverityBufferChars, format, args);
    va_end(args);
    logString(file, function, line, severity, buffer);
}

bool CLogging::folderReady() {
    if (folderState_ == FolderState::Unchecked) {
        if (Basalt::CreateFolderPath(logFolder_.c_str(), nullptr)) {
            folderState_ = FolderState::Ready;
        } else {
            // Silenced for the rest of the process.
            folderState_ = FolderState::Failed;
            enabled_ = 0;
            threshold_ = kSelfDisabledThreshold;
        }
    }
    return folderState_ == FolderState::Ready;
}

// For an append the stored index is read again only when the per-log ini changed (its write time or size), so a
// write costs one attribute query of the ini instead of a parse. The ring only moves on from a fresh reading: two
// changes within one tick of the file clock could look like none.
DWORD CLogging::lastLogIndex(bool fresh) {
    if (unsavedIndex_) return *unsavedIndex_;
    WIN32_FILE_ATTRIBUTE_DATA facts;
    if (!GetFileAttributesExW(perLogIni_.c_str(), GetFileExInfoStandard, &facts)) {
        storedIndex_.reset();
        return 0;
    }
    if (!fresh && storedIndex_ && CompareFileTime(&storedIndex_->written, &facts.ftLastWriteTime) == 0 &&
        storedIndex_->sizeLow == facts.nFileSizeLow && storedIndex_->sizeHigh == facts.nFileSizeHigh)
        return storedIndex_->index;
    Basalt::CObfuscatedIniReader ini;
    DWORD index = 0;
    if (ini.Load(perLogIni_)) ini.GetDWORD(kSection, kLastLogIdx, index);
    storedIndex_ = StoredIndex{facts.ftLastWriteTime, facts.nFileSizeLow, facts.nFileSizeHigh, index};
    return index;
}

void CLogging::storeLastLogIndex(DWORD index) {
    storedIndex_.reset();
    Basalt::CObfuscatedIniReader ini;
    ini.Load(perLogIni_);
    if (ini.SetDWORD(kSection, kLastLogIdx, index))
        unsavedIndex_.reset();
    else
        unsavedIndex_ = index;
}

std::wstring CLogging::logFilePath(DWORD index) const {
    std::wstring path = logFolder_ + L"\\" + logName_;
    if (suffix_) path += L"_" + *suffix_;
    return path + Basalt::Format(L"%0.3lu%s", index, kLogExtension);
}

DWORD CLogging::openLogFile(LogFile& file) {
    if (logFolder_.empty() || logName_.empty() || (suffix_ && suffix_->empty())) return ERROR_INVALID_PARAMETER;
    DWORD index = lastLogIndex(false);
    for (bool fresh = false;; fresh = true) {
        if (index < maxEntries_) {
            bool full = false;
            const DWORD rc = file.OpenForAppend(logFilePath(index), maxSize_, full);
            if (rc != 0 || !full) return rc;
        }
        // The ring moves on only from a fresh reading of the stored index.
        if (fresh) break;
        const DWORD stored = lastLogIndex(true);
        if (stored == index) break;
        index = stored;
    }
    const DWORD next = index + 1 < maxEntries_ ? index + 1 : 0;
    const DWORD rc = file.Create(logFilePath(next));
    if (rc == 0) storeLastLogIndex(next);
    return rc;
}

DWORD CLogging::formatLine(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                           const wchar_t* message, std::wstring& text) const {
    const wchar_t* severityName = SeverityName(severity);
    if (!message || !*message || !severityName) return ERROR_INVALID_PARAMETER;
    SYSTEMTIME now;
    clock_(&now);
    const WORD hour = now.wHour == 0 ? 12 : now.wHour > 12 ? now.wHour - 12 : now.wHour;
    const std::wstring time = Bounded(L"%02hu/%02hu/%hu %02hu:%02hu:%02hu %s$", now.wMonth, now.wDay, now.wYear, hour,
                                      now.wMinute, now.wSecond, now.wHour < 12 ? L"AM" : L"PM");
    text = Bounded(L"%s -- (%s)$", time.c_str(), severityName);
    if ((options_ & kOptionTag) && !imageName_.empty())
        text += L" " + Bounded(L"[%s]$", Field(imageName_.c_str(), kTagWidth).c_str());
    if (options_ & kOptionProcessThread)
        text += L" " + Bounded(L"[PID:%5lu TID:%5lu]$", processId_, GetCurrentThreadId());
    if ((options_ & kOptionFileLine) && file && *file)
        text += L" " + Bounded(L"[%s:%5d]$", Field(SourceBaseName(file), kFileWidth).c_str(), line);
    if ((options_ & kOptionFunction) && function && *function)
        text += L" " + Bounded(L"[%s()]$", Field(function, kFunctionWidth).c_str());
    text += L" ";
    text += message;
    if (text.back() != L'\n') text += L"\r\n";
    return 0;
}

DWORD CLogging::logString(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                          const wchar_t* message) {
    std::lock_guard<std::mutex> guard(lock_);
    // Before open there is no folder to check: a line then must not decide the folder check for good.
    if (!open_ || folderState_ == FolderState::Failed) return ERROR_INVALID_PARAMETER;
    // Disabled: silent for every road into the logger, not only for the sites that ask first.
    if (enabled_ == 0) return 0;
    if (!folderReady() || !message || !*message) return ERROR_INVALID_PARAMETER;
    try {
        std::wstring text;
        DWORD rc = formatLine(file, function, line, severity, message, text);
        if (rc != 0) return rc;
        LogFile out;
        rc = openLogFile(out);
        if (rc != 0) return rc;
        rc = out.Append(text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
        if (options_ & kOptionDebugOutput) OutputDebugStringW(text.c_str());
        return rc;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

}  // namespace ETWLogging
