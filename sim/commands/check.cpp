// vpolv-sim check SCENE: what the scene's tables lack for pricing its glass.
#include "sim/commands/command.h"
#include "sim/formats/scene_file.h"
#include "sim/reports/table_check.h"
#include "sim/system/files.h"

namespace vpolv::sim {

namespace {

int check(const std::string& scene, const Context& context) {
    if (scene.empty())
        throw UsageError{"no scene file given"};
    const auto loaded = loadScene(pathFromUtf8(scene));
    const auto found = checkTables(loaded);
    if (!context.console.print(checkReport(loaded, found)))
        return kNotWritten;
    return found.clean() ? kTrueResult : kFalseResult;
}

}  // namespace

Command checkCommand(CLI::App& parent) {
    auto scene = std::make_shared<std::string>();
    CLI::App* app = parent.add_subcommand(
        "check",
        "Runs no event: lists the surcharge lines (table 4) that the scene's cabinets and glass "
        "fronts would look up and do not find, and the points that are not whole numbers under "
        "the scene's separator.");
    app->add_option("SCENE", *scene, "the scene file");
    app->footer(
        "Exit status: 0 nothing is missing, 1 the report lists what is, 2 a bad command "
        "line or scene file, 3 the report could not be written.");
    return {app, Bound<std::string>{scene, check}, scene.get()};
}

}  // namespace vpolv::sim
