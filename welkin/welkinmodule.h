#pragma once
// The OEM manager's module: one per process, on wWinMain's stack for the whole run. It owns the binding of the
// suite's utility library (its base), the single-instance mutex, the registry family chosen once at construction
// (the KVR family when that product's 32-bit uninstall entry is readable, else the Halvard family) with the table of
// key paths that follows from it, and the text fields that the first-run steps fill and later steps read.
// Run is the main logic: gates, UserMode commands, completion of the OOBE work and the run flag written back.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/basalt/OwnedHandle.h"
#include "welkin/QzUtil.h"

enum WelkinKeyRole {
    kKeyManage,
    kKeyOem,
    kKeyUserMode,
    kKeyUserModeKVR,
    kKeyMUI,
    kKeyLangList,
    kKeyAppList,
    kKeyQueryParams,
    kKeySubstitute,
    kKeyOemInfo,
    kKeyRoleCount
};

inline constexpr wchar_t kKVROemKey[] = L"Software\\Torvex\\KVR\\Oem";
inline constexpr wchar_t kHalvardOemKey[] = L"Software\\Torvex\\Halvard\\Oem";

// The key paths of one family, by role.
const wchar_t* const* FamilyKeyTable(bool kvrFamily);

// True when the KVR product's uninstall entry ("DisplayName", 32-bit view) can be read.
BOOL IsPXSInstalled();
// Removes one trailing backslash of a non-empty string, in place.
void RemoveTrailingBackslash(wchar_t* text);
// True when the registry path `inner` names `outer` itself or a key below it (A-Z folded, trailing backslashes
// ignored).
bool IsSameOrBelowKey(const std::wstring& inner, const std::wstring& outer);
// True for a non-empty text other than exactly "0".
BOOL IsNotZeroString(const wchar_t* text);
// Writes "DisableServices" = 0 (scrambled) under the Halvard Oem key, and the KVR one when that product is there.
void setServicesDisableFlag();
// Deletes a value through the ANSI registry call; flags 8/16 select the view. The Win32 result.
DWORD QzRegDeleteValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD flags);

class LanguageSelectorSystem;  // welkin/utils.h

class CwelkinModule : public CQzUtil {
public:
    static constexpr size_t kFolderChars = 1300;
    static constexpr size_t kTextChars = 260;
    static constexpr size_t kCommandLineChars = 1300;

    CwelkinModule();
    CwelkinModule(const CwelkinModule&) = delete;
    CwelkinModule& operator=(const CwelkinModule&) = delete;

    // 0 with the run flag read, 1627 when "OEMMgr" cannot be read (flag untouched).
    DWORD getOemMgrAllowedToRunFlag(DWORD* flag);
    int Run();

    BOOL IsFacMode();
    BOOL CheckSingleInstance();
    BOOL CanManageOemRun();
    BOOL GetTaskScheduleRetryFlag();
    void SetTaskScheduleRetryFlag(BOOL value);
    BOOL IsOOBEDone();
    void setOemMgrAllowedToRunFlag(DWORD value);
    DWORD RemoveQzAppCfgExe();
    DWORD RemoveUnwantedJXVLangPacks();
    void TaskScheduleEntry(BOOL create);

    // One pass over a UserMode key's commands: 0, or -1 when a started command asked to be retried or a command's
    // values did not read (that command is kept unstarted). A command's values are read plain or as records, as they
    // are stored (StoredValue.h); "bootcount" is written back as a record. A done command's key is deleted as soon
    // as it ends.
    int ApplyUserModeSettings(const wchar_t* userModeKey);
    // Deletes the queued commands of the other family's UserMode key without running them ("runcmd" read as in
    // ApplyUserModeSettings; a command that is empty or does not read is left in place).
    void DeleteAlternareUserModeSettings(const wchar_t* userModeKey);

