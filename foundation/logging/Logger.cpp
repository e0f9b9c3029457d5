#include "foundation/logging/Logger.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "foundation/basalt/BasaltLogger.h"
#include "foundation/basalt/Format.h"
#include "foundation/logging/BasaltLogHandler.h"
#include "foundation/logging/LogBuilder.h"
#include "foundation/logging/LoggerTesting.h"
#include "foundation/logging/LogStream.h"

namespace ETWLogging {

namespace {

LoggerIdentity g_identity;
CLogBuilderIf* g_builder = nullptr;

// Once-only creation that, unlike std::call_once here, can be retried after a throwing attempt.
std::mutex g_creationLock;
std::atomic<bool> g_created{false};
std::atomic<LoggerHolder*> g_holder{nullptr};
// The thread that is creating the logger sees the holder being filled (its nested log calls stay silent).
thread_local LoggerHolder* t_holderInCreation = nullptr;
bool g_exitCleanupRegistered = false;

HMODULE OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
    return module;
}

void CreateLogger(LoggerHolder& holder, const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                  const wchar_t* host, DWORD mechanism) {
    if (!g_builder) g_builder = new CDefaultLogBuilder;
    CLoggingIf* created = nullptr;
    bool made = false;
    if (auto* extended = dynamic_cast<CLogBuilderIf_ex*>(g_builder))
        made = extended->createWithConfig(applicationName, group, module, host, mechanism, created, nullptr);
    if (!made) made = g_builder->create(group, module, host, mechanism, created, nullptr);
    if (!made) return;
    if (holder.logger) holder.logger->Release();
    holder.logger = created;

    // From now on Basalt's own messages go to this logger too.
    CBasaltLogHandler& bridge = CBasaltLogHandler::Instance();
    if (Basalt::CLogger::RegisterHandler(&bridge) != 0) return;
    if (holder.basaltHandler && holder.basaltHandler != &bridge)
        Basalt::CLogger::UnregisterHandler(holder.basaltHandler);
    holder.basaltHandler = &bridge;
}

void ReleaseLogger() {
    LoggerHolder* holder = g_holder.exchange(nullptr);
    if (holder) {
        if (holder->basaltHandler) Basalt::CLogger::UnregisterHandler(holder->basaltHandler);
        holder->basaltHandler = nullptr;
        if (holder->logger) holder->logger->Release();
        delete holder;
    }
    delete g_builder;
    g_builder = nullptr;
}

}  // namespace

void InitLogging(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                 DWORD mechanism) {
    g_identity.applicationName = applicationName;
    g_identity.group = group;
    g_identity.module = module ? module : OwnModule();
    g_identity.host = host;
    g_identity.mechanism = mechanism;
}

LoggerHolder* GetLoggerInstance(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                                const wchar_t* host, DWORD mechanism) {
    if (g_created.load(std::memory_order_acquire)) return g_holder.load(std::memory_order_acquire);
    if (t_holderInCreation) return t_holderInCreation;

    std::lock_guard<std::mutex> lock(g_creationLock);
    if (g_created.load(std::memory_order_acquire)) return g_holder.load(std::memory_order_acquire);

    std::unique_ptr<LoggerHolder> holder(new (std::nothrow) LoggerHolder);
    if (holder) {
        struct CreationScope {
            explicit CreationScope(LoggerHolder* h) { t_holderInCreation = h; }
            ~CreationScope() { t_holderInCreation = nullptr; }
        } scope(holder.get());
        CreateLogger(*holder, applicationName, group, module, host, mechanism);
    }
    g_holder.store(holder.release(), std::memory_order_release);
    if (!g_exitCleanupRegistered) {
        g_exitCleanupRegistered = true;
        std::atexit(ReleaseLogger);
    }
    g_created.store(true, std::memory_order_release);
    return g_holder.load(std::memory_order_acquire);
}

LoggerHolder* GetLogger() {
    if (g_created.load(std::memory_order_acquire)) return g_holder.load(std::memory_order_acquire);
    const HMODULE module = g_identity.module ? g_identity.module : OwnModule();
    return GetLoggerInstance(g_identity.applicationName, g_identity.group, module, g_identity.host,
                             g_identity.mechanism);
}

LoggerHolder* CurrentLoggerHolder() { return g_holder.load(std::memory_order_acquire); }

bool IsLogEnabled(DWORD severity) {
    LoggerHolder* holder = GetLogger();
    return holder && holder->logger && holder->logger->isSeverityEnabled(severity);
}

DWORD LogFormatted(LoggerHolder* holder, DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                   const wchar_t* format, ...) {
    if (!holder || !holder->logger) return ERROR_FUNCTION_FAILED;
    const DWORD registered = holder->logger->registerProvider();
    if (registered != 0) return registered;
    va_list args;
    va_start(args, format);
    DWORD rc = 0;
    if (auto* extended = dynamic_cast<CLoggingIf_ex*>(holder->logger)) {
        if (extended->isSeverityEnabled(severity)) extended->writeEvent(severity, file, function, line, format, args);
    } else {
        rc = WriteLogEntry(holder, severity, file, function, line, format, args);
    }
    va_end(args);
    return rc;
}

DWORD WriteLogEntry(LoggerHolder* holder, DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                    const wchar_t* format, va_list args) {
    if (!holder || !holder->logger) return ERROR_FUNCTION_FAILED;
    const DWORD registered = holder->logger->registerProvider();
    if (registered != 0) return registered;
    std::wstring message = Basalt::FormatV(format, args);
    if (message.size() > kMaxMessageChars) message.resize(kMaxMessageChars);
    if (auto* extended = dynamic_cast<CLoggingIf_ex*>(holder->logger))
        return extended->logText(severity, file, function, line, message.c_str());
    return holder->logger->logString(file, function, line, severity, message.c_str());
}

DWORD WriteLogEntryRaw(LoggerHolder* holder, const wchar_t* file, const wchar_t* function, DWORD line,
                       DWORD severity, const wchar_t* message) {
    if (!holder || !holder->logger) return ERROR_FUNCTION_FAILED;
    const DWORD registered = holder->logger->registerProvider();
    if (registered != 0) return registered;
    if (auto* extended = dynamic_cast<CLoggingIf_ex*>(holder->logger))
        return extended->logText(severity, file, function, line, message);
    return holder->logger->logString(file, function, line, severity, message);
}

namespace testing {

void SetLogBuilder(CLogBuilderIf* builder) {
    delete g_builder;
    g_builder = builder;
}

void ResetLoggerForTesting() {
    ReleaseLogStreamForTesting();
    ReleaseLogger();
    g_identity = LoggerIdentity{};
    g_created.store(false, std::memory_order_release);
}

}  // namespace testing

}  // namespace ETWLogging
