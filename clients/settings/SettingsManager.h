#pragma once
// What callers hold to use the suite's settings manager, a service that keeps named properties with text values
// and is reached only through requests on the message bus. Every property travels as text; the typed forms convert
// on this side. Every operation takes the time-out of its bus request last; a call blocks at most that time-out plus
// the reply's 1000 ms margin.
//
// Results: the single operations give true only when the settings manager confirmed the named property; the list
// operations give one entry per listed name (false unless confirmed). Nothing throws but allocation failure.
//
// The subscription operations turn a listener into a bus subscription that lives in the bus client, not here: it
// keeps its own copies of listener and name and runs on the bus library's threads.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace Orvan {

using PropertyNames = std::vector<std::wstring>;
using PropertyValues = std::unordered_map<std::wstring, std::wstring>;
using PropertyResults = std::unordered_map<std::wstring, bool>;
using PropertyNameListener = std::function<void(const std::wstring& name)>;
using PropertySetListener = std::function<void(const std::wstring& name, const std::wstring& value)>;
using PropertyNameFilter = std::function<bool(const std::wstring& name)>;

class SettingsManager {
public:
    using Timeout = std::uint64_t;  // milliseconds

    virtual ~SettingsManager() = default;

    virtual bool setProperty(const std::wstring& name, double value, const Timeout& timeoutMs) = 0;
    virtual bool setProperty(const std::wstring& name, unsigned int value, const Timeout& timeoutMs) = 0;
    virtual bool setProperty(const std::wstring& name, unsigned long long value, const Timeout& timeoutMs) = 0;
    virtual bool setProperty(const std::wstring& name, unsigned long value, const Timeout& timeoutMs) = 0;
    virtual bool setProperty(const std::wstring& name, long long value, const Timeout& timeoutMs) = 0;
    virtual bool setProperty(const std::wstring& name, int value, const Timeout& timeoutMs) = 0;
    virtual bool setProperty(const std::wstring& name, bool value, const Timeout& timeoutMs) = 0;
    // A null value is refused.
    virtual bool setProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeoutMs) = 0;
    virtual bool setProperty(const std::wstring& name, const std::wstring& value, const Timeout& timeoutMs) = 0;
    virtual PropertyResults setProperties(const PropertyValues& values, const Timeout& timeoutMs) = 0;

    virtual bool setVolatileProperty(const std::wstring& name, double value, const Timeout& timeoutMs) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, unsigned int value, const Timeout& timeoutMs) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, unsigned long long value, const Timeout& timeoutMs) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, unsigned long value, const Timeout& timeoutMs) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, long long value, const Timeout& timeoutMs) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, int value, const Timeout& timeoutMs) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, bool value, const Timeout& timeoutMs) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeoutMs) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, const std::wstring& value, const Timeout& timeoutMs) = 0;
    virtual PropertyResults setVolatileProperties(const PropertyValues& values, const Timeout& timeoutMs) = 0;

    // The typed forms store into `value` only when the text converts.
    virtual bool getProperty(const std::wstring& name, double& value, const Timeout& timeoutMs) = 0;
    virtual bool getProperty(const std::wstring& name, unsigned int& value, const Timeout& timeoutMs) = 0;
    virtual bool getProperty(const std::wstring& name, unsigned long long& value, const Timeout& timeoutMs) = 0;
    virtual bool getProperty(const std::wstring& name, unsigned long& value, const Timeout& timeoutMs) = 0;
    virtual bool getProperty(const std::wstring& name, long long& value, const Timeout& timeoutMs) = 0;
    virtual bool getProperty(const std::wstring& name, int& value, const Timeout& timeoutMs) = 0;
    virtual bool getProperty(const std::wstring& name, bool& value, const Timeout& timeoutMs) = 0;
    virtual bool getProperty(const std::wstring& name, std::wstring& value, const Timeout& timeoutMs) = 0;
    // Confirmed values are added to (or overwrite in) `values`, which is not cleared.
    virtual PropertyResults getProperties(const PropertyNames& names, PropertyValues& values,
                                          const Timeout& timeoutMs) = 0;
    // True when the request was answered, whatever it held; every confirmed name is added to `values`.
    virtual bool getPropertiesByPrefix(const PropertyNames& prefixes, PropertyValues& values,
                                       const Timeout& timeoutMs) = 0;
    virtual bool getPropertiesByPrefix(const std::wstring& prefix, PropertyValues& values,
                                       const Timeout& timeoutMs) = 0;

    virtual bool removeProperty(const std::wstring& name, const Timeout& timeoutMs) = 0;
    virtual PropertyResults removeProperties(const PropertyNames& names, const Timeout& timeoutMs) = 0;
    // Entries for the prefixes (false unless a confirmed name equals one) and for every confirmed name.
    virtual PropertyResults removePropertiesByPrefix(const PropertyNames& prefixes, const Timeout& timeoutMs) = 0;
    // The entry of the prefix itself.
    virtual bool removePropertiesByPrefix(const std::wstring& prefix, const Timeout& timeoutMs) = 0;

    // General set notices of one name, or of all names.
    virtual bool subscribePropertySet(PropertyNameListener listener, const std::wstring& name) = 0;
    virtual bool subscribePropertySet(PropertyNameListener listener) = 0;
    // Per-property notices; the name starts a regular expression, so longer names that begin with it are heard
    // too. An empty name subscribes (or withdraws) nothing and gives true.
    virtual bool subscribePropertySetByName(PropertySetListener listener, const std::wstring& name) = 0;
    virtual bool unsubscribePropertySetByName(const std::wstring& name) = 0;
    virtual bool subscribePropertyDeleteByName(PropertyNameListener listener, const std::wstring& name) = 0;
    virtual bool unsubscribePropertyDeleteByName(const std::wstring& name) = 0;
    // General remove notices of one name, or of all names.
    virtual bool subscribePropertyRemoved(PropertyNameListener listener, const std::wstring& name) = 0;
    virtual bool subscribePropertyRemoved(PropertyNameListener listener) = 0;
};

}  // namespace Orvan
