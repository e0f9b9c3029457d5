#include "clients/settings/SettingsManagerClient.h"

#include <new>
#include <stdexcept>

#include "clients/messagebus/Message.h"
#include "clients/messagebus/MessageBusClient.h"
#include "clients/messagebus/Reply.h"
#include "clients/settings/PropertyText.h"
#include "clients/settings/SettingsManagerClientImpl.h"
#include "clients/support/JSONFormatter.h"
#include "clients/support/ModuleStatus.h"
#include "foundation/logging/LogSite.h"

namespace Orvan {

namespace {

using ETWLogging::kSeverityError;
using ETWLogging::kSeverityWarning;

static_assert(sizeof(unsigned long) == 4, "the second 32-bit unsigned type");

// The client's log lines keep fixed line numbers and class-qualified function names, by which the suite's log
// readers know them; they do not follow this file's own lines.
template <class... Args>
void Log(DWORD severity, const wchar_t* function, DWORD line, const wchar_t* format, Args... args) {
    if (ETWLogging::IsLogEnabled(severity))
        ETWLogging::LogMessage(severity, LOG_SITE_FILE, function, line, format, args...);
}

constexpr wchar_t kGetInstance[] = L"Orvan::SettingsManagerClient::getInstance";
constexpr wchar_t kGetProperty[] = L"Orvan::SettingsManagerClient::getProperty";
constexpr wchar_t kGetProperties[] = L"Orvan::SettingsManagerClient::getProperties";
constexpr wchar_t kGetPropertiesByPrefix[] = L"Orvan::SettingsManagerClient::getPropertiesByPrefix";
constexpr wchar_t kRemoveProperty[] = L"Orvan::SettingsManagerClient::removeProperty";
constexpr wchar_t kRemoveProperties[] = L"Orvan::SettingsManagerClient::removeProperties";
constexpr wchar_t kRemovePropertiesByPrefix[] = L"Orvan::SettingsManagerClient::removePropertiesByPrefix";
constexpr wchar_t kTryConvert[] = L"Orvan::SettingsManagerClient::Impl::tryConvert";
constexpr wchar_t kImplSetProperty[] = L"Orvan::SettingsManagerClient::Impl::setProperty";
constexpr wchar_t kImplSetProperties[] = L"Orvan::SettingsManagerClient::Impl::setProperties";
constexpr wchar_t kSendSetProperties[] = L"Orvan::SettingsManagerClient::Impl::sendSetPropertiesRequest";
constexpr wchar_t kResponse[] = L"Orvan::SettingsManagerClient::Impl::getSettingPropertyResponse";
constexpr wchar_t kResponseList[] = L"Orvan::SettingsManagerClient::Impl::getSettingPropertyResponseList";
constexpr wchar_t kVerifyName[] = L"Orvan::SettingsManagerClient::Impl::verifyPropertyName";
constexpr wchar_t kPropertyValue[] = L"Orvan::SettingsManagerClient::Impl::getPropertyValue";
constexpr wchar_t kOnNotify[] = L"Orvan::SettingsManagerClient::onPropertyNotify";
constexpr wchar_t kOnNotifySet[] = L"Orvan::SettingsManagerClient::onPropertyNotifySet";
constexpr wchar_t kOnNotifyDelete[] = L"Orvan::SettingsManagerClient::onPropertyNotifyDelete";

constexpr wchar_t kGetPropertyMessage[] = L"SETTINGS_MANAGER_GET_PROPERTY";
constexpr wchar_t kSetPropertyMessage[] = L"SETTINGS_MANAGER_SET_PROPERTY";
constexpr wchar_t kRemovePropertyMessage[] = L"SETTINGS_MANAGER_REMOVE_PROPERTY";
constexpr wchar_t kGetPropertiesMessage[] = L"SettingsManager.GetProperties.Request";
constexpr wchar_t kSetPropertiesMessage[] = L"SettingsManager.SetProperties.Request";
constexpr wchar_t kRemovePropertiesMessage[] = L"SettingsManager.RemoveProperties.Request";
constexpr wchar_t kPropertySetNotice[] = L"SETTINGS_MANAGER_PROPERTY_SET";
constexpr wchar_t kPropertyRemovedNotice[] = L"SETTINGS_MANAGER_PROPERTY_REMOVED";
constexpr wchar_t kNotifySetPrefix[] = L"SettingsManager.Notify.Set.";
constexpr wchar_t kNotifyDeletePrefix[] = L"SettingsManager.Notify.Delete.";

constexpr wchar_t kName[] = L"name";
constexpr wchar_t kValue[] = L"value";
constexpr wchar_t kStatus[] = L"status";
constexpr wchar_t kVolatile[] = L"volatile";
constexpr wchar_t kIsPrefix[] = L"isPrefix";
constexpr wchar_t kProperties[] = L"properties";
constexpr wchar_t kResponses[] = L"responses";

// The request body of a list operation: one element per name, in order (a name listed twice is sent twice).
JSONFormatter ListBody(const PropertyNames& names, bool byPrefix) {
    JSONFormatter body;
    for (const std::wstring& name : names) {
        JSONFormatter element;
        element.setString(kName, name);
        if (byPrefix) element.setBool(kIsPrefix, true);
        body.appendObject(kProperties, element);
    }
    return body;
}

PropertyResults AllFalse(const PropertyNames& names) {
    PropertyResults results;
    for (const std::wstring& name : names) results[name] = false;
    return results;
}

std::wstring NotifyPattern(const wchar_t* prefix, const std::wstring& name) {
    // The name goes in as it is: it continues the expression, and ".*" lets longer names through as well.
    return L"^" + std::wstring(prefix) + name + L".*";
}

}  // namespace

// ---- Impl -------------------------------------------------------------------------------------------------------

SettingsManagerClient::Impl::Impl(std::shared_ptr<MessageBus> bus)
    : bus_(bus ? std::move(bus) : std::make_shared<MessageBusClient>()) {}

std::uint32_t SettingsManagerClient::Impl::request(const wchar_t* messageName, JSONFormatter& body,
                                                   std::shared_ptr<Reply>& reply, const Timeout& timeoutMs) {
    const std::shared_ptr<Message> message = createMessage(messageName, std::wstring(), body.toString());
    const std::uint32_t status = bus_->request(message, reply, timeoutMs);
    if (status == MODULE_STATUS_SUCCESS) reply->wait();
    return status;
}

namespace {

struct ReplyStepTexts {
    const wchar_t* function;
    DWORD timedOutLine;
    const wchar_t* timedOut;
    DWORD dataErrorLine;
    const wchar_t* dataError;
    DWORD unknownLine;
    const wchar_t* unknown;
    DWORD parseLine;
};

constexpr ReplyStepTexts kSingleReply = {
    kResponse, 1101, L"Property request timed out. Returning.",
    1106,      L"Property request failed with DATA_ERROR. Returning.",
    1111,      L"Property request failed on wait() with unknown error.",
    1118};
constexpr ReplyStepTexts kListReply = {
    kResponseList, 1130, L"Property list request timed out. Returning.",
    1135,          L"Property list request failed with DATA_ERROR. Returning.",
    1140,          L"Property list request failed on wait() with unknown error.",
    1147};

bool ReplyStep(const std::shared_ptr<Reply>& reply, JSONFormatter& replyBody, const ReplyStepTexts& texts) {
    const std::uint32_t status = reply->getStatus();
    if (status == Reply::kTimedOut) {
        Log(kSeverityWarning, texts.function, texts.timedOutLine, texts.timedOut);
        return false;
    }
    if (status == Reply::kInvalid) {
        Log(kSeverityWarning, texts.function, texts.dataErrorLine, texts.dataError);
        return false;
    }
    if (status != Reply::kReceived) {
        Log(kSeverityWarning, texts.function, texts.unknownLine, texts.unknown);
        return false;
    }
    const std::shared_ptr<Message> message = reply->getMessage();
    if (!message || !replyBody.parse(message->getData())) {
        Log(kSeverityWarning, texts.function, texts.parseLine,
            L"Failed to parse settings manager response message. Returning.");
        return false;
    }
    return true;
}

}  // namespace

bool SettingsManagerClient::Impl::getSettingPropertyResponse(const std::shared_ptr<Reply>& reply,
                                                             JSONFormatter& replyBody) {
    return ReplyStep(reply, replyBody, kSingleReply);
}

bool SettingsManagerClient::Impl::getSettingPropertyResponseList(const std::shared_ptr<Reply>& reply,
                                                                 JSONFormatter& replyBody) {
    return ReplyStep(reply, replyBody, kListReply);
}

bool SettingsManagerClient::Impl::verifyPropertyName(const std::wstring& expected, JSONFormatter& replyBody) {
    std::wstring name;
    if (!replyBody.getString(kName, name)) {
        Log(kSeverityWarning, kVerifyName, 1160, L"Failed to read settings manager response property name.");
        return false;
    }
    if (name != expected) {
        Log(kSeverityWarning, kVerifyName, 1167,
            L"Response property name (%ls) does not match expected property name (%ls).", name.c_str(),
            expected.c_str());
        return false;
    }
    return true;
}

bool SettingsManagerClient::Impl::getPropertyValue(JSONFormatter& replyObject, std::wstring& value) {
    bool status = false;
    if (!replyObject.getBool(kStatus, status)) {
        Log(kSeverityWarning, kPropertyValue, 1179, L"Failed to read settings manager response status.");
        return false;
    }
    if (!status) return false;
    if (!replyObject.getString(kValue, value)) {
        Log(kSeverityWarning, kPropertyValue, 1190, L"Failed to read settings manager response value.");
        return false;
    }
    return true;
}

bool SettingsManagerClient::Impl::readResponses(JSONFormatter& replyBody, std::vector<JSONFormatter>& responses) {
    responses.clear();
    std::vector<JSONFormatter> elements;
    if (!replyBody.getObjectArray(kResponses, elements)) return false;
    for (JSONFormatter& element : elements) {
        JSONFormatter fresh;
        if (!fresh.parse(element.toString())) return false;
        responses.push_back(std::move(fresh));
    }
    return true;
}

bool SettingsManagerClient::Impl::tryConvert(const std::function<bool()>& conversion) {
    try {
        return conversion();
    } catch (const std::invalid_argument&) {
        Log(kSeverityWarning, kTryConvert, 945, L"Conversion failed due to invalid arguments.");
    } catch (const std::out_of_range&) {
        Log(kSeverityWarning, kTryConvert, 949, L"Conversion failed, out of range for destination type.");
    } catch (...) {
    }
    return false;
}

bool SettingsManagerClient::Impl::setProperty(JSONFormatter& body, const Timeout& timeoutMs) {
    std::shared_ptr<Reply> reply;
    const std::uint32_t status = request(kSetPropertyMessage, body, reply, timeoutMs);
    if (status != MODULE_STATUS_SUCCESS) {
        Log(kSeverityWarning, kImplSetProperty, 968, L"Failed to make set property request. Error code: %ls(%lu)",
            moduleStatusToString(status), static_cast<unsigned long>(status));
        return false;
    }
    JSONFormatter replyBody;
    if (!getSettingPropertyResponse(reply, replyBody)) return false;
    std::wstring name;
    body.getString(kName, name);
    if (!verifyPropertyName(name, replyBody)) return false;
    bool confirmed = false;
    if (!replyBody.getBool(kStatus, confirmed)) {
        Log(kSeverityWarning, kImplSetProperty, 990, L"Failed to read settings manager response status.");
        return false;
    }
    if (!confirmed) {
        Log(kSeverityWarning, kImplSetProperty, 996, L"Settings Manager failed to set property value.");
        return false;
    }
    return true;
}

bool SettingsManagerClient::Impl::sendSetPropertiesRequest(JSONFormatter& body, JSONFormatter& replyBody,
                                                           const Timeout& timeoutMs) {
    std::shared_ptr<Reply> reply;
    const std::uint32_t status = request(kSetPropertiesMessage, body, reply, timeoutMs);
    if (status != MODULE_STATUS_SUCCESS) {
        Log(kSeverityWarning, kSendSetProperties, 1081, L"Failed to make set properties request. Error code: %ls(%lu)",
            moduleStatusToString(status), static_cast<unsigned long>(status));
        return false;
    }
    return getSettingPropertyResponseList(reply, replyBody);
}

PropertyResults SettingsManagerClient::Impl::setProperties(const PropertyValues& values, bool isVolatile,
                                                           const Timeout& timeoutMs) {
    PropertyResults results;
    JSONFormatter body;
    for (const auto& [name, value] : values) {
        results[name] = false;
        JSONFormatter element;
        element.setString(kName, name);
        element.setString(kValue, value);
        element.setBool(kVolatile, isVolatile);
        body.appendObject(kProperties, element);
    }
    JSONFormatter replyBody;
    if (!sendSetPropertiesRequest(body, replyBody, timeoutMs)) {
        Log(kSeverityError, kImplSetProperties, 1023, L"Failed to set properties. Unable to make request.");
        return results;
    }
    std::vector<JSONFormatter> responses;
    if (!readResponses(replyBody, responses)) {
        Log(kSeverityError, kImplSetProperties, 1030, L"Failed to set properties. Unable to parse responses.");
        return results;
    }
    for (JSONFormatter& response : responses) {
        std::wstring name;
        if (!response.getString(kName, name)) {
            Log(kSeverityWarning, kImplSetProperties, 1039, L"Failed to read settings property response name.");
            continue;
        }
        const auto entry = results.find(name);
        if (entry == results.end()) {
            Log(kSeverityWarning, kImplSetProperties, 1046, L"Received unexpected setting property response. Name: %ls.",
                name.c_str());
            continue;
        }
        bool confirmed = false;
        if (!response.getBool(kStatus, confirmed)) {
            Log(kSeverityWarning, kImplSetProperties, 1053,
                L"Failed to read settings manager response status. Property Name: %ls", name.c_str());
            continue;
        }
        if (!confirmed) {
            Log(kSeverityWarning, kImplSetProperties, 1059,
                L"Settings Manager failed to set property value. Property Name: %ls", name.c_str());
            continue;
        }
        entry->second = true;
    }
    return results;
}

// ---- client -----------------------------------------------------------------------------------------------------

std::unique_ptr<SettingsManager> SettingsManagerClient::getInstance() {
    try {
        return std::make_unique<SettingsManagerClient>(nullptr);
    } catch (const ModuleException& e) {
        Log(kSeverityError, kGetInstance, 102,
            L"Failed to create settings manager client. Caught ModuleException - what: %hs.", e.what());
    } catch (const std::bad_alloc&) {
        Log(kSeverityError, kGetInstance, 106,
            L"Failed to create settings manager client. Caught bad_alloc - Failed to alllocate resources.");
    } catch (const std::exception& e) {
        Log(kSeverityError, kGetInstance, 110,
            L"Faield to create setting smanager client. Caught standard exception - what: %hs.", e.what());
    } catch (...) {
        Log(kSeverityError, kGetInstance, 114, L"Failed to create settings manager client. Caught unexpected exception.");
    }
    return nullptr;
}

SettingsManagerClient::SettingsManagerClient(std::shared_ptr<MessageBus> bus)
    : impl_(std::make_unique<Impl>(std::move(bus))) {}

SettingsManagerClient::~SettingsManagerClient() = default;

bool SettingsManagerClient::setText(const std::wstring& name, const std::wstring& value, bool isVolatile,
                                    const Timeout& timeoutMs) {
    JSONFormatter body;
    body.setString(kName, name);
    body.setString(kValue, value);
    body.setBool(kVolatile, isVolatile);
    return impl_->setProperty(body, timeoutMs);
}

bool SettingsManagerClient::setCText(const std::wstring& name, const wchar_t* value, bool isVolatile,
                                     const Timeout& timeoutMs) {
    if (!value) {
        // Refused here: making a std::wstring of it would throw at the caller.
        Log(kSeverityWarning, kImplSetProperty, 968, L"Failed to make set property request. Error code: %ls(%lu)",
            moduleStatusToString(MODULE_STATUS_INVALID_PARAMETER),
            static_cast<unsigned long>(MODULE_STATUS_INVALID_PARAMETER));
        return false;
    }
    return setText(name, std::wstring(value), isVolatile, timeoutMs);
}

bool SettingsManagerClient::setProperty(const std::wstring& name, double value, const Timeout& timeoutMs) {
    return setText(name, PropertyText::General(value), false, timeoutMs);
}
bool SettingsManagerClient::setProperty(const std::wstring& name, unsigned int value, const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), false, timeoutMs);
}
bool SettingsManagerClient::setProperty(const std::wstring& name, unsigned long long value,
                                        const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), false, timeoutMs);
}
bool SettingsManagerClient::setProperty(const std::wstring& name, unsigned long value, const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), false, timeoutMs);
}
bool SettingsManagerClient::setProperty(const std::wstring& name, long long value, const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), false, timeoutMs);
}
bool SettingsManagerClient::setProperty(const std::wstring& name, int value, const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), false, timeoutMs);
}
bool SettingsManagerClient::setProperty(const std::wstring& name, bool value, const Timeout& timeoutMs) {
    return setText(name, value ? L"1" : L"0", false, timeoutMs);
}
bool SettingsManagerClient::setProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeoutMs) {
    return setCText(name, value, false, timeoutMs);
}
bool SettingsManagerClient::setProperty(const std::wstring& name, const std::wstring& value,
                                        const Timeout& timeoutMs) {
    return setText(name, value, false, timeoutMs);
}
PropertyResults SettingsManagerClient::setProperties(const PropertyValues& values, const Timeout& timeoutMs) {
    return impl_->setProperties(values, false, timeoutMs);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, double value, const Timeout& timeoutMs) {
    return setText(name, PropertyText::Fixed(value), true, timeoutMs);
}
bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, unsigned int value,
                                                const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), true, timeoutMs);
}
bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, unsigned long long value,
                                                const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), true, timeoutMs);
}
bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, unsigned long value,
                                                const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), true, timeoutMs);
}
bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, long long value,
                                                const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), true, timeoutMs);
}
bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, int value, const Timeout& timeoutMs) {
    return setText(name, std::to_wstring(value), true, timeoutMs);
}
bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, bool value, const Timeout& timeoutMs) {
    return setText(name, value ? L"1" : L"0", true, timeoutMs);
}
bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, const wchar_t* value,
                                                const Timeout& timeoutMs) {
    return setCText(name, value, true, timeoutMs);
}
bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, const std::wstring& value,
                                                const Timeout& timeoutMs) {
    return setText(name, value, true, timeoutMs);
}
PropertyResults SettingsManagerClient::setVolatileProperties(const PropertyValues& values,
                                                             const Timeout& timeoutMs) {
    return impl_->setProperties(values, true, timeoutMs);
}

