#pragma once
// The request logic of the settings-manager client: sending a body and waiting for the reply, and the checks every
// reply body passes before the client believes it. The checks read outside data and are written for it: each
// member is looked up and its kind tested before it is used.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clients/settings/SettingsManagerClient.h"

namespace Orvan {

class JSONFormatter;
class Reply;

class SettingsManagerClient::Impl {
public:
    explicit Impl(std::shared_ptr<MessageBus> bus);

    MessageBus& bus() { return *bus_; }

    // Sends `body` as the data of a request named `messageName` and, when the bus took it, waits on the reply until
    // its deadline. The bus's status: non-zero means no reply was made.
    std::uint32_t request(const wchar_t* messageName, JSONFormatter& body, std::shared_ptr<Reply>& reply,
                          const Timeout& timeoutMs);

    bool setProperty(JSONFormatter& body, const Timeout& timeoutMs);
    PropertyResults setProperties(const PropertyValues& values, bool isVolatile, const Timeout& timeoutMs);
    bool sendSetPropertiesRequest(JSONFormatter& body, JSONFormatter& replyBody, const Timeout& timeoutMs);

    // The reply step after the wait: the reply's status, then its data parsed into `replyBody`. The single and the
    // list forms differ only in their log lines.
    bool getSettingPropertyResponse(const std::shared_ptr<Reply>& reply, JSONFormatter& replyBody);
    bool getSettingPropertyResponseList(const std::shared_ptr<Reply>& reply, JSONFormatter& replyBody);

    // "name" of the reply is a string equal to the expected name.
    bool verifyPropertyName(const std::wstring& expected, JSONFormatter& replyBody);
    // "status" is the literal true and "value" a string; false without a log line when the status is false.
    bool getPropertyValue(JSONFormatter& replyObject, std::wstring& value);
    // The "responses" array of objects (absent: none), each element a formatter of its own.
    bool readResponses(JSONFormatter& replyBody, std::vector<JSONFormatter>& responses);
    // Runs a text-to-number conversion; its failures (logged) give false.
    bool tryConvert(const std::function<bool()>& conversion);

private:
    std::shared_ptr<MessageBus> bus_;
};

}  // namespace Orvan
