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

// The scene file's members, described once: mapScene() names each, in the order the writer
// writes them, with the part of SceneFile it stands for. The reader (Reading), the writer
// (Writing) and the list of the names (Keys) each pass an io that does its part, so that they
// cannot disagree on a name or an order, as trace/record_fields.h does for the trace's records.
// How each kind of member is read and written is each io's. The reader checks the members in
// this order too, so that a file with several faults is told the first of them in this order.
template <class IO, class S>
void mapScene(IO& io, S& scene) {
    io.text("description", scene.description);
    io.number("session", scene.scene.sessionId);
    io.callParams("callParamsBlock", scene.callParamsBlock);
    io.callObject("callObject", scene.callObject);
    io.signs("decimalSeparator", "thousandsSeparator", "currencySign", scene.numbers);
    io.catalogsFolder("catalogsFolder", scene.catalogsFolder);
    io.spaceIni("spaceIni", scene.spaceIni);
    io.keywords("keywords", scene.scene.keywords);
    io.objects("objects", scene.scene.objects);
    io.sceneObjects("sceneObjects", scene.scene.sceneObjects);
    io.tables("tables", scene.scene.tables);
    io.failures("failures", scene.failures);
}

// The members of an object of "objects", of a failure of "failures", and of "spaceIni" when it
// names a file: each read and written under these names.
struct ObjectKeys {
    static constexpr const char* id = "id";
    static constexpr const char* note = "note";
    static constexpr const char* infos = "infos";
    static constexpr const char* children = "children";
};
struct FailureKeys {
    static constexpr const char* operation = "operation";
    static constexpr const char* nth = "nth";
    static constexpr const char* create = "create";
    static constexpr const char* code = "code";
    static constexpr const char* description = "description";
};
constexpr const char* kSpaceIniPath = "path";

// The names mapScene() gives, in its order.
struct Keys {
    std::vector<std::string_view> names;
    void add(const char* key) { names.emplace_back(key); }
    void text(const char* key, const auto&) { add(key); }
    void number(const char* key, const auto&) { add(key); }
    void callParams(const char* key, const auto&) { add(key); }
    void callObject(const char* key, const auto&) { add(key); }
    void signs(const char* decimal, const char* thousands, const char* currency, const auto&) {
        add(decimal);
        add(thousands);
        add(currency);
    }
    void catalogsFolder(const char* key, const auto&) { add(key); }
    void spaceIni(const char* key, const auto&) { add(key); }
    void keywords(const char* key, const auto&) { add(key); }
    void objects(const char* key, const auto&) { add(key); }
    void sceneObjects(const char* key, const auto&) { add(key); }
    void tables(const char* key, const auto&) { add(key); }
    void failures(const char* key, const auto&) { add(key); }
};

// Reads each member mapScene() names from a scene file's document, checked; the members that
// name objects are checked once every object is known (finish()).
class Reading {
  public:
    Reading(const Checker& check, const Json& json, SceneFile& out)
        : check_(check), json_(json), out_(out) {}

