#pragma once
// Starting one Windows service by name and judging its start type, through the SCM wrapper.
//
// The start: an automatic (or delayed automatic) service that is stopped, or stopping, is started once it has
// stopped, and followed until it runs. A transition is followed by polling its status with a pause of a tenth of
// the service's wait hint (1 s to 10 s); it ends with 1460 (ERROR_TIMEOUT) once the check point has not advanced
// for longer than max(wait hint, 10 s), and with 5023 (ERROR_INVALID_STATE) when the service leaves the pending
// state for another than the target, or, in the wait for a start, when the process it runs in has ended while its
// status still says start pending (a service manager that never notices would otherwise be waited for until the
// time-out). In the wait for a stop the process ending is the normal way to stop: the status is followed on.
#include <windows.h>

#include <memory>

#include "welkin/OsDetect.h"
#include "welkin/ScmAPI.h"

namespace ServiceHelper {

// Start types as GetServiceStartupType reports them.
enum : DWORD {
    kStartBoot = SERVICE_BOOT_START,
    kStartSystem = SERVICE_SYSTEM_START,
    kStartAuto = SERVICE_AUTO_START,
    kStartDemand = SERVICE_DEMAND_START,
    kStartDisabled = SERVICE_DISABLED,
    kStartAutoDelayed = 102
};

class CServiceHelper {
public:
    // An empty wrapper means the real calls; `os` decides whether delayed start can be asked about (6.0 and later).
    explicit CServiceHelper(std::shared_ptr<ScmAPI> scm = {}, const COsDetect& os = COsDetect());
    virtual ~CServiceHelper() = default;

    // 0 with the start type in `type`; the failing query's code (1359 when it left none) otherwise.
    DWORD GetServiceStartupType(SC_HANDLE service, DWORD& type);

    // 0 once the service runs; 87 no manager or name; 123 not an automatic service (when `checkStartType`); 183
    // already started or starting; 1223 the cancel event (optional) was signalled; 1460, 5023 as above; otherwise
    // the failing call's code (1060: no such service).
    DWORD StartServiceByName(SC_HANDLE manager, const wchar_t* name, HANDLE cancel, bool checkStartType);

    // Follows the service from `pending` to `target`: 0 in the target state; see above for the rest.
    DWORD WaitForServiceTransition(SC_HANDLE service, DWORD pending, DWORD target, HANDLE cancel);

private:
    DWORD QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status);

    std::shared_ptr<ScmAPI> scm_;
    COsDetect os_;
};

}  // namespace ServiceHelper
