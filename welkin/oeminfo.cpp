// The PC maker's per-build OEM information: build keys of UserMode commands, the affiliate id and language code of
// a build, and their tokens in command arguments.
#include <cwchar>
#include <string>

#include "foundation/basalt/RegValueCodec.h"
#include "foundation/logging/LogStream.h"
#include "welkin/welkinmodule.h"

using ETWLogging::kSeverityError;
using ETWLogging::kSeverityInformation;
using ETWLogging::LogLine;

namespace {

constexpr DWORD kOemValueBytes = 2600;
constexpr wchar_t kAffIdToken[] = L"%AFFID%";
constexpr wchar_t kLangIdToken[] = L"%LANGID%";

// A string value read as a registry record (how the OEM set-up and the first run store these values).
DWORD ReadRecordText(const std::wstring& key, const wchar_t* name, std::wstring& text) {
    wchar_t buffer[kOemValueBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kOemValueBytes;
    const DWORD rc = QzRegReadValueExW(HKEY_LOCAL_MACHINE, key.c_str(), name, nullptr,
                                       reinterpret_cast<BYTE*>(buffer), &size, kQzRegRecord);
    if (rc == 0) text = buffer;
    return rc;
}

// Replaces the first occurrence of the token; false when there is none.
bool ReplaceFirst(std::wstring& text, const wchar_t* token, const std::wstring& value) {
    const size_t at = text.find(token);
    if (at == std::wstring::npos) return false;
    text.replace(at, wcslen(token), value);
    return true;
}

}  // namespace

bool CwelkinModule::GetBuildKey(const wchar_t* keyPath, std::wstring& buildKey) {
    LogLine(kSeverityInformation, LOG_HERE) << L"Inside CwelkinModule::GetBuildKey " << L"Registry key is : " << keyPath;
    std::wstring text;
    if (ReadRecordText(keyPath, L"BuildKey", text) != 0) {
        LogLine(kSeverityError, LOG_HERE) << L"CwelkinModule::GetBuildKey " << L"Error retrieving buildkey";
        return false;
    }
    buildKey = text;
    LogLine(kSeverityInformation, LOG_HERE) << L"CwelkinModule::GetBuildKey  BUILDKEY : " << buildKey;
    return true;
}

int CwelkinModule::GetAffID(const std::wstring& buildKey, std::wstring& affId) {
    const std::wstring key = std::wstring(Key(kKeyOemInfo)) + L"\\" + buildKey;
    std::wstring text;
    const DWORD rc = ReadRecordText(key, L"affid", text);
    if (rc != 0) {
        LogLine(kSeverityError, LOG_HERE) << L"CwelkinModule::GetAffID " << L"Error retrieving affid " << L"lRes : "
                                          << rc << L" strOeminfoBuildKey is " << key;
        return 0;
    }
    affId = text;
    LogLine(kSeverityInformation, LOG_HERE) << L"CwelkinModule::GetAffID  PROP_AFFID : " << affId;
    return 1;
}

int CwelkinModule::GetLangCode(const std::wstring& buildKey, std::wstring& languageCode) {
    const std::wstring key = std::wstring(Key(kKeyOemInfo)) + L"\\" + buildKey;
    std::wstring text;
    const DWORD rc = ReadRecordText(key, L"lang", text);
    if (rc != 0) {
        LogLine(kSeverityError, LOG_HERE) << L"CwelkinModule::GetLangID " << L"Error retrieving affid " << L"lRes : "
                                          << rc << L" strOeminfoBuildKey is " << key;
        return 0;
    }
    languageCode = text;
    LogLine(kSeverityInformation, LOG_HERE) << L"CwelkinModule::GetAffID  PROP_LANGCODE : " << languageCode;
    return 1;
}

void CwelkinModule::ReplaceMacros(wchar_t* commandLine, const wchar_t* keyPath) {
    std::wstring buildKey, affId, languageCode;
    if (!GetBuildKey(keyPath, buildKey)) {
        LogLine(kSeverityInformation, LOG_HERE)
            << L"CwelkinModule::FormatCmdLine GetBuildKey failed, hence not formatting command line"
            << L" strRegKey : " << keyPath;
        return;
    }
    if (!GetAffID(buildKey, affId)) {
        LogLine(kSeverityError, LOG_HERE)
            << L"CwelkinModule::FormatCmdLine GetAffID failed, hence not formatting command line" << L" strRegKey : "
            << keyPath;
        return;
    }
    if (!GetLangCode(buildKey, languageCode)) {
        LogLine(kSeverityError, LOG_HERE)
            << L"CwelkinModule::FormatCmdLine GetLangID failed, hence not formatting command line" << L" strRegKey : "
            << keyPath;
        return;
    }
    ReplaceMacrosImpl(commandLine, affId, languageCode);
}

void CwelkinModule::ReplaceMacrosImpl(wchar_t* commandLine, const std::wstring& affId,
                                      const std::wstring& languageCode) {
    LogLine(kSeverityInformation, LOG_HERE) << L"CwelkinModule::FormatCmdLineImpl , Before formatting command line is "
                                            << commandLine << L" strAffID : " << affId << L" strLangID : "
                                            << languageCode;
    std::wstring text = commandLine;
    ReplaceAffID(text, affId);
    ReplaceLangCode(text, languageCode);
    // A cut command line would pass other arguments: one that no longer fits is left as it was.
    if (text.size() < kCommandLineChars) {
        wmemcpy(commandLine, text.c_str(), text.size() + 1);
    } else {
        LogLine(kSeverityError, LOG_HERE) << L"CwelkinModule::FormatCmdLineImpl , formatted command line of "
                                          << text.size() << L" characters does not fit, left unchanged";
    }
    LogLine(kSeverityInformation, LOG_HERE) << L"CwelkinModule::FormatCmdLineImpl , After formatting the command line is "
                                            << commandLine;
}

void CwelkinModule::ReplaceAffID(std::wstring& text, const std::wstring& affId) {
    if (!ReplaceFirst(text, kAffIdToken, affId))
        LogLine(kSeverityInformation, LOG_HERE) << L"CwelkinModule::ReplaceAffID , affid token not found "
                                                << L" strCmdLine : " << text;
}

void CwelkinModule::ReplaceLangCode(std::wstring& text, const std::wstring& languageCode) {
    if (!ReplaceFirst(text, kLangIdToken, languageCode))
        LogLine(kSeverityInformation, LOG_HERE) << L"CwelkinModule::ReplaceLangID , langid token not found "
                                                << L" strCmdLine : " << text;
}
