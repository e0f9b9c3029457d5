#pragma once
// A telemetry event: a tracker of type "event" with setters for its category, action, label and value. Used on
// the caller's stack: built, filled, sent once, destroyed.
//     CEvent(L"my_event").Label(L"...").Category(L"...").Action(L"...").Add(L"Hit.Source", L"welkin").Send();
#include <cstdint>
#include <memory>
#include <string>

#include "clients/analytics/Tracker.h"

namespace Orvan::Analytics::v2 {

class CEvent : public internal::CFluentTracker<CEvent, internal::CTracker> {
public:
    CEvent();
    // Stores the identifier under "UniqueIdentifier".
    explicit CEvent(const wchar_t* uniqueIdentifier, std::shared_ptr<internal::TrackerClock> clock = nullptr);
    ~CEvent() override;

    virtual internal::CTracker& Category(const std::wstring& value);
    virtual CEvent& Category(const wchar_t* value);
    virtual internal::CTracker& Action(const std::wstring& value);
    virtual CEvent& Action(const wchar_t* value);
    virtual internal::CTracker& Label(const std::wstring& value);
    virtual CEvent& Label(const wchar_t* value);
    // Unsigned decimal text under "Event.Value".
    virtual CEvent& Value(std::uint32_t value);

private:
    internal::CTracker& SetFixed(const wchar_t* name, const std::wstring& value);
};

}  // namespace Orvan::Analytics::v2
