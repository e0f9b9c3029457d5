#pragma once
// An independent reader of the compiled event-manifest resources: the WEVT_TEMPLATE payload (provider, tasks,
// opcodes, events and their templates, with the template's binary XML walked token by token) and the binary
// message table. Every offset and size is checked against the payload's bounds and alignment; anything malformed
// throws std::runtime_error naming what is wrong.
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillontest {

struct ManifestField {
    std::wstring name;     // the item's name record
    std::wstring xmlName;  // the Name attribute of its <Data> element
    int substitution = -1; // the item index its substitution token names
    BYTE substitutionType = 0;
    BYTE inType = 0;
    BYTE outType = 0;
};

struct ManifestTask {
    DWORD value = 0;
    DWORD message = 0;
    GUID guid{};
    std::wstring name;
};

struct ManifestOpcode {
    BYTE value = 0;
    USHORT task = 0;
    DWORD message = 0;
    std::wstring name;
};

struct ManifestEvent {
    USHORT id = 0;
    BYTE version = 0, channel = 0, level = 0, opcode = 0;
    USHORT task = 0;
    ULONGLONG keywords = 0;
    DWORD message = 0;
    bool hasTemplate = false;
    std::vector<ManifestField> fields;
    ManifestOpcode opcodeDefinition;  // the definition the event points at
    ManifestTask taskDefinition;
};

struct CompiledManifest {
    GUID provider{};
    DWORD providerMessage = 0;
    std::vector<ManifestTask> tasks;
    std::vector<ManifestOpcode> opcodes;
    std::vector<ManifestEvent> events;
};

CompiledManifest ReadCompiledManifest(const std::vector<BYTE>& payload);

// Message id -> text without its terminator.
std::map<DWORD, std::wstring> ReadMessageTable(const std::vector<BYTE>& table);

// The bytes of a resource of a module loaded as a data file (empty when the module has none).
std::vector<BYTE> ResourceBytes(HMODULE module, const wchar_t* type, WORD name);

}  // namespace quillontest
