// A scene made from a traced event: what the event read from the host, so that the same
// event run on the scene makes the same writes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/formats/trace_file.h"

namespace vpolv::sim {

// The scene for record (docs/scene-format.md). where names the record in messages and in the
// scene's description. When the record loaded catalog files from the catalogs folder,
// catalogsFolder is the folder the scene names for them. A record that a scene cannot express
// raises SceneError.
SceneFile sceneFromTrace(const trace::Record& record, const std::string& where,
                         const std::optional<std::filesystem::path>& catalogsFolder);

// That scene as it is written to target: the scene file's text and, when it needs them, the
// stand-ins for the catalog files it names in "<target's stem>.catalogs" beside it (their paths
// from target's folder). Made in memory; a record that a scene cannot express raises SceneError.
struct SceneFromTraceFiles {
    std::string json;
    std::vector<std::filesystem::path> standIns;
};
SceneFromTraceFiles sceneFilesFromTrace(const trace::Record& record, const std::string& where,
                                        const std::filesystem::path& target);

// Writes those files. The reason, when they could not be written.
std::optional<std::string> writeSceneFromTrace(const trace::Record& record,
                                               const std::string& where,
                                               const std::filesystem::path& target);

}  // namespace vpolv::sim
