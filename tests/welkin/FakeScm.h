#pragma once
// A service control manager of the test's own behind the SCM wrapper: named services with scripted start types,
// failures and status over a clock of its own (pauses and waits advance it at once), and the end of a service's
// process at a set time. Every call is journalled. After an hour of its clock the status query fails with 1237, so
// a wait that never ends on its own still ends the test.
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "welkin/ScmAPI.h"

namespace scmtest {

inline constexpr DWORD kGiveUpMs = 3600000;
inline constexpr DWORD kNever = INFINITE;

struct FakeService {
    DWORD startType = SERVICE_AUTO_START;
    BOOL delayed = FALSE;
    DWORD config2Error = 0;     // QueryServiceConfig2W fails with it
    DWORD configError = 0;      // QueryServiceConfigW fails with it
    DWORD configBytes = 300;    // what QueryServiceConfigW asks for
    DWORD startError = 0;       // StartServiceW fails with it
    DWORD processId = 0;        // the process the service runs in once started (0: none reported)
    DWORD processEndsAt = kNever;
    bool processGoneAtOpen = false;  // OpenProcess refuses the id with 87
    DWORD statusError = 0;      // QueryServiceStatusEx fails with it, from `statusErrorAt` on
    DWORD statusErrorAt = 0;
    // The status at a time of the clock; `startedAt` is kNever until StartServiceW succeeded.
    std::function<SERVICE_STATUS_PROCESS(DWORD now, DWORD startedAt)> status;
    DWORD startedAt = kNever;
};

// A status record with the fields the waits look at.
inline SERVICE_STATUS_PROCESS Status(DWORD state, DWORD checkPoint = 0, DWORD hint = 0, DWORD processId = 0) {
    SERVICE_STATUS_PROCESS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = hint;
    status.dwProcessId = processId;
    return status;
}

class FakeScm : public ServiceHelper::ScmAPI {
public:
    static inline const HANDLE kCancel = reinterpret_cast<HANDLE>(0xCA);

    std::map<std::wstring, FakeService> services;
    std::vector<std::string> calls;
    DWORD now = 0;
    DWORD cancelAt = kNever;  // the cancel event is signalled from then on
    bool managerFails = false;

    SC_HANDLE OpenSCManagerW(const wchar_t*, const wchar_t*, DWORD access) override {
        calls.push_back("OpenSCManagerW " + std::to_string(access));
        if (managerFails) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return kManager;
    }
    SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* name, DWORD access) override {
        calls.push_back("OpenServiceW " + Narrow(name) + " " + std::to_string(access));
        if (manager != kManager || !services.count(name)) {
            SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
            return nullptr;
        }
        opened_.push_back(name);
        return reinterpret_cast<SC_HANDLE>(0x1000 + opened_.size());
    }
    BOOL CloseServiceHandle(SC_HANDLE) override {
        ++closed;
        return TRUE;
    }
    BOOL QueryServiceConfigW(SC_HANDLE service, QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) override {
        FakeService& s = Of(service);
        calls.push_back("QueryServiceConfigW " + std::to_string(size));
        if (s.configError) return Fail(s.configError);
        if (size < s.configBytes) {
            *needed = s.configBytes;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        *config = {};
        config->dwStartType = s.startType;
        return TRUE;
    }
    BOOL QueryServiceConfig2W(SC_HANDLE service, DWORD level, BYTE* buffer, DWORD size, DWORD*) override {
        FakeService& s = Of(service);
        calls.push_back("QueryServiceConfig2W " + std::to_string(level));
        if (s.config2Error != 0) return Fail(s.config2Error == kNoError ? 0 : s.config2Error);
        if (level != SERVICE_CONFIG_DELAYED_AUTO_START_INFO || size < sizeof(SERVICE_DELAYED_AUTO_START_INFO))
            return Fail(ERROR_INVALID_PARAMETER);
        reinterpret_cast<SERVICE_DELAYED_AUTO_START_INFO*>(buffer)->fDelayedAutostart = s.delayed;
        return TRUE;
    }
    BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE, BYTE* buffer, DWORD size, DWORD*) override {
        FakeService& s = Of(service);
        ++statusQueries;
        if (now >= kGiveUpMs) return Fail(ERROR_RETRY);
        if (s.statusError && now >= s.statusErrorAt) return Fail(s.statusError);
        if (size < sizeof(SERVICE_STATUS_PROCESS)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        *reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer) = s.status(now, s.startedAt);
        return TRUE;
    }
    BOOL StartServiceW(SC_HANDLE service, DWORD, const wchar_t**) override {
        FakeService& s = Of(service);
        calls.push_back("StartServiceW " + Narrow(NameOf(service).c_str()));
        if (s.startError) return Fail(s.startError);
        s.startedAt = now;
        return TRUE;
    }
    DWORD GetTickCount() override { return now; }
    void Sleep(DWORD milliseconds) override { now += milliseconds; }
    HANDLE OpenProcess(DWORD, BOOL, DWORD processId) override {
        calls.push_back("OpenProcess " + std::to_string(processId));
        for (auto& [name, s] : services)
            if (s.processId == processId && !s.processGoneAtOpen) {
                watched_ = &s;
                return kProcess;
            }
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD milliseconds) override {
        const DWORD until = now + milliseconds;
        DWORD firstAt = kNever, firstIndex = WAIT_TIMEOUT;
        for (DWORD i = 0; i < count; ++i) {
            DWORD at = kNever;
            if (handles[i] == kCancel) at = cancelAt;
            if (handles[i] == kProcess && watched_) at = watched_->processEndsAt;
            if (at != kNever && at <= until && at < firstAt) {
                firstAt = at;
                firstIndex = WAIT_OBJECT_0 + i;
            }
        }
        now = firstIndex == WAIT_TIMEOUT ? until : std::max(now, firstAt);
        return firstIndex;
    }
    BOOL CloseHandle(HANDLE) override {
        ++closed;
        return TRUE;
    }

    static inline const SC_HANDLE kManager = reinterpret_cast<SC_HANDLE>(0x10);
    static constexpr DWORD kNoError = 0xFFFFFFFF;  // config2Error: fail without a last error
    int closed = 0;
    int statusQueries = 0;

private:
    static inline const HANDLE kProcess = reinterpret_cast<HANDLE>(0x5150);

    static std::string Narrow(const wchar_t* text) {
        std::string out;
        for (; text && *text; ++text) out.push_back(static_cast<char>(*text));
        return out;
    }
    static BOOL Fail(DWORD error) {
        SetLastError(error);
        return FALSE;
    }
    const std::wstring& NameOf(SC_HANDLE service) const {
        return opened_.at(reinterpret_cast<size_t>(service) - 0x1001);
    }
    FakeService& Of(SC_HANDLE service) { return services.at(NameOf(service)); }

    std::vector<std::wstring> opened_;
    FakeService* watched_ = nullptr;
};

}  // namespace scmtest
