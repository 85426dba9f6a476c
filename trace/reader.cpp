// Reading records back, line by line.
#include <limits>
#include <nlohmann/json.hpp>

#include "common/text.h"
#include "trace/record.h"

namespace vpolv::trace {

namespace {

using Json = nlohmann::json;

// A fault of one line: the caller adds the line.
struct LineFault {
    std::string what;
};

const Json& field(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end())
        throw LineFault{std::string("missing \"") + key + "\""};
    return *it;
}

// A text as the writer writes it: a string, or {"utf16": [code units]}.
Text textOf(const Json& value, const std::string& place) {
    if (value.is_string())
        return fromUtf8(value.get<std::string>());
    if (value.is_object() && value.size() == 1 && value.contains("utf16") &&
        value["utf16"].is_array()) {
        Text text;
        for (const auto& unit : value["utf16"]) {
            if (!unit.is_number_unsigned() || unit.get<std::uint64_t>() > 0xFFFF)
                throw LineFault{place + ": a code unit is not a number from 0 to 65535"};
            text += static_cast<char16_t>(unit.get<std::uint64_t>());
        }
        return text;
    }
    throw LineFault{place + ": expected a text"};
}

std::string utf8Of(const Json& value, const std::string& place) {
    return toUtf8(textOf(value, place));
}

bool isText(const Json& value) {
    return value.is_string() || (value.is_object() && value.contains("utf16"));
}

Long longOf(const Json& value, const std::string& place) {
    if (!value.is_number_integer() ||
        value.get<std::int64_t>() < std::numeric_limits<Long>::min() ||
        value.get<std::int64_t>() > std::numeric_limits<Long>::max() ||
        (value.is_number_unsigned() && value.get<std::uint64_t>() > 0x7FFFFFFFu)) {
        throw LineFault{place + ": expected a 32-bit whole number"};
    }
    return static_cast<Long>(value.get<std::int64_t>());
}

bool booleanOf(const Json& value, const std::string& place) {
    if (!value.is_boolean())
        throw LineFault{place + ": expected true or false"};
    return value.get<bool>();
}

Error errorOf(const Json& value, const std::string& place) {
    if (!value.is_object())
        throw LineFault{place + ": expected an object"};
    const Json& code = field(value, "code");
    const auto parsed = code.is_string() ? parseErrorCode(code.get<std::string>()) : std::nullopt;
    if (!parsed)
        throw LineFault{place + ".code: expected hexadecimal text such as \"0x80041234\""};
    return Error(*parsed, textOf(field(value, "description"), place + ".description"),
                 textOf(field(value, "source"), place + ".source"));
}

host::Arg argOf(const Json& value, const std::string& place) {
    if (!value.is_object())
        throw LineFault{place + ": expected an object"};
    const Json& kind = field(value, "kind");
    const Json& v = field(value, "value");
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
                return host::Arg::boolean(booleanOf(v, place + ".value"));
            default:
                return {k, longOf(v, place + ".value"), {}};
        }
    }
    throw LineFault{place + ".kind: unknown kind"};
}

host::Call callOf(const Json& value, const std::string& place) {
    if (!value.is_object())
        throw LineFault{place + ": expected an object"};
    host::Call call;
    const Json& object = field(value, "object");
    const Json& operation = field(value, "operation");
    if (!object.is_string() || !operation.is_string())
        throw LineFault{place + ": object and operation must be texts"};
    call.object = object.get<std::string>();
    call.operation = operation.get<std::string>();
    const Json& args = field(value, "args");
    if (!args.is_array())
        throw LineFault{place + ".args: expected an array"};
    for (std::size_t i = 0; i < args.size(); ++i)
        call.args.push_back(argOf(args[i], place + ".args[" + std::to_string(i) + "]"));
    if (const auto it = value.find("error"); it != value.end()) {
        call.answer.error = errorOf(*it, place + ".error");
    } else if (const auto a = value.find("answer"); a != value.end()) {
        if (a->is_boolean()) {
            call.answer = host::answerOf(a->get<bool>());
        } else if (a->is_number_integer()) {
            call.answer = host::answerOf(longOf(*a, place + ".answer"));
        } else if (isText(*a)) {
            call.answer = host::answerOf(textOf(*a, place + ".answer"));
        } else {
            throw LineFault{place + ".answer: expected a number, a text or a Boolean"};
        }
    }
    return call;
}

Box boxOf(const Json& value, const std::string& place) {
    if (!value.is_object())
        throw LineFault{place + ": expected an object"};
    return {textOf(field(value, "title"), place + ".title"),
            textOf(field(value, "text"), place + ".text"),
            longOf(field(value, "style"), place + ".style")};
}

const Json& arrayOf(const Json& value, const std::string& place) {
    if (!value.is_array())
        throw LineFault{place + ": expected an array"};
    return value;
}

Record recordOf(const Json& json) {
    if (!json.is_object())
        throw LineFault{"expected a JSON object"};
    field(json, "format");
    field(json, "calls");
    if (json["format"] != kFormat) {
        throw LineFault{"format " + json["format"].dump() + " is not known (" +
                        std::to_string(kFormat) + " is)"};
    }
    Record record;
    const Json& event = field(json, "event");
    record.event = event.is_string() ? event.get<std::string>() : "";
    if (record.event != "place" && record.event != "finishes" && record.event != "scene")
        throw LineFault{"event: expected \"place\", \"finishes\" or \"scene\""};
    if (const auto it = json.find("plugin"); it != json.end())
        record.plugin = utf8Of(*it, "plugin");
    if (const auto it = json.find("time"); it != json.end())
        record.time = utf8Of(*it, "time");
    record.callParams = longOf(field(json, "callParams"), "callParams");
    record.decimalSeparator = textOf(field(json, "decimalSeparator"), "decimalSeparator");
    record.pathSeparator = textOf(field(json, "pathSeparator"), "pathSeparator");
    if (record.pathSeparator.size() != 1)
        throw LineFault{"pathSeparator: expected one character"};
    record.spaceIni = textOf(field(json, "spaceIni"), "spaceIni");
    record.catalogsDir = textOf(field(json, "catalogsDir"), "catalogsDir");
    if (const Json& file = field(json, "catalogFile"); !file.is_null())
        record.catalogFile = textOf(file, "catalogFile");
    const Json& calls = arrayOf(json["calls"], "calls");
    for (std::size_t i = 0; i < calls.size(); ++i)
        record.calls.push_back(callOf(calls[i], "calls[" + std::to_string(i) + "]"));
    if (const auto it = json.find("boxes"); it != json.end()) {
        const Json& boxes = arrayOf(*it, "boxes");
        for (std::size_t i = 0; i < boxes.size(); ++i)
            record.boxes.push_back(boxOf(boxes[i], "boxes[" + std::to_string(i) + "]"));
    }
    record.result = booleanOf(field(json, "result"), "result");
    if (const auto it = json.find("error"); it != json.end() && !it->is_null())
        record.error = errorOf(*it, "error");
    return record;
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
        try {
            Record record = recordOf(Json::parse(line));
            record.line = lineNumber;
            records.push_back(std::move(record));
        } catch (const Json::exception&) {
            throw BadTrace{lineNumber, "not a trace record (invalid JSON)"};
        } catch (const LineFault& fault) {
            throw BadTrace{lineNumber, "not a trace record: " + fault.what};
        }
    }
    if (records.empty())
        throw BadTrace{0, "holds no trace record"};
    return records;
}

}  // namespace vpolv::trace
