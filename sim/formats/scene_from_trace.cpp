// vpolv-sim --scene-from-trace: a scene file holding what a traced event read.
#include "sim/formats/scene_from_trace.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

#include "common/text.h"
#include "standalone/files.h"

namespace vpolv::sim {

using platform::pathFromUtf8;
using platform::utf8Path;
using standalone::reasonOf;
using standalone::writeWhole;

namespace fs = std::filesystem;
using host::Arg;
using host::Call;

namespace {

class Builder {
  public:
    Builder(const trace::Record& record, const std::string& where)
        : record_(record), where_(where) {}

    [[noreturn]] void cannot(std::size_t call, const std::string& what) const {
        throw SceneError(where_ + ": call " + std::to_string(call + 1) + " (" +
                         record_.calls[call].toString() + "): " + what +
                         "; a scene cannot express it");
    }

    std::string utf8(const Text& text, std::size_t call) const {
        if (trace::hasUnpairedSurrogate(text))
            cannot(call, "a text holding an unpaired surrogate");
        return toUtf8(text);
    }

    Long number(std::size_t call) const {
        const host::Answer& answer = record_.calls[call].answer;
        if (answer.kind != host::Answer::Kind::Long)
            cannot(call, "no answer where the host gives a number");
        return static_cast<Long>(std::stol(toUtf8(answer.value)));
    }

    // The object an argument names: -2 is the object of the call.
    Long object(const Arg& arg) {
        if (arg.kind == Arg::Kind::I2) {
            usesCallObject_ = true;
            return kCallObject;
        }
        see(arg.number);
        return arg.number;
    }

    void see(Long id) {
        ids_.insert(id);
        largest_ = std::max(largest_, id);
    }

    SceneFile build() {
        const auto& calls = record_.calls;
        std::map<std::pair<host::Operation, host::ObjectKind>, Long> counts;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const Call& call = calls[i];
            // The reader lets no such call through; the arguments are taken by name below.
            if (const auto fault = host::misfit(call))
                cannot(i, *fault);
            using host::Operation;
            namespace P = host::param;
            const Operation op = call.operation;
            const Long nth =
                ++counts[{op, op == Operation::CreateObject ? call.object : host::ObjectKind{}}];
            if (call.answer.error) {
                failure(i, nth);
                // The object a failed call names still has to be there for the calls after it.
                if (const host::Arg* named = host::objectArgOf(call))
                    object(*named);
                continue;
            }
            switch (op) {
                case Operation::StartSessionFromCallParams:
                    session_ = number(i);
                    break;
                case Operation::ObjectGetInfo: {
                    const Long id = object(arg(call, P::ObjectGetInfo::object));
                    const Long code = arg(call, P::ObjectGetInfo::code).number;
                    if (!written_.count({id, code}) && !infos_[id].count(code))
                        infos_[id][code] = utf8(call.answer.value, i);
                    break;
                }
                case Operation::ObjectSetInfo:
                    written_.insert({object(arg(call, P::ObjectSetInfo::object)),
                                     arg(call, P::ObjectSetInfo::code).number});
                    break;
                case Operation::ObjectGetChildrenNb: {
                    const Long n = number(i);
                    if (n < 0)
                        cannot(i, "a negative number of children");
                    const Long id = object(arg(call, P::ObjectGetChildrenNb::object));
                    if (childCount_.count(id) && childCount_[id] != n)
                        cannot(i, "a number of children that differs from an earlier answer");
                    childCount_[id] = n;
                    break;
                }
                case Operation::ObjectGetChildId: {
                    const Long id = object(arg(call, P::ObjectGetChildId::object));
                    rank(i, children_[id], arg(call, P::ObjectGetChildId::rank).number);
                    break;
                }
                case Operation::SceneGetObjectsNb: {
                    const Long n = number(i);
                    if (n < 0 || (sceneCount_ && *sceneCount_ != n))
                        cannot(i, "a number of scene objects that is negative or changes");
                    sceneCount_ = n;
                    break;
                }
                case Operation::SceneGetObjectId:
                    rank(i, sceneObjects_, arg(call, P::SceneGetObjectId::rank).number);
                    break;
                case Operation::SceneGetKeywordInfo: {
                    const Text& keyword = arg(call, P::SceneGetKeywordInfo::keyword).text;
                    utf8(keyword, i);
                    if (!keywords_.contains(keyword)) {
                        utf8(call.answer.value, i);
                        keywords_[keyword] = call.answer.value;
                    }
                    break;
                }
                case Operation::TableGetLineRankFromName:
                    lineRank(i);
                    break;
                case Operation::TableGetLineInfo:
                    lineInfo(i);
                    break;
                // The session's end and the objects' lifecycle read nothing a scene holds; the
                // catalogs FileLoad loads are found apart (foundCatalogs).
                case Operation::EndSession:
                case Operation::FileLoad:
                case Operation::CreateObject:
                case Operation::Release:
                    break;
            }
        }
        return scene();
    }

