#include "EventManifestReader.h"

#include <cstring>
#include <stdexcept>

namespace quillontest {
namespace {

class Bytes {
public:
    explicit Bytes(const std::vector<BYTE>& data) : data_(data) {}

    void Need(size_t offset, size_t size, const char* what) const {
        if (offset > data_.size() || size > data_.size() - offset)
            throw std::runtime_error(std::string(what) + " lies outside the payload");
    }
    void Aligned(size_t offset, const char* what) const {
        if (offset % 4 != 0) throw std::runtime_error(std::string(what) + " is not 4-byte aligned");
    }
    template <class T>
    T Get(size_t offset, const char* what) const {
        Need(offset, sizeof(T), what);
        T value;
        std::memcpy(&value, data_.data() + offset, sizeof value);
        return value;
    }
    std::string Signature(size_t offset) const {
        Need(offset, 4, "a signature");
        return std::string(reinterpret_cast<const char*>(data_.data() + offset), 4);
    }
    std::wstring Text(size_t offset, size_t characters, const char* what) const {
        Need(offset, characters * 2, what);
        std::wstring text(characters, L'\0');
        std::memcpy(text.data(), data_.data() + offset, characters * 2);
        return text;
    }
    GUID Guid(size_t offset, const char* what) const { return Get<GUID>(offset, what); }

    // A name record: u32 size (a multiple of 4 covering itself, the text, the NUL and padding).
    std::wstring NameRecord(size_t offset) const {
        Aligned(offset, "a name record");
        const DWORD size = Get<DWORD>(offset, "a name record");
        if (size < 8 || size % 4 != 0) throw std::runtime_error("a name record has a bad size");
        Need(offset, size, "a name record");
        std::wstring text;
        for (size_t at = offset + 4; at + 2 <= offset + size; at += 2) {
            const wchar_t c = Get<wchar_t>(at, "a name record");
            if (c == L'\0') return text;
            text.push_back(c);
        }
        throw std::runtime_error("a name record has no terminator");
    }

