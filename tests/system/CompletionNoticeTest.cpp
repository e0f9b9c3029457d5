// The completion notices of a real welkin.exe run: the message on the bus and the settings property, through the
// signed bus double beside the program, and a run whose bus is missing, silent or refuses to open: the notices only
// log, and the run's exit code and registry results stay those of a good bus.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/foundation/logging/LogFileText.h"
#include "tests/support/TempFolder.h"
#include "tests/system/WelkinRun.h"

namespace systemtest {
namespace {

constexpr wchar_t kLoggingKey[] = L"SOFTWARE\\Torvex\\Logging";

// What a completion run leaves behind, whatever the bus did.
struct Outcome {
    DWORD exitCode = 0;
    DWORD runFlag = 99, oobeDoneHalvard = 99, oobeDoneKVR = 99, servicesHalvard = 99, servicesKVR = 99;
    bool facmodeLeft = true;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "exit " << o.exitCode << " OEMMgr " << o.runFlag << " OOBEDone " << o.oobeDoneHalvard << "/"
               << o.oobeDoneKVR << " DisableServices " << o.servicesHalvard << "/" << o.servicesKVR << " facmode "
               << o.facmodeLeft;
}

const Outcome kCompleted{0, 0, 1, 1, 0, 0, false};

// The time of day, in seconds, of the first log line that holds `part` ("MM/DD/YYYY hh:mm:ss AM" begins a line);
// -1 when there is none.
int SecondOfLine(const std::wstring& log, const std::wstring& part) {
    const size_t at = log.find(part);
    if (at == std::wstring::npos) return -1;
    const size_t start = log.rfind(L'\n', at);
    const size_t colon = log.find(L':', start == std::wstring::npos ? 0 : start);
    if (colon == std::wstring::npos || colon < 2 || colon + 9 > log.size()) return -1;
    const int hour = std::stoi(log.substr(colon - 2, 2)) % 12, minute = std::stoi(log.substr(colon + 1, 2)),
              second = std::stoi(log.substr(colon + 4, 2));
    const bool pm = log.compare(colon + 7, 2, L"PM") == 0;
    return ((pm ? hour + 12 : hour) * 60 + minute) * 60 + second;
}

// Seconds between the log lines holding `first` and `second`, by the lines' own times; -1 when either is missing.
int SecondsBetween(const std::wstring& log, const std::wstring& first, const std::wstring& second) {
    const int from = SecondOfLine(log, first), to = SecondOfLine(log, second);
    if (from < 0 || to < 0) return -1;
    return (to - from + 86400) % 86400;
}

class CompletionNoticeTest : public WelkinRun {
protected:
    void SetUp() override {
        WelkinRun::SetUp();
        // welkin logs through the file logger (Information and above), so its lines can be read back.
        SetRecordDword(kLoggingKey, L"Logging Mechanism", 1);
        testsupport::TempFolder::RemoveTree(logtest::LogsRoot());
    }

    // A run that completes the OOBE work: run flag set, OOBE done, no commands queued.
    Outcome CompletionRun() {
        SetRecordDword(kHalvardOem, L"OEMMgr", 1);
        SetDword(kHalvardOem, L"OOBEDone", 1);
        SetDword(kHalvardOem, L"facmode", 0);
        Outcome outcome;
        outcome.exitCode = RunWelkin();
        outcome.runFlag = RecordDword(kHalvardOem, L"OEMMgr").value_or(99);
        outcome.oobeDoneHalvard = Dword(kHalvardOem, L"OOBEDone").value_or(99);
        outcome.oobeDoneKVR = Dword(kKVROem, L"OOBEDone").value_or(99);
        outcome.servicesHalvard = RecordDword(kHalvardOem, L"DisableServices").value_or(99);
        outcome.servicesKVR = RecordDword(kKVROem, L"DisableServices").value_or(99);
        outcome.facmodeLeft = Dword(kHalvardOem, L"facmode").has_value();
        return outcome;
    }