    void text(const char* key, std::optional<std::string>& value) {
        if (const Json* json = find(key))
            value = check_.text(*json, key);
    }
    void number(const char* key, Long& value) {
        if (const Json* json = find(key))
            value = check_.number(*json, key);
    }
    void callParams(const char* key, Long& value) { number(key, value); }
    void callObject(const char* key, std::optional<Long>& value) {
        if (const Json* json = find(key)) {
            value = check_.number(*json, key);
            callObjectKey_ = key;
        }
    }
    // The signs as a user locale can have them: one to three characters (the currency sign up
    // to twelve), no digit among them; an empty thousands separator or currency sign is none.
    void signs(const char* decimal, const char* thousands, const char* currency,
               NumberSymbols& numbers) {
        if (find(decimal))
            numbers = NumberSymbols::forDecimal(sign(decimal, 3, false));
        if (find(thousands))
            numbers.thousands = sign(thousands, 3, true);
        if (find(currency))
            numbers.currency = sign(currency, 12, true);
    }
    void catalogsFolder(const char* key, std::optional<fs::path>& folder) {
        const Json* json = find(key);
        if (!json)
            return;
        out_.catalogsFolderWritten = check_.text(*json, key);
        const fs::path path =
            (out_.folder / pathFromUtf8(*out_.catalogsFolderWritten)).lexically_normal();
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (status.type() == fs::file_type::not_found)
            check_.fail(key, "no folder " + utf8Path(path));
        else if (error)
            check_.fail(key, "cannot use " + utf8Path(path) + ": " + reasonOf(error));
        else if (!fs::is_directory(status))
            check_.fail(key, utf8Path(path) + " is not a folder");
        folder = path;
    }
    void spaceIni(const char* key, SpaceIni& ini) {
        const Json* json = find(key);
        if (!json) {
            if (out_.catalogsFolder) {
                ini.source = SpaceIni::Source::Generated;
                ini.contents = "[Local]\r\nCatalogsDir=" + catalogsFolderText(out_) + "\r\n";
            }
            return;
        }
        if (json->is_null())
            return;
        if (json->is_string()) {
            ini.source = SpaceIni::Source::Inline;
            ini.written = json->get<std::string>();
            ini.contents = expandCatalogsFolder(check_, out_, ini.written, key);
            return;
        }
        const std::string at = std::string(key) + "." + kSpaceIniPath;
        check_.objectAt(*json, key);
        check_.onlyKeys(*json, key, {kSpaceIniPath});
        if (!json->contains(kSpaceIniPath))
            check_.fail(key, "missing \"" + std::string(kSpaceIniPath) + "\"");
        ini.source = SpaceIni::Source::File;
        ini.written = check_.text((*json)[kSpaceIniPath], at);
        ini.path = (out_.folder / pathFromUtf8(ini.written)).lexically_normal();
        std::string reason;
        const auto contents = readRegularFile(ini.path, kMaxSpaceIniBytes, reason);
        if (!contents)
            check_.fail(at, "cannot read " + utf8Path(ini.path) + ": " + reason);
        ini.contents = expandCatalogsFolder(check_, out_, *contents, at);
    }
    void keywords(const char* key, std::map<Text, Text>& keywords) {
        if (const Json* json = find(key)) {
            for (const auto& [keyword, value] : check_.objectAt(*json, key).items())
                keywords[fromUtf8(keyword)] =
                    fromUtf8(check_.text(value, "keyword " + quote(keyword)));
        }
    }
    void objects(const char* key, std::map<Long, host::SceneObject>& objects) {
        if (const Json* json = find(key))
            readObjects(*json, key, objects);
    }
    void sceneObjects(const char* key, std::vector<Long>& ids) {
        const Json* json = find(key);
        if (!json)
            return;
        std::size_t rank = 1;
        for (const auto& id : check_.arrayAt(*json, key)) {
            const std::string place = std::string(key) + " rank " + std::to_string(rank++);
            ids.push_back(check_.number(id, place));
            known(ids.back(), place);
        }
    }
    void tables(const char* key, std::map<Integer, std::vector<host::TableLine>>& tables) {
        if (const Json* json = find(key))
            readTables(*json, key, tables);
    }
    void failures(const char* key, std::vector<HostFailure>& failures) {
        if (const Json* json = find(key))
            readFailures(*json, key, failures);
    }

    // The object of the call, checked once every object is read.
    void finish() {
        if (out_.callObject) {
            known(*out_.callObject, callObjectKey_);
            out_.scene.currentObject = *out_.callObject;
        }
    }

