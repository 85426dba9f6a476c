// vpolv-sim check: what the scene's catalog tables lack for pricing its glass.
//
// For every object placed on its own (no other object's child), the plug-in's placement runs
// once for each glass choice ("Grupo 1" to "Grupo 4", and no choice) with every place the choice
// is read from (the scene's rubrics, the object's and its children's choices 85 to 88) set to it.
// The table lines it then looks up are the ones that choice needs; objects that look up no
// surcharge line (not a served cabinet or glass front, or a cabinet with no glass) are left out.
#pragma once

#include <string>
#include <vector>

#include "common/types.h"
#include "sim/formats/scene_file.h"

namespace vpolv::sim {

struct CheckResult {
    // An object and a choice that need a line ("" for no choice).
    struct Use {
        Long object;
        std::string choice;
    };
    struct Missing {
        Integer table;
        std::string line;
        std::vector<Use> uses;
    };
    struct BadPoints {
        std::string line;
        std::string points;  // as the table holds them
        std::string readAs;  // what the separator makes of them, or why they cannot be read
        std::vector<Use> uses;
    };
    struct Failure {
        Use use;
        std::string error;
    };
    std::vector<Long> objects;  // the objects checked, in file order
    std::vector<Missing> missing;
    std::vector<BadPoints> points;
    std::vector<Failure> failures;  // runs that failed for another reason

    bool clean() const { return missing.empty() && points.empty() && failures.empty(); }
};

CheckResult checkTables(const SceneFile& scene);
std::string checkReport(const SceneFile& scene, const CheckResult& result);

}  // namespace vpolv::sim
