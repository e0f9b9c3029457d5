#include "welkin/utils.h"

#include <shlobj.h>

#include <cwchar>
#include <memory>
#include <new>

#include "clients/messagebus/Message.h"
#include "clients/messagebus/MessageBusClient.h"
#include "clients/settings/SettingsManagerClient.h"
#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/Format.h"
#include "foundation/basalt/ProcAddress.h"
#include "foundation/logging/LogSite.h"
#include "foundation/logging/LogStream.h"
#include "welkin/FolderText.h"
#include "welkin/QzXMLBase.h"
#include "welkin/WelkinEvents.h"
#include "welkin/WelkinFiles.h"

using ETWLogging::kSeverityError;
using ETWLogging::kSeverityInformation;
using ETWLogging::kSeverityNormal;
using ETWLogging::LogLine;

namespace {

constexpr wchar_t kPackageInfoPath[] = L"//packageinfo";
constexpr wchar_t kTermsInfoPath[] = L"//packageinfo/packagedetails/terms/termsinfo";
constexpr wchar_t kLangMapPath[] = L"//packageinfo/packagedetails/languagemapping/langmap";
constexpr wchar_t kLangMapDefaultsPath[] = L"//packageinfo/packagedetails/languagemapping/defaults";
constexpr size_t kFolderChars = 1300;
constexpr wchar_t kStarting[] = L"Starting";
constexpr wchar_t kSuccess[] = L"Success";
constexpr wchar_t kFailure[] = L"Failure";

std::wstring KVRFolder(bool trailingBackslash) {
    wchar_t folder[kFolderChars] = {};
    GetKVRInstallDir(folder, kFolderChars, trailingBackslash);
    return folder;
}

void CopyOut(wchar_t* out, const std::wstring& text) {
    if (!out) return;
    const size_t length = text.size() < kLangMapTextChars ? text.size() : kLangMapTextChars - 1;
    wmemcpy(out, text.c_str(), length);
    out[length] = L'\0';
}

// One language map, loaded; empty when the document cannot be made or the file is no language map.
class LangMapDocument {
public:
    explicit LangMapDocument(const std::wstring& path) {
        CQzXMLRef map(new (std::nothrow) CQzXMLBase);
        if (map && map->CreateDocument(nullptr) && map->LoadEncipheredFile(path.c_str()) == 0) map_ = std::move(map);
    }

    // The select's code; 87 without a document.
    DWORD Select(const wchar_t* xpath, std::vector<CQzXMLRef>& nodes) {
        if (!map_) return ERROR_INVALID_PARAMETER;
        DWORD count = 0;
        return map_->SelectNodes(xpath, nodes, &count);
    }

private:
    CQzXMLRef map_;
};

// The attribute's text; empty when the node lacks it or it does not fit a reader's buffer whole.
std::wstring Attribute(CQzXMLBase& node, const wchar_t* name) {
    wchar_t text[kLangMapTextChars] = {};
    DWORD size = sizeof text;
    return node.GetNodeText(name, text, &size) == 0 ? std::wstring(text) : std::wstring();
}

bool AttributeIs(CQzXMLBase& node, const wchar_t* name, const std::wstring& expected) {
    return EqualsIgnoringAsciiCase(Attribute(node, name).c_str(), expected.c_str());
}

// The named attribute of the first termsinfo element whose "lcidterms" is the key; empty when none.
std::wstring FromTermsInfo(LangMapDocument& map, const wchar_t* lcidTermsKey, const wchar_t* name, DWORD& selected) {
    std::vector<CQzXMLRef> nodes;
    selected = map.Select(kTermsInfoPath, nodes);
    if (selected != 0 || !lcidTermsKey) return std::wstring();
    for (CQzXMLRef& node : nodes)
        if (AttributeIs(*node, L"lcidterms", lcidTermsKey)) return Attribute(*node, name);
    return std::wstring();
}

// The named attribute of at_langmap.dat's langmap element for the LCID; the defaults elements are consulted only
// when there are no langmap elements at all.
std::wstring FromAntiTheftLangMap(DWORD lcid, const wchar_t* name, DWORD& selected) {
    const std::wstring folder = KVRFolder(true);
    LogLine(kSeverityNormal, LOG_HERE) << L"GetCurrentLcidAndLangCode: KVR Path - " << folder;
    LangMapDocument map(folder + kAntiTheftLangMapFile);
    std::vector<CQzXMLRef> nodes;
    selected = map.Select(kLangMapPath, nodes);
    if (selected != 0) {
        LogLine(kSeverityInformation, LOG_HERE)
            << L"unable to map lcid " << lcid
            << L" to lang code. Map to defaults sections in langmap.dat file for lang code.";
        selected = map.Select(kLangMapDefaultsPath, nodes);
    }
    const std::wstring lcidText = std::to_wstring(lcid);
    for (CQzXMLRef& node : nodes)
        if (AttributeIs(*node, L"lcid", lcidText)) return Attribute(*node, name);
    return std::wstring();
}

std::wstring OrDefault(const std::wstring& text, const wchar_t* fallback) { return text.empty() ? fallback : text; }

const Orvan::SettingsManager::Timeout kPropertyTimeoutMs = 5000;

}  // namespace

