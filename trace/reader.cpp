// Reading records back, line by line.
#include <algorithm>
#include <type_traits>

#include "common/text.h"
#include "trace/json_reading.h"
#include "trace/record_fields.h"

namespace vpolv::trace {

namespace {

const JsonReading json;

// A text as the writer writes it: a string, or {"utf16": [code units]}.
Text textOf(const Json& value, const std::string& place) {
    if (value.is_object() && value.size() == 1 && value.contains("utf16")) {
        Text text;
        for (const auto& unit : json.arrayAt(value["utf16"], place + ".utf16")) {
            if (!unit.is_number_unsigned() || unit.get<std::uint64_t>() > 0xFFFF)
                json.fail(place, "a code unit is not a number from 0 to 65535");
            text += static_cast<char16_t>(unit.get<std::uint64_t>());
        }
        return text;
    }
    return fromUtf8(json.text(value, place));
}

bool isText(const Json& value) {
    return value.is_string() || (value.is_object() && value.contains("utf16"));
}

Error errorOf(const Json& value, const std::string& place) {
    json.objectAt(value, place);
    const auto parsed =
        parseErrorCode(json.text(json.member(value, "code", place), place + ".code"));
    if (!parsed)
        json.fail(place + ".code", "expected hexadecimal text such as \"0x80041234\"");
    return Error(*parsed, textOf(json.member(value, "description", place), place + ".description"),
                 textOf(json.member(value, "source", place), place + ".source"));
}

host::Arg argOf(const Json& value, const std::string& place) {
    json.objectAt(value, place);
    json.onlyKeys(value, place, {"kind", "value"});
    const Json& kind = json.member(value, "kind", place);
    const Json& v = json.member(value, "value", place);
    const std::string name = kind.is_string() ? kind.get<std::string>() : "";
    using K = host::Arg::Kind;
    for (const K k : {K::I2, K::I4, K::I4Ref, K::Str, K::StrRef, K::Bool}) {
        if (name != host::Arg::kindName(k))
            continue;
        switch (k) {
            case K::Str:
            case K::StrRef:
                return host::Arg::str(textOf(v, place + ".value"), k == K::StrRef);
            case K::Bool:
                return host::Arg::boolean(json.boolean(v, place + ".value"));
            default:
                return {k, json.number(v, place + ".value"), {}};
        }
    }
    json.fail(place + ".kind", "unknown kind");
}

// A name from the record, in a message: cut when it is long.
std::string shown(const std::string& name) {
    return name.size() <= 64 ? name : name.substr(0, 64) + "...";
}

// A call, checked against the declaration of its operation (host::misfit): a record whose calls
// do not fit could not have come from the plug-in, and its readers index arguments by position.
host::Call callOf(const Json& value, const std::string& at) {
    json.objectAt(value, at);
    json.onlyKeys(value, at, {"object", "operation", "args", "answer", "error"});
    const std::string object = json.text(json.member(value, "object", at), at + ".object");
    const std::string operation = json.text(json.member(value, "operation", at), at + ".operation");
    // From here on, messages name the call.
    const std::string place = at + " (" + shown(object + "." + operation) + ")";
    host::Call call{};
    if (!host::misnamed(object, operation)) {
        call.object = *host::objectNamed(object);
        call.operation = *host::operationNamed(operation);
    }
    const Json& args = json.arrayAt(json.member(value, "args", place), place + " args");
    for (std::size_t i = 0; i < args.size(); ++i)
        call.args.push_back(argOf(args[i], place + " args[" + std::to_string(i) + "]"));
    const auto error = value.find("error");
    const auto answer = value.find("answer");
    if (error != value.end() && answer != value.end())
        json.fail(place, "both an answer and an error");
    if (error != value.end()) {
        call.answer.error = errorOf(*error, place + " error");
    } else if (answer != value.end()) {
        const Json& a = *answer;
        if (a.is_boolean()) {
            call.answer = host::answerOf(a.get<bool>());
        } else if (a.is_number_integer()) {
            call.answer = host::answerOf(json.number(a, place + " answer"));
        } else if (isText(a)) {
            call.answer = host::answerOf(textOf(a, place + " answer"));
        } else {
            json.fail(place + " answer", "expected a number, a text or a Boolean");
        }
    }
    if (const auto fault = host::misnamed(object, operation))
        json.fail(place, *fault);
    if (const auto fault = host::misfit(call))
        json.fail(place, *fault);
    return call;
}

// The events as a message lists them: "place", "finishes" or "scene".
std::string eventList() {
    std::string out;
    for (std::size_t i = 0; i < std::size(kEvents); ++i) {
        out += i == 0 ? "" : i + 1 == std::size(kEvents) ? " or " : ", ";
        out += "\"" + std::string(eventName(kEvents[i])) + "\"";
    }
    return out;
}

// Reads each member mapRecord() names from an object at a place ("" for the record itself),
// checked as the record's description asks.
class Reading {
  public:
    Reading(const Json& object, std::string place) : object_(object), place_(std::move(place)) {}

