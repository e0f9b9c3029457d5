#include "foundation/basalt/BasaltLogger.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <new>

#include "foundation/basalt/Format.h"

namespace Basalt {

namespace {

constexpr DWORD kLevelInformation = 1;
constexpr DWORD kLevelError = 2;
constexpr DWORD kNotFound = 5023;  // ERROR_NOT_FOUND
constexpr wchar_t kOwnFile[] = L"Logging\\internal_logging";
constexpr wchar_t kRegisterFunction[] = L"Basalt::CLogger::RegisterHandler";
constexpr wchar_t kUnregisterFunction[] = L"Basalt::CLogger::UnregisterHandler";

CDefaultLoggingHandler g_defaultHandler;
std::atomic<ILoggingHandler*> g_handler{nullptr};

// Pointers are printed as eight hexadecimal digits: their low 32 bits.
unsigned Low32(const void* pointer) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pointer)); }

void Deliver(ILoggingHandler& handler, DWORD level, const wchar_t* file, const wchar_t* function, DWORD line,
             const wchar_t* format, va_list args) {
    std::wstring text;
    try {
        text = FormatV(format, args);
    } catch (const std::bad_alloc&) {
        handler.log(kLevelError, file, function, line, L"General memory-allocation failure in Basalt logger.");
        return;
    }
    handler.log(level, file, function, line, text.c_str());
}

// CLogger's own refusals: through the registered handler, else the default one, registering nothing.
void Report(const wchar_t* function, DWORD line, const wchar_t* format, ...) {
    ILoggingHandler* handler = g_handler.load();
    va_list args;
    va_start(args, format);
    Deliver(handler ? *handler : g_defaultHandler, kLevelError, kOwnFile, function, line, format, args);
    va_end(args);
}

}  // namespace

void CDefaultLoggingHandler::log(DWORD level, const wchar_t* file, const wchar_t* function, DWORD line,
                                 const wchar_t* text) {
    if (level == 0) return;
    const wchar_t* format = level == kLevelInformation ? L"%s(%d): [INFO]: [%s]: %s\n"
                            : level == kLevelError     ? L"%s(%d): [ERROR]: [%s]: %s\n"
                                                       : L"%s(%d): [UNKNOWN]: [%s]: %s\n";
    try {
        OutputDebugStringW(Format(format, file, static_cast<int>(line), function, text).c_str());
    } catch (const std::bad_alloc&) {
        // Nowhere left to say it.
    }
}

DWORD CLogger::RegisterHandler(ILoggingHandler* handler) {
    if (!handler) {
        Report(kRegisterFunction, __LINE__, L"%s: Cannot Register (NULL) handler",
               SystemMessageText(ERROR_INVALID_PARAMETER).c_str());
        return ERROR_INVALID_PARAMETER;
    }
    ILoggingHandler* current = g_handler.load();
    if (!current || current == handler || current == &g_defaultHandler) {
        g_handler.store(handler);
        return ERROR_SUCCESS;
    }
    Report(kRegisterFunction, __LINE__, L"%s: Registered Logging Handler 0x%08X cannot be replaced with 0x%08X",
           SystemMessageText(kNotFound).c_str(), Low32(current), Low32(handler));
    return kNotFound;
}

DWORD CLogger::UnregisterHandler(ILoggingHandler* handler) {
    if (!handler) {
        Report(kUnregisterFunction, __LINE__, L"%s: Cannot Unregister (NULL) handler",
               SystemMessageText(ERROR_INVALID_PARAMETER).c_str());
        return ERROR_INVALID_PARAMETER;
    }
    ILoggingHandler* current = g_handler.load();
    if (!current) {
        // Registering the handler here would leave a handler behind that its owner believes gone.
        Report(kUnregisterFunction, __LINE__,
               L"%s: Request to Unregister Logging handler 0x%08X, but none are registered",
               SystemMessageText(kNotFound).c_str(), Low32(handler));
        return kNotFound;
    }
    if (current != handler) {
        Report(kUnregisterFunction, __LINE__,
               L"%s: Failed to Unregister Logging handler (requested handler 0x%08X != registered handler 0x%08X)",
               SystemMessageText(kNotFound).c_str(), Low32(handler), Low32(current));
        return kNotFound;
    }
    g_handler.store(nullptr);
    return ERROR_SUCCESS;
}

void CLogger::Log(DWORD level, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format, ...) {
    ILoggingHandler* handler = g_handler.load();
    if (!handler) {
        RegisterHandler(&g_defaultHandler);
        handler = g_handler.load();
        if (!handler) return;
    }
    va_list args;
    va_start(args, format);
    Deliver(*handler, level, file, function, line, format, args);
    va_end(args);
}

std::wstring CLogger::SystemMessageText(DWORD code) {
    wchar_t text[1024] = {};
    // System texts may hold inserts ("%1"); without arguments they must stay as they are.
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, 1024, nullptr);
    return std::wstring(text, length < 1024 ? length : 1023);
}

}  // namespace Basalt