bool SettingsManagerClient::getProperty(const std::wstring& name, std::wstring& value, const Timeout& timeoutMs) {
    JSONFormatter body;
    body.setString(kName, name);
    std::shared_ptr<Reply> reply;
    const std::uint32_t status = impl_->request(kGetPropertyMessage, body, reply, timeoutMs);
    if (status != MODULE_STATUS_SUCCESS) {
        Log(kSeverityWarning, kGetProperty, 257, L"Failed to make get property request. Error code: %ls(%lu)",
            moduleStatusToString(status), static_cast<unsigned long>(status));
        return false;
    }
    JSONFormatter replyBody;
    return impl_->getSettingPropertyResponse(reply, replyBody) && impl_->verifyPropertyName(name, replyBody) &&
           impl_->getPropertyValue(replyBody, value);
}

template <class T>
bool SettingsManagerClient::getConverted(const std::wstring& name, T& value, const Timeout& timeoutMs) {
    std::wstring text;
    if (!getProperty(name, text, timeoutMs)) return false;
    return impl_->tryConvert([&] {
        if constexpr (std::is_same_v<T, double>) {
            value = PropertyText::ToDouble(text);
        } else if constexpr (std::is_same_v<T, bool>) {
            value = PropertyText::ToInt32(text) != 0;
        } else if constexpr (std::is_same_v<T, int>) {
            value = PropertyText::ToInt32(text);
        } else if constexpr (std::is_same_v<T, long long>) {
            value = PropertyText::ToInt64(text);
        } else if constexpr (std::is_same_v<T, unsigned long long>) {
            value = PropertyText::ToUInt64(text);
        } else {
            static_assert(sizeof(T) == 4 && std::is_unsigned_v<T>);
            value = static_cast<T>(PropertyText::ToUInt32(text));
        }
        return true;
    });
}

