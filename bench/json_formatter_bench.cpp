// A 50-property list body built and parsed the way the settings-manager client does it (element formatters appended
// to the body, then written; the reply parsed into a formatter), beside the library's own writer and reader on the
// same document: the writer driven directly, the document built with the library's own calls and written, and the
// reader into a plain document.
#include "bench/BenchHarness.h"
#include "clients/support/JSONFormatter.h"
#include "clients/support/RapidJsonConfig.h"

#include <cstdio>
#include <string>

namespace {

using Encoding = rapidjson::UTF16<wchar_t>;
constexpr int kProperties = 50;

std::wstring Name(int i) { return L"Product.Component.Setting" + std::to_wstring(i); }
std::wstring Text(int i) { return L"value number " + std::to_wstring(i * 7919); }

// The set-list request as the client builds it.
std::wstring BuildWithFormatter() {
    Orvan::JSONFormatter body;
    for (int i = 0; i < kProperties; ++i) {
        Orvan::JSONFormatter element;
        element.setString(L"name", Name(i));
        element.setString(L"value", Text(i));
        element.setBool(L"volatile", false);
        body.appendObject(L"properties", element);
    }
    return body.toString();
}

// The same text from the library's writer alone.
std::wstring BuildWithWriter() {
    rapidjson::GenericStringBuffer<Encoding> buffer;
    rapidjson::Writer<rapidjson::GenericStringBuffer<Encoding>, Encoding, Encoding> writer(buffer);
    writer.StartObject();
    writer.Key(L"properties");
    writer.StartArray();
    for (int i = 0; i < kProperties; ++i) {
        const std::wstring name = Name(i), value = Text(i);
        writer.StartObject();
        writer.Key(L"name");
        writer.String(name.data(), static_cast<rapidjson::SizeType>(name.size()));
        writer.Key(L"value");
        writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
        writer.Key(L"volatile");
        writer.Bool(false);
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    return std::wstring(buffer.GetString());
}

// The same document built with the library's own calls into one document, then written.
std::wstring BuildWithDocument() {
    rapidjson::GenericDocument<Encoding> document;
    auto& pool = document.GetAllocator();
    document.SetObject();
    rapidjson::GenericValue<Encoding> properties(rapidjson::kArrayType);
    for (int i = 0; i < kProperties; ++i) {
        const std::wstring name = Name(i), value = Text(i);
        rapidjson::GenericValue<Encoding> element(rapidjson::kObjectType);
        element.AddMember(L"name", rapidjson::GenericValue<Encoding>(name.c_str(), pool), pool);
        element.AddMember(L"value", rapidjson::GenericValue<Encoding>(value.c_str(), pool), pool);
        element.AddMember(L"volatile", false, pool);
        properties.PushBack(element, pool);
    }
    document.AddMember(L"properties", properties, pool);
    rapidjson::GenericStringBuffer<Encoding> buffer;
    rapidjson::Writer<rapidjson::GenericStringBuffer<Encoding>, Encoding, Encoding> writer(buffer);
    document.Accept(writer);
    return std::wstring(buffer.GetString());
}

std::wstring ReplyBody() {
    std::wstring text = L"{\"responses\":[";
    for (int i = 0; i < kProperties; ++i)
        text += (i ? L"," : L"") + std::wstring(L"{\"name\":\"") + Name(i) + L"\",\"status\":true,\"value\":\"" +
                Text(i) + L"\"}";
    return text + L"]}";
}

}  // namespace

int main() {
    int failures = BuildWithFormatter() == BuildWithWriter() && BuildWithDocument() == BuildWithWriter() ? 0 : 1;
    const std::wstring reply = ReplyBody();
    std::size_t sink = 0;

    const bench::Figures build = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) sink += BuildWithFormatter().size();
    }, 200, 31);
    const bench::Figures buildFloor = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) sink += BuildWithWriter().size();
    }, 200, 31);
    const bench::Figures buildDocument = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) sink += BuildWithDocument().size();
    }, 200, 31);
    const bench::Figures parse = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            Orvan::JSONFormatter json;
            failures += json.parse(reply) ? 0 : 1;
        }
    }, 200, 31);
    const bench::Figures parseFloor = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            rapidjson::GenericDocument<Encoding> document;
            document.Parse(reply.c_str());
            failures += document.HasParseError() ? 1 : 0;
        }
    }, 200, 31);

    bench::Report("build 50-property body: JSONFormatter elements + toString", build);
    bench::Report("build 50-property body: library writer alone", buildFloor);
    bench::Report("build 50-property body: library document + writer", buildDocument);
    bench::Report("parse 50-property reply: JSONFormatter::parse", parse);
    bench::Report("parse 50-property reply: library reader into a document", parseFloor);
    bench::ReportValue("build ratio to the writer alone (median)", build.medianNs / buildFloor.medianNs, "x");
    bench::ReportValue("build ratio to document + writer (median)", build.medianNs / buildDocument.medianNs, "x");
    bench::ReportValue("parse ratio (median)", parse.medianNs / parseFloor.medianNs, "x");
    bench::ReportValue("build + parse ratio to writer + reader (median)",
                       (build.medianNs + parse.medianNs) / (buildFloor.medianNs + parseFloor.medianNs), "x");
    bench::ReportValue("build + parse ratio to document + writer + reader (median)",
                       (build.medianNs + parse.medianNs) / (buildDocument.medianNs + parseFloor.medianNs), "x");
    // On a loaded machine the minimum is the steadier figure.
    bench::ReportValue("build + parse ratio to writer + reader (min)",
                       (build.minNs + parse.minNs) / (buildFloor.minNs + parseFloor.minNs), "x");
    bench::ReportValue("build + parse ratio to document + writer + reader (min)",
                       (build.minNs + parse.minNs) / (buildDocument.minNs + parseFloor.minNs), "x");
    std::printf("(%zu characters written)\n", sink);
    return failures;
}
