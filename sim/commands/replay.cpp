// vpolv-sim replay TRACE: a traced event run again against its record, and compared.
#include "sim/engine/replay.h"

#include "sim/commands/command.h"
#include "sim/formats/trace_file.h"
#include "standalone/files.h"

namespace vpolv::sim {

using namespace standalone;

namespace {

struct ReplayOptions {
    std::string trace;
    long long record = 0;
    CLI::Option* recordGiven = nullptr;
};

int replayTrace(const ReplayOptions& options, const Console& console) {
    const auto trace = loadTrace(pathFromUtf8(options.trace));
    const auto& record =
        pickRecord(trace, options.recordGiven->count() ? std::optional<long long>(options.record)
                                                       : std::nullopt);
    const auto result = replay(record);
    if (!console.print(replayReport(trace.name, record, result)))
        return kNotWritten;
    return result.identical(record) ? kTrueResult : kFalseResult;
}

}  // namespace

CLI::App* setupReplay(CLI::App& parent, Session& session) {
    auto options = std::make_shared<ReplayOptions>();
    CLI::App* app = addCommand(
        parent, session, "replay",
        "Runs the core once more on a traced event, against a host that answers every call from "
        "the record, and compares: the same calls with the same arguments in the same order "
        "(the writes among them), the same result and error code; prints \"identical\" or the "
        "differences.",
        options, replayTrace);
    app->add_option("TRACE", options->trace,
                    "the trace file (docs/trace-format.md), or a support bundle holding it")
        ->required();
    options->recordGiven = addRecord(*app, options->record);
    app->footer(
        "Exit status: 0 identical, 1 the report lists the differences, 2 a file that is "
        "not a trace (nor a bundle holding one) or a record number out of range.");
    return app;
}

}  // namespace vpolv::sim
