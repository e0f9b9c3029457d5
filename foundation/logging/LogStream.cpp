#include "foundation/logging/LogStream.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "foundation/logging/LoggerTesting.h"

namespace ETWLogging {

namespace {

LogStreamHolder g_streamHolder;
bool g_releaseRegistered = false;
const wchar_t* g_moduleName = nullptr;

// The program's file name without folder and extension.
std::wstring ProgramModuleName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length < MAX_PATH ? length : 0);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

HMODULE ThisModule() {
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(reinterpret_cast<const void*>(&ThisModule), &info, sizeof info) == 0) return nullptr;
    return static_cast<HMODULE>(info.AllocationBase);
}

// Takes the holder for a change (state 1). Returns false when the stream is ready (state 2): nothing to change.
bool TakeHolder() {
    for (;;) {
        LONG expected = 0;
        if (g_streamHolder.state.compare_exchange_strong(expected, 1)) return true;
        if (expected == 2) return false;
        Sleep(0);
    }
}

void DestroyStream(LONG stateAfter) {
    for (;;) {
        LONG expected = 2;
        if (g_streamHolder.state.compare_exchange_strong(expected, 1)) break;
        expected = 0;
        if (g_streamHolder.state.compare_exchange_strong(expected, 1)) break;
        Sleep(0);
    }
    delete g_streamHolder.stream;
    g_streamHolder.stream = nullptr;
    g_streamHolder.state.store(stateAfter);
}

}  // namespace

const wchar_t* LogStreamModuleName() {
    if (!g_moduleName) {
        // Made once; the stream's module name lives as long as the process.
        static const std::wstring programName = ProgramModuleName();
        g_moduleName = programName.c_str();
    }
    return g_moduleName;
}

void SetLogStreamModuleName(const wchar_t* name) { g_moduleName = name; }

logstreambuf::logstreambuf() {
    LoggerHolder* holder = GetLoggerInstance(nullptr, LogStreamModuleName(), ThisModule(), nullptr, 0);
    if (holder && holder->logger) {
        logger_ = holder->logger;
        loggerEx_ = dynamic_cast<CLoggingIf_ex*>(logger_);
    }
}

int logstreambuf::sync() {
    sputc(L'\0');
    const wchar_t* text = pbase();
    // A stream line registers the provider as every other log road does: a process whose lines are all stream
    // lines must still be one that a trace controller can enable. A failed registration drops that one line.
    if (stream_ && text && logger_ && logger_->registerProvider() == 0) {
        if (loggerEx_)
            loggerEx_->logText(stream_->severity, stream_->file, stream_->function, stream_->sourceLine, text);
        else
            logger_->log(stream_->severity, stream_->file, stream_->function, stream_->sourceLine, L"%s", text);
    }
    pubseekpos(0, std::ios_base::in | std::ios_base::out);
    return 0;
}

logstream::logstream(logstreambuf* buffer) : std::wostream(buffer), buffer_(buffer) {
    InitializeCriticalSection(&lock);
    buffer_->bindStream(this);
}

logstream::~logstream() {
    delete buffer_;
    DeleteCriticalSection(&lock);
}

LogStreamHolder* GetLogStream(bool create) {
    if (!TakeHolder()) return &g_streamHolder;
    if (create && !g_streamHolder.stream) {
        try {
            auto buffer = std::make_unique<logstreambuf>();
            g_streamHolder.stream = new logstream(buffer.get());
            buffer.release();
            if (!g_releaseRegistered) {
                g_releaseRegistered = true;
                std::atexit(ReleaseLogStream);
            }
        } catch (...) {
            g_streamHolder.stream = nullptr;
        }
    }
    g_streamHolder.state.store(g_streamHolder.stream ? 2 : 0);
    return &g_streamHolder;
}

logstream* BeginLogLine(DWORD severity, DWORD line, const wchar_t* function, const wchar_t* file) {
    logstream* stream = GetLogStream(true)->stream;
    if (!stream) return nullptr;
    EnterCriticalSection(&stream->lock);
    // Every line starts clean: an earlier bad insertion or a changed base must not reach this one.
    stream->clear();
    stream->flags(std::ios_base::dec | std::ios_base::skipws);
    stream->width(0);
    stream->precision(6);
    stream->fill(L' ');
    stream->severity = severity;
    stream->sourceLine = line;
    stream->function = function;
    stream->file = file;
    return stream;
}

void EndLogLine(logstream* stream) {
    if (!stream) return;
    stream->clear();  // a failed insertion still lets the text before it through
    stream->flush();
    LeaveCriticalSection(&stream->lock);
}

void WriteNarrow(logstream* stream, const wchar_t* text) {
    if (!stream || !text) return;
    for (const wchar_t* p = text; *p; ++p) *stream << static_cast<char>(*p & 0xFF);
}

// After the exit-time release, stream lines are dropped rather than building a stream nobody frees.
void ReleaseLogStream() { DestroyStream(2); }

namespace testing {

void ReleaseLogStreamForTesting() { DestroyStream(0); }

}  // namespace testing

}  // namespace ETWLogging
