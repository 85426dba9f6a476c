// Reading, checking and writing scene files.
#include "sim/formats/scene_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "common/text.h"
#include "standalone/echo.h"
#include "standalone/files.h"
#include "trace/json_reading.h"
#include "trace/record.h"

namespace vpolv::sim {

using platform::pathFromUtf8;
using platform::utf8Path;
using standalone::echo;
using standalone::echoTail;
using standalone::endsInSeparator;
using standalone::genericUtf8Path;
using standalone::readRegularFile;
using standalone::reasonOf;

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

SceneError::SceneError(const std::string& message) : std::runtime_error(echo(message)) {}

namespace {

constexpr std::string_view kCatalogsPlaceholder = "${catalogsFolder}";

// The checks of trace/json_reading.h, and the keys that stand for numbers.
class Checker : public trace::JsonReading {
  public:
    // An object key that stands for a number (information codes, tables, columns), written the
    // one way a number is written: no sign but '-', no leading zero, no "-0". Spellings that
    // differ would otherwise name the same number twice.
    std::int64_t keyNumber(const std::string& key, const std::string& place, std::int64_t low,
                           std::int64_t high) const {
        const bool negative = !key.empty() && key[0] == '-';
        const std::string_view digits = std::string_view(key).substr(negative ? 1 : 0);
        const bool allDigits =
            !digits.empty() && digits.size() <= 10 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!allDigits)
            fail(place, "\"" + key + "\" is not a valid number here");
        std::int64_t n = 0;
        for (const char c : digits)
            n = n * 10 + (c - '0');
        if (negative)
            n = -n;
        if ((digits.size() > 1 && digits[0] == '0') || (negative && n == 0)) {
            fail(place, "\"" + key + "\" is not written as a plain number (write \"" +
                            std::to_string(n) + "\")");
        }
        if (n < low || n > high)
            fail(place, "\"" + key + "\" is not a valid number here");
        return n;
    }
};

std::string quote(const std::string& s) {
    return "\"" + s + "\"";
}

// The objects whose creation a scene file can make fail, as a message lists them.
std::string progIdList() {
    std::string out;
    for (std::size_t i = 0; i < std::size(host::kHostObjects); ++i) {
        out += i == 0 ? "" : i + 1 == std::size(host::kHostObjects) ? " or " : ", ";
        out += host::kHostObjects[i].progId;
    }
    return out;
}

void readFailures(const Checker& check, const Json& failures, SceneFile& out) {
    std::size_t index = 0;
    for (const auto& entry : check.arrayAt(failures, "failures")) {
        const std::string place = "failures[" + std::to_string(index++) + "]";
        check.objectAt(entry, place);
        check.onlyKeys(entry, place, {"operation", "nth", "create", "code", "description"});
        HostFailure failure;
        if (entry.contains("operation") == entry.contains("create"))
            check.fail(place, "needs either \"operation\" or \"create\"");
        if (entry.contains("operation")) {
            const std::string name = check.text(entry["operation"], place + ".operation");
            failure.operation = host::operationNamed(name);
            if (!failure.operation || host::isLifecycle(*failure.operation))
                check.fail(place + ".operation", "unknown operation " + quote(name));
            if (entry.contains("nth")) {
                failure.nth = check.number(entry["nth"], place + ".nth");
                if (failure.nth < 1)
                    check.fail(place + ".nth", "must be 1 or more");
            }
        } else {
            const std::string progId = check.text(entry["create"], place + ".create");
            for (const host::HostObjectInfo& object : host::kHostObjects) {
                if (object.progId == progId)
                    failure.create = object.kind;
            }
            if (!failure.create) {
                check.fail(place + ".create",
                           "unknown object " + quote(progId) + " (" + progIdList() + ")");
            }
            if (entry.contains("nth"))
                check.fail(place, "\"nth\" applies to an operation only");
        }
        if (!entry.contains("code"))
            check.fail(place, "missing \"code\"");
        const std::string code = check.text(entry["code"], place + ".code");
        const auto value = trace::parseErrorCode(code);
        if (!value)
            check.fail(place + ".code", "expected hexadecimal text such as \"0x80041234\"");
        failure.code = *value;
        if (entry.contains("description"))
            failure.description = check.text(entry["description"], place + ".description");
        for (const auto& earlier : out.failures) {
            if (earlier.operation == failure.operation && earlier.create == failure.create &&
                earlier.nth == failure.nth) {
                check.fail(place, "the same call fails already");
            }
        }
        out.failures.push_back(std::move(failure));
    }
}

// How much of the input a message about invalid JSON quotes.
constexpr std::size_t kQuotedInput = 80;

// Builds the document from the parser's events. Unlike the library's own builder it keeps the
// place of every fault the parser reports (a syntax error, a number out of range) and notes a key
// given twice in one object (the library would keep the last).
class DocumentBuilder {
  public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    struct Fault {
        std::size_t position;  // bytes read when the parser stopped
        std::string reason;
    };

