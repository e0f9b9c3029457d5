#include "foundation/logging/ETWLogger.h"

#include <cwchar>

#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/FileVersionInfo.h"
#include "foundation/basalt/Format.h"

namespace ETWLogging {

namespace {

// {CD1DAAD0-54CC-11E0-B8AF-0800200C9A66}
constexpr GUID kEventClass = {0xCD1DAAD0, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
constexpr DWORD kRegistrationSpinCount = 4000;
constexpr DWORD kStartThreshold = kSeverityInformation;
// One UTF-16 unit never takes more than three UTF-8 bytes (a surrogate pair takes four for two units).
constexpr size_t kEventMessageBytes = CETWLogging::kEventMessageChars * 3;

bool IsSessionHandle(TRACEHANDLE handle) {
    return handle != 0 && handle != static_cast<TRACEHANDLE>(reinterpret_cast<ULONG_PTR>(INVALID_HANDLE_VALUE));
}

std::wstring FileNameOf(const std::wstring& path) {
    std::wstring folder, name;
    return Basalt::SplitPath(path, folder, false, name) ? name : path;
}

struct ProgramFacts {
    std::wstring name;
    std::wstring version;
};

ProgramFacts ReadProgramFacts() {
    ProgramFacts facts;
    const std::wstring path = Basalt::ModuleFilePath(nullptr);
    facts.name = FileNameOf(path);
    Basalt::FileVersionInfo info;
    if (info.load(path.c_str())) facts.version = internal::DottedFileVersion(info.getString(L"FileVersion"));
    return facts;
}

// Read once per process; a first reader that throws leaves it to the next one.
const ProgramFacts& Program() {
    static const ProgramFacts facts = ReadProgramFacts();
    return facts;
}

}  // namespace

namespace internal {

std::wstring DottedFileVersion(const std::wstring& text) {
    unsigned long parts[4] = {};
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != L',') return text;
            ++at;
        }
        while (at < text.size() && (text[at] == L' ' || text[at] == L'\t')) ++at;
        const size_t first = at;
        unsigned long long value = 0;
        while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
            value = value * 10 + static_cast<unsigned>(text[at] - L'0');
            if (value > 0xFFFFFFFFull) return text;
            ++at;
        }
        if (at == first) return text;
        parts[part] = static_cast<unsigned long>(value);
    }
    return Basalt::Format(L"%lu.%lu.%lu.%lu", parts[0], parts[1], parts[2], parts[3]);
}

}  // namespace internal

CETWLogging::CETWLogging(std::shared_ptr<CTraceCalls> calls)
    : calls_(calls ? std::move(calls) : std::make_shared<CSystemTraceCalls>()) {
    threshold_ = kStartThreshold;
    InitializeCriticalSectionAndSpinCount(&registration_, kRegistrationSpinCount);
}

CETWLogging::~CETWLogging() {
    close();
    unregisterProvider();  // a logger that was never opened may still have registered
    listener_.reset();
    DeleteCriticalSection(&registration_);
}

DWORD CETWLogging::open(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD) {
    return openEx(nullptr, group, module, host, nullptr);
}

void CETWLogging::forgetIdentity() {
    group_.reset();
    host_.reset();
}

DWORD CETWLogging::openEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                          const wchar_t* host, LoggingConfigListenerIf* listener) {
    if (open_) return kAlreadyOpen;
    if ((group && !*group) || (host && !*host)) return ERROR_INVALID_PARAMETER;
    if (group) group_ = group;
    if (host) host_ = host;
    if (!properties_.init(applicationName)) {
        forgetIdentity();
        return ERROR_INVALID_PARAMETER;
    }
    getModuleFileName(imageName_, nullptr, false);
    getModuleFileName(moduleBaseName_, module, true);
    buildIdentityName();

    if (listener) {
        listener_.reset(listener);
    } else {
        auto own = std::make_unique<CETWConfigurationListener>(properties_);
        own->attach(this);
        listener_ = std::move(own);
    }
    listener_->onChange(1, kStartThreshold, 0);

    processId_ = GetCurrentProcessId();
    const ProgramFacts& program = Program();
    programName_ = program.name;
    programVersion_ = program.version;
    setEventClass();
    open_ = 1;
    return 0;
}

DWORD CETWLogging::registerProvider() {
    if (registered_.load(std::memory_order_acquire)) return 0;
    EnterCriticalSection(&registration_);
    ULONG rc = 0;
    if (!registered_.load(std::memory_order_relaxed)) {
        TRACEHANDLE handle = 0;
        rc = calls_->RegisterTraceGuidsW(&CETWLogging::ControlCallback, static_cast<CLoggingIf_ex*>(this),
                                         &properties_.providerGuid, 1, &traceRegistration_, nullptr, nullptr,
                                         &handle);
        const TRACEHANDLE old = registrationHandle_.exchange(handle);
        if (old != 0 && old != handle) calls_->UnregisterTraceGuids(old);
        // Reported once: a failed registration is not tried again by every write.
        registered_.store(true, std::memory_order_release);
    }
    LeaveCriticalSection(&registration_);
    return rc;
}

DWORD CETWLogging::unregisterProvider() {
    EnterCriticalSection(&registration_);
    ULONG rc = 0;
    const TRACEHANDLE handle = registrationHandle_.load();
    if (handle != 0) {
        rc = calls_->UnregisterTraceGuids(handle);
        registrationHandle_.store(0);
        registered_.store(false);
    }
    LeaveCriticalSection(&registration_);
    return rc;
}

