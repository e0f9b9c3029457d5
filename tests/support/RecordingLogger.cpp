#include "tests/support/RecordingLogger.h"

#include <stdexcept>

#include "foundation/basalt/Format.h"

namespace testsupport {

namespace {

CreationCall Record(bool withConfig, const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                    DWORD mechanism) {
    CreationCall call;
    call.withConfig = withConfig;
    call.applicationName = app;
    call.groupNull = group == nullptr;
    call.group = group ? group : L"";
    call.module = module;
    call.hostNull = host == nullptr;
    call.host = host ? host : L"";
    call.mechanism = mechanism;
    return call;
}

}  // namespace

DWORD FakeLogger::registerProvider() {
    ++journal_.registerCalls;
    return journal_.registerResult;
}

void FakeLogger::log(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                     ...) {
    va_list args;
    va_start(args, format);
    journal_.add({L"log", severity, file ? file : L"", function ? function : L"", line, Basalt::FormatV(format, args)});
    va_end(args);
}

DWORD FakeLogger::logString(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                            const wchar_t* message) {
    journal_.add({L"logString", severity, file ? file : L"", function ? function : L"", line, message});
    return 0;
}

DWORD FakeExtendedLogger::registerProvider() {
    ++journal_.registerCalls;
    return journal_.registerResult;
}

DWORD FakeExtendedLogger::logText(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                                  const wchar_t* message) {
    journal_.add({L"logText", severity, file ? file : L"", function ? function : L"", line, message});
    return 0;
}

DWORD FakeExtendedLogger::writeEvent(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                                     const wchar_t* format, va_list args) {
    journal_.add({L"writeEvent", severity, file ? file : L"", function ? function : L"", line,
                  Basalt::FormatV(format, args)});
    return 0;
}

bool FakeBuilder::make(bool accept, ETWLogging::CLoggingIf*& logger) {
    if (throwsLeft > 0) {
        --throwsLeft;
        throw std::runtime_error("creation failed");
    }
    if (!accept) return false;
    if (kind == Kind::Plain)
        logger = new FakeLogger(journal_);
    else
        logger = new FakeExtendedLogger(journal_);
    logger->AddRef();
    return true;
}

bool FakeBuilder::create(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD mechanism,
                         ETWLogging::CLoggingIf*& logger, ETWLogging::CConfigReaderIf*) {
    calls_.push_back(Record(false, nullptr, group, module, host, mechanism));
    return make(acceptCreate, logger);
}

bool FakeBuilder::createWithConfig(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                                   const wchar_t* host, DWORD mechanism, ETWLogging::CLoggingIf*& logger,
                                   ETWLogging::CConfigReaderIf*) {
    calls_.push_back(Record(true, applicationName, group, module, host, mechanism));
    return make(acceptWithConfig, logger);
}

}  // namespace testsupport
