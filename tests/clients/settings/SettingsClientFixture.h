#pragma once
// A settings-manager client over the real bus client and a scripted transport, with the client's own log lines.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "clients/settings/SettingsManagerClient.h"
#include "tests/clients/settings/ScriptedShim.h"
#include "tests/support/RecordingLogger.h"

namespace settingstest {

struct ClientLine {
    DWORD severity = 0;
    std::wstring function;
    DWORD line = 0;
    std::wstring message;
    bool operator==(const ClientLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ClientLine& l) {
    return out << l.severity << " " << testing::PrintToString(l.function) << ":" << l.line << " "
               << testing::PrintToString(l.message);
}

class SettingsClientFixture : public testsupport::LoggingFixture {
protected:
    // Made after the recording logger is in place: the bus client logs while it is built.
    void SetUp() override {
        LoggingFixture::SetUp();
        bus = std::make_unique<ScriptedBus>();
        clientHolder = std::make_unique<Orvan::SettingsManagerClient>(bus->client);
        journal.entries.clear();
    }
    void TearDown() override {
        clientHolder.reset();
        bus.reset();
        LoggingFixture::TearDown();
    }

    std::unique_ptr<ScriptedBus> bus;
    std::unique_ptr<Orvan::SettingsManagerClient> clientHolder;
    Orvan::SettingsManagerClient& client() { return *clientHolder; }
    ScriptedShim& shim() { return *bus->shim; }

    void Reply(const std::wstring& body) {
        shim().answer = ScriptedShim::Answer::Body;
        shim().replyBody = body;
    }

    // The lines the settings client wrote (the bus client's own are left out); clears them.
    std::vector<ClientLine> TakeClientLines() {
        std::vector<ClientLine> lines;
        std::lock_guard<std::mutex> guard(journal.lock);
        for (const testsupport::Entry& e : journal.entries) {
            const std::wstring suffix = L"SettingsManagerClient.cpp";
            if (e.file.size() >= suffix.size() && e.file.compare(e.file.size() - suffix.size(), suffix.size(), suffix) == 0)
                lines.push_back({e.severity, e.function, e.line, e.message});
        }
        journal.entries.clear();
        return lines;
    }

    const SentRequest& LastRequest() {
        EXPECT_FALSE(shim().requests.empty());
        static const SentRequest none;
        return shim().requests.empty() ? none : shim().requests.back();
    }
};

}  // namespace settingstest
