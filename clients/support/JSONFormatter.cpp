#include "clients/support/JSONFormatter.h"

#include <cwchar>

namespace Orvan {

namespace {

using Encoding = rapidjson::UTF16<wchar_t>;
using rapidjson::SizeType;

SizeType Length(const std::wstring& text) { return static_cast<SizeType>(text.size()); }

// Everything up to the first NUL, which is where names and array strings end.
SizeType CLength(const std::wstring& text) { return static_cast<SizeType>(std::wcslen(text.c_str())); }

// Passes the reader's events on to the document, refusing nesting beyond the limit. Text from the bus could
// otherwise nest deep enough to exhaust the stack of the thread that parses it, writes it or copies it: every one
// of those walks recurses once per level.
class DepthLimitedHandler {
public:
    explicit DepthLimitedHandler(JSONFormatter::Document& document) : document_(document) {}

    bool Null() { return document_.Null(); }
    bool Bool(bool b) { return document_.Bool(b); }
    bool Int(int i) { return document_.Int(i); }
    bool Uint(unsigned u) { return document_.Uint(u); }
    bool Int64(std::int64_t i) { return document_.Int64(i); }
    bool Uint64(std::uint64_t u) { return document_.Uint64(u); }
    bool Double(double d) { return document_.Double(d); }
    bool RawNumber(const wchar_t* text, SizeType length, bool copy) { return document_.RawNumber(text, length, copy); }
    bool String(const wchar_t* text, SizeType length, bool copy) { return document_.String(text, length, copy); }
    bool Key(const wchar_t* text, SizeType length, bool copy) { return document_.Key(text, length, copy); }
    bool StartObject() { return Enter() && document_.StartObject(); }
    bool EndObject(SizeType members) { return Leave() && document_.EndObject(members); }
    bool StartArray() { return Enter() && document_.StartArray(); }
    bool EndArray(SizeType elements) { return Leave() && document_.EndArray(elements); }

private:
    bool Enter() { return ++depth_ <= JSONFormatter::kMaxDepth; }
    bool Leave() {
        --depth_;
        return true;
    }