bool SettingsManagerClient::getProperty(const std::wstring& name, double& value, const Timeout& timeoutMs) {
    return getConverted(name, value, timeoutMs);
}
bool SettingsManagerClient::getProperty(const std::wstring& name, unsigned int& value, const Timeout& timeoutMs) {
    return getConverted(name, value, timeoutMs);
}
bool SettingsManagerClient::getProperty(const std::wstring& name, unsigned long long& value,
                                        const Timeout& timeoutMs) {
    return getConverted(name, value, timeoutMs);
}
bool SettingsManagerClient::getProperty(const std::wstring& name, unsigned long& value, const Timeout& timeoutMs) {
    return getConverted(name, value, timeoutMs);
}
bool SettingsManagerClient::getProperty(const std::wstring& name, long long& value, const Timeout& timeoutMs) {
    return getConverted(name, value, timeoutMs);
}
bool SettingsManagerClient::getProperty(const std::wstring& name, int& value, const Timeout& timeoutMs) {
    return getConverted(name, value, timeoutMs);
}
bool SettingsManagerClient::getProperty(const std::wstring& name, bool& value, const Timeout& timeoutMs) {
    return getConverted(name, value, timeoutMs);
}

PropertyResults SettingsManagerClient::getProperties(const PropertyNames& names, PropertyValues& values,
                                                     const Timeout& timeoutMs) {
    PropertyResults results = AllFalse(names);
    JSONFormatter body = ListBody(names, false);
    std::shared_ptr<Reply> reply;
    const std::uint32_t status = impl_->request(kGetPropertiesMessage, body, reply, timeoutMs);
    if (status != MODULE_STATUS_SUCCESS) {
        Log(kSeverityWarning, kGetProperties, 401, L"Failed to make get properties request. Error code: %ls(%lu)",
            moduleStatusToString(status), static_cast<unsigned long>(status));
        return results;
    }
    JSONFormatter replyBody;
    std::vector<JSONFormatter> responses;
    if (!impl_->getSettingPropertyResponseList(reply, replyBody) || !impl_->readResponses(replyBody, responses))
        return results;
    for (JSONFormatter& response : responses) {
        std::wstring name;
        if (!response.getString(kName, name)) {
            Log(kSeverityWarning, kGetProperties, 424, L"Failed to read settings property response name.");
            continue;
        }
        const auto entry = results.find(name);
        if (entry == results.end()) {
            Log(kSeverityWarning, kGetProperties, 430, L"Received an unexpected setting property. Name: %ls.",
                name.c_str());
            continue;
        }
        std::wstring value;
        if (!impl_->getPropertyValue(response, value)) continue;
        entry->second = true;
        values[name] = value;
    }
    return results;
}

