// Scene files from arbitrary bytes. The reader either loads a scene or raises SceneError, nothing
// else; a scene it loads keeps every entry of the file, and written back and loaded again, it is
// the same scene.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "common/text.h"
#include "fuzz_support.h"
#include "sim/formats/scene_file.h"
#include "standalone/temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using vpolv::sim::SceneError;
using vpolv::sim::SceneFile;

// The folder the scenes lie in: fresh for the process, with the "catalogs" folder and the
// "space.ini" file that the seed scenes name, and "out" for the scenes written back.
struct SceneFolder : vpolv::standalone::TemporaryFolder {
    SceneFolder() : TemporaryFolder("vpolv-fuzz-scene-") {
        mkdir("catalogs");
        mkdir("out");
        write("space.ini", "[Local]\r\nCatalogsDir=${catalogsFolder}\r\n");
    }
};

const SceneFolder& folder() {
    static const SceneFolder folder;
    return folder;
}

using vpolv::fuzzing::finding;

std::string text(const vpolv::Text& t) {
    return "\"" + vpolv::toUtf8(t) + "\"";
}

// The first difference between the two scenes' host data, or empty when they are the same.
std::string difference(const vpolv::host::SceneData& a, const vpolv::host::SceneData& b) {
    if (a.sessionId != b.sessionId)
        return "session";
    if (a.currentObject != b.currentObject)
        return "object of the call";
    if (a.sessions.size() != b.sessions.size())
        return "sessions";
    for (const auto& [block, session] : a.sessions) {
        const auto it = b.sessions.find(block);
        if (it == b.sessions.end() || it->second.sessionId != session.sessionId ||
            it->second.currentObject != session.currentObject) {
            return "session of block " + std::to_string(block);
        }
    }
    if (a.objects.size() != b.objects.size())
        return "number of objects";
    for (const auto& [id, object] : a.objects) {
        const auto it = b.objects.find(id);
        if (it == b.objects.end())
            return "object " + std::to_string(id) + " is gone";
        if (it->second.infos != object.infos)
            return "infos of object " + std::to_string(id);
        if (it->second.children != object.children)
            return "children of object " + std::to_string(id);
    }
    if (a.sceneObjects != b.sceneObjects)
        return "scene objects";
    if (a.keywords != b.keywords)
        return "keywords";
    if (a.tables.size() != b.tables.size())
        return "number of tables";
    for (const auto& [number, lines] : a.tables) {
        const auto it = b.tables.find(number);
        const std::string table = "table " + std::to_string(number);
        if (it == b.tables.end())
            return table + " is gone";
        if (it->second.size() != lines.size())
            return table + ": number of lines";
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (it->second[i].name != lines[i].name || it->second[i].columns != lines[i].columns)
                return table + " line " + text(lines[i].name);
        }
    }
    return {};
}

// The same, for what the file says beyond the host data. The written forms of paths are left
// out: writing a scene elsewhere rewrites them; what they name must stay the same.
std::string difference(const SceneFile& a, const SceneFile& b) {
    if (a.description != b.description)
        return "description";
    if (a.callParamsBlock != b.callParamsBlock)
        return "call-parameter block";
    if (a.callObject != b.callObject)
        return "callObject";
    if (a.numbers != b.numbers)
        return "number signs";
    if (a.catalogsFolder != b.catalogsFolder)
        return "catalogs folder";
    if (a.spaceIni.source != b.spaceIni.source || a.spaceIni.contents != b.spaceIni.contents ||
        a.spaceIni.path != b.spaceIni.path) {
        return "SPACE.INI";
    }
    if (a.spaceIni.source == vpolv::sim::SpaceIni::Source::Inline &&
        a.spaceIni.written != b.spaceIni.written) {
        return "SPACE.INI as written";
    }
    if (a.objectOrder != b.objectOrder)
        return "order of the objects";
    if (a.notes != b.notes)
        return "notes";
    return difference(a.scene, b.scene);
}

// The entries a scene file gives under keys that stand for numbers: the infos of each object, the
// tables, their lines and columns. Two keys for one number ("7" and "07") would leave the scene
// with fewer of them than its file.
std::vector<std::size_t> numberedEntries(std::string_view json) {
    const auto file = nlohmann::ordered_json::parse(json);
    std::vector<std::size_t> counts;
    if (file.contains("objects")) {
        for (const auto& object : file["objects"])
            counts.push_back(object.contains("infos") ? object["infos"].size() : 0);
    }
    std::size_t tables = 0, lines = 0, columns = 0;
    if (file.contains("tables")) {
        for (const auto& [number, table] : file["tables"].items()) {
            ++tables;
            for (const auto& [name, line] : table.items()) {
                ++lines;
                columns += line.size();
            }
        }
    }
    counts.insert(counts.end(), {tables, lines, columns});
    return counts;
}

std::string describe(const std::exception& e) {
    return std::string(typeid(e).name()) + ": " + e.what();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view json(reinterpret_cast<const char*>(data), size);
    const fs::path file = folder().path() / "scene.json";
    const fs::path outFile = folder().path() / "out" / "again.json";

    SceneFile scene;
    try {
        scene = vpolv::sim::parseScene(json, file);
    } catch (const SceneError&) {
        return 0;
    } catch (const std::exception& e) {
        finding("the scene reader raised something else than SceneError", describe(e));
    } catch (...) {
        finding("the scene reader raised something else than SceneError");
    }

    std::string written;
    SceneFile again;
    try {
        written = vpolv::sim::sceneToJson(scene, scene.scene, outFile);
        again = vpolv::sim::parseScene(written, outFile);
    } catch (const std::exception& e) {
        finding("a loaded scene, written back, does not load", describe(e) + "\n" + written);
    }
    if (numberedEntries(json) != numberedEntries(written))
        finding("a loaded scene lacks entries of its file", written);
    if (const std::string what = difference(scene, again); !what.empty())
        finding("a loaded scene, written back and loaded again, differs: " + what, written);
    return 0;
}
