#include "tests/support/TelemetryServiceDouble.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>

#include "clients/support/RapidJsonConfig.h"

#include "clients/analytics/TelemetryService.h"
#include "tests/support/CommandJournal.h"

namespace testsupport {

namespace {

std::wstring GuidText(const CLSID& clsid) {
    wchar_t text[64] = {};
    StringFromGUID2(clsid, text, 64);
    return text;
}

std::wstring ClassKey(const CLSID& clsid) { return L"Software\\Classes\\CLSID\\" + GuidText(clsid); }

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

// "send <a> <b> <c> <json>": the position of the JSON text, or npos.
size_t JsonStart(const std::string& line) {
    if (line.rfind("send ", 0) != 0) return std::string::npos;
    size_t at = 4;
    for (int field = 0; field < 3 && at != std::string::npos; ++field) at = line.find(' ', at + 1);
    return at == std::string::npos ? at : at + 1;
}

}  // namespace

void TelemetryServiceDouble::Register(const std::wstring& serverPath) {
    RegisterServer(Orvan::Analytics::kTelemetryServiceClsid, L"InprocServer32", serverPath);
}

void TelemetryServiceDouble::RegisterServer(const CLSID& clsid, const wchar_t* subkey, const std::wstring& path,
                                            DWORD type) {
    const std::wstring key = KeptClassKey(clsid) + L"\\" + subkey;
    registry_.SetString(HKEY_LOCAL_MACHINE, key, nullptr, path, RegView::Wow64, type);
    registry_.SetString(HKEY_LOCAL_MACHINE, key, L"ThreadingModel", L"Both", RegView::Wow64);
}

void TelemetryServiceDouble::RegisterTreatAs(const CLSID& clsid, const CLSID& treatAs) {
    registry_.SetString(HKEY_LOCAL_MACHINE, KeptClassKey(clsid) + L"\\TreatAs", nullptr, GuidText(treatAs),
                        RegView::Wow64);
}

std::wstring TelemetryServiceDouble::KeptClassKey(const CLSID& clsid) {
    const std::wstring key = ClassKey(clsid);
    if (std::find(classKeys_.begin(), classKeys_.end(), key) == classKeys_.end()) classKeys_.push_back(key);
    return key;
}

void TelemetryServiceDouble::Unregister() {
    for (const std::wstring& key : classKeys_) ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, key, RegView::Wow64);
    classKeys_.clear();
}

std::vector<std::string> TelemetryServiceDouble::Events() const {
    std::vector<std::string> events;
    for (const std::string& line : ReadJournalLines(journal_)) {
        const size_t json = JsonStart(line);
        events.push_back(json == std::string::npos ? line : line.substr(0, json - 1));
    }
    return events;
}

std::vector<Orvan::Analytics::Record> TelemetryServiceDouble::SentRecords() const {
    std::vector<Orvan::Analytics::Record> records;
    for (const std::string& line : ReadJournalLines(journal_)) {
        const size_t json = JsonStart(line);
        if (json == std::string::npos) continue;
        Orvan::Analytics::Record& record = records.emplace_back();
        rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>> document;
        const std::wstring text = Widen(line.substr(json));
        document.Parse(text.c_str());
        if (document.HasParseError() || !document.IsObject()) {
            record[L"(unreadable)"] = text;
            continue;
        }
        for (const auto& member : document.GetObject())
            record[member.name.GetString()] = member.value.IsString() ? member.value.GetString() : L"(not a string)";
    }
    return records;
}

void TelemetryServiceDouble::ClearJournal() const { DeleteFileW(journal_.c_str()); }

}  // namespace testsupport