    static bool Contains(const std::wstring& text, const std::wstring& part) {
        return text.find(part) != std::wstring::npos;
    }
};

const BusCall* Find(const std::vector<BusCall>& calls, const std::string& entry, const std::string& name,
                    size_t* at = nullptr) {
    for (size_t i = 0; i < calls.size(); ++i) {
        const auto n = calls[i].fields.find("name");
        if (calls[i].entry == entry && n != calls[i].fields.end() && n->second == name) {
            if (at) *at = i;
            return &calls[i];
        }
    }
    return nullptr;
}

TEST_F(CompletionNoticeTest, ACompletionRunPublishesTheMessageAndThenSetsTheProperty) {
    InstallBus();
    EXPECT_EQ(kCompleted, CompletionRun());

    const std::vector<BusCall> calls = BusCalls();
    size_t publishedAt = 0, requestedAt = 0;
    const BusCall* published = Find(calls, "publish", "Core.OOBE.OOBEComplete", &publishedAt);
    const BusCall* requested = Find(calls, "request", "SETTINGS_MANAGER_SET_PROPERTY", &requestedAt);
    ASSERT_NE(nullptr, published);
    ASSERT_NE(nullptr, requested);
    EXPECT_LT(publishedAt, requestedAt);
    EXPECT_EQ("welkin", published->fields.at("sender"));
    EXPECT_EQ("", published->fields.at("data"));
    EXPECT_EQ("170", published->fields.at("total"));
    EXPECT_EQ("0x0", published->fields.at("flags"));
    EXPECT_EQ("welkin.exe", requested->fields.at("sender"));
    EXPECT_EQ(R"({"name":"Core.OOBE.OOBEComplete","value":"1","volatile":false})", requested->fields.at("data"));
    EXPECT_EQ("5000", requested->fields.at("timeout"));
    // The settings manager answered, and each client closed its bus again.
    const auto opens = std::count_if(calls.begin(), calls.end(), [](const BusCall& c) { return c.entry == "open"; });
    const auto closes = std::count_if(calls.begin(), calls.end(), [](const BusCall& c) { return c.entry == "close"; });
    EXPECT_EQ(2, opens);
    EXPECT_EQ(2, closes);

    const std::wstring log = LogText();
    EXPECT_TRUE(Contains(log, L"Published Core.OOBE.OOBEComplete message successfully!"));
    EXPECT_TRUE(Contains(log, L"Set Core.OOBE.OOBEComplete message successfully!"));
}

TEST_F(CompletionNoticeTest, WithoutABusTheRunEndsAsWithOne) {
    EXPECT_EQ(kCompleted, CompletionRun());
    const std::wstring log = LogText();
    EXPECT_TRUE(Contains(log, L"Error getting MessageBusClient"));
    EXPECT_TRUE(Contains(log, L"Error getting SettingsManagerClient"));
    EXPECT_TRUE(BusCalls().empty());
}

TEST_F(CompletionNoticeTest, ABusThatCannotOpenLeavesTheRunAsWithAGoodOne) {
    InstallBus(L"fail.open=0x80000002");
    EXPECT_EQ(kCompleted, CompletionRun());
    const std::wstring log = LogText();
    EXPECT_TRUE(Contains(log, L"Error getting MessageBusClient"));
    EXPECT_TRUE(Contains(log, L"Error getting SettingsManagerClient"));
    EXPECT_EQ(nullptr, Find(BusCalls(), "publish", "Core.OOBE.OOBEComplete"));
}

TEST_F(CompletionNoticeTest, ASettingsManagerThatNeverAnswersCostsTheRunAboutSixSeconds) {
    const std::wstring published = L"Published Core.OOBE.OOBEComplete message successfully!";
    InstallBus();
    EXPECT_EQ(kCompleted, CompletionRun());
    const int answered = SecondsBetween(LogText(), published, L"Set Core.OOBE.OOBEComplete message successfully!");
    ResetMachine();

    InstallBus(L"settings.fault=SETTINGS_MANAGER_SET_PROPERTY:no-reply");
    EXPECT_EQ(kCompleted, CompletionRun());
    const std::wstring log = LogText();
    const int silent = SecondsBetween(log, published, L"Failed to set property Core.OOBE.OOBEComplete message. ");
    // The property call gives up 5000 ms plus the reply's 1000 ms after its request; the log's clock counts whole
    // seconds, and building the client costs the same either way.
    std::printf("setting the property took %d s with an answering settings manager, %d s with a silent one\n",
                answered, silent);
    EXPECT_GE(answered, 0);
    EXPECT_GE(silent, 5);
    EXPECT_GE(silent - answered, 4);
    EXPECT_LE(silent - answered, 8);
    EXPECT_NE(nullptr, Find(BusCalls(), "request", "SETTINGS_MANAGER_SET_PROPERTY"));
}

TEST_F(CompletionNoticeTest, APropertyTheSettingsManagerRefusesIsLoggedAndTheMessageStands) {
    InstallBus(L"settings.fault=Core.OOBE.OOBEComplete:status-false");
    EXPECT_EQ(kCompleted, CompletionRun());
    const std::wstring log = LogText();
    EXPECT_TRUE(Contains(log, L"Published Core.OOBE.OOBEComplete message successfully!"));
    EXPECT_TRUE(Contains(log, L"Failed to set property Core.OOBE.OOBEComplete message. "));
}

}  // namespace
}  // namespace systemtest
