#pragma once
// How the Basalt library reports its own errors: CLogger holds one process-wide ILoggingHandler and hands it every
// formatted message. Until someone registers a handler, the default handler (debugger output) serves; the logging
// library registers its bridge when it creates the process's logger. Levels: 0 verbose, 1 information, 2 error.
//
// Registration rules: the default handler, or no handler, may always be replaced; another registered handler is
// kept (5023). Unregistering needs the registered handler itself (5023 otherwise, and nothing is registered when
// none was). A null handler is refused with 87. Refusals are logged through the current or the default handler.
// Registration happens during logger creation and at exit; the handler word is not guarded further.
#include <windows.h>

#include <string>

namespace Basalt {

class ILoggingHandler {
public:
    virtual void log(DWORD level, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* text) = 0;

protected:
    ~ILoggingHandler() = default;
};

// Writes "file(line): [INFO|ERROR|UNKNOWN]: [function]: text" lines to the debugger output; drops level 0.
class CDefaultLoggingHandler : public ILoggingHandler {
public:
    void log(DWORD level, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* text) override;
};

class CLogger {
public:
    static DWORD RegisterHandler(ILoggingHandler* handler);
    static DWORD UnregisterHandler(ILoggingHandler* handler);
    // Formats with the project's wide printf rules and hands the text to the handler (registering the default
    // handler when there is none).
    static void Log(DWORD level, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                    ...);
    // The system's message text for a Win32 code (at most 1024 characters; "" when the system has none).
    static std::wstring SystemMessageText(DWORD code);
};

}  // namespace Basalt