const std::wstring g_OOBECompleteMessage = L"Core.OOBE.OOBEComplete";

size_t SplitString(const std::wstring& source, const std::wstring& delimiter, std::vector<std::wstring>& pieces) {
    if (delimiter.empty()) {
        if (!source.empty()) pieces.push_back(source);
        return source.empty() ? 0 : 1;
    }
    size_t appended = 0;
    size_t start = 0;
    while (start < source.size()) {
        const size_t end = source.find(delimiter, start);
        const size_t pieceEnd = end == std::wstring::npos ? source.size() : end;
        pieces.push_back(source.substr(start, pieceEnd - start));
        ++appended;
        start = source.find_first_not_of(delimiter, pieceEnd + 1);
        if (start == std::wstring::npos) break;
    }
    return appended;
}

bool EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b) {
    auto fold = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    for (; *a && *b; ++a, ++b)
        if (fold(*a) != fold(*b)) return false;
    return *a == *b;
}

void GetBuildKeyFromLangmapDat(wchar_t* buildKey) {
    const std::wstring folder = KVRFolder(true);
    LogLine(kSeverityNormal, LOG_HERE) << L"GetBuildKeyFromLangmapDat: Final KVR Path - " << folder;
    LangMapDocument map(folder + kLangMapFile);
    std::vector<CQzXMLRef> nodes;
    std::wstring found;
    if (map.Select(kPackageInfoPath, nodes) != 0) {
        LogLine(kSeverityInformation, LOG_HERE) << L"unable to map Build key";
    } else {
        for (CQzXMLRef& node : nodes) {
            std::wstring text = Attribute(*node, L"buildkey");
            if (!text.empty()) found = std::move(text);
        }
    }
    CopyOut(buildKey, found);
}

void GetAffidFromLcidTermsFromLangmapDat(const wchar_t* mapPath, const wchar_t* lcidTermsKey, wchar_t* affid) {
    LangMapDocument map(mapPath ? mapPath : L"");
    DWORD selected = 0;
    CopyOut(affid, FromTermsInfo(map, lcidTermsKey, L"affid", selected));
}

void GetAffidFromTerms(const wchar_t* mapFileName, DWORD lcid, const wchar_t* terms, wchar_t* affid) {
    const std::wstring folder = KVRFolder(true);
    LogLine(kSeverityNormal, LOG_HERE) << L"GetDomainFromLangmapDat: Final KVR Path - " << folder;
    LangMapDocument map(folder + (mapFileName ? mapFileName : L""));
    std::vector<CQzXMLRef> nodes;
    std::wstring found;
    if (map.Select(kTermsInfoPath, nodes) == 0 && terms) {
        const std::wstring lcidText = std::to_wstring(lcid);
        for (CQzXMLRef& node : nodes) {
            const std::wstring nodeLcid = Attribute(*node, L"lcid");
            if (!nodeLcid.empty() && EqualsIgnoringAsciiCase(nodeLcid.c_str(), lcidText.c_str()) &&
                AttributeIs(*node, L"terms", terms)) {
                found = Attribute(*node, L"affid");
                break;
            }
        }
    }
    if (found.empty()) LogLine(kSeverityInformation, LOG_HERE) << L"GetAffidFromTerms:: affid is empty";
    CopyOut(affid, found);
}

void GetCurrentCulture(wchar_t* culture) {
    const DWORD lcid = GetLCID();
    DWORD selected = 0;
    const std::wstring found = FromAntiTheftLangMap(lcid, L"culture", selected);
    if (selected != 0) LogLine(kSeverityInformation, LOG_HERE) << L"unable to map Culture.";
    CopyOut(culture, OrDefault(found, kDefaultLanguage));
}