    void field(const char* key, std::string& utf8, Presence presence = Presence::Required) {
        if (const Json* value = find(key, presence))
            utf8 = json.text(*value, at(key));
    }
    void field(const char* key, Text& text) { text = textOf(member(key), at(key)); }
    void field(const char* key, Long& number) { number = json.number(member(key), at(key)); }
    void field(const char* key, bool& value) { value = json.boolean(member(key), at(key)); }
    void field(const char* key, Event& event) {
        const Json& value = member(key);
        const auto known = value.is_string() ? eventNamed(value.get<std::string>()) : std::nullopt;
        if (!known)
            json.fail(at(key), "expected " + eventList());
        event = *known;
    }
    void field(const char* key, std::optional<Text>& text) {
        if (const Json& value = member(key); !value.is_null())
            text = textOf(value, at(key));
    }
    void field(const char* key, std::optional<Error>& error) {
        if (const Json* value = find(key, Presence::Optional); value && !value->is_null())
            error = errorOf(*value, at(key));
    }
    void numbers(const char* decimal, const char* thousands, const char* currency,
                 NumberSymbols& numbers) {
        const Text separator = textOf(member(decimal), at(decimal));
        if (object_.contains(thousands) || object_.contains(currency)) {
            numbers = {separator, textOf(member(thousands), at(thousands)),
                       textOf(member(currency), at(currency))};
        } else {
            numbers = NumberSymbols::forDecimal(separator);
        }
    }
    void character(const char* key, Text& text) {
        field(key, text);
        if (text.size() != 1)
            json.fail(at(key), "expected one character");
    }
    template <class T>
    void list(const char* key, std::vector<T>& items, Presence presence,
              const char* ifEmpty = nullptr) {
        const Json* value = find(key, presence);
        if (!value)
            return;
        const Json& array = json.arrayAt(*value, at(key));
        if (array.empty() && ifEmpty)
            json.fail(at(key), ifEmpty);
        for (std::size_t i = 0; i < array.size(); ++i)
            items.push_back(element<T>(array[i], at(key) + "[" + std::to_string(i) + "]"));
    }

  private:
    const Json& member(const char* key) const { return json.member(object_, key, place_); }
    const Json* find(const char* key, Presence presence) const {
        if (presence == Presence::Required)
            return &member(key);
        const auto it = object_.find(key);
        return it == object_.end() ? nullptr : &*it;
    }
    std::string at(const char* key) const { return place_.empty() ? key : place_ + "." + key; }

    template <class T>
    static T element(const Json& value, const std::string& place) {
        if constexpr (std::is_same_v<T, host::Call>) {
            return callOf(value, place);
        } else {
            json.objectAt(value, place);
            Reading members(value, place);
            T item;
            mapBox(members, item);
            return item;
        }
    }

    const Json& object_;
    std::string place_;
};

Record recordOf(const Json& line) {
    json.objectAt(line, "");
    const auto member = [&](const char* key) -> const Json& { return json.member(line, key, ""); };
    const Json& format = member("format");
    member("calls");
    if (format != kFormat) {
        json.fail("format", (format.is_number() ? format.dump() : JsonReading::kind(format)) +
                                " is not known (" + std::to_string(kFormat) + " is)");
    }
    Record record;
    Reading io(line, "");
    // Whether the reader knows the event, before anything else of the record.
    io.field("event", record.event);
    mapRecord(io, record);
    return record;
}

// How deep the JSON of a record may nest. The writer's nest at most 7 levels deep (a text written
// as {"utf16": [...]} in an argument of a call); a line nested deeper than this is refused before
// it is parsed, so that nothing that walks a value recursively meets one nested without end.
constexpr std::size_t kMaxDepth = 64;

// What a walk over line, byte by byte and without recursion, finds up to byte `until` (or up to
// where it nests deeper than kMaxDepth): the place it has reached ("calls[3]" within a call, the
// member's name elsewhere in the record, empty at its top). Whether the line is JSON or not.
struct Scan {
    bool tooDeep = false;
    std::string place;
};

Scan scan(std::string_view line, std::size_t until) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    std::size_t stringStart = 0;
    std::string_view key;     // the last string at depth 1: a member's name, before its value
    std::string_view member;  // the member of the record the bytes are in
    std::size_t call = 0;     // within "calls", the call
    const auto place = [&] {
        if (depth < 2)
            return std::string();
        return member == "calls" ? "calls[" + std::to_string(call) + "]"
                                 : shown(std::string(member));
    };
    for (std::size_t i = 0; i < line.size() && i < until; ++i) {
        const char c = line[i];
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
                if (depth == 1)
                    key = line.substr(stringStart, i - stringStart);
            }
        } else if (c == '"') {
            inString = true;
            stringStart = i + 1;
        } else if (c == '[' || c == '{') {
            if (depth == 1) {
                member = key;
                call = 0;
            }
            if (++depth > kMaxDepth)
                return {true, place()};
        } else if (c == ']' || c == '}') {
            depth -= depth > 0;
        } else if (c == ',' && depth == 2) {
            ++call;
        }
    }
    return {false, place()};
}

std::string notARecord(const std::string& place, const std::string& what) {
    return "not a trace record: " + (place.empty() ? what : place + ": " + what);
}

}  // namespace

std::vector<Record> readTrace(std::string_view text) {
    std::vector<Record> records;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos)
            continue;
        if (const Scan deep = scan(line, line.size()); deep.tooDeep) {
            throw BadTrace{lineNumber,
                           notARecord(deep.place, "nested deeper than " +
                                                      std::to_string(kMaxDepth) + " levels")};
        }
        try {
            Record record = recordOf(Json::parse(line));
            record.line = lineNumber;
            records.push_back(std::move(record));
        } catch (const Json::parse_error& e) {
            throw BadTrace{lineNumber,
                           notARecord(scan(line, e.byte).place,
                                      "invalid JSON at byte " + std::to_string(e.byte))};
        } catch (const Json::exception&) {
            throw BadTrace{lineNumber, notARecord("", "invalid JSON")};
        } catch (const JsonFault& fault) {
            throw BadTrace{lineNumber, notARecord(fault.place, fault.what)};
        }
    }
    if (records.empty())
        throw BadTrace{0, "holds no trace record"};
    return records;
}

}  // namespace vpolv::trace
