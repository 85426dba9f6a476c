// Reading trace files, record by record.
#include "sim/trace_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>

#include "common/text.h"
#include "sim/files.h"

namespace vpolv::sim {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

// A trace grows to about 10 MiB before it is renamed; twice that leaves room.
constexpr std::uintmax_t kMaxTraceBytes = 64 * 1024 * 1024;

// A fault of one line: the caller adds the file and the line.
struct LineFault {
    std::string what;
};

const Json& field(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end())
        throw LineFault{std::string("missing \"") + key + "\""};
    return *it;
}

// A text as the trace writes it: a string, or {"utf16": [code units]}.
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

Error errorOf(const Json& value, const std::string& place) {
    if (!value.is_object())
        throw LineFault{place + ": expected an object"};
    const Json& code = field(value, "code");
    unsigned long parsed = 0;
    char end = 0;
    if (!code.is_string() ||
        std::sscanf(code.get<std::string>().c_str(), "0x%lx%c", &parsed, &end) != 1 ||
        parsed > 0xFFFFFFFFul) {
        throw LineFault{place + ".code: expected hexadecimal text such as \"0x80041234\""};
    }
    return Error(static_cast<std::int32_t>(static_cast<std::uint32_t>(parsed)),
                 textOf(field(value, "description"), place + ".description"),
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
                if (!v.is_boolean())
                    throw LineFault{place + ".value: expected true or false"};
                return host::Arg::boolean(v.get<bool>());
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

TraceRecord recordOf(const Json& json) {
    if (!json.is_object())
        throw LineFault{"expected a JSON object"};
    field(json, "format");
    field(json, "calls");
    if (json["format"] != 1)
        throw LineFault{"format " + json["format"].dump() + " is not known (1 is)"};
    TraceRecord record;
    const Json& event = field(json, "event");
    record.event = event.is_string() ? event.get<std::string>() : "";
    if (record.event != "place" && record.event != "finishes" && record.event != "scene")
        throw LineFault{"event: expected \"place\", \"finishes\" or \"scene\""};
    record.callParams = longOf(field(json, "callParams"), "callParams");
    record.decimalSeparator = textOf(field(json, "decimalSeparator"), "decimalSeparator");
    record.pathSeparator = textOf(field(json, "pathSeparator"), "pathSeparator");
    if (record.pathSeparator.size() != 1)
        throw LineFault{"pathSeparator: expected one character"};
    record.spaceIni = textOf(field(json, "spaceIni"), "spaceIni");
    record.catalogsDir = textOf(field(json, "catalogsDir"), "catalogsDir");
    if (const Json& file = field(json, "catalogFile"); !file.is_null())
        record.catalogFile = textOf(file, "catalogFile");
    const Json& calls = json["calls"];
    if (!calls.is_array())
        throw LineFault{"calls: expected an array"};
    for (std::size_t i = 0; i < calls.size(); ++i)
        record.calls.push_back(callOf(calls[i], "calls[" + std::to_string(i) + "]"));
    const Json& result = field(json, "result");
    if (!result.is_boolean())
        throw LineFault{"result: expected true or false"};
    record.result = result.get<bool>();
    if (const auto it = json.find("error"); it != json.end() && !it->is_null())
        record.error = errorOf(*it, "error");
    return record;
}

}  // namespace

FoundCatalogs foundCatalogs(const TraceRecord& record) {
    FoundCatalogs found;
    const Text& dir = record.catalogsDir;
    if (dir.empty())
        return found;
    const char16_t sep = record.pathSeparator[0];
    Text folder = dir;
    if (folder.back() != sep && folder.back() != u'/')
        folder += sep;
    for (const host::Call& call : record.calls) {
        if (call.operation != "FileLoad" || call.args.size() < 2)
            continue;
        const Text& path = call.args[1].text;
        if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0)
            continue;
        const Text rest = path.substr(folder.size());
        const auto at = rest.find(sep);
        if (at == Text::npos || at == 0 || rest.find(sep, at + 1) != Text::npos)
            continue;
        const Text sub = rest.substr(0, at);
        if (std::find(found.subfolders.begin(), found.subfolders.end(), sub) ==
            found.subfolders.end())
            found.subfolders.push_back(sub);
        found.files.push_back(path);
    }
    return found;
}

std::string hexCode(std::int32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<std::uint32_t>(code));
    return text;
}

std::vector<TraceRecord> parseTrace(std::string_view text, const fs::path& file) {
    std::vector<TraceRecord> records;
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
        const std::string place = utf8Path(file) + ":" + std::to_string(lineNumber);
        try {
            const Json json = Json::parse(line);
            TraceRecord record = recordOf(json);
            record.line = lineNumber;
            records.push_back(std::move(record));
        } catch (const Json::exception&) {
            throw SceneError(place + ": not a trace record (invalid JSON)");
        } catch (const LineFault& fault) {
            throw SceneError(place + ": not a trace record: " + fault.what);
        }
    }
    if (records.empty())
        throw SceneError(utf8Path(file) + ": holds no trace record");
    return records;
}

std::vector<TraceRecord> loadTrace(const fs::path& file) {
    std::string reason;
    const auto contents = readRegularFile(file, kMaxTraceBytes, reason);
    if (!contents)
        throw SceneError(utf8Path(file) + ": cannot be read: " + reason);
    return parseTrace(*contents, file);
}

const TraceRecord& pickRecord(const std::vector<TraceRecord>& records, const fs::path& file,
                              std::optional<long long> n) {
    if (!n)
        return records.back();
    if (*n < 1 || static_cast<std::size_t>(*n) > records.size()) {
        throw SceneError(utf8Path(file) + ": --record " + std::to_string(*n) +
                         ": out of range (the trace holds " + std::to_string(records.size()) +
                         (records.size() == 1 ? " record)" : " records)"));
    }
    return records[static_cast<std::size_t>(*n) - 1];
}

}  // namespace vpolv::sim
