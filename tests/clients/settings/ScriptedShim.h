#pragma once
// A transport for the real message-bus client that answers each request from a script, synchronously inside the
// request (as a bus may): a reply body, the bus's time-out or failure status, or no reply at all. It records what was
// sent and keeps the subscribers' contexts so that a test can deliver notices to them the way the library would.
#include <cstdint>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "clients/messagebus/MessageBusClient.h"
#include "clients/messagebus/MessageBusShim.h"
#include "clients/messagebus/MessageBusShimImpl.h"
#include "clients/support/ModuleStatus.h"

namespace settingstest {

struct SentRequest {
    std::wstring name;
    std::wstring sender;
    std::wstring data;
    std::uint64_t timeoutMs = 0;
};

struct ShimSubscription {
    std::wstring nameOrPattern;
    bool filter = false;
    void* context = nullptr;
    std::uint32_t id = 0;
    bool released = false;
};

class ScriptedShim : public Orvan::MessageBusShim {
public:
    enum class Answer { Body, BusTimeout, BusFailure, Nothing };

    // The script of the next requests; each field applies to every request until changed.
    std::uint32_t requestStatus = Orvan::MODULE_STATUS_SUCCESS;
    Answer answer = Answer::Body;
    std::wstring replyBody = L"{}";
    bool refuseSubscriptions = false;

    std::vector<SentRequest> requests;
    std::vector<ShimSubscription> subscriptions;

    std::uint32_t publish(const std::shared_ptr<Orvan::Message>&, bool) override {
        return Orvan::MODULE_STATUS_SUCCESS;
    }

    std::uint32_t request(const std::shared_ptr<Orvan::Message>& message, std::uint64_t replyIndex, void* context,
                          std::uint64_t timeoutMs, bool) override {
        if (!message) return Orvan::MODULE_STATUS_INVALID_PARAMETER;
        requests.push_back({message->getName(), message->getSender(), message->getData(), timeoutMs});
        if (requestStatus != Orvan::MODULE_STATUS_SUCCESS) return requestStatus;
        auto& reply = *static_cast<Orvan::ReplyFunction*>(context);
        switch (answer) {
            case Answer::Body:
                reply(replyIndex, Orvan::createMessage(message->getName(), L"SettingsManager", replyBody),
                      Orvan::MODULE_STATUS_SUCCESS);
                break;
            case Answer::BusTimeout:
                reply(replyIndex, nullptr, Orvan::MODULE_STATUS_TIMEOUT);
                break;
            case Answer::BusFailure:
                reply(replyIndex, nullptr, Orvan::MODULE_STATUS_UNSUCCESSFUL);
                break;
            case Answer::Nothing:
                break;
        }
        return Orvan::MODULE_STATUS_SUCCESS;
    }

    void unregisterReplyCallback() override {}

    std::uint32_t subscribe(const std::wstring& messageName, void* context) override {
        return add(messageName, false, context);
    }
    std::uint32_t subscribeFilter(const std::wstring& namePattern, void* context) override {
        return add(namePattern, true, context);
    }
    void releaseSubscription(std::uint32_t subscriptionId) override {
        for (ShimSubscription& s : subscriptions)
            if (s.id == subscriptionId) s.released = true;
    }

    // Delivers a notice to every live subscription it matches, as the library would; the handlers' statuses.
    std::vector<std::uint32_t> deliver(const std::wstring& name, const std::wstring& data) {
        std::vector<std::uint32_t> statuses;
        for (const ShimSubscription& s : subscriptions) {
            if (s.released) continue;
            const bool matches =
                s.filter ? std::regex_search(name, std::wregex(s.nameOrPattern)) : s.nameOrPattern == name;
            if (!matches) continue;
            statuses.push_back(Orvan::onBusDelivery(s.context, &Orvan::kDefaultMessageHeader, name.c_str(),
                                                    L"SettingsManager", data.c_str()));
        }
        return statuses;
    }

private:
    std::uint32_t add(const std::wstring& nameOrPattern, bool filter, void* context) {
        if (refuseSubscriptions) return 0;
        const auto id = static_cast<std::uint32_t>(subscriptions.size() + 1);
        subscriptions.push_back({nameOrPattern, filter, context, id, false});
        return id;
    }
};

// The real bus client over a scripted transport; `shim` stays the test's to script.
struct ScriptedBus {
    std::shared_ptr<ScriptedShim> shim = std::make_shared<ScriptedShim>();
    std::shared_ptr<Orvan::MessageBusClient> client = std::make_shared<Orvan::MessageBusClient>(shim, nullptr);
};

}  // namespace settingstest