    JSONFormatter::Document& document_;
    unsigned depth_ = 0;
};

}  // namespace

JSONFormatter::JSONFormatter() { document_.SetObject(); }

JSONFormatter::JSONFormatter(const JSONFormatter& other) { document_.CopyFrom(other.document_, document_.GetAllocator()); }

JSONFormatter& JSONFormatter::operator=(const JSONFormatter& other) {
    if (this != &other) {
        // Built beside the old content first, so a copy of a part of this very document stays readable.
        Value copy(other.document_, document_.GetAllocator());
        static_cast<Value&>(document_) = copy;
    }
    return *this;
}

JSONFormatter::~JSONFormatter() = default;

bool JSONFormatter::parse(const std::wstring& text) {
    // The reader stops at a NUL as at the end: whatever follows one would pass unread.
    if (text.find(L'\0') != std::wstring::npos) return false;
    rapidjson::GenericStringStream<Encoding> stream(text.c_str());
    rapidjson::GenericReader<Encoding, Encoding> reader;
    bool parsed = false;
    auto generator = [&](Document& document) {
        DepthLimitedHandler handler(document);
        parsed = !reader.Parse<rapidjson::kParseDefaultFlags>(stream, handler).IsError();
        return parsed;
    };
    try {
        // The document takes the parsed value only when the whole text was accepted.
        document_.Populate(generator);
    } catch (const internal::JsonAssertion&) {
        // The reader accepts the escape of a lone trailing surrogate only to trip over it while storing it; a lone
        // leading one is a parse error already, so both are refused alike.
        parsed = false;
    }
    return parsed && document_.IsObject();
}

std::wstring JSONFormatter::toString() {
    rapidjson::GenericStringBuffer<Encoding> buffer;
    rapidjson::Writer<rapidjson::GenericStringBuffer<Encoding>, Encoding, Encoding> writer(buffer);
    // A writer that gives up (a NaN or an infinity) has written part of the text: that part is not JSON.
    if (!document_.Accept(writer)) return std::wstring();
    // The writer escapes NUL characters, so the text ends at its size.
    return std::wstring(buffer.GetString(), buffer.GetSize() / sizeof(wchar_t));
}

const JSONFormatter::Value* JSONFormatter::findMember(const std::wstring& name) const {
    if (!document_.IsObject()) return nullptr;
    const auto member = document_.FindMember(name.c_str());
    return member == document_.MemberEnd() ? nullptr : &member->value;
}

namespace {

// A member of the kind `is` accepts, read with `get`; anything else leaves the out argument alone.
template <class T, class Is, class Get>
bool Read(const JSONFormatter::Value* member, T& value, Is is, Get get) {
    if (!member || !(member->*is)()) return false;
    value = (member->*get)();
    return true;
}

}  // namespace

bool JSONFormatter::getString(const std::wstring& name, std::wstring& value) {
    const Value* member = findMember(name);
    if (!member || !member->IsString()) return false;
    value.assign(member->GetString(), member->GetStringLength());
    return true;
}

bool JSONFormatter::getBool(const std::wstring& name, bool& value) {
    return Read(findMember(name), value, &Value::IsBool, &Value::GetBool);
}

bool JSONFormatter::getInt(const std::wstring& name, std::int32_t& value) {
    return Read(findMember(name), value, &Value::IsInt, &Value::GetInt);
}

bool JSONFormatter::getUInt(const std::wstring& name, std::uint32_t& value) {
    return Read(findMember(name), value, &Value::IsUint, &Value::GetUint);
}

bool JSONFormatter::getInt64(const std::wstring& name, std::int64_t& value) {
    return Read(findMember(name), value, &Value::IsInt64, &Value::GetInt64);
}

bool JSONFormatter::getUInt64(const std::wstring& name, std::uint64_t& value) {
    return Read(findMember(name), value, &Value::IsUint64, &Value::GetUint64);
}

bool JSONFormatter::getDouble(const std::wstring& name, double& value) {
    return Read(findMember(name), value, &Value::IsDouble, &Value::GetDouble);
}

bool JSONFormatter::getStringArray(const std::wstring& name, std::vector<std::wstring>& values) {
    const Value* member = findMember(name);
    if (!member) return true;
    if (!member->IsArray()) return false;
    for (const Value& element : member->GetArray()) {
        if (!element.IsString()) return false;
        values.emplace_back(element.GetString());
    }
    return true;
}

bool JSONFormatter::getObject(const std::wstring& name, JSONFormatter& value) {
    const Value* member = findMember(name);
    if (!member || !member->IsObject()) return false;
    Value copy(*member, value.document_.GetAllocator());
    static_cast<Value&>(value.document_) = copy;
    return true;
}

bool JSONFormatter::getObjectArray(const std::wstring& name, std::vector<JSONFormatter>& values) {
    const Value* member = findMember(name);
    if (!member) return true;
    if (!member->IsArray()) return false;
    for (const Value& element : member->GetArray()) {
        if (!element.IsObject()) return false;
        JSONFormatter& added = values.emplace_back();
        added.document_.CopyFrom(element, added.document_.GetAllocator());
    }
    return true;
}

JSONFormatter::Value JSONFormatter::nameValue(const std::wstring& name) {
    return Value(name.c_str(), CLength(name), document_.GetAllocator());
}

void JSONFormatter::setScalar(const std::wstring& name, Value&& value) {
    Value key = nameValue(name);
    setMember(key, value);
}

void JSONFormatter::setString(const std::wstring& name, const std::wstring& value) {
    setScalar(name, Value(value.data(), Length(value), document_.GetAllocator()));
}

void JSONFormatter::setBool(const std::wstring& name, bool value) { setScalar(name, Value(value)); }
void JSONFormatter::setInt(const std::wstring& name, std::int32_t value) { setScalar(name, Value(value)); }
void JSONFormatter::setUInt(const std::wstring& name, std::uint32_t value) { setScalar(name, Value(value)); }
void JSONFormatter::setInt64(const std::wstring& name, std::int64_t value) { setScalar(name, Value(value)); }
void JSONFormatter::setUInt64(const std::wstring& name, std::uint64_t value) { setScalar(name, Value(value)); }
void JSONFormatter::setDouble(const std::wstring& name, double value) { setScalar(name, Value(value)); }

void JSONFormatter::setStringArray(const std::wstring& name, const std::vector<std::wstring>& values) {
    Value array(rapidjson::kArrayType);
    for (const std::wstring& text : values)
        array.PushBack(Value(text.c_str(), CLength(text), document_.GetAllocator()), document_.GetAllocator());
    setScalar(name, std::move(array));
}

void JSONFormatter::setObject(const std::wstring& name, const JSONFormatter& value) {
    setScalar(name, Value(value.document_, document_.GetAllocator()));
}

void JSONFormatter::setObjectArray(const std::wstring& name, const std::vector<JSONFormatter>& values) {
    Value array(rapidjson::kArrayType);
    for (const JSONFormatter& element : values)
        array.PushBack(Value(element.document_, document_.GetAllocator()), document_.GetAllocator());
    setScalar(name, std::move(array));
}

JSONFormatter::Value* JSONFormatter::arrayForAppend(const std::wstring& name) {
    if (!document_.IsObject()) return nullptr;
    auto member = document_.FindMember(name.c_str());
    if (member == document_.MemberEnd()) {
        document_.AddMember(nameValue(name), Value(rapidjson::kArrayType), document_.GetAllocator());
        return &(document_.MemberEnd() - 1)->value;
    }
    return member->value.IsArray() ? &member->value : nullptr;
}

void JSONFormatter::appendString(const std::wstring& name, const std::wstring& value) {
    if (Value* array = arrayForAppend(name))
        array->PushBack(Value(value.c_str(), CLength(value), document_.GetAllocator()), document_.GetAllocator());
}

void JSONFormatter::appendObject(const std::wstring& name, const JSONFormatter& value) {
    Value copy(value.document_, document_.GetAllocator());
    if (Value* array = arrayForAppend(name)) array->PushBack(copy, document_.GetAllocator());
}

void JSONFormatter::setMember(Value& name, Value& value) {
    // A document left with another root by parse takes no members.
    if (!document_.IsObject() || !name.IsString()) return;
    for (auto member = document_.MemberBegin(); member != document_.MemberEnd(); ++member) {
        if (member->name == name) {
            // Moves the last member into the gap.
            document_.RemoveMember(member);
            break;
        }
    }
    document_.AddMember(name, value, document_.GetAllocator());
}

}  // namespace Orvan
