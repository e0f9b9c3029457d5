#pragma once
// The configuration of the suite's service host, read once from HKLM "SOFTWARE\Torvex\Platform\QzSvcHost" (the
// process's own registry view, KEY_ALL_ACCESS) when the store is built: the install folder, the working-set tuning
// values (each clamped to its range or defaulted) and the service groups. Each subkey of the main key is a group;
// its default value lists the group's Windows services separated by ";", and a named value of the group whose name
// equals a listed service carries that service's value text.
// Every text read from the registry is lower-cased before it is kept, compared or split. Nothing leaves the
// constructor as a failure: each registry failure is logged and the store keeps what it had read; the first group
// that cannot be loaded ends the loading, the groups before it stay.
#include <windows.h>

#include <list>
#include <map>
#include <string>
#include <vector>

class CQzConfigStore {
public:
    using ServiceMap = std::map<std::wstring, std::wstring>;  // service name -> value text

    // Clamped or defaulted working-set values; they only reach the configuration log line.
    struct WorkingSet {
        DWORD cpuLimit = 5;
        DWORD cpuInterval = 5000;
        DWORD timerBase = 600000;
        DWORD randomizationRange = 600000;
        DWORD limitFactor = 30;
        DWORD optimalBucketUpperLimit = 0;
        DWORD bucketRange = 0x500000;
        DWORD optimalOccuranceCount = 3;
        DWORD processorIdleWaitTime = 60000;
    };

    // All groups, or none: a single group is loaded through _Init with its name.
    explicit CQzConfigStore(bool allGroups);
    ~CQzConfigStore() = default;
    CQzConfigStore(const CQzConfigStore&) = delete;
    CQzConfigStore& operator=(const CQzConfigStore&) = delete;

    // Every service of every group: groups in name order, each group's services in name order. A service that two
    // groups list is in the list twice. Always 0.
    DWORD getServiceList(std::list<std::wstring>& services) const;

    // Reads the configuration. In all-groups mode the group name is ignored; otherwise a non-empty name loads that
    // group alone, with its bucket limit and OOBE exclusion list.
    void _Init(const std::wstring& groupName);
    // The group's services from its default value, each with its value text (empty when the group has none).
    bool _LoadServiceInfo(HKEY groupKey, ServiceMap& services);
    // The data of every value under "<group>\OobeExclusionList".
    bool loadOobeExclusionList(const std::wstring& group, std::list<std::wstring>& names);
    // True when the DWORD was read; `value` is then the datum when min <= datum <= max, else `fallback`.
    bool getDwordValueWithMinMaxCheck(HKEY key, const wchar_t* name, DWORD& value, DWORD min, DWORD max,
                                      DWORD fallback);

    // Registry calls that log their own failure.
    LONG _RegOpenKey(HKEY hive, const std::wstring& path, HKEY& key, bool create);
    LONG _RegQueryInfoKey(HKEY key, DWORD* subkeys, DWORD* values);
    LONG _RegQueryValue(HKEY key, const wchar_t* name, DWORD& value);
    // At most 1022 bytes (234 beyond), terminated and lower-cased; the value's type is not looked at.
    LONG _RegQueryValue(HKEY key, const wchar_t* name, std::wstring& text);
    bool _enumKeys(HKEY key, std::vector<std::wstring>& names);
    bool _enumValues(HKEY key, std::list<std::wstring>& data);
    bool _enumValues(HKEY key, ServiceMap& data);

    const ServiceMap& serviceMap() const { return services_; }
    const std::wstring& installDir() const { return installDir_; }
    BOOL pxsEnabled() const { return pxsEnable_; }
    const WorkingSet& workingSet() const { return workingSet_; }
    const std::list<std::wstring>& exclusionList() const { return exclusionList_; }

private:
    ServiceMap services_;
    std::map<std::wstring, ServiceMap> groups_;
    std::wstring installDir_;
    BOOL pxsEnable_ = TRUE;
    WorkingSet workingSet_;
    bool allGroups_;
    std::list<std::wstring> exclusionList_;
};

// The names of a ";"-separated list; runs of separators and empty pieces give no name.
std::vector<std::wstring> SplitServiceList(const std::wstring& list);
