#include "foundation/trust/TrustList.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <wincrypt.h>

#include <cstring>
#include <iterator>
#include <utility>

#include "foundation/trust/AuthenticodeFile.h"
#include "foundation/trust/CryptHandles.h"

namespace {

constexpr DWORD kBuiltInVersion = 7;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

const wchar_t* const kBuiltInNames[] = {L"Orvan Corporation", L"Torvex, Inc.", L"Torvex, LLC", L"Torvex, LLC.",
                                        nullptr};
const wchar_t* const kBuiltInSerials[] = {nullptr};

// Roots of the suite maker's code-signing certificates.
const Thumbprint kBuiltInRoots[] = {
    {0x3b, 0x1e, 0xfd, 0x3a, 0x66, 0xea, 0x28, 0xb1, 0x66, 0x97, 0x39, 0x47, 0x03, 0xa7, 0x2c, 0xa3, 0x40, 0xa0, 0x5b, 0xd5},
    {0x8f, 0x43, 0x28, 0x8a, 0xd2, 0x72, 0xf3, 0x10, 0x3b, 0x6f, 0xb1, 0x42, 0x84, 0x85, 0xea, 0x30, 0x14, 0xc0, 0xbc, 0xfe},
    {0xa4, 0x34, 0x89, 0x15, 0x9a, 0x52, 0x0f, 0x0d, 0x93, 0xd0, 0x32, 0xcc, 0xaf, 0x37, 0xe7, 0xfe, 0x20, 0xa8, 0xb4, 0x19},
    {0x74, 0x2c, 0x31, 0x92, 0xe6, 0x07, 0xe4, 0x24, 0xeb, 0x45, 0x49, 0x54, 0x2b, 0xe1, 0xbb, 0xc5, 0x3e, 0x61, 0x74, 0xe2},
    {0x4e, 0xb6, 0xd5, 0x78, 0x49, 0x9b, 0x1c, 0xcf, 0x5f, 0x58, 0x1e, 0xad, 0x56, 0xbe, 0x3d, 0x9b, 0x67, 0x44, 0xa5, 0xe5},
    {0x58, 0x11, 0x9f, 0x0e, 0x12, 0x82, 0x87, 0xea, 0x50, 0xfd, 0xd9, 0x87, 0x45, 0x6f, 0x4f, 0x78, 0xdc, 0xfa, 0xd6, 0xd4},
};

// Thumbprint of the certificate that signs trusted.js.
constexpr BYTE kListSignerThumbprint[20] = {0x92, 0xc1, 0x58, 0x8e, 0x85, 0xaf, 0x22, 0x01, 0xce, 0x79,
                                            0x15, 0xe8, 0x53, 0x8b, 0x49, 0x2f, 0x60, 0x57, 0x97, 0xda};

// Trims spaces and tabs at both ends.
std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return {};
    const size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

bool ParseVersion(const std::wstring& text, DWORD& version) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value > 0xFFFFFFFFull) return false;
    version = static_cast<DWORD>(value);
    return true;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// False for a digit that is not hexadecimal (the file then fails to load). An odd count or no digits gives an empty
// buffer, which matches no certificate.
bool DecodeThumbprint(const std::wstring& text, Thumbprint& bytes) {
    bytes.clear();
    if (text.empty() || text.size() % 2 != 0) return true;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<BYTE>(hi << 4 | lo));
    }
    return true;
}

// Holds a LockFileEx lock over the whole file and the handle; both are released on every path.
class LockedFile {
public:
    LockedFile(const std::wstring& path, DWORD lockFlags) {
        handle_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) return;
        locked_ = LockFileEx(handle_, lockFlags, 0, 0xFFFFFFFF, 0xFFFFFFFF, &overlapped_) != FALSE;
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    ~LockedFile() { Release(); }

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle_; }
    void Release() {
        if (locked_) UnlockFileEx(handle_, 0, 0xFFFFFFFF, 0xFFFFFFFF, &overlapped_);
        locked_ = false;
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped_ = {};
    bool locked_ = false;
};

// A list that may govern checks: it loads and is newer than the built-in list.
bool LoadsNewerThanBuiltIn(TrustList& list) { return list.Load() && list.Version() > BuiltInTrustList().version; }

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace

bool ReadWholeFile(HANDLE file, std::string& bytes) {
    bytes.clear();
    char chunk[4096];
    DWORD read = 0;
    for (;;) {
        if (!ReadFile(file, chunk, sizeof(chunk), &read, nullptr)) {
            bytes.clear();
            return false;
        }
        if (read == 0) return true;
        bytes.append(chunk, read);
    }
}

