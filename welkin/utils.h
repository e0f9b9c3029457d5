#pragma once
// Text helpers shared by the OEM manager's steps, the readers of the two language-map documents in the KVR install
// folder ("langmap.dat", the OEM map, and "at_langmap.dat", the anti-theft map; file form in QzXMLBase.h) and the
// current-language lookup GetLCID that they use.
//
// Readers: each loads its document afresh on the calling thread and writes at most kLangMapTextChars characters
// (terminator included) into its out buffers, which must hold that many. Any failure (file missing or short,
// header, digest or decipher failure, no MSXML, no matching node) gives the reader's default: "en-us" for cultures
// and language codes, kDefaultServiceDomain for the domain, else empty. Attribute texts match without regard to the
// case of A-Z.
#include <windows.h>

#include <string>
#include <vector>

inline constexpr size_t kLangMapTextChars = 260;
inline constexpr wchar_t kLangMapFile[] = L"langmap.dat";
inline constexpr wchar_t kAntiTheftLangMapFile[] = L"at_langmap.dat";
inline constexpr wchar_t kDefaultLanguage[] = L"en-us";
inline constexpr wchar_t kDefaultServiceDomain[] = L"service.torvex.com";
inline constexpr DWORD kEnglishUsLcid = 1033;

// Splits at each occurrence of the whole delimiter; a run of delimiter characters after a piece starts no empty
// piece, but a source that begins with the delimiter gives an empty first piece. Appends; returns the count appended.
size_t SplitString(const std::wstring& source, const std::wstring& delimiter, std::vector<std::wstring>& pieces);

// Equal when A-Z are taken as a-z (no other folding: the answer does not depend on the locale).
bool EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b);

// The build key of langmap.dat: of all "//packageinfo" elements the last one that has "buildkey".
void GetBuildKeyFromLangmapDat(wchar_t* buildKey);
// The "affid" of the first termsinfo element of the map at `mapPath` whose "lcidterms" is the key.
void GetAffidFromLcidTermsFromLangmapDat(const wchar_t* mapPath, const wchar_t* lcidTermsKey, wchar_t* affid);
// The "affid" of the first termsinfo element of the named map (in the KVR install folder) whose "lcid" is the
// LCID in decimal and whose "terms" is the terms.
void GetAffidFromTerms(const wchar_t* mapFileName, DWORD lcid, const wchar_t* terms, wchar_t* affid);
// The "culture" of at_langmap.dat's langmap element for GetLCID (the defaults elements when there are no langmap
// elements at all).
void GetCurrentCulture(wchar_t* culture);
// The "culture" of langmap.dat's termsinfo element for the key.
void GetCurrentCultureFromLangmapDat(const wchar_t* lcidTermsKey, wchar_t* culture);
// GetLCID, and the "lang" of at_langmap.dat's langmap element for it (defaults as for GetCurrentCulture).
void GetCurrentLcidAndLangCode(DWORD* lcid, wchar_t* languageCode);
// GetLCID, and the "lang" of langmap.dat's termsinfo element for the key.
void GetCurrentLcidAndLangCodeFromLangmapDat(const wchar_t* lcidTermsKey, DWORD* lcid, wchar_t* languageCode);
// The "domain" of langmap.dat's termsinfo element for the key.
void GetDomainFromLangmapDat(const wchar_t* lcidTermsKey, wchar_t* domain);

// The shell-folder lookup and the module load of the language selector; tests hand in their own.
class LanguageSelectorSystem {
public:
    virtual ~LanguageSelectorSystem() = default;
    // The shell folder followed by `tail`; empty when the shell has no such folder.
    virtual std::wstring ShellFolderWith(int csidl, const wchar_t* tail);
    virtual HMODULE LoadLibraryW(const wchar_t* path);
};

// The language selector "Pomvek.dll" of "<Common Files>\Torvex\Platform", loaded only when that path is absolute:
// never from the current drive's root or a folder found from the current one. None when it is not, or fails to
// load; the caller frees what it gets.
HMODULE LoadLanguageSelector(LanguageSelectorSystem& system);

// The system calls of the current-language lookup; tests hand in their own to reach each fallback.
class LcidLookupSystem : public LanguageSelectorSystem {
public:
    virtual int GetUserDefaultLocaleName(wchar_t* name, int chars);
    // GetLocaleInfoEx with LOCALE_ILANGUAGE | LOCALE_RETURN_NUMBER; 0 on failure.
    virtual int GetLocaleLanguage(const wchar_t* name, DWORD* lcid);
};

// The language selector's export that maps the user's LCID through the suite's language maps.
using GetLCIDFromTorvexLangMapFn = DWORD(WINAPI*)(LCID lcid, LCID* mapped, const wchar_t* mapFolder);

// The current LCID: the user's default locale, passed through the language selector ("Pomvek.dll" in
// "<Common Files>\Torvex\Platform", by LoadLanguageSelector; it stays loaded) with the KVR install folder as the
// map folder. 1033 when any step fails. Telemetry hears of the call to the selector, of its answer,
// and of every fall-back.
DWORD GetLCID();
DWORD GetLCID(LcidLookupSystem& system);

// The message and settings property that tell the suite the OOBE work is complete.
extern const std::wstring g_OOBECompleteMessage;

// Publishes a message with empty data on the suite's message bus through a client of its own, built and deleted
// here. Failures end in a log line; nothing is reported to the caller.
void PublishMessage(std::wstring name, std::wstring sender);

// Sets a property in the suite's settings manager through a client of its own, waiting up to 5000 ms (plus the
// reply's margin) for its answer. Failures end in a log line; nothing is reported to the caller.
void SetMessageProperty(std::wstring name, unsigned long value);
