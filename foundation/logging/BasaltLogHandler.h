#pragma once
// The bridge that makes Basalt messages land in the process's logger: logger creation registers the one static
// instance with Basalt::CLogger. Basalt levels 0 and 1 become severity 1, level 2 severity 4 (Error), any other
// level severity 2 (Warning). At exit the holder's clean-up unregisters it; its destructor does so too while the
// holder still names it.
#include "foundation/basalt/BasaltLogger.h"

namespace ETWLogging {

class CBasaltLogHandler : public Basalt::ILoggingHandler {
public:
    // The library's one instance, made on first use.
    static CBasaltLogHandler& Instance();

    void log(DWORD level, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* text) override;
    virtual ~CBasaltLogHandler();
};

}  // namespace ETWLogging
