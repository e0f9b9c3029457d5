#include "clients/analytics/Tracker.h"

#include <windows.h>

#include <ctime>
#include <cwchar>

#include "clients/analytics/Event.h"
#include "clients/analytics/SDKConnector.h"
#include "foundation/logging/LogSite.h"

namespace Orvan::Analytics::internal {

std::int64_t TrackerClock::wallSeconds() { return _time64(nullptr); }

bool TrackerClock::performanceCounter(std::int64_t& count, std::int64_t& frequency) {
    LARGE_INTEGER counter = {}, ticks = {};
    if (!QueryPerformanceCounter(&counter) || !QueryPerformanceFrequency(&ticks)) return false;
    count = counter.QuadPart;
    frequency = ticks.QuadPart;
    return true;
}

bool FormatRecordTime(std::int64_t seconds, std::wstring& text) {
    if (seconds < 0) return false;
    const __time64_t time = seconds;
    tm parts = {};
    if (_gmtime64_s(&parts, &time) != 0) return false;
    if (parts.tm_sec > 60 || parts.tm_min > 59 || parts.tm_hour > 23 || parts.tm_mday < 1 || parts.tm_mday > 31 ||
        parts.tm_mon > 11 || parts.tm_wday > 6 || parts.tm_yday > 365)
        return false;
    // msvcrt's formatter refuses "%T".
    wchar_t buffer[50] = {};
    const size_t length = wcsftime(buffer, 50, L"%Y-%m-%d %H:%M:%SZ", &parts);
    if (length == 0) return false;
    text.assign(buffer, length);
    return true;
}

std::int64_t MonotonicSeconds(TrackerClock& clock) {
    std::int64_t count = 0, frequency = 0;
    if (!clock.performanceCounter(count, frequency) || frequency <= 0) return 0;
    // Whole seconds straight from the counter: scaling it to nanoseconds first overflows after minutes of uptime.
    return count / frequency;
}

CTracker::_Impl::_Impl(const wchar_t* name, std::shared_ptr<TrackerClock> trackerClock)
    : typeName(name ? name : L""), clock(trackerClock ? std::move(trackerClock) : std::make_shared<TrackerClock>()) {}

CTracker::CTracker(const wchar_t* typeName, std::shared_ptr<TrackerClock> clock)
    : impl_(std::make_unique<_Impl>(typeName, std::move(clock))) {}

CTracker::~CTracker() = default;

const Record& CTracker::record() const { return impl_->record; }

void CTracker::Set(const std::wstring& name, const std::wstring& value) {
    if (name.empty()) return;
    impl_->record[name] = value;
}

void CTracker::Send() {
    try {
        Set(L"__track.api.version", L"1.2.0");
        Set(L"Tracker.Type", impl_->typeName);
        const std::int64_t seconds = impl_->clock->wallSeconds();
        std::wstring created;
        // One of the two creation properties, never a stale one of an earlier Send.
        if (FormatRecordTime(seconds, created)) {
            impl_->record.erase(L"__record.created.raw");
            Set(L"__record.created", created);
        } else {
            impl_->record.erase(L"__record.created");
            Set(L"__record.created.raw", std::to_wstring(seconds));
        }
        Set(L"__record.created.seconds", std::to_wstring(MonotonicSeconds(*impl_->clock)));

        CSDKConnector connector;
        connector.connect();
        connector.send(impl_->record);
        connector.disconnect();
    } catch (...) {
        // Telemetry never stops its caller; a record that cannot be sent is dropped.
    }
}

template <class Derived, class Base>
Derived& CFluentTracker<Derived, Base>::Add(const wchar_t* name, const wchar_t* value) {
    if (!name) {
        LOG_AT(ETWLogging::kSeverityWarning, L"Adding dimension with a [null] name - ignored.");
        return static_cast<Derived&>(*this);
    }
    return Add(std::wstring(name), std::wstring(value ? value : L""));
}

template <class Derived, class Base>
Derived& CFluentTracker<Derived, Base>::Add(const std::wstring& name, const std::wstring& value) {
    if (IsPrivateName(name)) {
        LOG_AT(ETWLogging::kSeverityWarning, L"Illegal request to add private dimension ('%s ='%s') - Ignored",
               name.c_str(), value.c_str());
    } else {
        this->Set(name, value);
    }
    return static_cast<Derived&>(*this);
}

template class CFluentTracker<v2::CEvent, CTracker>;

}  // namespace Orvan::Analytics::internal
