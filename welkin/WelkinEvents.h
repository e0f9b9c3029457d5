#pragma once
// welkin's telemetry events, each built and sent at once. Telemetry never changes a run: whatever fails inside an
// event (memory, the service, the transport choice) is swallowed and the record dropped.

#include <string>

// Before the post-OOBE services are started, in every start.
void SendStartAllServicesEvent();
// After the UserMode commands other than the own product's, unless their walk could not begin.
void SendUserModeSettingsEvent();
// Once "OOBEDone" is written to the KVR Oem key.
void SendOobeDoneEvent();
// The current-language lookup: calling the language selector ("Starting"), its answer taken ("Success"), or a
// fall-back to 1033 ("Failure"), with the text that says why.
void SendLcidCheckEvent(const wchar_t* result, const std::wstring& text);
