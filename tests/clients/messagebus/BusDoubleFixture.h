#pragma once
// The bus double Corlune.dll loaded for a test through an injected module wrapper (no signature check: the
// unsigned build), with its control exports and a journal of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clients/messagebus/MessageBusClient.h"
#include "clients/messagebus/MessageBusLib.h"
#include "foundation/basalt/ProcAddress.h"
#include "tests/clients/support/SupportFakes.h"
#include "tests/doubles/CorluneControl.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

namespace orvantest {

// Loads whatever it is given: for test builds that are not signed.
class UncheckedDlls : public Orvan::DllAPI {
public:
    bool loadLibrary(const std::wstring& path, HMODULE* module) override {
        *module = LoadLibraryExW(path.c_str(), nullptr, 0);
        return *module != nullptr;
    }
};

// Messages a handler collected, with the threads they came on; safe for the bus's threads.
class Collected {
public:
    uint32_t Add(const std::shared_ptr<Orvan::Message>& message) {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(message);
        threads_.push_back(GetCurrentThreadId());
        arrived_.notify_all();
        return 0;
    }
    Orvan::SubscriptionHandler Handler() {
        return [this](std::shared_ptr<Orvan::Message> message) { return Add(message); };
    }
    std::vector<std::shared_ptr<Orvan::Message>> Messages() {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }
    std::vector<DWORD> Threads() {
        std::lock_guard<std::mutex> guard(lock_);
        return threads_;
    }
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        for (const auto& m : Messages()) names.push_back(m->getName());
        return names;
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::shared_ptr<Orvan::Message>> messages_;
    std::vector<DWORD> threads_;
};

class BusDoubleTest : public ::testing::Test {
protected:
    void SetUp() override {
        library = std::make_shared<Orvan::SharedLibrary>(
            Orvan::LibraryLocation{L"Corlune.dll", {testsupport::WindowsPathOf(CORLUNE_UNSIGNED_DIR)}},
            std::make_shared<Orvan::DllLoader>(std::make_shared<UncheckedDlls>()));
        const HMODULE module = library->module();
        configure = Basalt::GetProcAddressAs<doubles::corlune::Configure>(module, doubles::corlune::kConfigureExport);
        reset = Basalt::GetProcAddressAs<doubles::corlune::Reset>(module, doubles::corlune::kResetExport);
        inject = Basalt::GetProcAddressAs<doubles::corlune::InjectDelivery>(module, doubles::corlune::kInjectExport);
        waitIdle = Basalt::GetProcAddressAs<doubles::corlune::WaitIdle>(module, doubles::corlune::kWaitIdleExport);
        openHandles = Basalt::GetProcAddressAs<doubles::corlune::Count>(module, doubles::corlune::kOpenHandlesExport);
        subscriptions =
            Basalt::GetProcAddressAs<doubles::corlune::Count>(module, doubles::corlune::kSubscriptionsExport);
        replyCallbacks =
            Basalt::GetProcAddressAs<doubles::corlune::Count>(module, doubles::corlune::kReplyCallbacksExport);
        workers = Basalt::GetProcAddressAs<doubles::corlune::Count>(module, doubles::corlune::kWorkersExport);
        ASSERT_TRUE(configure && reset && inject && waitIdle && openHandles && subscriptions && replyCallbacks &&
                    workers);
        reset();
        Configure(L"journal=" + journalPath);
    }
    void TearDown() override {
        // Every client the test made is gone: the bus holds nothing of them any more.
        EXPECT_EQ(0u, openHandles());
        EXPECT_EQ(0u, subscriptions());
        EXPECT_EQ(0u, replyCallbacks());
        EXPECT_EQ(0u, workers());
        reset();
    }

    void Configure(const std::wstring& settings) { ASSERT_EQ(0u, configure(settings.c_str())); }
    std::shared_ptr<Orvan::MessageBusShim> Lib() { return std::make_shared<Orvan::MessageBusLib>(library); }
    std::unique_ptr<Orvan::MessageBusClient> Client(DWORD session = 1) { return Client(Lib(), session); }
    // A client over the given shim, which sits on Lib() in its turn.
    std::unique_ptr<Orvan::MessageBusClient> Client(std::shared_ptr<Orvan::MessageBusShim> shim, DWORD session = 1) {
        return std::make_unique<Orvan::MessageBusClient>(std::move(shim), std::make_shared<FixedSession>(session));
    }
    void Idle() { ASSERT_EQ(1u, waitIdle(10000)); }
    std::vector<std::string> Journal(const std::string& entry) {
        std::vector<std::string> lines;
        for (const std::string& line : testsupport::ReadJournalLines(journalPath))
            if (line.rfind(entry + "\t", 0) == 0) lines.push_back(line);
        return lines;
    }

    testsupport::TempFolder folder;
    std::wstring journalPath = folder.File(L"bus.txt");
    std::shared_ptr<Orvan::SharedLibrary> library;
    doubles::corlune::Configure configure = nullptr;
    doubles::corlune::Reset reset = nullptr;
    doubles::corlune::InjectDelivery inject = nullptr;
    doubles::corlune::WaitIdle waitIdle = nullptr;
    doubles::corlune::Count openHandles = nullptr, subscriptions = nullptr, replyCallbacks = nullptr,
                            workers = nullptr;
};

}  // namespace orvantest
