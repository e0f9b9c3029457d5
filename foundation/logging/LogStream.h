#pragma once
// Stream-form log lines: one process-wide wide output stream bound to the process's logger. A line is exclusive
// from BeginLogLine to EndLogLine; the flush hands the collected text to the logger as one message. Sites write
//     ETWLogging::LogLine(ETWLogging::kSeverityInformation, LOG_HERE) << L"started, code " << rc;
// The stream's module name is the program's module name ("welkin") unless the program sets another before its
// first stream line (the idle waiter uses "Common").
#include "foundation/logging/LogSite.h"

#include <windows.h>

#include <atomic>
#include <ostream>
#include <sstream>

namespace ETWLogging {

// The group under which a stream line creates the logger when it is the first user of it.
const wchar_t* LogStreamModuleName();
// Call before the first stream line; the text must live for the whole process.
void SetLogStreamModuleName(const wchar_t* name);

class logstream;

class logstreambuf : public std::wstringbuf {
public:
    logstreambuf();
    void bindStream(logstream* stream) { stream_ = stream; }

protected:
    int sync() override;

private:
    CLoggingIf* logger_ = nullptr;
    CLoggingIf_ex* loggerEx_ = nullptr;
    logstream* stream_ = nullptr;
};

class logstream : public std::wostream {
public:
    explicit logstream(logstreambuf* buffer);
    ~logstream() override;
    logstream(const logstream&) = delete;
    logstream& operator=(const logstream&) = delete;

    DWORD severity = kSeverityNormal;
    DWORD sourceLine = 0;
    const wchar_t* function = nullptr;
    const wchar_t* file = nullptr;
    CRITICAL_SECTION lock;

private:
    logstreambuf* buffer_;
};

struct LogStreamHolder {
    logstream* stream = nullptr;
    std::atomic<LONG> state{0};  // 0 free, 1 being built or changed, 2 ready
};

LogStreamHolder* GetLogStream(bool create);
// Null when no stream could be built; the line is then silently dropped.
logstream* BeginLogLine(DWORD severity, DWORD line, const wchar_t* function, const wchar_t* file);
void EndLogLine(logstream* stream);
void WriteNarrow(logstream* stream, const wchar_t* text);
void ReleaseLogStream();

struct LogSiteFacts {
    DWORD line;
    const wchar_t* function;
    const wchar_t* file;
};
#define LOG_HERE (::ETWLogging::LogSiteFacts{__LINE__, LOG_SITE_FUNCTION, LOG_SITE_FILE})

// One stream line as a scope: begins on construction, ends (flushes) on destruction.
class LogLine {
public:
    LogLine(DWORD severity, const LogSiteFacts& site)
        : stream_(BeginLogLine(severity, site.line, site.function, site.file)) {}
    ~LogLine() { EndLogLine(stream_); }
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    template <class T>
    LogLine& operator<<(const T& value) {
        if (stream_) *stream_ << value;
        return *this;
    }
    // Wide text reduced to its low 8 bits per character.
    LogLine& narrow(const wchar_t* text) {
        WriteNarrow(stream_, text);
        return *this;
    }

private:
    logstream* stream_;
};

}  // namespace ETWLogging