bool ParseTrustListText(const std::string& bytes, TrustListText& list) {
    list = TrustListText();
    std::wstring section;
    bool inSection = false;
    size_t start = 0;
    while (start <= bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string raw = bytes.substr(start, end - start);
        start = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::wstring line;
        line.reserve(raw.size());
        for (unsigned char c : raw) line.push_back(static_cast<wchar_t>(c));
        line = Trim(line);
        if (line.empty() || StartsWith(line, L"/*") || StartsWith(line, L"//") || StartsWith(line, L"*/")) continue;
        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            section = Trim(line.substr(1, line.size() - 2));
            if (section.empty()) return false;
            inSection = true;
            continue;
        }
        if (inSection) list.sections[section].push_back(line);
    }

    const auto ver = list.sections.find(L"VER");
    if (ver == list.sections.end() || ver->second.size() != 1 || !ParseVersion(ver->second[0], list.version))
        return false;
    if (const auto sha = list.sections.find(L"SHA"); sha != list.sections.end()) {
        for (const std::wstring& text : sha->second) {
            Thumbprint digits;
            if (!DecodeThumbprint(text, digits)) return false;
            list.thumbprints.push_back(std::move(digits));
        }
    }
    return true;
}

const TrustListValues& BuiltInTrustList() {
    static const TrustListValues values{true, kBuiltInVersion, kBuiltInNames, kBuiltInRoots,
                                        sizeof(kBuiltInRoots) / sizeof(kBuiltInRoots[0]), kBuiltInSerials};
    return values;
}

EmbeddedTrustListSignature::EmbeddedTrustListSignature()
    : signer_(std::begin(kListSignerThumbprint), std::end(kListSignerThumbprint)) {}

EmbeddedTrustListSignature::EmbeddedTrustListSignature(Thumbprint signer) : signer_(std::move(signer)) {}

bool EmbeddedTrustListSignature::IsSignedBySuite(const std::wstring& path) const {
    TrustHandles::CertStore store;
    TrustHandles::CryptMessage message;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, store.Receive(),
                          message.Receive(), nullptr))
        return false;
    DWORD signers = 0, size = sizeof(signers);
    if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers != 1) return false;
    size = 0;
    if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0) return false;
    std::vector<BYTE> buffer(size);
    if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) return false;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
    CERT_INFO wanted = {};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    TrustHandles::Certificate certificate(CertGetSubjectCertificateFromStore(store.Get(), kEncoding, &wanted));
    if (!certificate) return false;
    BYTE thumbprint[20] = {};
    DWORD thumbprintSize = sizeof(thumbprint);
    if (!CertGetCertificateContextProperty(certificate.Get(), CERT_SHA1_HASH_PROP_ID, thumbprint, &thumbprintSize) ||
        thumbprintSize != sizeof(thumbprint) || signer_.size() != sizeof(thumbprint) ||
        std::memcmp(thumbprint, signer_.data(), sizeof(thumbprint)) != 0)
        return false;
    // The signature itself must be that certificate's: naming the list signer is not enough.
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify = {};
    verify.cbSize = sizeof(verify);
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(certificate.Get());
    if (!CryptMsgControl(message.Get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify)) return false;
    return VerifyAuthenticodeHashOnly(path.c_str()) == 0;
}

std::wstring TrustList::DefaultPath() {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    PathStripToRootW(path);
    if (!PathAppendW(path, L"Program Files\\Common Files\\Torvex\\Platform\\Core\\trusted.js")) return {};
    return path;
}

TrustList& TrustList::Installed() {
    static TrustList list;
    return list;
}

TrustList::TrustList() : TrustList(DefaultPath()) {}

TrustList::TrustList(std::wstring path, std::shared_ptr<const TrustListSignature> signature)
    : path_(std::move(path)), signature_(std::move(signature)) {
    if (!signature_) signature_ = std::make_shared<EmbeddedTrustListSignature>();
}

bool TrustList::Load() {
    ExclusiveLock lock(lock_);
    return LoadLocked();
}

bool TrustList::IsLoaded() const {
    SharedLock lock(lock_);
    return loaded_;
}

bool TrustList::Reload() {
    ExclusiveLock lock(lock_);
    return ReloadLocked();
}

bool TrustList::ReloadLocked() {
    // The file is read into a candidate first: a file that cannot be read now (anyone may hold it open without
    // sharing) must not leave this process without the list it had.
    TrustList candidate(path_, signature_);
    if (!LoadsNewerThanBuiltIn(candidate)) return false;
    std::swap(sections_, candidate.sections_);
    std::swap(version_, candidate.version_);
    std::swap(names_, candidate.names_);
    std::swap(serials_, candidate.serials_);
    std::swap(thumbprints_, candidate.thumbprints_);
    std::swap(loaded_, candidate.loaded_);
    return true;
}