    bool null() { return put(nullptr); }
    bool boolean(bool value) { return put(value); }
    bool number_integer(number_integer_t value) { return put(value); }
    bool number_unsigned(number_unsigned_t value) { return put(value); }
    bool number_float(number_float_t value, const string_t&) { return put(value); }
    bool string(string_t& value) { return put(std::move(value)); }
    bool binary(binary_t&) { return false; }  // JSON text has none
    bool start_object(std::size_t) {
        open_.push_back(place(Json::object()));
        keys_.emplace_back();
        return true;
    }
    bool key(string_t& key) {
        if (!keys_.back().insert(key).second && !duplicate_)
            duplicate_ = key;
        key_ = key;
        return true;
    }
    bool end_object() {
        open_.pop_back();
        keys_.pop_back();
        return true;
    }
    bool start_array(std::size_t) {
        open_.push_back(place(Json::array()));
        return true;
    }
    bool end_array() {
        open_.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string& lastToken,
                     const nlohmann::detail::exception& error) {
        fault_ = Fault{position, reasonFor(lastToken, error)};
        return false;
    }

    Json& document() { return root_; }
    const std::optional<Fault>& fault() const { return fault_; }
    const std::optional<std::string>& duplicate() const { return duplicate_; }

  private:
    template <class T>
    bool put(T&& value) {
        place(Json(std::forward<T>(value)));
        return true;
    }

    // Puts a value where the parser is (the document, the open array, or the open object under
    // the last key) and returns it. A value stays where it is while it is open: nothing is added
    // to its container before it closes.
    Json* place(Json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json& container = *open_.back();
        if (container.is_array()) {
            container.push_back(std::move(value));
            return &container.back();
        }
        Json& slot = container[key_];
        slot = std::move(value);
        return &slot;
    }

    // The library's message without its prefix, with the input it quotes cut short.
    static std::string reasonFor(const std::string& lastToken,
                                 const nlohmann::detail::exception& error) {
        if (error.id == 406)  // a number beyond the range of double
            return "number out of range: '" + echoTail(lastToken, kQuotedInput) + "'";
        std::string reason = error.what();
        // "[json.exception.parse_error.101] parse error at line 1, column 2: ..."
        if (const auto p = reason.find("column "); p != std::string::npos) {
            if (const auto colon = reason.find(": ", p); colon != std::string::npos)
                reason = reason.substr(colon + 2);
        } else if (const auto bracket = reason.find("] "); bracket != std::string::npos) {
            reason = reason.substr(bracket + 2);
        }
        constexpr std::string_view kLastRead = "; last read: '";
        if (const auto p = reason.find(kLastRead); p != std::string::npos) {
            reason = reason.substr(0, p) + std::string(kLastRead) +
                     echoTail(lastToken, kQuotedInput) + "'";
        }
        return reason;
    }