    size_t size() const { return data_.size(); }

private:
    const std::vector<BYTE>& data_;
};

// Walks a template's binary XML fragment: <EventData> holding one <Data Name="..."> per field, each with one
// substitution. Fills the XML name and substitution of each field and returns the fragment's length.
size_t ReadTemplateXml(const Bytes& b, size_t at, std::vector<ManifestField>& fields) {
    const size_t start = at;
    auto byte = [&](const char* what) { return b.Get<BYTE>(at++, what); };
    auto expect = [&](BYTE token, const char* what) {
        if (byte(what) != token) throw std::runtime_error(std::string("unexpected token instead of ") + what);
    };
    auto inlineName = [&]() {
        const USHORT hash = b.Get<USHORT>(at, "a name hash");
        const USHORT length = b.Get<USHORT>(at + 2, "a name length");
        std::wstring name = b.Text(at + 4, length, "a name");
        at += 4 + length * 2;
        if (b.Get<USHORT>(at, "a name terminator") != 0) throw std::runtime_error("an inline name is unterminated");
        at += 2;
        DWORD h = 0;
        for (wchar_t c : name) h = h * 65599 + static_cast<USHORT>(c);
        if (static_cast<USHORT>(h) != hash) throw std::runtime_error("an inline name has a wrong hash");
        return name;
    };
    // An open-start token, its dependency id and data size; returns where the element must end.
    auto openElement = [&](BYTE token, const wchar_t* name) {
        expect(token, "an element");
        if (b.Get<USHORT>(at, "a dependency id") != 0xFFFF) throw std::runtime_error("a dependency id is not 0xFFFF");
        const DWORD dataSize = b.Get<DWORD>(at + 2, "an element size");
        at += 6;
        const size_t end = at + dataSize;
        if (inlineName() != name) throw std::runtime_error("an element has an unexpected name");
        return end;
    };

    expect(0x0F, "the fragment header");
    if (byte("fragment version") != 1 || byte("fragment version") != 1 || byte("fragment flags") != 0)
        throw std::runtime_error("the fragment header is not 1.1");
    const size_t eventDataEnd = openElement(0x01, L"EventData");
    expect(0x02, "the close of <EventData>");
    for (size_t i = 0; i < fields.size(); ++i) {
        const size_t dataEnd = openElement(0x41, L"Data");
        const DWORD attributes = b.Get<DWORD>(at, "an attribute list size");
        at += 4;
        const size_t attributesEnd = at + attributes;
        expect(0x06, "the Name attribute");
        if (inlineName() != L"Name") throw std::runtime_error("the attribute is not Name");
        expect(0x05, "the attribute value");
        expect(0x01, "a string value");
        const USHORT length = b.Get<USHORT>(at, "a value length");
        fields[i].xmlName = b.Text(at + 2, length, "a value");
        at += 2 + length * 2;
        if (at != attributesEnd) throw std::runtime_error("an attribute list size is wrong");
        expect(0x02, "the close of <Data>");
        expect(0x0D, "a substitution");
        fields[i].substitution = b.Get<USHORT>(at, "a substitution index");
        fields[i].substitutionType = b.Get<BYTE>(at + 2, "a substitution type");
        at += 3;
        expect(0x04, "the end of <Data>");
        if (at != dataEnd) throw std::runtime_error("a <Data> size is wrong");
    }
    expect(0x04, "the end of <EventData>");
    if (at != eventDataEnd) throw std::runtime_error("the <EventData> size is wrong");
    expect(0x00, "the end of the fragment");
    return at - start;
}

std::vector<ManifestField> ReadTemplate(const Bytes& b, size_t at) {
    b.Aligned(at, "a template");
    if (b.Signature(at) != "TEMP") throw std::runtime_error("a template offset does not point at TEMP");
    const DWORD size = b.Get<DWORD>(at + 4, "a template size");
    const DWORD items = b.Get<DWORD>(at + 8, "a template's item count");
    const DWORD names = b.Get<DWORD>(at + 12, "a template's name count");
    const DWORD descriptors = b.Get<DWORD>(at + 16, "a template's descriptor offset");
    if (b.Get<DWORD>(at + 20, "a template's kind") != 1) throw std::runtime_error("a template is not EventData");
    b.Need(at, size, "a template");
    if (items != names || items == 0) throw std::runtime_error("a template's counts disagree");
    b.Aligned(descriptors, "item descriptors");
    std::vector<ManifestField> fields(items);
    const size_t xmlLength = ReadTemplateXml(b, at + 40, fields);
    if (descriptors < at + 40 + xmlLength || descriptors - (at + 40 + xmlLength) > 3)
        throw std::runtime_error("item descriptors do not follow the template's XML");
    size_t expectedName = descriptors + 20 * items;
    for (DWORD i = 0; i < items; ++i) {
        const size_t d = descriptors + 20 * i;
        fields[i].inType = b.Get<BYTE>(d + 4, "an item's in-type");
        fields[i].outType = b.Get<BYTE>(d + 5, "an item's out-type");
        const DWORD nameAt = b.Get<DWORD>(d + 16, "an item's name offset");
        if (nameAt != expectedName) throw std::runtime_error("item names do not follow the descriptors in order");
        fields[i].name = b.NameRecord(nameAt);
        expectedName += b.Get<DWORD>(nameAt, "a name record");
    }
    if (expectedName != at + size) throw std::runtime_error("a template's size does not end after its names");
    return fields;
}

// A block of fixed-size definitions: signature, size, count; each definition read by the callback.
template <class Read>
void ReadBlock(const Bytes& b, size_t at, const char* signature, size_t definitionSize, Read read) {
    b.Aligned(at, signature);
    if (b.Signature(at) != signature) throw std::runtime_error(std::string(signature) + " is not where its entry says");
    const DWORD size = b.Get<DWORD>(at + 4, signature);
    const DWORD count = b.Get<DWORD>(at + 8, signature);
    if (size == 0 && count == 0) return;
    b.Need(at, size, signature);
    if (12 + definitionSize * count > size) throw std::runtime_error(std::string(signature) + " is too small");
    for (DWORD i = 0; i < count; ++i) read(at + 12 + definitionSize * i);
}

}  // namespace

CompiledManifest ReadCompiledManifest(const std::vector<BYTE>& payload) {
    const Bytes b(payload);
    CompiledManifest manifest;
    if (b.Signature(0) != "CRIM") throw std::runtime_error("no CRIM header");
    if (b.Get<DWORD>(4, "the CRIM size") != payload.size()) throw std::runtime_error("the CRIM size is not the payload's");
    if (b.Get<DWORD>(12, "the provider count") != 1) throw std::runtime_error("not one provider");
    manifest.provider = b.Guid(16, "the provider GUID");
    const DWORD wevt = b.Get<DWORD>(32, "the WEVT offset");
    b.Aligned(wevt, "WEVT");
    if (b.Signature(wevt) != "WEVT") throw std::runtime_error("the provider does not point at WEVT");
    b.Need(wevt, b.Get<DWORD>(wevt + 4, "the WEVT size"), "WEVT");
    manifest.providerMessage = b.Get<DWORD>(wevt + 8, "the provider message");
    const DWORD entries = b.Get<DWORD>(wevt + 12, "the element count");

    std::map<DWORD, DWORD> elements;  // kind -> offset
    for (DWORD i = 0; i < entries; ++i) {
        const DWORD kind = b.Get<DWORD>(wevt + 16 + 8 * i, "an element kind");
        const DWORD offset = b.Get<DWORD>(wevt + 20 + 8 * i, "an element offset");
        if (!elements.emplace(kind, offset).second) throw std::runtime_error("an element kind appears twice");
    }
    for (DWORD kind : {0u, 1u, 2u, 3u, 4u, 7u})
        if (!elements.count(kind)) throw std::runtime_error("an element is missing");

    std::map<DWORD, ManifestTask> tasksAt;
    ReadBlock(b, elements[1], "TASK", 28, [&](size_t d) {
        ManifestTask task{b.Get<DWORD>(d, "a task value"), b.Get<DWORD>(d + 4, "a task message"),
                          b.Guid(d + 8, "a task GUID"), b.NameRecord(b.Get<DWORD>(d + 24, "a task name"))};
        tasksAt[static_cast<DWORD>(d)] = task;
        manifest.tasks.push_back(task);
    });
    std::map<DWORD, ManifestOpcode> opcodesAt;
    ReadBlock(b, elements[2], "OPCO", 12, [&](size_t d) {
        const DWORD identifier = b.Get<DWORD>(d, "an opcode identifier");
        ManifestOpcode opcode{static_cast<BYTE>(identifier >> 16), static_cast<USHORT>(identifier & 0xFFFF),
                              b.Get<DWORD>(d + 4, "an opcode message"),
                              b.NameRecord(b.Get<DWORD>(d + 8, "an opcode name"))};
        if (identifier >> 24) throw std::runtime_error("an opcode identifier has bits above the opcode");
        opcodesAt[static_cast<DWORD>(d)] = opcode;
        manifest.opcodes.push_back(opcode);
    });
    ReadBlock(b, elements[0], "LEVL", 12, [](size_t) { throw std::runtime_error("unexpected level definitions"); });
    ReadBlock(b, elements[3], "KEYW", 16, [](size_t) { throw std::runtime_error("unexpected keyword definitions"); });

    const size_t evnt = elements[4];
    if (b.Signature(evnt) != "EVNT") throw std::runtime_error("EVNT is not where its entry says");
    const DWORD count = b.Get<DWORD>(evnt + 8, "the event count");
    if (b.Get<DWORD>(evnt + 4, "the EVNT size") != 16 + 48 * count) throw std::runtime_error("the EVNT size is wrong");
    b.Need(evnt, 16 + 48 * static_cast<size_t>(count), "EVNT");
    for (DWORD i = 0; i < count; ++i) {
        const size_t d = evnt + 16 + 48 * i;
        ManifestEvent event;
        event.id = b.Get<USHORT>(d, "an event id");
        event.version = b.Get<BYTE>(d + 2, "an event version");
        event.channel = b.Get<BYTE>(d + 3, "an event channel");
        event.level = b.Get<BYTE>(d + 4, "an event level");
        event.opcode = b.Get<BYTE>(d + 5, "an event opcode");
        event.task = b.Get<USHORT>(d + 6, "an event task");
        event.keywords = b.Get<ULONGLONG>(d + 8, "event keywords");
        event.message = b.Get<DWORD>(d + 16, "an event message");
        const DWORD templateAt = b.Get<DWORD>(d + 20, "a template offset");
        const DWORD opcodeAt = b.Get<DWORD>(d + 24, "an opcode offset");
        const DWORD taskAt = b.Get<DWORD>(d + 32, "a task offset");
        if (!opcodesAt.count(opcodeAt) || !tasksAt.count(taskAt))
            throw std::runtime_error("an event does not point at its opcode and task definitions");
        event.opcodeDefinition = opcodesAt[opcodeAt];
        event.taskDefinition = tasksAt[taskAt];
        event.hasTemplate = templateAt != 0;
        if (event.hasTemplate) event.fields = ReadTemplate(b, templateAt);
        manifest.events.push_back(event);
    }
    return manifest;
}

std::map<DWORD, std::wstring> ReadMessageTable(const std::vector<BYTE>& table) {
    const Bytes b(table);
    std::map<DWORD, std::wstring> messages;
    const DWORD blocks = b.Get<DWORD>(0, "the block count");
    DWORD previousHigh = 0;
    for (DWORD i = 0; i < blocks; ++i) {
        const DWORD low = b.Get<DWORD>(4 + 12 * i, "a block's low id");
        const DWORD high = b.Get<DWORD>(8 + 12 * i, "a block's high id");
        size_t at = b.Get<DWORD>(12 + 12 * i, "a block's entries");
        if (high < low || (i > 0 && low <= previousHigh)) throw std::runtime_error("blocks overlap or are unsorted");
        previousHigh = high;
        for (DWORD id = low;; ++id) {
            const USHORT length = b.Get<USHORT>(at, "an entry length");
            const USHORT flags = b.Get<USHORT>(at + 2, "an entry's flags");
            if (flags != 1 || length < 6 || length % 4 != 0) throw std::runtime_error("an entry is not Unicode text");
            b.Need(at, length, "an entry");
            std::wstring text = b.Text(at + 4, (length - 4) / 2, "an entry");
            const size_t end = text.find(L'\0');
            if (end == std::wstring::npos) throw std::runtime_error("an entry has no terminator");
            text.resize(end);
            messages[id] = text;
            at += length;
            if (id == high) break;
        }
    }
    return messages;
}

std::vector<BYTE> ResourceBytes(HMODULE module, const wchar_t* type, WORD name) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(name), type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data) return {};
    return std::vector<BYTE>(data, data + SizeofResource(module, found));
}

}  // namespace quillontest
