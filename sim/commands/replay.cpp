// vpolv-sim replay TRACE and scene-from-trace TRACE --out SCENE: a traced event run again
// against its record and compared, or a scene file holding what it read.
#include "sim/engine/replay.h"

#include <ostream>

#include "platform/paths.h"
#include "sim/commands/command.h"
#include "sim/formats/scene_from_trace.h"
#include "sim/formats/trace_file.h"
#include "standalone/echo.h"

namespace vpolv::sim {

int replayCommand(const ReplayOptions& options, const standalone::Console& console) {
    const auto trace = loadTrace(platform::pathFromUtf8(options.trace));
    const auto& record = pickRecord(trace, options.record);
    const auto result = replay(record);
    if (!console.print(replayReport(trace.name, record, result)))
        return support::kNotWritten;
    return result.identical(record) ? support::kOk : support::kNotOk;
}

int sceneFromTraceCommand(const SceneFromTraceOptions& options,
                          const standalone::Console& console) {
    std::string reason;
    const auto target = standalone::outputTarget(platform::pathFromUtf8(options.out), reason);
    if (!target)
        throw SceneError("--out " + options.out + ": " + reason);
    const auto trace = loadTrace(platform::pathFromUtf8(options.trace));
    const auto& record = pickRecord(trace, options.record);
    const std::string where = trace.name + ":" + std::to_string(record.line);
    if (const auto failed = writeSceneFromTrace(record, where, *target)) {
        console.err << "vpolv-sim: " << standalone::echo(options.out)
                    << ": cannot be written: " << *failed << "\n";
        return support::kNotWritten;
    }
    return support::kOk;
}

}  // namespace vpolv::sim
