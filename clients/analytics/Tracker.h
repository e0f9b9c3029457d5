#pragma once
// A tracker owns one telemetry record and sends it at once: Send stamps the library's own properties (API version,
// tracker type, creation time, monotonic seconds) into the record and hands it to a connector, which picks a
// transport. Nothing is queued or retried and nothing is reported: telemetry never stops its caller, so Send
// swallows every failure.
#include <cstdint>
#include <memory>
#include <string>

#include "clients/analytics/Record.h"

namespace Orvan::Analytics::internal {

// The two clocks a record is stamped with; tests replace them.
class TrackerClock {
public:
    virtual ~TrackerClock() = default;
    // Whole seconds since 1 January 1970 UTC.
    virtual std::int64_t wallSeconds();
    // The performance counter and its frequency; false when unavailable.
    virtual bool performanceCounter(std::int64_t& count, std::int64_t& frequency);
};

// "YYYY-MM-DD HH:MM:SSZ" in UTC; false for a negative time, one the runtime cannot break down, or a broken-down
// field out of range.
bool FormatRecordTime(std::int64_t seconds, std::wstring& text);
// Whole seconds of the counter; 0 when the clock has no frequency. Exact for any counter value.
std::int64_t MonotonicSeconds(TrackerClock& clock);

class CTracker {
public:
    class _Impl;

    // A null type name is the empty one; an empty clock is the system's.
    explicit CTracker(const wchar_t* typeName = nullptr, std::shared_ptr<TrackerClock> clock = nullptr);
    virtual ~CTracker();
    CTracker(const CTracker&) = delete;
    CTracker& operator=(const CTracker&) = delete;

    virtual void Send();
    // Stores without checks; an empty name is ignored.
    virtual void Set(const std::wstring& name, const std::wstring& value);

    // The properties so far.
    const Record& record() const;

private:
    std::unique_ptr<_Impl> impl_;
};

class CTracker::_Impl {
public:
    _Impl(const wchar_t* typeName, std::shared_ptr<TrackerClock> clock);
    virtual ~_Impl() = default;

    std::wstring typeName;
    Record record;
    std::shared_ptr<TrackerClock> clock;
};

// Adds the chaining setter to a tracker: Add refuses private names (logged as a warning) and returns the derived
// event.
template <class Derived, class Base>
class CFluentTracker : public Base {
public:
    using Base::Base;

    // A null name is refused (logged); a null value is the empty text.
    Derived& Add(const wchar_t* name, const wchar_t* value);
    Derived& Add(const std::wstring& name, const std::wstring& value);
};

}  // namespace Orvan::Analytics::internal
