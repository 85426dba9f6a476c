// vpolv-sim scene-from-trace TRACE --out SCENE: a scene file holding what a traced event read.
#include "sim/formats/scene_from_trace.h"

#include <ostream>

#include "sim/commands/command.h"
#include "sim/formats/trace_file.h"
#include "sim/system/echo.h"
#include "sim/system/files.h"

namespace vpolv::sim {

namespace fs = std::filesystem;

namespace {

struct SceneFromTraceOptions {
    std::string trace;
    std::string record;
    std::string out;
    CLI::Option* recordGiven = nullptr;
    CLI::Option* outGiven = nullptr;
};

int sceneFromTrace(const SceneFromTraceOptions& options, const Context& context) {
    const auto number = recordNumber(*options.recordGiven, options.record);
    if (options.trace.empty())
        throw UsageError{"no trace file given"};
    if (!options.outGiven->count())
        throw UsageError{context.name + " needs --out"};
    std::string reason;
    const auto target = outputTarget(pathFromUtf8(options.out), reason);
    if (!target)
        throw SceneError("--out " + options.out + ": " + reason);
    const fs::path file = pathFromUtf8(options.trace);
    const auto records = loadTrace(file);
    const auto& record = pickRecord(records, file, number);
    const std::string where = options.trace + ":" + std::to_string(record.line);
    if (const auto failed = writeSceneFromTrace(record, where, *target)) {
        context.console.err << "vpolv-sim: " << echo(options.out)
                            << ": cannot be written: " << *failed << "\n";
        return kNotWritten;
    }
    return kTrueResult;
}

}  // namespace

Command sceneFromTraceCommand(CLI::App& parent) {
    auto options = std::make_shared<SceneFromTraceOptions>();
    CLI::App* app = parent.add_subcommand(
        "scene-from-trace",
        "Writes (--out) a scene file holding what a traced event read, so that the same event on "
        "it makes the same writes.");
    app->add_option("TRACE", options->trace, "the trace file (docs/trace-format.md)");
    options->recordGiven = app->add_option(
        "--record", options->record, "the record of the trace to use, from 1 (default: the last)");
    options->outGiven = app->add_option("--out", options->out, "the scene file to write");
    app->footer(
        "Exit status: 0 written, 2 a bad trace or a record a scene cannot express, 3 the "
        "scene could not be written.");
    return {app, Bound<SceneFromTraceOptions>{options, sceneFromTrace}, &options->trace};
}

}  // namespace vpolv::sim
