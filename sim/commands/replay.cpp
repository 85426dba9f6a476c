// vpolv-sim replay TRACE: a traced event run again against its record, and compared.
#include "sim/engine/replay.h"

#include "sim/commands/command.h"
#include "sim/formats/trace_file.h"
#include "sim/system/files.h"

namespace vpolv::sim {

namespace fs = std::filesystem;

namespace {

struct ReplayOptions {
    std::string trace;
    std::string record;
    CLI::Option* recordGiven = nullptr;
};

int replayTrace(const ReplayOptions& options, const Context& context) {
    const auto number = recordNumber(*options.recordGiven, options.record);
    if (options.trace.empty())
        throw UsageError{"no trace file given"};
    const fs::path file = pathFromUtf8(options.trace);
    const auto records = loadTrace(file);
    const auto& record = pickRecord(records, file, number);
    const auto result = replay(record);
    if (!context.console.print(replayReport(options.trace, record, result)))
        return kNotWritten;
    return result.identical(record) ? kTrueResult : kFalseResult;
}

}  // namespace

Command replayCommand(CLI::App& parent) {
    auto options = std::make_shared<ReplayOptions>();
    CLI::App* app = parent.add_subcommand(
        "replay",
        "Runs the core once more on a traced event, against a host that answers every call from "
        "the record, and compares: the same calls with the same arguments in the same order "
        "(the writes among them), the same result and error code; prints \"identical\" or the "
        "differences.");
    app->add_option("TRACE", options->trace, "the trace file (docs/trace-format.md)");
    options->recordGiven = app->add_option("--record", options->record,
                                           "the record of the trace to use, from 1 (default: "
                                           "the last)");
    app->footer(
        "Exit status: 0 identical, 1 the report lists the differences, 2 a file that is "
        "not a trace or a record number out of range.");
    return {app, Bound<ReplayOptions>{options, replayTrace}, &options->trace};
}

}  // namespace vpolv::sim