bool SettingsManagerClient::getPropertiesByPrefix(const PropertyNames& prefixes, PropertyValues& values,
                                                  const Timeout& timeoutMs) {
    JSONFormatter body = ListBody(prefixes, true);
    std::shared_ptr<Reply> reply;
    const std::uint32_t status = impl_->request(kGetPropertiesMessage, body, reply, timeoutMs);
    if (status != MODULE_STATUS_SUCCESS) {
        Log(kSeverityWarning, kGetPropertiesByPrefix, 482,
            L"Failed to make get properties request. Error code: %ls(%lu)", moduleStatusToString(status),
            static_cast<unsigned long>(status));
        return false;
    }
    JSONFormatter replyBody;
    std::vector<JSONFormatter> responses;
    if (!impl_->getSettingPropertyResponseList(reply, replyBody) || !impl_->readResponses(replyBody, responses))
        return false;
    for (JSONFormatter& response : responses) {
        std::wstring name;
        if (!response.getString(kName, name)) {
            Log(kSeverityWarning, kGetPropertiesByPrefix, 505,
                L"Failed to read settings property response name. Skipping");
            continue;
        }
        std::wstring value;
        if (impl_->getPropertyValue(response, value)) values[name] = value;
    }
    return true;
}

bool SettingsManagerClient::getPropertiesByPrefix(const std::wstring& prefix, PropertyValues& values,
                                                  const Timeout& timeoutMs) {
    return getPropertiesByPrefix(PropertyNames{prefix}, values, timeoutMs);
}

