// Reading records back, line by line.
#include "common/text.h"
#include "trace/json_reading.h"
#include "trace/record.h"

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

host::Call callOf(const Json& value, const std::string& place) {
    json.objectAt(value, place);
    host::Call call;
    call.object = json.text(json.member(value, "object", place), place + ".object");
    call.operation = json.text(json.member(value, "operation", place), place + ".operation");
    const Json& args = json.arrayAt(json.member(value, "args", place), place + ".args");
    for (std::size_t i = 0; i < args.size(); ++i)
        call.args.push_back(argOf(args[i], place + ".args[" + std::to_string(i) + "]"));
    if (const auto it = value.find("error"); it != value.end()) {
        call.answer.error = errorOf(*it, place + ".error");
    } else if (const auto a = value.find("answer"); a != value.end()) {
        if (a->is_boolean()) {
            call.answer = host::answerOf(a->get<bool>());
        } else if (a->is_number_integer()) {
            call.answer = host::answerOf(json.number(*a, place + ".answer"));
        } else if (isText(*a)) {
            call.answer = host::answerOf(textOf(*a, place + ".answer"));
        } else {
            json.fail(place + ".answer", "expected a number, a text or a Boolean");
        }
    }
    return call;
}

Box boxOf(const Json& value, const std::string& place) {
    json.objectAt(value, place);
    return {textOf(json.member(value, "title", place), place + ".title"),
            textOf(json.member(value, "text", place), place + ".text"),
            json.number(json.member(value, "style", place), place + ".style")};
}

Record recordOf(const Json& line) {
    json.objectAt(line, "");
    const auto member = [&](const char* key) -> const Json& { return json.member(line, key, ""); };
    const Json& format = member("format");
    member("calls");
    if (format != kFormat) {
        json.fail("",
                  "format " + format.dump() + " is not known (" + std::to_string(kFormat) + " is)");
    }
    Record record;
    const Json& event = member("event");
    record.event = event.is_string() ? event.get<std::string>() : "";
    if (record.event != "place" && record.event != "finishes" && record.event != "scene")
        json.fail("event", "expected \"place\", \"finishes\" or \"scene\"");
    if (const auto it = line.find("plugin"); it != line.end())
        record.plugin = json.text(*it, "plugin");
    if (const auto it = line.find("time"); it != line.end())
        record.time = json.text(*it, "time");
    record.callParams = json.number(member("callParams"), "callParams");
    const Text decimal = textOf(member("decimalSeparator"), "decimalSeparator");
    if (line.contains("thousandsSeparator") || line.contains("currencySign")) {
        record.numbers = {decimal, textOf(member("thousandsSeparator"), "thousandsSeparator"),
                          textOf(member("currencySign"), "currencySign")};
    } else {
        record.numbers = NumberSymbols::forDecimal(decimal);
    }
    record.pathSeparator = textOf(member("pathSeparator"), "pathSeparator");
    if (record.pathSeparator.size() != 1)
        json.fail("pathSeparator", "expected one character");
    record.spaceIni = textOf(member("spaceIni"), "spaceIni");
    record.catalogsDir = textOf(member("catalogsDir"), "catalogsDir");
    if (const Json& file = member("catalogFile"); !file.is_null())
        record.catalogFile = textOf(file, "catalogFile");
    const Json& calls = json.arrayAt(line["calls"], "calls");
    for (std::size_t i = 0; i < calls.size(); ++i)
        record.calls.push_back(callOf(calls[i], "calls[" + std::to_string(i) + "]"));
    if (const auto it = line.find("boxes"); it != line.end()) {
        const Json& boxes = json.arrayAt(*it, "boxes");
        for (std::size_t i = 0; i < boxes.size(); ++i)
            record.boxes.push_back(boxOf(boxes[i], "boxes[" + std::to_string(i) + "]"));
    }
    record.result = json.boolean(member("result"), "result");
    if (const auto it = line.find("error"); it != line.end() && !it->is_null())
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
        } catch (const JsonFault& fault) {
            throw BadTrace{lineNumber, "not a trace record: " + fault.message()};
        }
    }
    if (records.empty())
        throw BadTrace{0, "holds no trace record"};
    return records;
}

}  // namespace vpolv::trace
