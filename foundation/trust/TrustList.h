#pragma once
// The trust list: accepted signer names, accepted root thumbprints and refused serial numbers, with a version.
// One list is built in (BuiltInTrustList); a newer one is installed as the signed file trusted.js. TrustList is the
// installed list: a process-wide instance on the default path (TrustList::Installed) and candidate instances for a
// given path while a new file is installed. The file must carry the suite's own signature before it is read; that
// judgement is a TrustListSignature handed to the list (the real one by default).
//
// Locking: one slim reader/writer lock per list. Load, Reload and Install take it exclusively; the values are read
// under the shared lock through WithValues. Neither is recursive: never call Load/Reload/Install from inside
// WithValues. Between processes the file is locked with LockFileEx (shared while read, exclusive while replaced)
// and the global atom kTrustListUpdateAtom says that some process installed a new list.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/trust/SignerRules.h"

inline constexpr wchar_t kTrustListUpdateAtom[] = L"67136527-5D6B-4AC9-865B-3E392E982420";

// The values the signature check reads from a list. Name and serial arrays are null-terminated or null.
struct TrustListValues {
    bool loaded = false;
    DWORD version = 0;
    const wchar_t* const* names = nullptr;
    const Thumbprint* thumbprints = nullptr;
    size_t thumbprintCount = 0;
    const wchar_t* const* serials = nullptr;
};

// The list built into the program: version 7, the suite's signer names and the roots of its signing certificates.
const TrustListValues& BuiltInTrustList();

// Judges whether a trust-list file carries the suite's own signature.
class TrustListSignature {
public:
    virtual ~TrustListSignature() = default;
    virtual bool IsSignedBySuite(const std::wstring& path) const = 0;
};

// The real judgement: one embedded signer whose certificate has the suite's list-signing thumbprint and whose
// signature that certificate verifies, and WinVerifyTrust accepts the file.
class EmbeddedTrustListSignature final : public TrustListSignature {
public:
    // The suite's list-signing certificate.
    EmbeddedTrustListSignature();
    // Another signing certificate's SHA-1 thumbprint (tests sign with certificates of their own).
    explicit EmbeddedTrustListSignature(Thumbprint signer);
    bool IsSignedBySuite(const std::wstring& path) const override;

private:
    Thumbprint signer_;
};

class TrustList {
public:
    // The default location: <Windows drive root>\Program Files\Common Files\Torvex\Platform\Core\trusted.js.
    static std::wstring DefaultPath();
    // The process-wide list on the default path with the real signature judgement; never loaded at creation.
    static TrustList& Installed();

    TrustList();
    explicit TrustList(std::wstring path, std::shared_ptr<const TrustListSignature> signature = nullptr);
    TrustList(const TrustList&) = delete;
    TrustList& operator=(const TrustList&) = delete;

    bool Load();
    bool IsLoaded() const;
    // Reads the file again into a candidate, which replaces the list only when it loads and is newer than the
    // built-in list; true then. A failed reload keeps the list as it was, loaded or not.
    bool Reload();
    // Clears the list; it stays unloaded until the next Load.
    void Unload();
    // Copies the source to "trusted.tmp.js" beside the installed file (replacing a copy left by an earlier install;
    // the name keeps ".js", by which Windows finds a script's signature), judges that copy as a candidate list (the
    // suite's signature, a version above the built-in list's and above the loaded list's), replaces the installed
    // file with it and reloads (Reload); true when the new list is loaded. A refused copy is deleted. When the file
    // cannot be replaced now, the replacement is scheduled for the next start and the answer is false.
    bool Install(const std::wstring& source);

    DWORD Version() const;
    // Calls f(const TrustListValues&) under the shared lock and returns its result.
    template <class F>
    auto WithValues(F&& f) const {
        SharedLock lock(lock_);
        return f(ValuesLocked());
    }

    const std::wstring& Path() const { return path_; }

private:
    class SharedLock {
    public:
        explicit SharedLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockShared(&lock_); }
        ~SharedLock() { ReleaseSRWLockShared(&lock_); }
        SharedLock(const SharedLock&) = delete;
        SharedLock& operator=(const SharedLock&) = delete;

    private:
        SRWLOCK& lock_;
    };

    bool LoadLocked();
    bool ReloadLocked();
    bool IsNewerListLocked(const std::wstring& path) const;
    bool ReadLocked();
    void ClearLocked();
    TrustListValues ValuesLocked() const;

    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::wstring path_;
    std::shared_ptr<const TrustListSignature> signature_;
    std::map<std::wstring, std::vector<std::wstring>> sections_;
    DWORD version_ = 0;
    std::vector<const wchar_t*> names_;    // null-terminated; empty when absent
    std::vector<const wchar_t*> serials_;  // null-terminated; empty when absent
    std::vector<Thumbprint> thumbprints_;
    bool loaded_ = false;
};

// Reads the file from its current position to its end. Any failed read gives false and no bytes: a list cut short
// (before its refused serials, say) must never be parsed.
bool ReadWholeFile(HANDLE file, std::string& bytes);

// What the text of a trust-list file holds (each byte one character). The accepted names and refused serials stay
// in the sections "ORG" and "SER"; a section is there once its first value arrived.
struct TrustListText {
    std::map<std::wstring, std::vector<std::wstring>> sections;
    DWORD version = 0;
    std::vector<Thumbprint> thumbprints;
};

// False when the text is no list: an empty section name, not exactly one "VER" value, a version that is not a
// decimal u32 of up to ten digits, a "SHA" value with a digit that is not hexadecimal.
bool ParseTrustListText(const std::string& bytes, TrustListText& list);

// Installs the file at the path into `installed` when its copy, judged as `installed` judges its own files, is
// newer than the built-in list and the loaded one (TrustList::Install).
bool InstallTrustListFromFile(TrustList& installed, const std::wstring& path);
bool InstallTrustListFromFile(const wchar_t* path);
