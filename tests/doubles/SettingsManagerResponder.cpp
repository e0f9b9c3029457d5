#include "tests/doubles/SettingsManagerResponder.h"

#include <cwchar>

#include "clients/support/RapidJsonConfig.h"
#include "tests/doubles/CorluneResponder.h"

namespace doubles {

namespace {

using Encoding = rapidjson::UTF16<wchar_t>;
using Document = rapidjson::GenericDocument<Encoding>;
using Value = Document::ValueType;
using Buffer = rapidjson::GenericStringBuffer<Encoding>;
using Writer = rapidjson::Writer<Buffer, Encoding, Encoding>;

constexpr wchar_t kGetOne[] = L"SETTINGS_MANAGER_GET_PROPERTY";
constexpr wchar_t kSetOne[] = L"SETTINGS_MANAGER_SET_PROPERTY";
constexpr wchar_t kRemoveOne[] = L"SETTINGS_MANAGER_REMOVE_PROPERTY";
constexpr wchar_t kGetList[] = L"SettingsManager.GetProperties.Request";
constexpr wchar_t kSetList[] = L"SettingsManager.SetProperties.Request";
constexpr wchar_t kRemoveList[] = L"SettingsManager.RemoveProperties.Request";

std::wstring Text(const Value* value) {
    return value && value->IsString() ? std::wstring(value->GetString(), value->GetStringLength()) : std::wstring();
}

const Value* Member(const Value& object, const wchar_t* name) {
    if (!object.IsObject()) return nullptr;
    const auto member = object.FindMember(name);
    return member == object.MemberEnd() ? nullptr : &member->value;
}

bool Flag(const Value& object, const wchar_t* name) {
    const Value* value = Member(object, name);
    return value && value->IsBool() && value->GetBool();
}

void String(Writer& writer, const std::wstring& text) {
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

// One reply object: name, status (and value when there is one), bent by a per-name fault.
struct Response {
    std::wstring name;
    bool status = false;
    std::optional<std::wstring> value;
};

void WriteResponse(Writer& writer, const Response& response, const std::wstring& fault) {
    writer.StartObject();
    writer.Key(L"name");
    String(writer, fault == L"wrong-name" ? response.name + L"-other" : response.name);
    writer.Key(L"status");
    if (fault == L"status-number")
        writer.Int(response.status ? 1 : 0);
    else
        writer.Bool(response.status && fault != L"status-false");
    if (response.value && fault != L"missing-value") {
        writer.Key(L"value");
        String(writer, *response.value);
    }
    writer.EndObject();
}

std::wstring Notice(const std::wstring& name, const std::wstring* value) {
    Buffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writer.Key(L"name");
    String(writer, name);
    if (value) {
        writer.Key(L"value");
        String(writer, *value);
    }
    writer.EndObject();
    return buffer.GetString();
}

}  // namespace

SettingsManagerResponder::Faults SettingsManagerResponder::ParseFaults(const std::vector<std::wstring>& entries) {
    Faults faults;
    for (const std::wstring& entry : entries) {
        const size_t colon = entry.rfind(L':');
        if (colon == std::wstring::npos) continue;
        Fault fault;
        fault.kind = entry.substr(colon + 1);
        if (fault.kind.rfind(L"delay=", 0) == 0) {
            fault.delayMs = static_cast<std::uint32_t>(std::wcstoul(fault.kind.c_str() + 6, nullptr, 10));
            fault.kind = L"delay";
        }
        faults[entry.substr(0, colon)] = fault;
    }
    return faults;
}

const SettingsManagerResponder::Fault* SettingsManagerResponder::FaultFor(const Faults& faults,
                                                                          const std::wstring& name) {
    auto found = faults.find(name);
    if (found == faults.end()) found = faults.find(L"*");
    return found == faults.end() ? nullptr : &found->second;
}

std::optional<std::wstring> SettingsManagerResponder::value(const std::wstring& name) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto entry = store_.find(name);
    if (entry == store_.end()) return std::nullopt;
    return entry->second.value;
}

std::optional<SettingsAnswer> SettingsManagerResponder::answer(const std::wstring& requestName,
                                                               const std::wstring& data,
                                                               const std::vector<std::wstring>& faultEntries) {
    const bool single = requestName == kGetOne || requestName == kSetOne || requestName == kRemoveOne;
    const bool list = requestName == kGetList || requestName == kSetList || requestName == kRemoveList;
    if (!single && !list) return std::nullopt;

    Document request;
    try {
        request.Parse(data.c_str());
    } catch (const Orvan::internal::JsonAssertion&) {
        request.SetNull();
    }
    if (request.HasParseError()) request.SetNull();

    const Faults faults = ParseFaults(faultEntries);
    std::lock_guard<std::mutex> guard(lock_);
    // Faults of the whole answer: by the property's name (single requests), the request's name, or "*".
    const std::wstring subject = single ? Text(Member(request, L"name")) : requestName;
    const Fault* whole = nullptr;
    for (const std::wstring& key : {subject, requestName, std::wstring(L"*")}) {
        const auto found = faults.find(key);
        if (found != faults.end()) {
            whole = &found->second;
            break;
        }
    }
    const std::wstring wholeKind = whole ? whole->kind : std::wstring();

    SettingsAnswer answer;
    if (wholeKind == L"no-reply") answer.kind = SettingsAnswer::Kind::NoReply;
    if (wholeKind == L"bus-timeout") answer.kind = SettingsAnswer::Kind::BusTimeout;
    if (wholeKind == L"bus-error") answer.kind = SettingsAnswer::Kind::BusError;
    if (wholeKind == L"delay") answer.delayMs = whole->delayMs;
    if (answer.kind != SettingsAnswer::Kind::Reply) return answer;
    if (wholeKind == L"bad-json") {
        answer.body = L"{\"name\":\"" + subject + L"\",\"status\":";
        return answer;
    }
    if (wholeKind == L"non-object") {
        answer.body = L"[\"" + subject + L"\",true]";
        return answer;
    }

    // The requested elements: the body itself for a single request, the "properties" array of a list.
    std::vector<const Value*> elements;
    if (single) {
        if (request.IsObject()) elements.push_back(&request);
    } else if (const Value* properties = Member(request, L"properties"); properties && properties->IsArray()) {
        for (const Value& element : properties->GetArray())
            if (element.IsObject()) elements.push_back(&element);
    }

    std::vector<Response> responses;
    const bool getting = requestName == kGetOne || requestName == kGetList;
    const bool setting = requestName == kSetOne || requestName == kSetList;
    for (const Value* element : elements) {
        const std::wstring name = Text(Member(*element, L"name"));
        if (setting) {
            const std::wstring value = Text(Member(*element, L"value"));
            store_[name] = Entry{value, Flag(*element, L"volatile")};
            responses.push_back({name, true, std::nullopt});
            answer.notices.emplace_back(L"SETTINGS_MANAGER_PROPERTY_SET", Notice(name, &value));
            answer.notices.emplace_back(L"SettingsManager.Notify.Set." + name, Notice(name, &value));
            continue;
        }
        // Names a get or remove reaches: the name itself, or every stored name it begins when it is a prefix.
        std::vector<std::wstring> reached;
        if (Flag(*element, L"isPrefix")) {
            for (const auto& [stored, entry] : store_)
                if (stored.compare(0, name.size(), name) == 0) reached.push_back(stored);
        } else {
            reached.push_back(name);
        }
        for (const std::wstring& each : reached) {
            const auto entry = store_.find(each);
            const bool found = entry != store_.end();
            if (getting) {
                responses.push_back({each, found, found ? std::optional<std::wstring>(entry->second.value)
                                                        : std::nullopt});
            } else {
                responses.push_back({each, found, std::nullopt});
                if (found) {
                    store_.erase(entry);
                    answer.notices.emplace_back(L"SETTINGS_MANAGER_PROPERTY_REMOVED", Notice(each, nullptr));
                    answer.notices.emplace_back(L"SettingsManager.Notify.Delete." + each, Notice(each, nullptr));
                }
            }
        }
    }

    Buffer buffer;
    Writer writer(buffer);
    auto faultOf = [&](const std::wstring& name) {
        const Fault* fault = FaultFor(faults, name);
        return fault ? fault->kind : std::wstring();
    };
    if (single) {
        WriteResponse(writer, responses.empty() ? Response{subject, false, std::nullopt} : responses.front(),
                      faultOf(subject));
    } else {
        writer.StartObject();
        if (wholeKind != L"no-responses") {
            writer.Key(L"responses");
            writer.StartArray();
            for (const Response& response : responses) WriteResponse(writer, response, faultOf(response.name));
            writer.EndArray();
        }
        writer.EndObject();
    }
    answer.body = buffer.GetString();
    // A refused change announces nothing.
    const std::wstring singleFault = single ? faultOf(subject) : std::wstring();
    if (singleFault == L"status-false") answer.notices.clear();
    return answer;
}

}  // namespace doubles

