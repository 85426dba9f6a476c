// Scene files: a host scene and the plug-in's surroundings, written as JSON.
//
// A scene file holds what the in-memory host answers (session, object of the call, objects with
// their information and children, the scene's objects, keywords, catalog tables) and what the
// plug-in finds around it (the "SPACE.INI" of its folder, the catalogs folder, the locale's
// decimal separator). docs/scene-format.md describes the format.
//
// Loading checks the whole file before anything is used: a file that does not parse or does not
// hold together raises SceneError, whose message names the file, the place and the fault.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/locale.h"
#include "common/types.h"
#include "host/memory_host.h"

namespace vpolv::sim {

// A fault of a scene file, or of a file or folder it names. The message is one line: what it
// echoes from the file or the command line is shown escaped where it is not plain text.
class SceneError : public std::runtime_error {
  public:
    explicit SceneError(const std::string& message);
};

// The columns every line of these tables must have, by table number.
inline const std::map<Integer, std::vector<Integer>> kNeededColumns = {{3, {3, 4, 5}}, {4, {3}}};

// Sizes beyond which a file is not read.
inline constexpr std::uintmax_t kMaxSceneBytes = 16 * 1024 * 1024;
inline constexpr std::uintmax_t kMaxSpaceIniBytes = 1024 * 1024;

// The "SPACE.INI" that the plug-in finds in its folder.
struct SpaceIni {
    enum class Source { None, Generated, Inline, File };
    Source source = Source::None;
    std::string contents;        // UTF-8, ${catalogsFolder} already expanded
    std::string written;         // Inline: the text as written; File: the path as written
    std::filesystem::path path;  // File: the absolute path it was read from
};

// A host call the scene makes fail: the nth call of an operation, or the creation of one of the
// three host objects. The error raised has this code and description, and source "KDSDK".
struct HostFailure {
    std::optional<host::Operation> operation;  // an SDK operation, or nullopt for a creation
    std::optional<host::ObjectKind> create;    // the object whose creation fails, or nullopt
    Long nth = 1;
    std::int32_t code = 0;
    std::string description;
};

struct SceneFile {
    std::filesystem::path file;    // as given
    std::filesystem::path folder;  // absolute folder of the file; relative paths start here

    std::optional<std::string> description;
    Long callParamsBlock = 1;
    std::optional<Long> callObject;
    NumberSymbols numbers;                                // the user locale's signs
    std::optional<std::string> catalogsFolderWritten;     // as written in the file
    std::optional<std::filesystem::path> catalogsFolder;  // absolute
    SpaceIni spaceIni;

    host::SceneData scene;
    std::vector<Long> objectOrder;                    // object ids in file order
    std::vector<std::pair<Long, std::string>> notes;  // object id -> its "note"
    std::vector<HostFailure> failures;                // in file order
};

// Reads and checks a scene file.
SceneFile loadScene(const std::filesystem::path& file);
// Checks a scene given as text; file names it in messages and anchors relative paths.
SceneFile parseScene(std::string_view json, const std::filesystem::path& file);

// The scene file for scene as it stands now (after an event, say), keeping the rest of original.
// Relative paths are rewritten to stay valid from the folder of outFile.
std::string sceneToJson(const SceneFile& original, const host::SceneData& scene,
                        const std::filesystem::path& outFile);

// The signs for a report: 'decimal separator ","', and the thousands separator and the currency
// sign when they are not the decimal separator's usual companions.
std::string numbersText(const NumberSymbols& numbers);

}  // namespace vpolv::sim