void GetCurrentCultureFromLangmapDat(const wchar_t* lcidTermsKey, wchar_t* culture) {
    const std::wstring folder = KVRFolder(true);
    LogLine(kSeverityNormal, LOG_HERE) << L"GetCurrentCultureFromLangmapDat: Final KVR Path - " << folder;
    LangMapDocument map(folder + kLangMapFile);
    DWORD selected = 0;
    const std::wstring found = FromTermsInfo(map, lcidTermsKey, L"culture", selected);
    if (selected != 0) LogLine(kSeverityInformation, LOG_HERE) << L"unable to map Culture.";
    CopyOut(culture, OrDefault(found, kDefaultLanguage));
}

void GetCurrentLcidAndLangCode(DWORD* lcid, wchar_t* languageCode) {
    const DWORD current = GetLCID();
    if (lcid) *lcid = current;
    DWORD selected = 0;
    const std::wstring found = FromAntiTheftLangMap(current, L"lang", selected);
    if (selected != 0) LogLine(kSeverityInformation, LOG_HERE) << L"unable to map lcid " << current << L" to lang code. ";
    CopyOut(languageCode, OrDefault(found, kDefaultLanguage));
}

void GetCurrentLcidAndLangCodeFromLangmapDat(const wchar_t* lcidTermsKey, DWORD* lcid, wchar_t* languageCode) {
    const DWORD current = GetLCID();
    if (lcid) *lcid = current;
    const std::wstring folder = KVRFolder(true);
    LogLine(kSeverityNormal, LOG_HERE) << L"GetCurrentLcidAndLangCodeFromLangmapDat: Final KVR Path - " << folder;
    LangMapDocument map(folder + kLangMapFile);
    DWORD selected = 0;
    const std::wstring found = FromTermsInfo(map, lcidTermsKey, L"lang", selected);
    if (selected != 0) LogLine(kSeverityInformation, LOG_HERE) << L"unable to map lcid " << current << L" to lang code. ";
    CopyOut(languageCode, OrDefault(found, kDefaultLanguage));
}

void GetDomainFromLangmapDat(const wchar_t* lcidTermsKey, wchar_t* domain) {
    const std::wstring folder = KVRFolder(true);
    LogLine(kSeverityNormal, LOG_HERE) << L"GetDomainFromLangmapDat: Final KVR Path - " << folder;
    LangMapDocument map(folder + kLangMapFile);
    DWORD selected = 0;
    const std::wstring found = FromTermsInfo(map, lcidTermsKey, L"domain", selected);
    if (selected != 0) LogLine(kSeverityInformation, LOG_HERE) << L"unable to map  sections in langmap.dat .";
    CopyOut(domain, OrDefault(found, kDefaultServiceDomain));
}

int LcidLookupSystem::GetUserDefaultLocaleName(wchar_t* name, int chars) {
    return ::GetUserDefaultLocaleName(name, chars);
}

int LcidLookupSystem::GetLocaleLanguage(const wchar_t* name, DWORD* lcid) {
    return ::GetLocaleInfoEx(name, LOCALE_ILANGUAGE | LOCALE_RETURN_NUMBER, reinterpret_cast<wchar_t*>(lcid),
                             sizeof(DWORD) / sizeof(wchar_t));
}

std::wstring LanguageSelectorSystem::ShellFolderWith(int csidl, const wchar_t* tail) {
    return ::ShellFolderWith(csidl, tail);
}

HMODULE LanguageSelectorSystem::LoadLibraryW(const wchar_t* path) { return ::LoadLibraryW(path); }

HMODULE LoadLanguageSelector(LanguageSelectorSystem& system) {
    const std::wstring selector = system.ShellFolderWith(CSIDL_PROGRAM_FILES_COMMON, L"\\Torvex\\Platform\\Pomvek.dll");
    return Basalt::IsAbsolutePath(selector) ? system.LoadLibraryW(selector.c_str()) : nullptr;
}

DWORD GetLCID() {
    LcidLookupSystem system;
    return GetLCID(system);
}