bool SettingsManagerClient::removeProperty(const std::wstring& name, const Timeout& timeoutMs) {
    JSONFormatter body;
    body.setString(kName, name);
    std::shared_ptr<Reply> reply;
    const std::uint32_t status = impl_->request(kRemovePropertyMessage, body, reply, timeoutMs);
    if (status != MODULE_STATUS_SUCCESS) {
        Log(kSeverityWarning, kRemoveProperty, 533, L"Failed to make remove property request. Error code: %ls(%lu)",
            moduleStatusToString(status), static_cast<unsigned long>(status));
        return false;
    }
    JSONFormatter replyBody;
    if (!impl_->getSettingPropertyResponse(reply, replyBody) || !impl_->verifyPropertyName(name, replyBody))
        return false;
    bool confirmed = false;
    if (!replyBody.getBool(kStatus, confirmed)) {
        Log(kSeverityWarning, kRemoveProperty, 553, L"Failed to read settings manager response status.");
        return false;
    }
    if (!confirmed) {
        Log(kSeverityWarning, kRemoveProperty, 559, L"Settings Manager failed to remove property.");
        return false;
    }
    return true;
}

namespace {

struct RemoveListTexts {
    const wchar_t* function;
    DWORD requestLine, replyLine, responsesLine, nameLine, unexpectedLine, statusLine, refusedLine;
    const wchar_t* requestFailed;
};

constexpr RemoveListTexts kRemoveByName = {kRemoveProperties, 588, 598, 605, 614, 620, 627, 633,
                                           L"Failed to make remove properties request. Error code: %ls(%lu)"};
constexpr RemoveListTexts kRemoveByPrefix = {
    kRemovePropertiesByPrefix, 673, 683, 690, 699, 0, 706, 712,
    L"Failed to make remove properties by prefix request. Error code: %ls(%lu)"};

}  // namespace

