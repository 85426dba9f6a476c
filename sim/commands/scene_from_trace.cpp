// vpolv-sim scene-from-trace TRACE --out SCENE: a scene file holding what a traced event read.
#include "sim/formats/scene_from_trace.h"

#include <ostream>

#include "sim/commands/command.h"
#include "sim/formats/trace_file.h"
#include "standalone/echo.h"
#include "standalone/files.h"

namespace vpolv::sim {

using namespace standalone;

namespace {

struct SceneFromTraceOptions {
    std::string trace;
    long long record = 0;
    std::string out;
    CLI::Option* recordGiven = nullptr;
};

int sceneFromTrace(const SceneFromTraceOptions& options, const Console& console) {
    std::string reason;
    const auto target = outputTarget(pathFromUtf8(options.out), reason);
    if (!target)
        throw SceneError("--out " + options.out + ": " + reason);
    const auto trace = loadTrace(pathFromUtf8(options.trace));
    const auto& record =
        pickRecord(trace, options.recordGiven->count() ? std::optional<long long>(options.record)
                                                       : std::nullopt);
    const std::string where = trace.name + ":" + std::to_string(record.line);
    if (const auto failed = writeSceneFromTrace(record, where, *target)) {
        console.err << "vpolv-sim: " << echo(options.out) << ": cannot be written: " << *failed
                    << "\n";
        return kNotWritten;
    }
    return kTrueResult;
}

}  // namespace

CLI::App* setupSceneFromTrace(CLI::App& parent, Session& session) {
    auto options = std::make_shared<SceneFromTraceOptions>();
    CLI::App* app = addCommand(
        parent, session, "scene-from-trace",
        "Writes (--out) a scene file holding what a traced event read, so that the same event on "
        "it makes the same writes.",
        options, sceneFromTrace);
    app->add_option("TRACE", options->trace,
                    "the trace file (docs/trace-format.md), or a support bundle holding it")
        ->required();
    options->recordGiven = addRecord(*app, options->record);
    app->add_option("--out", options->out, "the scene file to write")->required();
    app->footer(
        "Exit status: 0 written, 2 a bad trace or a record a scene cannot express, 3 the "
        "scene could not be written.");
    return app;
}

}  // namespace vpolv::sim