void TrustList::Unload() {
    ExclusiveLock lock(lock_);
    ClearLocked();
}

DWORD TrustList::Version() const {
    SharedLock lock(lock_);
    return version_;
}

bool TrustList::LoadLocked() {
    if (loaded_) return true;
    // Each load starts from an empty table: lines of an earlier failed read must not count.
    ClearLocked();
    loaded_ = !path_.empty() && PathFileExistsW(path_.c_str()) && signature_->IsSignedBySuite(path_) && ReadLocked();
    if (!loaded_) ClearLocked();
    return loaded_;
}

bool TrustList::ReadLocked() {
    LockedFile file(path_, 0);
    if (!file.IsOpen()) return false;
    // Read through the locked handle.
    std::string bytes;
    if (!ReadWholeFile(file.Handle(), bytes)) return false;
    TrustListText text;
    if (!ParseTrustListText(bytes, text)) return false;
    sections_ = std::move(text.sections);
    version_ = text.version;
    thumbprints_ = std::move(text.thumbprints);
    if (const auto org = sections_.find(L"ORG"); org != sections_.end()) {
        for (const std::wstring& name : org->second) names_.push_back(name.c_str());
        names_.push_back(nullptr);
    }
    if (const auto ser = sections_.find(L"SER"); ser != sections_.end()) {
        for (const std::wstring& serial : ser->second) serials_.push_back(serial.c_str());
        serials_.push_back(nullptr);
    }
    return true;
}

void TrustList::ClearLocked() {
    names_.clear();
    serials_.clear();
    thumbprints_.clear();
    version_ = 0;
    loaded_ = false;
    sections_.clear();
}

TrustListValues TrustList::ValuesLocked() const {
    TrustListValues values;
    values.loaded = loaded_;
    values.version = version_;
    values.names = names_.empty() ? nullptr : names_.data();
    values.serials = serials_.empty() ? nullptr : serials_.data();
    values.thumbprints = thumbprints_.empty() ? nullptr : thumbprints_.data();
    values.thumbprintCount = thumbprints_.size();
    return values;
}

bool TrustList::Install(const std::wstring& source) {
    ExclusiveLock lock(lock_);
    const bool exists = PathFileExistsW(path_.c_str()) != FALSE;
    LockedFile installed(path_, LOCKFILE_EXCLUSIVE_LOCK);
    if (exists && !installed.IsOpen()) return false;

    wchar_t folder[MAX_PATH] = {};
    if (path_.size() >= MAX_PATH) return false;
    wcscpy(folder, path_.c_str());
    PathRemoveFileSpecW(folder);
    if (!PathIsDirectoryW(folder)) SHCreateDirectoryExW(nullptr, folder, nullptr);
    // Windows finds a script's embedded signature by the file's extension: the copy must keep ".js" to be judged.
    const std::wstring temporary = std::wstring(folder) + L"\\trusted.tmp.js";
    // A copy left by an earlier install may be hidden (a cabinet's entry keeps that attribute), and Windows does
    // not copy over a hidden file.
    SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!CopyFileW(source.c_str(), temporary.c_str(), FALSE)) return false;
    // The copy is what will be installed, so the copy is judged: the source may change once it has been read.
    if (!IsNewerListLocked(temporary)) {
        DeleteFileW(temporary.c_str());
        return false;
    }

    const bool replaced = exists ? ReplaceFileW(path_.c_str(), temporary.c_str(), nullptr,
                                                REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE
                                 : MoveFileW(temporary.c_str(), path_.c_str()) != FALSE;
    installed.Release();
    if (!replaced) {
        // Without REPLACE_EXISTING the scheduled move would never replace the file that is there.
        MoveFileExW(temporary.c_str(), path_.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
        return false;
    }
    GlobalAddAtomW(kTrustListUpdateAtom);
    return ReloadLocked();
}

bool TrustList::IsNewerListLocked(const std::wstring& path) const {
    TrustList candidate(path, signature_);
    return LoadsNewerThanBuiltIn(candidate) && (!loaded_ || candidate.Version() > version_);
}

bool InstallTrustListFromFile(TrustList& installed, const std::wstring& path) { return installed.Install(path); }

bool InstallTrustListFromFile(const wchar_t* path) {
    return path && *path && InstallTrustListFromFile(TrustList::Installed(), path);
}