PropertyResults SettingsManagerClient::removeList(const PropertyNames& names, bool byPrefix,
                                                  const Timeout& timeoutMs) {
    const RemoveListTexts& texts = byPrefix ? kRemoveByPrefix : kRemoveByName;
    PropertyResults results = AllFalse(names);
    JSONFormatter body = ListBody(names, byPrefix);
    std::shared_ptr<Reply> reply;
    const std::uint32_t status = impl_->request(kRemovePropertiesMessage, body, reply, timeoutMs);
    if (status != MODULE_STATUS_SUCCESS) {
        Log(kSeverityWarning, texts.function, texts.requestLine, texts.requestFailed, moduleStatusToString(status),
            static_cast<unsigned long>(status));
        return results;
    }
    JSONFormatter replyBody;
    if (!impl_->getSettingPropertyResponseList(reply, replyBody)) {
        // The request's own status goes with it, which is success by now.
        Log(kSeverityWarning, texts.function, texts.replyLine,
            L"Failed to parse remove properties response. Error code: %ls(%lu)", moduleStatusToString(status),
            static_cast<unsigned long>(status));
        return results;
    }
    std::vector<JSONFormatter> responses;
    if (!impl_->readResponses(replyBody, responses)) {
        Log(kSeverityError, texts.function, texts.responsesLine,
            L"Failed to parse statuses from remove properties response.");
        return results;
    }
    for (JSONFormatter& response : responses) {
        std::wstring name;
        if (!response.getString(kName, name)) {
            Log(kSeverityWarning, texts.function, texts.nameLine, L"Failed to read settings property response name.");
            continue;
        }
        // Names under a prefix are not known beforehand; listed names are.
        if (!byPrefix && results.find(name) == results.end()) {
            Log(kSeverityWarning, texts.function, texts.unexpectedLine,
                L"Received unexpected setting property. Name: %ls.", name.c_str());
            continue;
        }
        bool confirmed = false;
        if (!response.getBool(kStatus, confirmed)) {
            Log(kSeverityWarning, texts.function, texts.statusLine,
                L"Failed to read settings manager response status. Property Name: %ls", name.c_str());
            continue;
        }
        if (!confirmed) {
            Log(kSeverityWarning, texts.function, texts.refusedLine,
                L"Settings Manager failed to remove property. Property Name: %ls", name.c_str());
            continue;
        }
        results[name] = true;
    }
    return results;
}