    // OEM information of a build (records under the oeminfo key + "\" + build key) and its tokens in command
    // arguments: "%AFFID%" and "%LANGID%", the first occurrence of each, in a buffer of kCommandLineChars. Any value
    // that cannot be read leaves the arguments as they are; so does a result that would not fit.
    bool GetBuildKey(const wchar_t* keyPath, std::wstring& buildKey);
    int GetAffID(const std::wstring& buildKey, std::wstring& affId);
    int GetLangCode(const std::wstring& buildKey, std::wstring& languageCode);
    void ReplaceMacros(wchar_t* commandLine, const wchar_t* keyPath);
    void ReplaceMacrosImpl(wchar_t* commandLine, const std::wstring& affId, const std::wstring& languageCode);
    void ReplaceAffID(std::wstring& text, const std::wstring& affId);
    void ReplaceLangCode(std::wstring& text, const std::wstring& languageCode);
    // The partner data files that exist, named under HKLM "SOFTWARE\Torvex\Halvard\CommonBuild\PartnerDataFile"
    // and kept in the partner data folder on the KVR install drive: 0, or 3 when the install folder is unknown.
    DWORD GetPDFilename(std::vector<std::wstring>& paths);
    // A common-build model has at least one partner data file.
    BOOL IsCommonBuildModel();
    // The first-run steps, run once while OOBE is not done; each failure is logged and the run goes on.
    // The language step: the anti-theft map, the language selector and the OEM map ini give lcid, language code,
    // build key, terms and partner values, written per family to the suite's keys (plain, or as records under the
    // build-key keys). The language selector is loaded by LoadLanguageSelector.
    void RunLanguageSelector();
    void RunLanguageSelector(LanguageSelectorSystem& system);
    // Re-reads the lcid text from the KVR substitute key (plain or a record, as stored) and looks its language code
    // up in the ini again; false when the lcid cannot be read.
    BOOL UpdateLangCode(const wchar_t* iniPath);
    // The common-build model's values from langmap.dat; the result is not used.
    int WriteRegEntriesforCommonBuild();
    // Starts the suite installer's OOBE step and waits for it.
    void OnOOBE();
    // Sets the on-access scanner's "OASEnabled" to 3 when the scanner and the antivirus product are installed.
    void EnableOAS();
    // Stamps the antivirus product's "InstallTime" (an OLE date of the local time) when its schedule entry is there.
    void WriteInstallTime();
    // True when the anti-theft product reports a non-empty version.
    BOOL IsZELTInstalled();
    // Copies the PXS build key into the anti-theft product's build key (named by its ZELT.ini) when that key does
    // not exist yet. True only when the whole key was copied; a key this call created is removed again when the copy
    // fails, and a target inside the source is refused.
    BOOL CopyPXSBuidKeyValuesToZELTBuildkey(std::wstring pxsBuildKey);

    const wchar_t* Key(WelkinKeyRole role) const { return keys_[role]; }
    const wchar_t* OtherFamilyKey(WelkinKeyRole role) const { return FamilyKeyTable(!kvrFamily_)[role]; }
    BOOL UsesKVRFamily() const { return kvrFamily_; }
    const wchar_t* ModuleFolder() const { return moduleFolder_; }
    const wchar_t* KVRInstallFolder() const { return kvrInstallFolder_; }
    int Result() const { return result_; }

    // Filled by the first-run steps; read by the language-pack clean-up and the UserMode working folders.
    wchar_t activeLanguage[kTextChars] = {};
    wchar_t buildKey[kTextChars] = {};
    wchar_t languageCode[kTextChars] = {};
    wchar_t terms[kTextChars] = {};
    wchar_t value[kTextChars] = {};

private:
    // The anti-theft map's part of the language step.
    void RunAntiTheftLanguageStep();
    // Writes the lcid text as "lcid" when it is set (not empty, not "0").
    void WriteLcidText(const wchar_t* key);
    // A command's life asks for another run: still counting down, or its key could not be walked to the end.
    void RequestAnotherRun();

    wchar_t moduleFolder_[kFolderChars] = {};
    wchar_t kvrInstallFolder_[kFolderChars] = {};
    Basalt::KernelHandle instanceMutex_;  // held until the module goes away
    int result_ = 0;
    BOOL kvrFamily_ = FALSE;
    const wchar_t* const* keys_ = nullptr;
    bool anotherRunRequested_ = false;
};
