#include "foundation/logging/LogBuilder.h"

namespace ETWLogging {

bool CDefaultLogBuilder::create(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD mechanism,
                                CLoggingIf*& logger, CConfigReaderIf* reader) {
    return createWithConfig(nullptr, group, module, host, mechanism, logger, reader);
}

// No logger kind is available yet: the process runs without a logger and every site stays silent.
bool CDefaultLogBuilder::createWithConfig(const wchar_t*, const wchar_t*, HMODULE, const wchar_t*, DWORD,
                                          CLoggingIf*&, CConfigReaderIf*) {
    return false;
}

}  // namespace ETWLogging
