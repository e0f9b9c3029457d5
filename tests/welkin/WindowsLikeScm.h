#pragma once
// The real service control manager, except for the delayed-start query, which Wine refuses with 124: it is answered
// as Windows answers it for a service without delayed start.
#include "welkin/ScmAPI.h"

namespace scmtest {

class WindowsLikeDelayQuery : public ServiceHelper::ScmAPI {
public:
    BOOL QueryServiceConfig2W(SC_HANDLE service, DWORD level, BYTE* buffer, DWORD size, DWORD* needed) override {
        if (level != SERVICE_CONFIG_DELAYED_AUTO_START_INFO || size < sizeof(SERVICE_DELAYED_AUTO_START_INFO))
            return ScmAPI::QueryServiceConfig2W(service, level, buffer, size, needed);
        reinterpret_cast<SERVICE_DELAYED_AUTO_START_INFO*>(buffer)->fDelayedAutostart = FALSE;
        return TRUE;
    }
};

}  // namespace scmtest
