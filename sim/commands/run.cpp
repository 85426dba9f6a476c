// vpolv-sim run SCENE --event KIND: one host event of the plug-in on a scene, and its report.
#include <memory>
#include <ostream>

#include "common/text.h"
#include "platform/native.h"
#include "platform/paths.h"
#include "sim/commands/command.h"
#include "sim/engine/event.h"
#include "sim/formats/scene_file.h"
#include "sim/reports/event_report.h"
#include "standalone/echo.h"
#include "standalone/files.h"

namespace vpolv::sim {

using platform::pathFromUtf8;
using standalone::Console;

namespace fs = std::filesystem;

int runCommand(const RunOptions& options, const Console& console) {
    const Event event = *eventNamed(options.event);
    const std::optional<Long> object =
        options.object ? std::optional<Long>(static_cast<Long>(*options.object)) : std::nullopt;
    if (object && event == Event::Scene)
        throw UsageError{"--object does not apply to --event scene"};

    // Where --out goes is settled before anything runs.
    std::optional<fs::path> outTarget;
    if (options.out) {
        std::string reason;
        outTarget = standalone::outputTarget(pathFromUtf8(*options.out), reason);
        if (!outTarget)
            throw SceneError("--out " + *options.out + ": " + reason);
    }
    const fs::path file = pathFromUtf8(options.scene);
    const auto scene = loadScene(file);
    if (event != Event::Scene && !object && !scene.callObject) {
        throw SceneError(platform::utf8Path(file) +
                         ": no \"callObject\" in the scene and no --object given");
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
        console.err << "vpolv-sim: the event failed: "
                    << standalone::echo(result.outcome.error->what()) << "\n";
    }
    if (outTarget) {
        if (const auto failed =
                standalone::writeWhole(*outTarget, sceneToJson(scene, result.after, *outTarget))) {
            console.err << "vpolv-sim: " << standalone::echo(*options.out)
                        << ": cannot be written: " << *failed << "\n";
            written = false;
        }
    }
    if (!written)
        return support::kNotWritten;
    return result.outcome.result == kFalse ? support::kNotOk : support::kOk;
}

}  // namespace vpolv::sim