DWORD GetLCID(LcidLookupSystem& system) {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (system.GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) == 0) {
        LOG_AT(kSeverityError, L"GetUserDefaultLocaleName failed, unable to find LCID, defaulting to en-US(1033)");
        SendLcidCheckEvent(kFailure, L"GetUserDefaultLocaleName failed, unable to find LCID, defaulting to en-US(1033)");
        return kEnglishUsLcid;
    }
    name[LOCALE_NAME_MAX_LENGTH - 1] = L'\0';
    DWORD lcid = 0;
    if (system.GetLocaleLanguage(name, &lcid) == 0) {
        LogLine(kSeverityError, LOG_HERE) << L"LCID for " << name << L" is not found, defaulting to en-US(1033)";
        SendLcidCheckEvent(kFailure, std::wstring(L"LCID for ") + name + L" is not found");
        return kEnglishUsLcid;
    }
    LogLine(kSeverityInformation, LOG_HERE) << L"LCID for " << name << L" is found and it is " << lcid;

    const std::wstring mapFolder = KVRFolder(false);
    LogLine(kSeverityInformation, LOG_HERE) << L"GetLCID: KVR Path - " << mapFolder;
    LogLine(kSeverityInformation, LOG_HERE) << L"Loading LangMap from path " << mapFolder;

    // The selector stays loaded for the rest of the process: every reader asks again.
    const HMODULE library = LoadLanguageSelector(system);
    if (!library) {
        LOG_AT(kSeverityError, L"Unable to open pomvek.dll");
        SendLcidCheckEvent(kFailure, L"Unable to open pomvek.dll, defaulting to en-US(1033)");
        return kEnglishUsLcid;
    }
    const auto mapLcid = Basalt::GetProcAddressAs<GetLCIDFromTorvexLangMapFn>(library, "GetLCIDFromTorvexLangMap");
    if (!mapLcid) {
        LOG_AT(kSeverityError, L"GetLCIDFromTorvexLangMap function is not found");
        SendLcidCheckEvent(kFailure, L"GetLCIDFromTorvexLangMap function is not found, defaulting to en-US(1033)");
        return kEnglishUsLcid;
    }
    LogLine(kSeverityInformation, LOG_HERE) << L"GetLCIDFromTorvexLangMap function found calling it with parameters "
                                            << lcid << L" and " << mapFolder;
    SendLcidCheckEvent(kStarting, L"Calling GetLCIDFromTorvexLangMap from input Locale " + std::wstring(name) +
                                      L" Initial LCID = " + std::to_wstring(lcid));
    LCID mapped = lcid;
    if (mapLcid(mapped, &mapped, mapFolder.c_str()) != 0) {
        SendLcidCheckEvent(kFailure, L"GetLCIDFromTorvexLangMap function failed, returned LCID = " +
                                         std::to_wstring(mapped) + L", defaulting to en-US(1033)");
        return kEnglishUsLcid;
    }
    SendLcidCheckEvent(kSuccess, L"GetLCIDFromTorvexLangMap returned LCID = " + std::to_wstring(mapped) +
                                     L" From file " + mapFolder + L" return value = " + L"0");
    return mapped;
}

void PublishMessage(std::wstring name, std::wstring sender) {
    std::unique_ptr<Orvan::MessageBus> client = Orvan::MessageBusClient::getInstance();
    if (!client) {
        LOG_AT(kSeverityError, L"Error getting MessageBusClient");
        return;
    }
    std::shared_ptr<Orvan::Message> message = Orvan::createMessage(name, sender, std::wstring());
    if (!message) {
        LOG_AT(kSeverityError, L"Create Message Failed.");
    } else {
        const std::uint32_t status = client->publish(message);
        if (status == 0)
            LogLine(kSeverityInformation, LOG_HERE) << L"Published " << name << L" message successfully!";
        else
            LogLine(kSeverityError, LOG_HERE) << L"Failed to publish " << name << L" message,  error code:" << status;
    }
    message.reset();
    client.reset();
}

void SetMessageProperty(std::wstring name, unsigned long value) {
    std::unique_ptr<Orvan::SettingsManager> client = Orvan::SettingsManagerClient::getInstance();
    if (!client) {
        LOG_AT(kSeverityError, L"Error getting SettingsManagerClient");
        return;
    }
    if (client->setProperty(name, value, kPropertyTimeoutMs))
        LogLine(kSeverityInformation, LOG_HERE) << L"Set " << name << L" message successfully!";
    else
        LogLine(kSeverityError, LOG_HERE) << L"Failed to set property " << name << L" message. ";
    client.reset();
}