// ---- the bus double's hook ----------------------------------------------------------------------------------------

namespace doubles {

namespace {

// The settings manager as one of the bus double's responders; its store lives as long as the loaded double.
class SettingsManagerHook : public corlune::Responder {
public:
    bool Plan(const corlune::Request& request, const corlune::Settings& settings, corlune::ReplyPlan& plan) override {
        std::optional<SettingsAnswer> answer =
            responder_.answer(request.name, request.data, settings.All(L"settings.fault"));
        if (!answer) return false;
        switch (answer->kind) {
            case SettingsAnswer::Kind::NoReply:
                plan.kind = corlune::ReplyPlan::Kind::None;
                return true;
            case SettingsAnswer::Kind::BusTimeout:
                plan.kind = corlune::ReplyPlan::Kind::TimeOut;
                return true;
            case SettingsAnswer::Kind::BusError:
                plan.kind = corlune::ReplyPlan::Kind::Failure;
                plan.status = 0x80000002;
                return true;
            case SettingsAnswer::Kind::Reply:
                break;
        }
        plan.kind = corlune::ReplyPlan::Kind::Answer;
        plan.name = request.name;
        plan.sender = SettingsManagerResponder::kSender;
        plan.data = answer->body;
        if (answer->delayMs) plan.delayMs = answer->delayMs;
        plan.notices = std::move(answer->notices);
        return true;
    }

private:
    SettingsManagerResponder responder_;
};

SettingsManagerHook hook;
const corlune::ResponderRegistration registration(&hook);

}  // namespace

}  // namespace doubles
