#include "welkin/WelkinEvents.h"

#include <initializer_list>
#include <utility>

#include "clients/analytics/Event.h"

namespace {

using Dimension = std::pair<const wchar_t*, const wchar_t*>;

void SendEvent(const wchar_t* identifier, const wchar_t* label, const wchar_t* category, const wchar_t* action,
               std::initializer_list<Dimension> dimensions) {
    try {
        Orvan::Analytics::v2::CEvent event(identifier);
        event.Label(label).Category(category).Action(action);
        for (const auto& [name, value] : dimensions) event.Add(name, value);
        event.Send();
    } catch (...) {
        // The run goes on without its event.
    }
}

}  // namespace

void SendStartAllServicesEvent() {
    SendEvent(L"welkin_start_all_services", L"welkin_starting_all_services", L"PartnerComponent",
              L"start_all_services",
              {{L"Hit.Trigger", L"_tWinMain"},
               {L"Hit.Result", L"Starting"},
               {L"Hit.Label.1", L"welkin is starting all the services"},
               {L"Hit.Source", L"welkin"}});
}

void SendUserModeSettingsEvent() {
    SendEvent(L"welkin_apply_usermode_settings", L"usermode_settings_applied", L"PartnerComponent",
              L"apply_usermode_settings",
              {{L"hit.result", L"Success"},
               {L"Trigger", L"applyusermodesettings"},
               {L"hit.trigger", L"applyusermodesettings"},
               {L"hit.label.1", L"welkin applied the user mode settings"},
               {L"hit.source", L"welkin"}});
}

void SendLcidCheckEvent(const wchar_t* result, const std::wstring& text) {
    const bool fallback = std::wstring(result) == L"Failure";
    SendEvent(L"welkin_locale_lcid_check",
              fallback ? L"Fallback_From_GetLCIDFromTorvexLangMap_Result" : L"Calling_GetLCIDFromTorvexLangMap",
              L"PartnerComponent", L"GetLCIDFromTorvexLangMap",
              {{L"Hit.Trigger", L"GetLCID"},
               {L"Hit.Result", result},
               {L"Hit.Label.1", text.c_str()},
               {L"Hit.Source", L"welkin"}});
}

void SendOobeDoneEvent() {
    SendEvent(L"welkin_monitoring", L"OOBE_done_flag_is_set", L"PartnerComponent", L"Torvex OOBEDone",
              {{L"hit.result", L"Success"},
               {L"hit.trigger", L"run"},
               {L"hit.label.1", L"OOBE done flag is set"},
               {L"hit.source", L"welkin"}});
}