PropertyResults SettingsManagerClient::removeProperties(const PropertyNames& names, const Timeout& timeoutMs) {
    return removeList(names, false, timeoutMs);
}

PropertyResults SettingsManagerClient::removePropertiesByPrefix(const PropertyNames& prefixes,
                                                                const Timeout& timeoutMs) {
    return removeList(prefixes, true, timeoutMs);
}

bool SettingsManagerClient::removePropertiesByPrefix(const std::wstring& prefix, const Timeout& timeoutMs) {
    return removePropertiesByPrefix(PropertyNames{prefix}, timeoutMs)[prefix];
}

// ---- subscriptions ----------------------------------------------------------------------------------------------

bool SettingsManagerClient::subscribeGeneral(const wchar_t* messageName, PropertyNameListener listener,
                                             PropertyNameFilter filter) {
    SubscriptionHandler handler = [listener = std::move(listener),
                                   filter = std::move(filter)](std::shared_ptr<Message> message) {
        return onPropertyNotify(std::move(message), listener, filter);
    };
    return impl_->bus().subscribe(messageName, std::move(handler)) == MODULE_STATUS_SUCCESS;
}

namespace {

PropertyNameFilter AcceptAll() {
    return [](const std::wstring&) { return true; };
}

PropertyNameFilter ByName(const std::wstring& subscribed) {
    return [subscribed](const std::wstring& name) { return name == subscribed; };
}

}  // namespace

bool SettingsManagerClient::subscribePropertySet(PropertyNameListener listener, const std::wstring& name) {
    return subscribeGeneral(kPropertySetNotice, std::move(listener), ByName(name));
}

bool SettingsManagerClient::subscribePropertySet(PropertyNameListener listener) {
    return subscribeGeneral(kPropertySetNotice, std::move(listener), AcceptAll());
}

