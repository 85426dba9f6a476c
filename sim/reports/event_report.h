// The simulator's report of one event: as readable text or as JSON for scripts.
#pragma once

#include <string>

#include "sim/engine/event.h"
#include "sim/formats/scene_file.h"

namespace vpolv::sim {

struct ReportOptions {
    // Only the writes and the warnings.
    bool quiet = false;
};

// Texts that hold the scene file's folder show it as "<scene>", so that reports do not depend on
// where the scene lies.
std::string textReport(const SceneFile& scene, const RunResult& run, ReportOptions options = {});
std::string jsonReport(const SceneFile& scene, const RunResult& run, ReportOptions options = {});

}  // namespace vpolv::sim
