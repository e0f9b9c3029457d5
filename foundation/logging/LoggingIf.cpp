#include "foundation/logging/LoggingIf.h"

namespace ETWLogging {

const wchar_t* SeverityName(DWORD severity) {
    static const wchar_t* const names[] = {L"Normal", L"Warning", L"Information", L"Error", L"Critical",
                                           L"Information"};
    return severity >= 1 && severity <= 6 ? names[severity - 1] : nullptr;
}

DWORD ClampSeverity(DWORD threshold) {
    if (threshold == 0) return kSeverityNormal;
    return threshold > 6 ? 6 : threshold;
}

}  // namespace ETWLogging