DWORD CETWLogging::shutdown() {
    setEnabled(false);
    return unregisterProvider();
}

DWORD CETWLogging::close() {
    if (!open_) return 0;
    const DWORD rc = shutdown();
    if (rc != 0) return rc;
    open_ = 0;
    return 0;
}

void CETWLogging::log(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                      const wchar_t* format, ...) {
    if (!isEnabled() || !isSeverityEnabled(severity) || !format || !*format) return;
    va_list args;
    va_start(args, format);
    const std::wstring message = Basalt::FormatV(format, args);
    va_end(args);
    logText(severity, file, function, line, message.c_str());
}

DWORD CETWLogging::logString(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                             const wchar_t* message) {
    logText(severity, file, function, line, message);
    return 0;
}

DWORD CETWLogging::logText(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                           const wchar_t* message) {
    return writeEventSafe(severity, file, function, line, L"%s", message);
}

DWORD CETWLogging::writeEventSafe(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                                  const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const DWORD rc = writeEvent(severity, file, function, line, format, args);
    va_end(args);
    return rc;
}

DWORD CETWLogging::writeEvent(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                              const wchar_t* format, va_list args) {
    if (!format) return ERROR_INVALID_PARAMETER;
    if (!isEnabled() || !isSeverityEnabled(severity)) return 0;

    wchar_t text[kEventMessageChars];
    bool cut = false;
    const size_t written = Basalt::FormatInto(text, kEventMessageChars, format, args, &cut);
    // A cut message goes with all of its buffer: the characters kept and the terminator.
    const size_t chars = cut ? kEventMessageChars : written;
    char utf8[kEventMessageBytes];
    const int bytes = chars == 0 ? 0
                                 : WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(chars), utf8,
                                                       static_cast<int>(sizeof utf8), nullptr, nullptr);

    EventRecord record;
    fillEventHeader(file, function, line, record);
    PackedRecord packed;
    PackEventRecord(record, static_cast<ULONG64>(bytes), packed);
    if (packed.failed()) return 0;

    const DWORD mapped = mapSeverity(severity);
    const UCHAR level = static_cast<UCHAR>(mapped >= 1 && mapped <= 5 ? mapped : kSeverityInformation);
    TraceEventHeader header;
    FillTraceEventHeader(header, eventClass_, level, packed.data(), static_cast<ULONG>(packed.size()), utf8,
                         static_cast<ULONG>(bytes));
    calls_->TraceEvent(sessionHandle_.load(std::memory_order_relaxed), &header.header);
    return 0;
}

void CETWLogging::fillEventHeader(const wchar_t* file, const wchar_t* function, DWORD line, EventRecord& record) {
    record.processId = processId_;
    record.threadId = GetCurrentThreadId();
    record.file = file;
    record.function = function;
    record.line = line;
    record.group = group_ ? group_->c_str() : nullptr;
    if (!record.module) record.module = programName_.c_str();
    record.version = programVersion_.c_str();
    record.image = imageName_.c_str();
}

DWORD CETWLogging::onTraceControl(DWORD requestCode, void* buffer) {
    switch (requestCode) {
    case WMI_ENABLE_EVENTS: {
        SetLastError(0);
        const TRACEHANDLE session = calls_->GetTraceLoggerHandle(buffer);
        if (!IsSessionHandle(session)) return GetLastError();
        TRACEHANDLE none = 0;
        // A classic provider serves one session; another session's enable is ignored while one holds it.
        if (!sessionHandle_.compare_exchange_strong(none, session) && none != session) return 0;
        if (!listener_) return 0;
        const UCHAR level = calls_->GetTraceEnableLevel(session);
        if (level == 0) return GetLastError();
        listener_->onChange(1, level, calls_->GetTraceEnableFlags(session));
        return 0;
    }
    case WMI_DISABLE_EVENTS: {
        if (listener_) listener_->onChange(0, getSeverity(), 0);
        TRACEHANDLE session = calls_->GetTraceLoggerHandle(buffer);
        if (IsSessionHandle(session)) sessionHandle_.compare_exchange_strong(session, 0);
        return 0;
    }
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

ULONG WINAPI CETWLogging::ControlCallback(WMIDPREQUESTCODE requestCode, void* context, ULONG*, void* buffer) {
    if (!context) return ERROR_INVALID_PARAMETER;
    try {
        return static_cast<CLoggingIf_ex*>(context)->onTraceControl(requestCode, buffer);
    } catch (...) {
        return ERROR_INTERNAL_ERROR;
    }
}

void CETWLogging::setEventClass() {
    eventClass_ = kEventClass;
    traceRegistration_.Guid = &eventClass_;
}

void CETWLogging::getModuleFileName(std::wstring& name, HMODULE module, bool stripExtension) {
    name = FileNameOf(Basalt::ModuleFilePath(module));
    if (!stripExtension) return;
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
}

void CETWLogging::buildIdentityName() {
    const std::wstring group = group_.value_or(std::wstring());
    if (moduleBaseName_.empty()) identityName_ = group;
    else if (group.empty()) identityName_ = moduleBaseName_;
    else identityName_ = group + L"\\" + moduleBaseName_;
}

}  // namespace ETWLogging