bool SettingsManagerClient::subscribePropertyRemoved(PropertyNameListener listener, const std::wstring& name) {
    return subscribeGeneral(kPropertyRemovedNotice, std::move(listener), ByName(name));
}

bool SettingsManagerClient::subscribePropertyRemoved(PropertyNameListener listener) {
    return subscribeGeneral(kPropertyRemovedNotice, std::move(listener), AcceptAll());
}

bool SettingsManagerClient::subscribePropertySetByName(PropertySetListener listener, const std::wstring& name) {
    if (name.empty()) return true;
    SubscriptionHandler handler = [listener = std::move(listener)](std::shared_ptr<Message> message) {
        // The pattern alone selects: the body's name is not compared with the subscribed one.
        return onPropertyNotifySet(std::move(message), listener);
    };
    return impl_->bus().subscribeFilter(NotifyPattern(kNotifySetPrefix, name), std::move(handler)) ==
           MODULE_STATUS_SUCCESS;
}

bool SettingsManagerClient::unsubscribePropertySetByName(const std::wstring& name) {
    if (name.empty()) return true;
    return impl_->bus().unsubscribe(NotifyPattern(kNotifySetPrefix, name)) == MODULE_STATUS_SUCCESS;
}

bool SettingsManagerClient::subscribePropertyDeleteByName(PropertyNameListener listener, const std::wstring& name) {
    if (name.empty()) return true;
    SubscriptionHandler handler = [listener = std::move(listener)](std::shared_ptr<Message> message) {
        return onPropertyNotifyDelete(std::move(message), listener);
    };
    return impl_->bus().subscribeFilter(NotifyPattern(kNotifyDeletePrefix, name), std::move(handler)) ==
           MODULE_STATUS_SUCCESS;
}

bool SettingsManagerClient::unsubscribePropertyDeleteByName(const std::wstring& name) {
    if (name.empty()) return true;
    return impl_->bus().unsubscribe(NotifyPattern(kNotifyDeletePrefix, name)) == MODULE_STATUS_SUCCESS;
}

namespace {

struct NoticeLines {
    const wchar_t* function;
    DWORD parseLine, nameLine, valueLine;
};

// The members a notice must hold before a listener hears of it; false (logged) when it lacks them. `value` is read
// only when asked for.
bool ReadNotice(const std::shared_ptr<Message>& message, const NoticeLines& lines, std::wstring& name,
                std::wstring* value) {
    JSONFormatter body;
    if (!message || !body.parse(message->getData())) {
        Log(kSeverityWarning, lines.function, lines.parseLine, L"Failed to parse setting property data.");
        return false;
    }
    if (!body.getString(kName, name)) {
        Log(kSeverityWarning, lines.function, lines.nameLine, L"Failed to read setting property name.");
        return false;
    }
    if (value && !body.getString(kValue, *value)) {
        Log(kSeverityWarning, lines.function, lines.valueLine, L"Failed to read setting value.");
        return false;
    }
    return true;
}

}  // namespace

std::uint32_t SettingsManagerClient::onPropertyNotify(std::shared_ptr<Message> message,
                                                      const PropertyNameListener& listener,
                                                      const PropertyNameFilter& filter) {
    if (!listener) return MODULE_STATUS_SUCCESS;
    std::wstring name;
    if (!ReadNotice(message, {kOnNotify, 843, 850, 0}, name, nullptr)) return MODULE_STATUS_DATA_ERROR;
    if (filter && filter(name)) listener(name);
    return MODULE_STATUS_SUCCESS;
}

std::uint32_t SettingsManagerClient::onPropertyNotifySet(std::shared_ptr<Message> message,
                                                         const PropertySetListener& listener) {
    if (!listener) return MODULE_STATUS_SUCCESS;
    std::wstring name, value;
    if (!ReadNotice(message, {kOnNotifySet, 874, 881, 888}, name, &value)) return MODULE_STATUS_DATA_ERROR;
    listener(name, value);
    return MODULE_STATUS_SUCCESS;
}

std::uint32_t SettingsManagerClient::onPropertyNotifyDelete(std::shared_ptr<Message> message,
                                                            const PropertyNameListener& listener) {
    if (!listener) return MODULE_STATUS_SUCCESS;
    std::wstring name;
    if (!ReadNotice(message, {kOnNotifyDelete, 907, 914, 0}, name, nullptr)) return MODULE_STATUS_DATA_ERROR;
    listener(name);
    return MODULE_STATUS_SUCCESS;
}

}  // namespace Orvan
