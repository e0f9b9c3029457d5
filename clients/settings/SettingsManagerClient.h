#pragma once
// The settings-manager client: each call builds a JSON body, sends it as the data of a message (empty sender, so
// the program's own file name) through the bus's synchronous request, waits on the reply and checks the reply body,
// which is outside data: a body that is not JSON, not an object, lacks members or holds the wrong kinds is refused.
// The client keeps no state beyond its bus client and takes no lock; see SettingsManager.h for the results.
#include <cstdint>
#include <memory>
#include <string>

#include "clients/settings/SettingsManager.h"

namespace Orvan {

class Message;
class MessageBus;

class SettingsManagerClient : public SettingsManager {
public:
    class Impl;

    // A new client, with a bus client of its own (which loads the bus library), on every call; empty on failure.
    static std::unique_ptr<SettingsManager> getInstance();

    // An empty bus is replaced by a new message-bus client.
    explicit SettingsManagerClient(std::shared_ptr<MessageBus> bus);
    SettingsManagerClient(const SettingsManagerClient&) = delete;
    SettingsManagerClient& operator=(const SettingsManagerClient&) = delete;
    ~SettingsManagerClient() override;

    bool setProperty(const std::wstring& name, double value, const Timeout& timeoutMs) override;
    bool setProperty(const std::wstring& name, unsigned int value, const Timeout& timeoutMs) override;
    bool setProperty(const std::wstring& name, unsigned long long value, const Timeout& timeoutMs) override;
    bool setProperty(const std::wstring& name, unsigned long value, const Timeout& timeoutMs) override;
    bool setProperty(const std::wstring& name, long long value, const Timeout& timeoutMs) override;
    bool setProperty(const std::wstring& name, int value, const Timeout& timeoutMs) override;
    bool setProperty(const std::wstring& name, bool value, const Timeout& timeoutMs) override;
    bool setProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeoutMs) override;
    bool setProperty(const std::wstring& name, const std::wstring& value, const Timeout& timeoutMs) override;
    PropertyResults setProperties(const PropertyValues& values, const Timeout& timeoutMs) override;

    bool setVolatileProperty(const std::wstring& name, double value, const Timeout& timeoutMs) override;
    bool setVolatileProperty(const std::wstring& name, unsigned int value, const Timeout& timeoutMs) override;
    bool setVolatileProperty(const std::wstring& name, unsigned long long value, const Timeout& timeoutMs) override;
    bool setVolatileProperty(const std::wstring& name, unsigned long value, const Timeout& timeoutMs) override;
    bool setVolatileProperty(const std::wstring& name, long long value, const Timeout& timeoutMs) override;
    bool setVolatileProperty(const std::wstring& name, int value, const Timeout& timeoutMs) override;
    bool setVolatileProperty(const std::wstring& name, bool value, const Timeout& timeoutMs) override;
    bool setVolatileProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeoutMs) override;
    bool setVolatileProperty(const std::wstring& name, const std::wstring& value, const Timeout& timeoutMs) override;
    PropertyResults setVolatileProperties(const PropertyValues& values, const Timeout& timeoutMs) override;

    bool getProperty(const std::wstring& name, double& value, const Timeout& timeoutMs) override;
    bool getProperty(const std::wstring& name, unsigned int& value, const Timeout& timeoutMs) override;
    bool getProperty(const std::wstring& name, unsigned long long& value, const Timeout& timeoutMs) override;
    bool getProperty(const std::wstring& name, unsigned long& value, const Timeout& timeoutMs) override;
    bool getProperty(const std::wstring& name, long long& value, const Timeout& timeoutMs) override;
    bool getProperty(const std::wstring& name, int& value, const Timeout& timeoutMs) override;
    bool getProperty(const std::wstring& name, bool& value, const Timeout& timeoutMs) override;
    bool getProperty(const std::wstring& name, std::wstring& value, const Timeout& timeoutMs) override;
    PropertyResults getProperties(const PropertyNames& names, PropertyValues& values,
                                  const Timeout& timeoutMs) override;
    bool getPropertiesByPrefix(const PropertyNames& prefixes, PropertyValues& values,
                               const Timeout& timeoutMs) override;
    bool getPropertiesByPrefix(const std::wstring& prefix, PropertyValues& values, const Timeout& timeoutMs) override;

    bool removeProperty(const std::wstring& name, const Timeout& timeoutMs) override;
    PropertyResults removeProperties(const PropertyNames& names, const Timeout& timeoutMs) override;
    PropertyResults removePropertiesByPrefix(const PropertyNames& prefixes, const Timeout& timeoutMs) override;
    bool removePropertiesByPrefix(const std::wstring& prefix, const Timeout& timeoutMs) override;

    bool subscribePropertySet(PropertyNameListener listener, const std::wstring& name) override;
    bool subscribePropertySet(PropertyNameListener listener) override;
    bool subscribePropertySetByName(PropertySetListener listener, const std::wstring& name) override;
    bool unsubscribePropertySetByName(const std::wstring& name) override;
    bool subscribePropertyDeleteByName(PropertyNameListener listener, const std::wstring& name) override;
    bool unsubscribePropertyDeleteByName(const std::wstring& name) override;
    bool subscribePropertyRemoved(PropertyNameListener listener, const std::wstring& name) override;
    bool subscribePropertyRemoved(PropertyNameListener listener) override;

    // The bus handlers of the subscriptions; they use nothing of the client. Each answers the bus 0, or
    // MODULE_STATUS_DATA_ERROR for a notice it cannot read (the listener is not called then).
    static std::uint32_t onPropertyNotify(std::shared_ptr<Message> message, const PropertyNameListener& listener,
                                          const PropertyNameFilter& filter);
    static std::uint32_t onPropertyNotifySet(std::shared_ptr<Message> message, const PropertySetListener& listener);
    static std::uint32_t onPropertyNotifyDelete(std::shared_ptr<Message> message,
                                                const PropertyNameListener& listener);

private:
    template <class T>
    bool getConverted(const std::wstring& name, T& value, const Timeout& timeoutMs);
    bool setText(const std::wstring& name, const std::wstring& value, bool isVolatile, const Timeout& timeoutMs);
    bool setCText(const std::wstring& name, const wchar_t* value, bool isVolatile, const Timeout& timeoutMs);
    bool subscribeGeneral(const wchar_t* messageName, PropertyNameListener listener, PropertyNameFilter filter);
    PropertyResults removeList(const PropertyNames& names, bool byPrefix, const Timeout& timeoutMs);

    std::unique_ptr<Impl> impl_;
};

}  // namespace Orvan
