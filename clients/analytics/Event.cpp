#include "clients/analytics/Event.h"

namespace Orvan::Analytics::v2 {

CEvent::CEvent() : CFluentTracker(L"event") {}

CEvent::CEvent(const wchar_t* uniqueIdentifier, std::shared_ptr<internal::TrackerClock> clock)
    : CFluentTracker(L"event", std::move(clock)) {
    Add(L"UniqueIdentifier", uniqueIdentifier);
}

CEvent::~CEvent() = default;

internal::CTracker& CEvent::SetFixed(const wchar_t* name, const std::wstring& value) {
    Set(name, value);
    return *this;
}

internal::CTracker& CEvent::Category(const std::wstring& value) { return SetFixed(L"Event.Category", value); }
CEvent& CEvent::Category(const wchar_t* value) { return Add(L"Event.Category", value); }
internal::CTracker& CEvent::Action(const std::wstring& value) { return SetFixed(L"Event.Action", value); }
CEvent& CEvent::Action(const wchar_t* value) { return Add(L"Event.Action", value); }
internal::CTracker& CEvent::Label(const std::wstring& value) { return SetFixed(L"Event.Label", value); }
CEvent& CEvent::Label(const wchar_t* value) { return Add(L"Event.Label", value); }
CEvent& CEvent::Value(std::uint32_t value) { return Add(L"Event.Value", std::to_wstring(value).c_str()); }

}  // namespace Orvan::Analytics::v2
