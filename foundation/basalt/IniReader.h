#pragma once
// Ini readers. CBaseIniReader reads an ini file into memory once and answers lookups from memory; writes go to the
// file through the private-profile functions and are mirrored in memory. CObfuscatedIniReader keeps every value as
// an ini record: entry "_K" holds the 36-byte record header and entry "K" the enciphered payload, both as the hex
// text of WritePrivateProfileStructW. On load it pairs the two and deciphers; plain entries stay visible only to
// GetSection, the getters answer records only.
// Section and key names are case-sensitive. A one-name lookup is "section.key", split at its first dot.
// Nothing here logs; one reader is used by one thread.
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

namespace Basalt {

#pragma pack(push, 1)
struct IniRecordHeader {
    char magic[4];  // "QZRG"
    std::uint32_t version;
    std::uint32_t length;  // payload bytes
    std::uint32_t type;    // REG_SZ or REG_DWORD
    std::uint32_t enciphered;
    std::uint8_t digest[16];  // MD5 of the enciphered payload
};
#pragma pack(pop)
static_assert(sizeof(IniRecordHeader) == 36);

class CBaseIniReader {
public:
    CBaseIniReader() = default;
    CBaseIniReader(const CBaseIniReader&) = delete;
    CBaseIniReader& operator=(const CBaseIniReader&) = delete;
    virtual ~CBaseIniReader() = default;

    // Keeps the path (also when the file is missing, so that writes can create it) and parses every line.
    // False for an empty path or a file that cannot be opened.
    virtual bool Load(const std::wstring& path);
    virtual bool GetDWORD(const std::wstring& section, const std::wstring& key, DWORD& value);
    virtual bool GetString(const std::wstring& section, const std::wstring& key, std::wstring& value);
    virtual bool GetDWORD(const std::wstring& name, DWORD& value) = 0;
    virtual bool GetString(const std::wstring& name, std::wstring& value) = 0;
    virtual bool GetSection(const std::wstring& section, std::map<std::wstring, std::wstring>& entries) = 0;
    virtual bool SetDWORD(const std::wstring& section, const std::wstring& key, DWORD value);
    virtual bool SetString(const std::wstring& section, const std::wstring& key, const std::wstring& text);
    // False when the entry was not added (an earlier definition wins unless replace is set).
    virtual bool AddEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                          bool replace) = 0;
    // One line of the file, in the thread's ANSI code page.
    virtual void Parse(const char* line);

    const std::wstring& File() const { return file_; }
    DWORD EntriesAdded() const { return entriesAdded_; }
    DWORD SectionsSeen() const { return sectionsSeen_; }

private:
    std::wstring file_;
    std::wstring section_;
    DWORD entriesAdded_ = 0;
    DWORD sectionsSeen_ = 0;
};

class CObfuscatedIniReader : public CBaseIniReader {
public:
    CObfuscatedIniReader() = default;
    ~CObfuscatedIniReader() override;

    using CBaseIniReader::GetDWORD;
    using CBaseIniReader::GetString;

    bool Load(const std::wstring& path) override;
    // Only values stored as records are answered. GetDWORD reads the text as a signed decimal number; false leaves
    // value untouched.
    bool GetDWORD(const std::wstring& name, DWORD& value) override;
    bool GetString(const std::wstring& name, std::wstring& value) override;
    // Every entry of the section, records and plain entries alike, set into the caller's map.
    bool GetSection(const std::wstring& section, std::map<std::wstring, std::wstring>& entries) override;
    // Write a number record (4 bytes) or a text record (ANSI code page). False when no file is set (the profile
    // functions would otherwise write to a file of the Windows folder) or a write fails.
    bool SetDWORD(const std::wstring& section, const std::wstring& key, DWORD value) override;
    bool SetString(const std::wstring& section, const std::wstring& key, const std::wstring& text) override;
    bool AddEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                  bool replace) override;

    // Enciphers the payload with the ini-record key into output and fills the header. 0, 87 output smaller than
    // the payload, 6000 enciphering or digest failed (a payload of 0 bytes included).
    static DWORD EncodeRecord(const BYTE* payload, DWORD length, DWORD type, BYTE* output, DWORD outputSize,
                              IniRecordHeader& header);
    // Checks the header against the enciphered payload and deciphers it into output (nothing deciphered without
    // output). Zeroes the header's digest. 0, 13 digest, length or magic wrong, 234 output too small, 6001.
    static DWORD DecodeRecord(const BYTE* payload, DWORD length, BYTE* output, DWORD outputSize,
                              IniRecordHeader& header);

private:
    struct Entry {
        std::wstring value;
        bool isRecord = false;
        DWORD type = REG_SZ;
    };
    using Section = std::map<std::wstring, Entry>;

    const Entry* Find(const std::wstring& name) const;
    void DecodePendingHeaders();
    bool WriteRecord(const std::wstring& section, const std::wstring& key, const BYTE* payload, DWORD length,
                     DWORD type);

    std::map<std::wstring, Section> entries_;
    std::map<std::wstring, std::wstring> pendingHeaders_;
};

}  // namespace Basalt