  private:
    static constexpr Long kCallObject = 0x7FFFFFFF;  // stands for -2 until its id is known
    static constexpr Long kMostMade = 100000;

    void rank(std::size_t i, std::map<Long, Long>& ranks, Long r) {
        const Long id = number(i);
        if (r < 1)
            cannot(i, "an object at a rank below 1");
        if (ranks.count(r) && ranks[r] != id)
            cannot(i, "a rank that held another object before");
        ranks[r] = id;
        see(id);
    }

    void lineRank(std::size_t i) {
        using P = host::param::TableGetLineRankFromName;
        const Call& call = record_.calls[i];
        const auto table = static_cast<Integer>(arg(call, P::table).number);
        const Text& name = arg(call, P::lineName).text;
        const Long r = number(i);
        auto& names = lineNames_[table];
        if (r < 0)
            cannot(i, "a negative rank");
        if (r == 0) {
            for (const auto& [at, known] : names) {
                if (known == name)
                    cannot(i, "a line that was found before");
            }
            absent_[table].insert(name);
            return;
        }
        if (absent_[table].count(name))
            cannot(i, "a line that was not found before");
        for (const auto& [at, known] : names) {
            if ((at == r) != (known == name))
                cannot(i, "a line name and rank that disagree with an earlier answer");
        }
        utf8(name, i);
        names[r] = name;
    }

    void lineInfo(std::size_t i) {
        const Call& call = record_.calls[i];
        using P = host::param::TableGetLineInfo;
        const auto table = static_cast<Integer>(arg(call, P::table).number);
        const Long r = arg(call, P::rank).number;
        const auto column = static_cast<Integer>(arg(call, P::column).number);
        if (r < 1) {
            if (!call.answer.value.empty())
                cannot(i, "a value for a rank that names no line");
            return;
        }
        auto& columns = lines_[table][r];
        const std::string value = utf8(call.answer.value, i);
        if (columns.count(column) && columns[column] != value)
            cannot(i, "a value that differs from an earlier answer");
        columns[column] = value;
    }

    void failure(std::size_t i, Long nth) {
        const Call& call = record_.calls[i];
        const Error& error = *call.answer.error;
        HostFailure failure;
        if (call.operation == host::Operation::CreateObject) {
            failure.create = call.object;
        } else {
            failure.operation = call.operation;
            failure.nth = nth;
        }
        failure.code = error.code();
        failure.description = utf8(error.description(), i);
        failures_.push_back(std::move(failure));
    }

    // A list of ids by rank, with objects of no interest where the record read no rank.
    std::vector<Long> ranked(const std::map<Long, Long>& ranks, std::optional<Long> count) {
        Long size = count.value_or(0);
        if (!ranks.empty()) {
            if (count && ranks.rbegin()->first > *count) {
                throw SceneError(where_ + ": an object at rank " +
                                 std::to_string(ranks.rbegin()->first) + " of " +
                                 std::to_string(*count) + "; a scene cannot express it");
            }
            size = std::max(size, ranks.rbegin()->first);
        }
        making(size);
        std::vector<Long> ids;
        for (Long r = 1; r <= size; ++r) {
            const auto it = ranks.find(r);
            ids.push_back(it != ranks.end() ? it->second : ++fresh_);
            ids_.insert(ids.back());
        }
        return ids;
    }