  private:
    void readObjects(const Json& objects, const std::string& key,
                     std::map<Long, host::SceneObject>& into) {
        using K = ObjectKeys;
        check_.arrayAt(objects, key);
        std::size_t index = 0;
        for (const auto& entry : objects) {
            std::string place = key + "[" + std::to_string(index++) + "]";
            check_.objectAt(entry, place);
            if (!entry.contains(K::id))
                check_.fail(place, "missing \"" + std::string(K::id) + "\"");
            const Long id = check_.number(entry[K::id], place + "." + K::id);
            place = "object " + std::to_string(id);
            check_.onlyKeys(entry, place, {K::id, K::note, K::infos, K::children});
            if (into.count(id))
                check_.fail(place, "id given to more than one object");
            host::SceneObject object;
            if (entry.contains(K::note))
                out_.notes.emplace_back(id, check_.text(entry[K::note], place + " " + K::note));
            if (entry.contains(K::infos)) {
                for (const auto& [code, value] :
                     check_.objectAt(entry[K::infos], place + " " + K::infos).items()) {
                    const std::string at = place + " info " + code;
                    const auto number = check_.keyNumber(code, at, std::numeric_limits<Long>::min(),
                                                         std::numeric_limits<Long>::max());
                    object.infos[static_cast<Long>(number)] = fromUtf8(check_.text(value, at));
                }
            }
            if (entry.contains(K::children)) {
                std::size_t rank = 1;
                for (const auto& child :
                     check_.arrayAt(entry[K::children], place + " " + K::children)) {
                    object.children.push_back(
                        check_.number(child, place + " child " + std::to_string(rank++)));
                }
            }
            into.emplace(id, std::move(object));
            out_.objectOrder.push_back(id);
        }
        // Children refer to objects of the file; checked once all ids are known.
        for (const Long id : out_.objectOrder) {
            const auto& children = into.at(id).children;
            for (std::size_t rank = 0; rank < children.size(); ++rank)
                known(children[rank],
                      "object " + std::to_string(id) + " child " + std::to_string(rank + 1));
        }
    }

    void readTables(const Json& tables, const std::string& key,
                    std::map<Integer, std::vector<host::TableLine>>& into) {
        constexpr auto low = std::numeric_limits<Integer>::min();
        constexpr auto high = std::numeric_limits<Integer>::max();
        for (const auto& [tableKey, lines] : check_.objectAt(tables, key).items()) {
            const std::string tablePlace = "table " + tableKey;
            const auto table = static_cast<Integer>(check_.keyNumber(tableKey, key, low, high));
            auto& rows = into[table];
            for (const auto& [name, columns] : check_.objectAt(lines, tablePlace).items()) {
                const std::string place = tablePlace + " line " + quote(name);
                host::TableLine line{fromUtf8(name), {}};
                for (const auto& [columnKey, value] : check_.objectAt(columns, place).items()) {
                    const std::string at = place + " column " + columnKey;
                    const auto column =
                        static_cast<Integer>(check_.keyNumber(columnKey, at, low, high));
                    line.columns[column] = fromUtf8(check_.text(value, at));
                }
                if (const auto needed = kNeededColumns.find(table);
                    needed != kNeededColumns.end()) {
                    for (const Integer column : needed->second) {
                        if (!line.columns.count(column))
                            check_.fail(place, "missing column " + std::to_string(column));
                    }
                }
                rows.push_back(std::move(line));
            }
        }
    }

    void readFailures(const Json& failures, const std::string& key,
                      std::vector<HostFailure>& into) {
        using K = FailureKeys;
        std::size_t index = 0;
        for (const auto& entry : check_.arrayAt(failures, key)) {
            const std::string place = key + "[" + std::to_string(index++) + "]";
            const auto at = [&](const char* member) { return place + "." + member; };
            const auto keyText = [](const char* member) {
                return "\"" + std::string(member) + "\"";
            };
            check_.objectAt(entry, place);
            check_.onlyKeys(entry, place,
                            {K::operation, K::nth, K::create, K::code, K::description});
            HostFailure failure;
            if (entry.contains(K::operation) == entry.contains(K::create))
                check_.fail(place,
                            "needs either " + keyText(K::operation) + " or " + keyText(K::create));
            if (entry.contains(K::operation)) {
                const std::string name = check_.text(entry[K::operation], at(K::operation));
                failure.operation = host::operationNamed(name);
                if (!failure.operation || host::isLifecycle(*failure.operation))
                    check_.fail(at(K::operation), "unknown operation " + quote(name));
                if (entry.contains(K::nth)) {
                    failure.nth = check_.number(entry[K::nth], at(K::nth));
                    if (failure.nth < 1)
                        check_.fail(at(K::nth), "must be 1 or more");
                }
            } else {
                const std::string progId = check_.text(entry[K::create], at(K::create));
                for (const host::HostObjectInfo& object : host::kHostObjects) {
                    if (object.progId == progId)
                        failure.create = object.kind;
                }
                if (!failure.create) {
                    check_.fail(at(K::create),
                                "unknown object " + quote(progId) + " (" + progIdList() + ")");
                }
                if (entry.contains(K::nth))
                    check_.fail(place, keyText(K::nth) + " applies to an operation only");
            }
            if (!entry.contains(K::code))
                check_.fail(place, "missing " + keyText(K::code));
            const std::string code = check_.text(entry[K::code], at(K::code));
            const auto value = trace::parseErrorCode(code);
            if (!value)
                check_.fail(at(K::code), "expected hexadecimal text such as \"0x80041234\"");
            failure.code = *value;
            if (entry.contains(K::description))
                failure.description = check_.text(entry[K::description], at(K::description));
            for (const auto& earlier : into) {
                if (earlier.operation == failure.operation && earlier.create == failure.create &&
                    earlier.nth == failure.nth) {
                    check_.fail(place, "the same call fails already");
                }
            }
            into.push_back(std::move(failure));
        }
    }

