// vpolv-sim check SCENE: what the scene's tables lack for pricing its glass.
#include "sim/commands/command.h"
#include "sim/formats/scene_file.h"
#include "sim/reports/table_check.h"
#include "standalone/files.h"

namespace vpolv::sim {

using namespace standalone;

namespace {

struct CheckOptions {
    std::string scene;
};

int check(const CheckOptions& options, const Console& console) {
    const auto loaded = loadScene(pathFromUtf8(options.scene));
    const auto found = checkTables(loaded);
    if (!console.print(checkReport(loaded, found)))
        return kNotWritten;
    return found.clean() ? kTrueResult : kFalseResult;
}

}  // namespace

CLI::App* setupCheck(CLI::App& parent, Session& session) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* app = addCommand(
        parent, session, "check",
        "Runs no event: lists the surcharge lines (table 4) that the scene's cabinets and glass "
        "fronts would look up and do not find, and the points that are not whole numbers under "
        "the scene's separator.",
        options, check);
    app->add_option("SCENE", options->scene, "the scene file")->required();
    app->footer(
        "Exit status: 0 nothing is missing, 1 the report lists what is, 2 a bad command "
        "line or scene file, 3 the report could not be written.");
    return app;
}

}  // namespace vpolv::sim