    // Counts the objects or lines about to be made from counts and ranks of the record; a
    // record that would make more than a scene can reasonably hold raises SceneError, before
    // memory runs out on it (and, with ids, before they pass the largest one).
    void making(Long count) {
        made_ += count;
        if (made_ > kMostMade) {
            throw SceneError(where_ + ": counts and ranks that make more than " +
                             std::to_string(kMostMade) +
                             " objects and table lines; a scene cannot express it");
        }
    }

    SceneFile scene() {
        if (largest_ > std::numeric_limits<Long>::max() - kMostMade - 1) {
            throw SceneError(where_ + ": object " + std::to_string(largest_) +
                             " leaves no ids for the objects a scene adds; a scene cannot "
                             "express it");
        }
        // The object of the call gets an id no other object has.
        const Long callObject = largest_ == std::numeric_limits<Long>::min() ? 1 : largest_ + 1;
        fresh_ = callObject;
        auto realId = [&](Long id) { return id == kCallObject ? callObject : id; };
        const bool wantCallObject = record_.event != Event::Scene || usesCallObject_;

        SceneFile out;
        std::set<Long> parents;
        for (const auto& [id, n] : childCount_)
            parents.insert(id);
        for (const auto& [id, ranks] : children_)
            parents.insert(id);
        for (const Long id : parents) {
            const auto count = childCount_.find(id);
            out.scene.objects[realId(id)].children = ranked(
                children_[id], count == childCount_.end() ? std::optional<Long>()
                                                          : std::optional<Long>(count->second));
        }
        out.scene.sceneObjects = ranked(sceneObjects_, sceneCount_);

        std::set<Long> all = ids_;
        all.erase(kCallObject);
        if (wantCallObject)
            all.insert(callObject);
        for (const auto& [id, infos] : infos_)
            all.insert(realId(id));

        out.description =
            "What the traced event (" + std::string(eventName(record_.event)) + ") read: " + where_;
        out.scene.sessionId = session_;
        out.callParamsBlock = record_.callParams;
        if (wantCallObject) {
            out.callObject = callObject;
            out.scene.currentObject = callObject;
        }
        out.numbers = record_.numbers;
        if (catalogsFolder_) {
            out.catalogsFolder = *catalogsFolder_;
            out.spaceIni.source = SpaceIni::Source::Generated;
        }
        out.scene.keywords = keywords_;
        for (const Long id : all) {
            auto& object = out.scene.objects[id];
            const Long key = id == callObject && wantCallObject ? kCallObject : id;
            if (const auto it = infos_.find(key); it != infos_.end()) {
                for (const auto& [code, value] : it->second)
                    object.infos[code] = fromUtf8(value);
            }
            out.objectOrder.push_back(id);
        }
        tables(out.scene.tables);
        out.failures = failures_;
        return out;
    }

    void tables(std::map<Integer, std::vector<host::TableLine>>& out) {
        std::set<Integer> numbers;
        for (const auto& [table, names] : lineNames_)
            numbers.insert(table);
        for (const auto& [table, lines] : lines_)
            numbers.insert(table);
        for (const Integer table : numbers) {
            auto& names = lineNames_[table];
            auto& lines = lines_[table];
            Long size = names.empty() ? 0 : names.rbegin()->first;
            if (!lines.empty())
                size = std::max(size, lines.rbegin()->first);
            making(size);
            std::set<Text> taken = absent_[table];
            for (const auto& [r, name] : names)
                taken.insert(name);
            auto& rows = out[table];
            for (Long r = 1; r <= size; ++r) {
                host::TableLine line;
                if (const auto it = names.find(r); it != names.end()) {
                    line.name = it->second;
                } else {
                    line.name = u"~unread line " + longToText(r);
                    while (taken.count(line.name))
                        line.name += u'~';
                    taken.insert(line.name);
                }
                auto& read = lines[r];
                if (const auto needed = kNeededColumns.find(table);
                    needed != kNeededColumns.end()) {
                    for (const Integer column : needed->second)
                        read.emplace(column, "");
                }
                for (const auto& [column, value] : read)
                    line.columns[column] = fromUtf8(value);
                rows.push_back(std::move(line));
            }
        }
    }