    const Json* find(const char* key) const {
        const auto it = json_.find(key);
        return it == json_.end() ? nullptr : &*it;
    }

    void known(Long id, const std::string& place) const {
        if (!out_.scene.objects.count(id))
            check_.fail(place, "no object has id " + std::to_string(id));
    }

    Text sign(const char* key, std::size_t longest, bool mayBeEmpty) const {
        const Text text = fromUtf8(check_.text(json_[key], key));
        if ((text.empty() && !mayBeEmpty) || text.size() > longest ||
            std::any_of(text.begin(), text.end(),
                        [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
            check_.fail(key, "expected " + std::string(mayBeEmpty ? "up to " : "1 to ") +
                                 std::to_string(longest) + " characters and no digit, found " +
                                 quote(toUtf8(text)));
        }
        return text;
    }

    const Checker& check_;
    const Json& json_;
    SceneFile& out_;
    std::string callObjectKey_;
};

std::string relativeTo(const fs::path& target, const fs::path& folder) {
    const fs::path relative = target.lexically_relative(folder);
    return genericUtf8Path(relative.empty() ? target : relative);
}

// Writes each member mapScene() names into a document, from the scene as it stands now and the
// rest of the file it came from, the paths relative to the folder of the file written.
class Writing {
  public:
    Writing(const SceneFile& original, const host::SceneData& scene, const fs::path& outFolder,
            Json& json)
        : original_(original), scene_(scene), outFolder_(outFolder), json_(json) {}

    void text(const char* key, const std::optional<std::string>& value) {
        if (value)
            json_[key] = *value;
    }
    void number(const char* key, Long value) { json_[key] = value; }
    void callParams(const char* key, Long value) {
        if (value != 1)
            json_[key] = value;
    }
    // The object of the call as the run had it (--object may have replaced the file's).
    void callObject(const char* key, const std::optional<Long>& value) {
        if (value || scene_.currentObject != original_.scene.currentObject)
            json_[key] = scene_.currentObject;
    }
    void signs(const char* decimal, const char* thousands, const char* currency,
               const NumberSymbols& numbers) {
        json_[decimal] = toUtf8(numbers.decimal);
        if (numbers != NumberSymbols::forDecimal(numbers.decimal)) {
            json_[thousands] = toUtf8(numbers.thousands);
            json_[currency] = toUtf8(numbers.currency);
        }
    }
    void catalogsFolder(const char* key, const std::optional<fs::path>& folder) {
        if (folder)
            json_[key] = relativeTo(*folder, outFolder_);
    }
    void spaceIni(const char* key, const SpaceIni& ini) {
        switch (ini.source) {
            case SpaceIni::Source::Inline:
                json_[key] = ini.written;
                break;
            case SpaceIni::Source::File:
                json_[key] = {{kSpaceIniPath, relativeTo(ini.path, outFolder_)}};
                break;
            case SpaceIni::Source::None:
                if (original_.catalogsFolder)
                    json_[key] = nullptr;
                break;
            case SpaceIni::Source::Generated:
                break;
        }
    }
    void keywords(const char* key, const std::map<Text, Text>& keywords) {
        Json json = Json::object();
        for (const auto& [keyword, value] : keywords)
            json[toUtf8(keyword)] = toUtf8(value);
        json_[key] = json;
    }
    // In the order of the original file; any others after them, by id.
    void objects(const char* key, const std::map<Long, host::SceneObject>& objects) {
        using K = ObjectKeys;
        std::vector<Long> order = original_.objectOrder;
        for (const auto& [id, object] : objects) {
            if (std::find(order.begin(), order.end(), id) == order.end())
                order.push_back(id);
        }
        Json json = Json::array();
        for (const Long id : order) {
            const auto it = objects.find(id);
            if (it == objects.end())
                continue;
            Json entry = {{K::id, id}};
            for (const auto& [noteId, note] : original_.notes) {
                if (noteId == id)
                    entry[K::note] = note;
            }
            Json infos = Json::object();
            for (const auto& [code, value] : it->second.infos)
                infos[std::to_string(code)] = toUtf8(value);
            entry[K::infos] = infos;
            if (!it->second.children.empty())
                entry[K::children] = it->second.children;
            json.push_back(std::move(entry));
        }
        json_[key] = json;
    }
    void sceneObjects(const char* key, const std::vector<Long>& ids) { json_[key] = ids; }
    void tables(const char* key, const std::map<Integer, std::vector<host::TableLine>>& tables) {
        Json json = Json::object();
        for (const auto& [table, lines] : tables) {
            Json rows = Json::object();
            for (const auto& line : lines) {
                Json columns = Json::object();
                for (const auto& [column, value] : line.columns)
                    columns[std::to_string(column)] = toUtf8(value);
                rows[toUtf8(line.name)] = columns;
            }
            json[std::to_string(table)] = rows;
        }
        json_[key] = json;
    }
    void failures(const char* key, const std::vector<HostFailure>& failures) {
        using K = FailureKeys;
        if (failures.empty())
            return;
        Json json = Json::array();
        for (const auto& failure : failures) {
            Json entry = Json::object();
            if (failure.operation) {
                entry[K::operation] = host::name(*failure.operation);
                entry[K::nth] = failure.nth;
            } else if (failure.create) {
                entry[K::create] = host::objectInfo(*failure.create).progId;
            }
            entry[K::code] = errorCodeText(failure.code);
            entry[K::description] = failure.description;
            json.push_back(std::move(entry));
        }
        json_[key] = json;
    }

  private:
    const SceneFile& original_;
    const host::SceneData& scene_;
    const fs::path& outFolder_;
    Json& json_;
};

SceneFile checkScene(std::string_view input, const fs::path& file) {
    const Checker check;
    const Json json = parseJson(input, file);
    check.objectAt(json, "top level");
    Keys keys;
    SceneFile out;
    mapScene(keys, out);
    for (const auto& [key, value] : json.items()) {
        if (std::find(keys.names.begin(), keys.names.end(), key) == keys.names.end())
            check.fail("top level", "unknown key " + quote(key));
    }
    out.file = file;
    std::error_code error;
    out.folder = fs::absolute(file, error).parent_path().lexically_normal();
    if (error)
        throw SceneError(utf8Path(file) + ": cannot find its folder: " + reasonOf(error));
    Reading reading(check, json, out);
    mapScene(reading, out);
    reading.finish();
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

std::string sceneToJson(const SceneFile& original, const host::SceneData& scene,
                        const fs::path& outFile) {
    std::error_code error;
    // Should the current folder be gone, the paths are written absolute.
    const fs::path outFolder = fs::absolute(outFile, error).parent_path().lexically_normal();
    Json json = Json::object();
    // The rest of the file as it was, the scene as it stands.
    SceneFile now = original;
    now.scene = scene;
    Writing writing(original, scene, outFolder, json);
    mapScene(writing, now);
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
