#include "sim/scene_file.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "common/text.h"

namespace vpolv::sim {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

constexpr std::string_view kCatalogsPlaceholder = "${catalogsFolder}";

// Columns a line of a table must have, by table number.
const std::map<Integer, std::vector<Integer>> kNeededColumns = {{3, {3, 4, 5}}, {4, {3}}};

class Checker {
  public:
    explicit Checker(const fs::path& file) : file_(file.string()) {}

    [[noreturn]] void fail(const std::string& place, const std::string& what) const {
        throw SceneError(file_ + ": " + place + ": " + what);
    }

    void onlyKeys(const Json& object, const std::string& place,
                  std::initializer_list<std::string_view> allowed) const {
        for (const auto& [key, value] : object.items()) {
            if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
                fail(place, "unknown key \"" + key + "\"");
            }
        }
    }

    const Json& objectAt(const Json& value, const std::string& place) const {
        if (!value.is_object())
            fail(place, "expected an object, found " + kind(value));
        return value;
    }

    const Json& arrayAt(const Json& value, const std::string& place) const {
        if (!value.is_array())
            fail(place, "expected an array, found " + kind(value));
        return value;
    }

    std::string text(const Json& value, const std::string& place) const {
        if (!value.is_string())
            fail(place, "expected a text, found " + kind(value));
        return value.get<std::string>();
    }

    Long number(const Json& value, const std::string& place) const {
        if (!value.is_number_integer())
            fail(place, "expected a whole number, found " + kind(value));
        const bool fits = value.is_number_unsigned()
                              ? value.get<std::uint64_t>() <= 0x7FFFFFFFu
                              : value.get<std::int64_t>() >= std::numeric_limits<Long>::min() &&
                                    value.get<std::int64_t>() <= std::numeric_limits<Long>::max();
        if (!fits)
            fail(place, "number out of the 32-bit range");
        return static_cast<Long>(value.get<std::int64_t>());
    }

    // An object key that stands for a number (information codes, tables, columns).
    std::int64_t keyNumber(const std::string& key, const std::string& place, std::int64_t low,
                           std::int64_t high) const {
        std::int64_t n = 0;
        std::size_t i = key.size() > 1 && key[0] == '-' ? 1 : 0;
        bool ok = i < key.size() && key.size() - i <= 10;
        for (; ok && i < key.size(); ++i) {
            if (key[i] < '0' || key[i] > '9')
                ok = false;
            n = n * 10 + (key[i] - '0');
        }
        if (ok && key[0] == '-')
            n = -n;
        if (!ok || n < low || n > high)
            fail(place, "\"" + key + "\" is not a valid number here");
        return n;
    }

    static std::string kind(const Json& value) {
        if (value.is_null())
            return "null";
        if (value.is_boolean())
            return "a boolean";
        if (value.is_number())
            return "a number";
        if (value.is_string())
            return "a text";
        if (value.is_array())
            return "an array";
        return "an object";
    }

  private:
    std::string file_;
};

std::string quote(const std::string& s) {
    return "\"" + s + "\"";
}

// Parses JSON text, reporting syntax errors and repeated keys with their place.
Json parseJson(std::string_view input, const fs::path& file) {
    // Each open object's keys, to catch a key given twice (the parser would keep the last).
    std::vector<std::set<std::string>> open;
    std::optional<std::string> duplicate;
    auto callback = [&](int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
            case Json::parse_event_t::object_start:
                open.emplace_back();
                break;
            case Json::parse_event_t::object_end:
                if (!open.empty())
                    open.pop_back();
                break;
            case Json::parse_event_t::key:
                if (!open.empty() && !open.back().insert(parsed.get<std::string>()).second &&
                    !duplicate) {
                    duplicate = parsed.get<std::string>();
                }
                break;
            default:
                break;
        }
        return true;
    };
    try {
        Json json = Json::parse(input, callback);
        if (duplicate) {
            throw SceneError(file.string() + ": key " + quote(*duplicate) +
                             " is given twice in one object");
        }
        return json;
    } catch (const Json::parse_error& e) {
        // e.byte counts from 1 and points at the character that could not be read.
        const std::size_t at = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, input.size());
        const std::size_t line = 1 + std::count(input.begin(), input.begin() + at, '\n');
        const std::size_t lineStart = input.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t column =
            lineStart == std::string_view::npos || at == 0 ? at + 1 : at - lineStart;
        std::string reason = e.what();
        // Drop the library's own prefix ("[json.exception...] parse error at line 1, column 2: ").
        if (const auto p = reason.find("column "); p != std::string::npos) {
            if (const auto colon = reason.find(": ", p); colon != std::string::npos) {
                reason = reason.substr(colon + 2);
            }
        }
        throw SceneError(file.string() + ":" + std::to_string(line) + ":" + std::to_string(column) +
                         ": invalid JSON: " + reason);
    }
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

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw SceneError(path.string() + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string catalogsFolderText(const SceneFile& scene) {
    std::string folder = scene.catalogsFolder->string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
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
    if (json.contains("decimalSeparator")) {
        const std::string separator = check.text(json["decimalSeparator"], "decimalSeparator");
        if (separator != "." && separator != ",") {
            check.fail("decimalSeparator", "expected \".\" or \",\", found " + quote(separator));
        }
        out.decimalSeparator = static_cast<char16_t>(separator[0]);
    }
    if (json.contains("catalogsFolder")) {
        out.catalogsFolderWritten = check.text(json["catalogsFolder"], "catalogsFolder");
        const fs::path folder = (out.folder / *out.catalogsFolderWritten).lexically_normal();
        if (!fs::is_directory(folder)) {
            check.fail("catalogsFolder", "no folder " + folder.string());
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
    out.spaceIni.path = (out.folder / out.spaceIni.written).lexically_normal();
    std::ifstream in(out.spaceIni.path, std::ios::binary);
    if (!in || fs::is_directory(out.spaceIni.path)) {
        check.fail("spaceIni.path", "cannot read " + out.spaceIni.path.string());
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    out.spaceIni.contents = expandCatalogsFolder(check, out, contents.str(), "spaceIni.path");
}

}  // namespace

SceneFile parseScene(std::string_view input, const fs::path& file) {
    const Checker check(file);
    const Json json = parseJson(input, file);
    check.objectAt(json, "top level");
    check.onlyKeys(json, "top level",
                   {"description", "session", "callParamsBlock", "callObject", "decimalSeparator",
                    "catalogsFolder", "spaceIni", "keywords", "objects", "sceneObjects", "tables"});

    SceneFile out;
    out.file = file;
    out.folder = fs::absolute(file).parent_path().lexically_normal();

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
    readSurroundings(check, json, out);
    return out;
}

SceneFile loadScene(const fs::path& file) {
    return parseScene(readFile(file), file);
}

namespace {

std::string relativeTo(const fs::path& target, const fs::path& folder) {
    const fs::path relative = target.lexically_relative(folder);
    return relative.empty() ? target.generic_string() : relative.generic_string();
}

}  // namespace

std::string sceneToJson(const SceneFile& original, const host::SceneData& scene,
                        const fs::path& outFile) {
    const fs::path outFolder = fs::absolute(outFile).parent_path().lexically_normal();
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
    json["decimalSeparator"] = std::string(1, static_cast<char>(original.decimalSeparator));
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
    return json.dump(2) + "\n";
}

}  // namespace vpolv::sim
