// vpolv-sim run SCENE --event KIND: one host event of the plug-in on a scene, and its report.
#include <limits>
#include <memory>
#include <ostream>

#include "common/text.h"
#include "platform/native.h"
#include "sim/commands/command.h"
#include "sim/engine/event.h"
#include "sim/formats/scene_file.h"
#include "sim/reports/event_report.h"
#include "standalone/echo.h"
#include "standalone/files.h"

namespace vpolv::sim {

using namespace standalone;

namespace {

namespace fs = std::filesystem;

struct RunOptions {
    std::string scene;
    std::string event;
    long long object = 0;
    std::string out;
    std::string trace;
    bool json = false;
    bool quiet = false;
    CLI::Option* objectGiven = nullptr;
    CLI::Option* outGiven = nullptr;
};

int run(const RunOptions& options, const Console& console) {
    const EventKind event = *eventNamed(options.event);
    const std::optional<Long> object = options.objectGiven->count()
                                           ? std::optional<Long>(static_cast<Long>(options.object))
                                           : std::nullopt;
    if (object && event == EventKind::Scene)
        throw UsageError{"--object does not apply to --event scene"};

    // Where --out goes is settled before anything runs.
    std::optional<fs::path> outTarget;
    if (options.outGiven->count()) {
        std::string reason;
        outTarget = outputTarget(pathFromUtf8(options.out), reason);
        if (!outTarget)
            throw SceneError("--out " + options.out + ": " + reason);
    }
    const fs::path file = pathFromUtf8(options.scene);
    const auto scene = loadScene(file);
    if (event != EventKind::Scene && !object && !scene.callObject) {
        throw SceneError(utf8Path(file) + ": no \"callObject\" in the scene and no --object given");
    }
    std::unique_ptr<platform::Trace> trace;
    if (!options.trace.empty())
        trace = platform::makeFileTrace(fromUtf8(options.trace));
    const auto result = runEvent(scene, event, object, trace.get());

    // The event ran: from here on a failure to write is exit status 3.
    const ReportOptions report{options.quiet};
    bool written = console.print(options.json ? jsonReport(scene, result, report)
                                              : textReport(scene, result, report));
    if (result.outcome.error) {
        console.err << "vpolv-sim: the event failed: " << echo(result.outcome.error->what())
                    << "\n";
    }
    if (outTarget) {
        if (const auto failed =
                writeWhole(*outTarget, sceneToJson(scene, result.after, *outTarget))) {
            console.err << "vpolv-sim: " << echo(options.out) << ": cannot be written: " << *failed
                        << "\n";
            written = false;
        }
    }
    if (!written)
        return kNotWritten;
    return result.outcome.result == kFalse ? kFalseResult : kTrueResult;
}

}  // namespace

CLI::App* setupRun(CLI::App& parent, Session& session) {
    auto options = std::make_shared<RunOptions>();
    CLI::App* app =
        addCommand(parent, session, "run",
                   "Runs one host event of the plug-in on a scene file, in an in-memory host, and "
                   "reports every host call with its arguments and answer, every write, the glass "
                   "priced, any warning box, what deserves a look and the event's result.",
                   options, run);
    app->add_option("SCENE", options->scene, "the scene file (JSON; see docs/scene-format.md)")
        ->required();
    app->add_option("--event", options->event,
                    "place: OnObjectPlaceAfter on the object of the call; finishes: "
                    "OnObjectFinishesAfter on it; scene: OnSceneGenericFinishesAfter on the whole "
                    "scene")
        ->required()
        ->check(CLI::IsMember({"place", "finishes", "scene"}));
    options->objectGiven =
        app->add_option("--object", options->object,
                        "the object of the call, instead of the scene's callObject")
            ->check(CLI::Range(static_cast<long long>(std::numeric_limits<Long>::min()),
                               static_cast<long long>(std::numeric_limits<Long>::max())));
    options->outGiven = app->add_option(
        "--out", options->out,
        "write the scene as the event left it (same format), to chain events; through a "
        "symbolic link to its target, whole or not at all");
    app->add_flag("--json", options->json, "print the report as JSON");
    app->add_flag("--quiet", options->quiet,
                  "print only the writes, the warnings and what deserves a look");
    app->add_option("--trace", options->trace,
                    "have the plug-in append the event's record to this trace file "
                    "(docs/trace-format.md); the run and the report are unchanged");
    app->footer(
        "Exit status: 0 the event returned True, 1 it returned False (its error is reported and "
        "also written to stderr), 2 a bad command line or scene file (nothing was run or "
        "written), 3 the event ran but --out or the report could not be written.");
    return app;
}

}  // namespace vpolv::sim
