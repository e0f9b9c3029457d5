// Telemetry: formatting a 20-pair record with the project's formatter beside RapidJSON's writer on the same pairs,
// and one whole Send of welkin's start event through the signed telemetry service double, registered as the
// service's in-process server with the validation double vouching for signed files, as welkin meets it: nothing
// else holds COM on the thread, so each call of the transport brings COM up and down. Its floor is the platform's
// work for the same delivery: the two instances a Send makes (one to see the service is there, one to send), each
// judged once by WinVerifyTrust of the server file and created and released within a COM initialisation of its
// own, and one call with three texts. The same Send is measured once more with the double answering the trusted
// factory interfaces.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "clients/support/RapidJsonConfig.h"

#include <cstdio>
#include <string>

#include "bench/BenchHarness.h"
#include "clients/analytics/Event.h"
#include "clients/analytics/JSONFormatter.h"
#include "clients/analytics/SDKConnector.h"
#include "clients/analytics/TelemetryService.h"
#include "foundation/basalt/ComInitialization.h"
#include "foundation/trust/TrustedLoading.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/TelemetryServiceDouble.h"

namespace {

using Orvan::Analytics::Record;

// A record the size of welkin's events once the library has stamped it, with a few longer dimensions.
Record TwentyPairs() {
    Record record = {{L"UniqueIdentifier", L"welkin_start_all_services"},
                     {L"Event.Label", L"welkin_starting_all_services"},
                     {L"Event.Category", L"PartnerComponent"},
                     {L"Event.Action", L"start_all_services"},
                     {L"Hit.Trigger", L"_tWinMain"},
                     {L"Hit.Result", L"Starting"},
                     {L"Hit.Label.1", L"welkin is starting all the services"},
                     {L"Hit.Source", L"welkin"},
                     {L"__track.api.version", L"1.2.0"},
                     {L"Tracker.Type", L"event"},
                     {L"__record.created", L"2026-12-10 12:00:00Z"},
                     {L"__record.created.seconds", L"86400"},
                     {L"__caller.name", L"C:\\\\Program Files\\\\Common Files\\\\Torvex\\\\OOBE\\\\welkin.exe"},
                     {L"__transport.name", L"Legacy v1"}};
    for (int i = 0; record.size() < 20; ++i)
        record[L"Hit.Detail." + std::to_wstring(i)] = L"detail \"" + std::to_wstring(i) + L"\" of C:/path\\name";
    return record;
}

using WideBuffer = rapidjson::GenericStringBuffer<rapidjson::UTF16<wchar_t>>;
using WideWriter = rapidjson::Writer<WideBuffer, rapidjson::UTF16<wchar_t>, rapidjson::UTF16<wchar_t>>;

}  // namespace

int main() {
    const Record record = TwentyPairs();
    Orvan::Analytics::CJSONFormatter formatter;
    std::wstring text;
    size_t sink = 0;
    const bench::Figures ours = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            formatter.format(record, text);
            sink += text.size();
        }
    }, 2000);
    WideBuffer buffer;
    WideWriter writer(buffer);
    const bench::Figures floor = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            buffer.Clear();
            writer.Reset(buffer);
            writer.StartObject();
            for (const auto& [name, value] : record) {
                writer.Key(name.c_str(), static_cast<rapidjson::SizeType>(name.size()));
                writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
            }
            writer.EndObject();
            sink += buffer.GetSize();
        }
    }, 2000);
    bench::Report("CJSONFormatter, 20 pairs", ours);
    bench::Report("RapidJSON Writer, same 20 pairs", floor);
    bench::ReportValue("formatter / writer (median)", ours.medianNs / floor.medianNs, "x");

    // The machine as welkin finds it: the signed server registered for the service's class, the validation
    // service vouching for signed files.
    trusttest::ValidationDouble validation;
    validation.Install(L"15.5", trusttest::SignedFolder(L"good"));
    validation.SetMode(trusttest::ValidationDouble::kVouchSigned);
    const std::wstring server = trusttest::SignedFile(L"good", L"telemetry_service");
    testsupport::TelemetryServiceDouble service(L"");
    service.Register(server);
    Orvan::Analytics::CSDKConnector connector;
    Record probe = {{L"probe", L"1"}};
    const bool reached = connector.connect() && connector.send(probe) && probe[L"__transport.name"] == L"Legacy v1";
    connector.disconnect();
    if (!reached) {
        std::printf("telemetry service double not reached\n");
        return 1;
    }
    const auto sendStartEvents = [](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            Orvan::Analytics::v2::CEvent event(L"welkin_start_all_services");
            event.Label(L"welkin_starting_all_services").Category(L"PartnerComponent").Action(L"start_all_services");
            event.Add(L"Hit.Trigger", L"_tWinMain").Add(L"Hit.Result", L"Starting");
            event.Add(L"Hit.Label.1", L"welkin is starting all the services").Add(L"Hit.Source", L"welkin");
            event.Send();
        }
    };
    const bench::Figures send = bench::Measure(sendStartEvents, 20, 11, 2);
    // The other road: the server answers the trusted factory interfaces, whose implementing module is judged too.
    SetEnvironmentVariableW(testsupport::TelemetryServiceDouble::kFactories, L"both");
    const bench::Figures trustedSend = bench::Measure(sendStartEvents, 20, 11, 2);
    SetEnvironmentVariableW(testsupport::TelemetryServiceDouble::kFactories, nullptr);
    std::wstring json;
    formatter.format(record, json);
    const auto create = [](Orvan::Analytics::ITelemetryService** out) {
        return CoCreateInstance(Orvan::Analytics::kTelemetryServiceClsid, nullptr,
                                Orvan::Analytics::kTelemetryServiceContext, Orvan::Analytics::kTelemetryServiceIid,
                                reinterpret_cast<void**>(out));
    };
    const bench::Figures bare = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            {
                const Basalt::ComInitialization com;
                FileTrustVerification judged(server);
                sink += VerifyFileTrust(judged) == 0;
                Orvan::Analytics::ITelemetryService* instance = nullptr;
                if (SUCCEEDED(create(&instance))) instance->Release();
            }
            const Basalt::ComInitialization com;
            FileTrustVerification judged(server);
            sink += VerifyFileTrust(judged) == 0;
            Orvan::Analytics::ITelemetryService* instance = nullptr;
            if (FAILED(create(&instance))) continue;
            BSTR empty = SysAllocString(L""), text = SysAllocString(json.c_str()), third = SysAllocString(L"");
            instance->SendRecord(empty, text, third);
            SysFreeString(empty);
            SysFreeString(text);
            SysFreeString(third);
            instance->Release();
        }
    }, 20, 11, 2);
    bench::ReportValue("whole Send of the start event through the double (median)", send.medianNs / 1e3, "us");
    bench::ReportValue("whole Send (minimum)", send.minNs / 1e3, "us");
    bench::ReportValue("its floor: two judgements of the server, two creations, one call (median)",
                       bare.medianNs / 1e3, "us");
    bench::ReportValue("whole Send / floor (median)", send.medianNs / bare.medianNs, "x");
    bench::ReportValue("whole Send through the trusted factory interfaces (median)", trustedSend.medianNs / 1e3, "us");
    bench::ReportValue("that Send / floor (median)", trustedSend.medianNs / bare.medianNs, "x");
    return sink > 0 ? 0 : 1;
}
