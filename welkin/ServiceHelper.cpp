#include "welkin/ServiceHelper.h"

#include <algorithm>
#include <vector>

#include "foundation/logging/LogStream.h"

using ETWLogging::kSeverityError;
using ETWLogging::kSeverityInformation;
using ETWLogging::kSeverityNormal;

namespace ServiceHelper {

namespace {

constexpr DWORD kNoProgressFloorMs = 10000;
constexpr DWORD kFirstConfigBytes = 64;

DWORD ErrorOr(DWORD error, DWORD fallback) { return error ? error : fallback; }

// The process a pending service runs in, watched for its end. A process id that names no process any more
// (OpenProcess refuses it with 87) counts as ended; one that cannot be opened for another reason is not watched.
class ProcessWatch {
public:
    ProcessWatch(ScmAPI& api, DWORD processId) : api_(api) {
        if (!processId) return;
        process_ = api.OpenProcess(SYNCHRONIZE, FALSE, processId);
        gone_ = !process_ && GetLastError() == ERROR_INVALID_PARAMETER;
    }
    ~ProcessWatch() {
        if (process_) api_.CloseHandle(process_);
    }
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

    HANDLE Get() const { return process_; }
    bool Gone() const { return gone_; }

private:
    ScmAPI& api_;
    HANDLE process_ = nullptr;
    bool gone_ = false;
};

}  // namespace

CServiceHelper::CServiceHelper(std::shared_ptr<ScmAPI> scm, const COsDetect& os)
    : scm_(scm ? std::move(scm) : std::make_shared<ScmAPI>()), os_(os) {}

DWORD CServiceHelper::GetServiceStartupType(SC_HANDLE service, DWORD& type) {
    SERVICE_DELAYED_AUTO_START_INFO delayed = {};
    if (os_.Flags() == COsDetect::kVista) {
        DWORD needed = 0;
        if (!scm_->QueryServiceConfig2W(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO,
                                        reinterpret_cast<BYTE*>(&delayed), sizeof delayed, &needed)) {
            const DWORD error = GetLastError();
            LOG_AT(kSeverityError, L"GetServiceStartupType: QueryServiceConfig2 failed with error: %lu", error);
            return ErrorOr(error, ERROR_INTERNAL_ERROR);
        }
        LOG_AT(kSeverityNormal, L"GetServiceStartupType: autoStartInfo.fDelayedAutostart = %d",
               delayed.fDelayedAutostart);
    }

    std::vector<BYTE> buffer(kFirstConfigBytes);
    for (;;) {
        DWORD needed = 0;
        if (scm_->QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                      static_cast<DWORD>(buffer.size()), &needed))
            break;
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size())
            return ErrorOr(error, ERROR_INTERNAL_ERROR);
        buffer.resize(needed);
    }
    const DWORD startType = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data())->dwStartType;
    LOG_AT(kSeverityNormal, L"GetServiceStartupType: serviceConfig->dwStartType = %lu", startType);
    switch (startType) {
    case SERVICE_BOOT_START:
    case SERVICE_SYSTEM_START:
    case SERVICE_DEMAND_START:
        type = startType;
        break;
    case SERVICE_AUTO_START:
        LOG_AT(kSeverityNormal, L"GetServiceStartupType: auto");
        type = kStartAuto;
        if (delayed.fDelayedAutostart) {
            LOG_AT(kSeverityInformation, L"GetServiceStartupType: auto, delayed");
            type = kStartAutoDelayed;
        }
        break;
    default:
        type = kStartDisabled;
    }
    return ERROR_SUCCESS;
}

DWORD CServiceHelper::QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    if (scm_->QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                   &needed))
        return ERROR_SUCCESS;
    return ErrorOr(GetLastError(), ERROR_INTERNAL_ERROR);
}

DWORD CServiceHelper::StartServiceByName(SC_HANDLE manager, const wchar_t* name, HANDLE cancel, bool checkStartType) {
    if (!manager || !name || !*name) return ERROR_INVALID_PARAMETER;
    if (manager == reinterpret_cast<SC_HANDLE>(INVALID_HANDLE_VALUE)) return ErrorOr(GetLastError(), ERROR_INVALID_HANDLE);
    const ScHandle service(*scm_, scm_->OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
    if (!service) return ErrorOr(GetLastError(), ERROR_INTERNAL_ERROR);

    if (checkStartType) {
        DWORD type = kStartDisabled;
        if (const DWORD error = GetServiceStartupType(service.Get(), type)) return error;
        if (type != kStartAuto && type != kStartAutoDelayed) return ERROR_INVALID_NAME;
    }
    SERVICE_STATUS_PROCESS status = {};
    if (const DWORD error = QueryStatus(service.Get(), status)) return error;
    if (status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_STOP_PENDING)
        return ERROR_ALREADY_EXISTS;
    if (const DWORD error = WaitForServiceTransition(service.Get(), SERVICE_STOP_PENDING, SERVICE_STOPPED, cancel))
        return error;
    if (!scm_->StartServiceW(service.Get(), 0, nullptr)) return ErrorOr(GetLastError(), ERROR_INTERNAL_ERROR);
    return WaitForServiceTransition(service.Get(), SERVICE_START_PENDING, SERVICE_RUNNING, cancel);
}

DWORD CServiceHelper::WaitForServiceTransition(SC_HANDLE service, DWORD pending, DWORD target, HANDLE cancel) {
    SERVICE_STATUS_PROCESS status = {};
    if (const DWORD error = QueryStatus(service, status)) return error;
    if (status.dwCurrentState == target) return ERROR_SUCCESS;
    if (status.dwCurrentState != pending) return ERROR_INVALID_STATE;

    // A start that its process did not survive has failed; a process that ends while its service stops is how
    // stopping ends, and the manager records the stop a moment later.
    const ProcessWatch process(*scm_, pending == SERVICE_START_PENDING ? status.dwProcessId : 0);
    DWORD checkPoint = status.dwCheckPoint;
    DWORD progressTick = scm_->GetTickCount();
    for (;;) {
        const DWORD pause = std::clamp<DWORD>(status.dwWaitHint / 10, 1000, 10000);
        HANDLE watched[2];
        DWORD count = 0;
        if (cancel) watched[count++] = cancel;
        if (process.Get()) watched[count++] = process.Get();
        bool processEnded = process.Gone();
        if (count == 0) {
            scm_->Sleep(pause);
        } else {
            const DWORD woken = scm_->WaitForMultipleObjects(count, watched, FALSE, pause);
            if (cancel && woken == WAIT_OBJECT_0) return ERROR_CANCELLED;
            processEnded = process.Get() && woken == WAIT_OBJECT_0 + count - 1;
        }
        if (const DWORD error = QueryStatus(service, status)) return error;
        if (status.dwCurrentState != pending) return status.dwCurrentState == target ? ERROR_SUCCESS : ERROR_INVALID_STATE;
        if (processEnded) return ERROR_INVALID_STATE;
        const DWORD now = scm_->GetTickCount();
        if (status.dwCheckPoint > checkPoint) {
            progressTick = now;
        } else if (now - progressTick > std::max(status.dwWaitHint, kNoProgressFloorMs)) {
            return ERROR_TIMEOUT;
        }
        checkPoint = status.dwCheckPoint;
    }
}

}  // namespace ServiceHelper