    Json root_;
    std::vector<Json*> open_;
    std::vector<std::set<std::string>> keys_;
    std::string key_;
    std::optional<std::string> duplicate_;
    std::optional<Fault> fault_;
};

// Parses JSON text, reporting syntax errors and repeated keys with their place.
Json parseJson(std::string_view input, const fs::path& file) {
    DocumentBuilder builder;
    const bool parsed = Json::sax_parse(input, &builder);
    if (const auto& fault = builder.fault()) {
        const std::size_t at =
            std::min(fault->position > 0 ? fault->position - 1 : 0, input.size());
        const std::size_t line = 1 + std::count(input.begin(), input.begin() + at, '\n');
        const std::size_t lineStart = input.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t column =
            lineStart == std::string_view::npos || at == 0 ? at + 1 : at - lineStart;
        throw SceneError(utf8Path(file) + ":" + std::to_string(line) + ":" +
                         std::to_string(column) + ": invalid JSON: " + fault->reason);
    }
    if (!parsed)
        throw SceneError(utf8Path(file) + ": invalid JSON");
    if (const auto& duplicate = builder.duplicate()) {
        throw SceneError(utf8Path(file) + ": key " + quote(*duplicate) +
                         " is given twice in one object");
    }
    return std::move(builder.document());
}

void readObjects(const Checker& check, const Json& objects, SceneFile& out) {
    check.arrayAt(objects, "objects");
    std::size_t index = 0;
    for (const auto& entry : objects) {
        std::string place = "objects[" + std::to_string(index++) + "]";
        check.objectAt(entry, place);
        if (!entry.contains("id"))
            check.fail(place, "missing \"id\"");
        const Long id = check.number(entry["id"], place + ".id");
        place = "object " + std::to_string(id);
        check.onlyKeys(entry, place, {"id", "note", "infos", "children"});
        if (out.scene.objects.count(id))
            check.fail(place, "id given to more than one object");

        host::SceneObject object;
        if (entry.contains("note"))
            out.notes.emplace_back(id, check.text(entry["note"], place + " note"));
        if (entry.contains("infos")) {
            for (const auto& [key, value] :
                 check.objectAt(entry["infos"], place + " infos").items()) {
                const std::string at = place + " info " + key;
                const auto code = check.keyNumber(key, at, std::numeric_limits<Long>::min(),
                                                  std::numeric_limits<Long>::max());
                object.infos[static_cast<Long>(code)] = fromUtf8(check.text(value, at));
            }
        }
        if (entry.contains("children")) {
            std::size_t rank = 1;
            for (const auto& child : check.arrayAt(entry["children"], place + " children")) {
                object.children.push_back(
                    check.number(child, place + " child " + std::to_string(rank++)));
            }
        }
        out.scene.objects.emplace(id, std::move(object));
        out.objectOrder.push_back(id);
    }
    // Children refer to objects of the file; checked once all ids are known.
    for (const Long id : out.objectOrder) {
        const auto& children = out.scene.objects.at(id).children;
        for (std::size_t rank = 0; rank < children.size(); ++rank) {
            if (!out.scene.objects.count(children[rank])) {
                check.fail("object " + std::to_string(id) + " child " + std::to_string(rank + 1),
                           "no object has id " + std::to_string(children[rank]));
            }
        }
    }
}

void readTables(const Checker& check, const Json& tables, SceneFile& out) {
    for (const auto& [tableKey, lines] : check.objectAt(tables, "tables").items()) {
        const std::string tablePlace = "table " + tableKey;
        const auto table = static_cast<Integer>(
            check.keyNumber(tableKey, "tables", std::numeric_limits<Integer>::min(),
                            std::numeric_limits<Integer>::max()));
        auto& rows = out.scene.tables[table];
        for (const auto& [name, columns] : check.objectAt(lines, tablePlace).items()) {
            const std::string place = tablePlace + " line " + quote(name);
            host::TableLine line{fromUtf8(name), {}};
            for (const auto& [columnKey, value] : check.objectAt(columns, place).items()) {
                const std::string at = place + " column " + columnKey;
                const auto column = static_cast<Integer>(
                    check.keyNumber(columnKey, at, std::numeric_limits<Integer>::min(),
                                    std::numeric_limits<Integer>::max()));
                line.columns[column] = fromUtf8(check.text(value, at));
            }
            if (const auto needed = kNeededColumns.find(table); needed != kNeededColumns.end()) {
                for (const Integer column : needed->second) {
                    if (!line.columns.count(column)) {
                        check.fail(place, "missing column " + std::to_string(column));
                    }
                }
            }
            rows.push_back(std::move(line));
        }
    }
}

std::string readSceneFile(const fs::path& path) {
    std::string reason;
    auto contents = readRegularFile(path, kMaxSceneBytes, reason);
    if (!contents) {
        if (reason == "is a folder")
            throw SceneError(utf8Path(path) + ": is a folder, not a scene file");
        throw SceneError(utf8Path(path) + ": cannot be read: " + reason);
    }
    return std::move(*contents);
}

std::string catalogsFolderText(const SceneFile& scene) {
    std::string folder = utf8Path(*scene.catalogsFolder);
    if (!endsInSeparator(folder))
        folder += static_cast<char>(fs::path::preferred_separator);
    return folder;
}

std::string expandCatalogsFolder(const Checker& check, const SceneFile& scene, std::string text,
                                 const std::string& place) {
    for (auto p = text.find(kCatalogsPlaceholder); p != std::string::npos;
         p = text.find(kCatalogsPlaceholder, p)) {
        if (!scene.catalogsFolder) {
            check.fail(place,
                       std::string(kCatalogsPlaceholder) + " used without \"catalogsFolder\"");
        }
        const std::string folder = catalogsFolderText(scene);
        text.replace(p, kCatalogsPlaceholder.size(), folder);
        p += folder.size();
    }
    return text;
}

void readSurroundings(const Checker& check, const Json& json, SceneFile& out) {
    // The signs as a user locale can have them: one to three characters (the currency sign up
    // to twelve), no digit among them; an empty thousands separator or currency sign is none.
    const auto sign = [&](const char* key, std::size_t longest, bool mayBeEmpty) {
        const Text text = fromUtf8(check.text(json[key], key));
        if ((text.empty() && !mayBeEmpty) || text.size() > longest ||
            std::any_of(text.begin(), text.end(),
                        [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
            check.fail(key, "expected " + std::string(mayBeEmpty ? "up to " : "1 to ") +
                                std::to_string(longest) + " characters and no digit, found " +
                                quote(toUtf8(text)));
        }
        return text;
    };
    if (json.contains("decimalSeparator"))
        out.numbers = NumberSymbols::forDecimal(sign("decimalSeparator", 3, false));
    if (json.contains("thousandsSeparator"))
        out.numbers.thousands = sign("thousandsSeparator", 3, true);
    if (json.contains("currencySign"))
        out.numbers.currency = sign("currencySign", 12, true);
    if (json.contains("catalogsFolder")) {
        out.catalogsFolderWritten = check.text(json["catalogsFolder"], "catalogsFolder");
        const fs::path folder =
            (out.folder / pathFromUtf8(*out.catalogsFolderWritten)).lexically_normal();
        std::error_code error;
        const fs::file_status status = fs::status(folder, error);
        if (status.type() == fs::file_type::not_found) {
            check.fail("catalogsFolder", "no folder " + utf8Path(folder));
        } else if (error) {
            check.fail("catalogsFolder", "cannot use " + utf8Path(folder) + ": " + reasonOf(error));
        } else if (!fs::is_directory(status)) {
            check.fail("catalogsFolder", utf8Path(folder) + " is not a folder");
        }
        out.catalogsFolder = folder;
    }
    if (!json.contains("spaceIni")) {
        if (out.catalogsFolder) {
            out.spaceIni.source = SpaceIni::Source::Generated;
            out.spaceIni.contents = "[Local]\r\nCatalogsDir=" + catalogsFolderText(out) + "\r\n";
        }
        return;
    }
    const Json& ini = json["spaceIni"];
    if (ini.is_null())
        return;
    if (ini.is_string()) {
        out.spaceIni.source = SpaceIni::Source::Inline;
        out.spaceIni.written = ini.get<std::string>();
        out.spaceIni.contents = expandCatalogsFolder(check, out, out.spaceIni.written, "spaceIni");
        return;
    }
    check.objectAt(ini, "spaceIni");
    check.onlyKeys(ini, "spaceIni", {"path"});
    if (!ini.contains("path"))
        check.fail("spaceIni", "missing \"path\"");
    out.spaceIni.source = SpaceIni::Source::File;
    out.spaceIni.written = check.text(ini["path"], "spaceIni.path");
    out.spaceIni.path = (out.folder / pathFromUtf8(out.spaceIni.written)).lexically_normal();
    std::string reason;
    const auto contents = readRegularFile(out.spaceIni.path, kMaxSpaceIniBytes, reason);
    if (!contents)
        check.fail("spaceIni.path", "cannot read " + utf8Path(out.spaceIni.path) + ": " + reason);
    out.spaceIni.contents = expandCatalogsFolder(check, out, *contents, "spaceIni.path");
}

SceneFile checkScene(std::string_view input, const fs::path& file) {
    const Checker check;
    const Json json = parseJson(input, file);
    check.objectAt(json, "top level");
    check.onlyKeys(json, "top level",
                   {"description", "session", "callParamsBlock", "callObject", "decimalSeparator",
                    "thousandsSeparator", "currencySign", "catalogsFolder", "spaceIni", "keywords",
                    "objects", "sceneObjects", "tables", "failures"});

    SceneFile out;
    out.file = file;
    std::error_code error;
    out.folder = fs::absolute(file, error).parent_path().lexically_normal();
    if (error)
        throw SceneError(utf8Path(file) + ": cannot find its folder: " + reasonOf(error));

    if (json.contains("description"))
        out.description = check.text(json["description"], "description");
    if (json.contains("session"))
        out.scene.sessionId = check.number(json["session"], "session");
    if (json.contains("callParamsBlock")) {
        out.callParamsBlock = check.number(json["callParamsBlock"], "callParamsBlock");
    }
    if (json.contains("objects"))
        readObjects(check, json["objects"], out);
    if (json.contains("callObject")) {
        out.callObject = check.number(json["callObject"], "callObject");
        if (!out.scene.objects.count(*out.callObject)) {
            check.fail("callObject", "no object has id " + std::to_string(*out.callObject));
        }
        out.scene.currentObject = *out.callObject;
    }
    if (json.contains("sceneObjects")) {
        std::size_t rank = 1;
        for (const auto& id : check.arrayAt(json["sceneObjects"], "sceneObjects")) {
            const std::string place = "sceneObjects rank " + std::to_string(rank++);
            const Long objectId = check.number(id, place);
            if (!out.scene.objects.count(objectId)) {
                check.fail(place, "no object has id " + std::to_string(objectId));
            }
            out.scene.sceneObjects.push_back(objectId);
        }
    }
    if (json.contains("keywords")) {
        for (const auto& [keyword, value] : check.objectAt(json["keywords"], "keywords").items()) {
            out.scene.keywords[fromUtf8(keyword)] =
                fromUtf8(check.text(value, "keyword " + quote(keyword)));
        }
    }
    if (json.contains("tables"))
        readTables(check, json["tables"], out);
    if (json.contains("failures"))
        readFailures(check, json["failures"], out);
    readSurroundings(check, json, out);
    return out;
}

}  // namespace

SceneFile parseScene(std::string_view input, const fs::path& file) {
    try {
        return checkScene(input, file);
    } catch (const trace::JsonFault& fault) {
        throw SceneError(utf8Path(file) + ": " + fault.message());
    } catch (const Json::exception& e) {
        // The checks leave the library nothing to object to; should it still, the file is at fault.
        std::string reason = e.what();
        if (const auto bracket = reason.find("] "); bracket != std::string::npos)
            reason = reason.substr(bracket + 2);
        throw SceneError(utf8Path(file) + ": invalid scene: " + reason);
    }
}

SceneFile loadScene(const fs::path& file) {
    return parseScene(readSceneFile(file), file);
}

namespace {

std::string relativeTo(const fs::path& target, const fs::path& folder) {
    const fs::path relative = target.lexically_relative(folder);
    return genericUtf8Path(relative.empty() ? target : relative);
}

}  // namespace

std::string sceneToJson(const SceneFile& original, const host::SceneData& scene,
                        const fs::path& outFile) {
    std::error_code error;
    // Should the current folder be gone, the paths are written absolute.
    const fs::path outFolder = fs::absolute(outFile, error).parent_path().lexically_normal();
    Json json = Json::object();
    if (original.description)
        json["description"] = *original.description;
    json["session"] = scene.sessionId;
    if (original.callParamsBlock != 1)
        json["callParamsBlock"] = original.callParamsBlock;
    // The object of the call as the run had it (--object may have replaced the file's).
    if (original.callObject || scene.currentObject != original.scene.currentObject) {
        json["callObject"] = scene.currentObject;
    }
    json["decimalSeparator"] = toUtf8(original.numbers.decimal);
    if (original.numbers != NumberSymbols::forDecimal(original.numbers.decimal)) {
        json["thousandsSeparator"] = toUtf8(original.numbers.thousands);
        json["currencySign"] = toUtf8(original.numbers.currency);
    }
    if (original.catalogsFolder) {
        std::string folder = relativeTo(*original.catalogsFolder, outFolder);
        json["catalogsFolder"] = folder;
    }
    switch (original.spaceIni.source) {
        case SpaceIni::Source::Inline:
            json["spaceIni"] = original.spaceIni.written;
            break;
        case SpaceIni::Source::File:
            json["spaceIni"] = {{"path", relativeTo(original.spaceIni.path, outFolder)}};
            break;
        case SpaceIni::Source::None:
            if (original.catalogsFolder)
                json["spaceIni"] = nullptr;
            break;
        case SpaceIni::Source::Generated:
            break;
    }
    Json keywords = Json::object();
    for (const auto& [keyword, value] : scene.keywords)
        keywords[toUtf8(keyword)] = toUtf8(value);
    json["keywords"] = keywords;

    // Objects in the order of the original file; any others after them, by id.
    std::vector<Long> order = original.objectOrder;
    for (const auto& [id, object] : scene.objects) {
        if (std::find(order.begin(), order.end(), id) == order.end())
            order.push_back(id);
    }
    Json objects = Json::array();
    for (const Long id : order) {
        const auto it = scene.objects.find(id);
        if (it == scene.objects.end())
            continue;
        Json entry = {{"id", id}};
        for (const auto& [noteId, note] : original.notes) {
            if (noteId == id)
                entry["note"] = note;
        }
        Json infos = Json::object();
        for (const auto& [code, value] : it->second.infos)
            infos[std::to_string(code)] = toUtf8(value);
        entry["infos"] = infos;
        if (!it->second.children.empty())
            entry["children"] = it->second.children;
        objects.push_back(std::move(entry));
    }
    json["objects"] = objects;
    json["sceneObjects"] = scene.sceneObjects;

    Json tables = Json::object();
    for (const auto& [table, lines] : scene.tables) {
        Json rows = Json::object();
        for (const auto& line : lines) {
            Json columns = Json::object();
            for (const auto& [column, value] : line.columns)
                columns[std::to_string(column)] = toUtf8(value);
            rows[toUtf8(line.name)] = columns;
        }
        tables[std::to_string(table)] = rows;
    }
    json["tables"] = tables;
    if (!original.failures.empty()) {
        Json failures = Json::array();
        for (const auto& failure : original.failures) {
            Json entry = Json::object();
            if (failure.operation) {
                entry["operation"] = host::name(*failure.operation);
                entry["nth"] = failure.nth;
            } else if (failure.create) {
                entry["create"] = host::objectInfo(*failure.create).progId;
            }
            entry["code"] = errorCodeText(failure.code);
            entry["description"] = failure.description;
            failures.push_back(std::move(entry));
        }
        json["failures"] = failures;
    }
    return json.dump(2) + "\n";
}

std::string numbersText(const NumberSymbols& numbers) {
    std::string text = "decimal separator \"" + echo(toUtf8(numbers.decimal)) + "\"";
    if (numbers != NumberSymbols::forDecimal(numbers.decimal)) {
        text += ", thousands separator \"" + echo(toUtf8(numbers.thousands)) +
                "\", currency sign \"" + echo(toUtf8(numbers.currency)) + "\"";
    }
    return text;
}

}  // namespace vpolv::sim