  public:
    std::optional<fs::path> catalogsFolder_;

  private:
    const trace::Record& record_;
    const std::string& where_;
    Long session_ = 1;
    bool usesCallObject_ = false;
    std::set<Long> ids_;
    Long largest_ = std::numeric_limits<Long>::min();
    Long fresh_ = 0;
    std::int64_t made_ = 0;
    std::map<Long, std::map<Long, std::string>> infos_;
    std::set<std::pair<Long, Long>> written_;
    std::map<Long, Long> childCount_;
    std::map<Long, std::map<Long, Long>> children_;
    std::optional<Long> sceneCount_;
    std::map<Long, Long> sceneObjects_;
    std::map<Text, Text> keywords_;
    std::map<Integer, std::map<Long, Text>> lineNames_;
    std::map<Integer, std::set<Text>> absent_;
    std::map<Integer, std::map<Long, std::map<Integer, std::string>>> lines_;
    std::vector<HostFailure> failures_;
};

// The catalog files the record found, as subfolder and file name.
std::vector<std::pair<std::string, std::string>> catalogStandIns(const trace::Record& record,
                                                                 const std::string& where) {
    std::vector<std::pair<std::string, std::string>> out;
    const char16_t sep = record.pathSeparator[0];
    for (const Text& path : foundCatalogs(record).files) {
        const auto last = path.rfind(sep);
        const auto before = path.rfind(sep, last - 1);
        const std::string sub = toUtf8(path.substr(before + 1, last - before - 1));
        const std::string name = toUtf8(path.substr(last + 1));
        for (const std::string& part : {sub, name}) {
            if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos)
                throw SceneError(where + ": catalog file " + toUtf8(path) +
                                 ": a name this system cannot hold");
        }
        out.emplace_back(sub, name);
    }
    return out;
}

}  // namespace

SceneFile sceneFromTrace(const trace::Record& record, const std::string& where,
                         const std::optional<fs::path>& catalogsFolder) {
    Builder builder(record, where);
    builder.catalogsFolder_ = catalogsFolder;
    return builder.build();
}

SceneFromTraceFiles sceneFilesFromTrace(const trace::Record& record, const std::string& where,
                                        const fs::path& target) {
    const auto standIns = catalogStandIns(record, where);
    SceneFromTraceFiles files;
    std::optional<fs::path> catalogsFolder;
    if (!standIns.empty()) {
        const fs::path folder = pathFromUtf8(utf8Path(target.stem()) + ".catalogs");
        std::error_code error;
        catalogsFolder = (fs::absolute(target, error).parent_path() / folder).lexically_normal();
        for (const auto& [sub, name] : standIns)
            files.standIns.push_back(folder / pathFromUtf8(sub) / pathFromUtf8(name));
    }
    const SceneFile scene = sceneFromTrace(record, where, catalogsFolder);
    files.json = sceneToJson(scene, scene.scene, target);
    return files;
}

std::optional<std::string> writeSceneFromTrace(const trace::Record& record,
                                               const std::string& where, const fs::path& target) {
    // Made before anything is written, so that a record a scene cannot express leaves nothing.
    const SceneFromTraceFiles files = sceneFilesFromTrace(record, where, target);
    for (const fs::path& standIn : files.standIns) {
        const fs::path file = target.parent_path() / standIn;
        std::error_code error;
        fs::create_directories(file.parent_path(), error);
        if (error)
            return utf8Path(file.parent_path()) + ": " + reasonOf(error);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "A stand-in for the catalog file the traced event loaded.\n";
        if (!out.flush())
            return utf8Path(file) + ": cannot be written";
    }
    return writeWhole(target, files.json);
}

}  // namespace vpolv::sim
