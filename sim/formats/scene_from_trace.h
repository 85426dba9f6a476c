// A scene made from a traced event: what the event read from the host, so that the same
// event run on the scene makes the same writes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "sim/formats/trace_file.h"

namespace vpolv::sim {

// The scene for record (docs/scene-format.md). where names the record in messages and in the
// scene's description. When the record loaded catalog files from the catalogs folder,
// catalogsFolder is the folder the scene names for them. A record that a scene cannot express
// raises SceneError.
SceneFile sceneFromTrace(const TraceRecord& record, const std::string& where,
                         const std::optional<std::filesystem::path>& catalogsFolder);

// Writes that scene to target and, when it needs them, stand-ins for the catalog files in
// "<target's stem>.catalogs" beside it. The reason, when it could not be written.
std::optional<std::string> writeSceneFromTrace(const TraceRecord& record, const std::string& where,
                                               const std::filesystem::path& target);

}  // namespace vpolv::sim
