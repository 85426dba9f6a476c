// Traces from arbitrary bytes, through what the simulator's trace commands do with them. The
// reader gives records or raises BadTrace, nothing else; every record it gives replays (the
// plug-in against the record's answers) and has its report; a scene made from it is made or
// raises SceneError, and a scene made loads.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "sim/engine/replay.h"
#include "sim/formats/scene_from_trace.h"
#include "standalone/temporary_folder.h"
#include "trace/record.h"

namespace {

namespace fs = std::filesystem;
using vpolv::sim::SceneError;

// The folder the scenes are made for, with the catalogs folder a scene of "scene.json" names
// when the record loaded catalog files. Nothing is written into it.
struct SceneFolder : vpolv::standalone::TemporaryFolder {
    SceneFolder() : TemporaryFolder("vpolv-fuzz-trace-") { mkdir("scene.catalogs"); }
};

const SceneFolder& folder() {
    static const SceneFolder folder;
    return folder;
}

using vpolv::fuzzing::describeCurrentException;
using vpolv::fuzzing::finding;

// As many records as a command reads, the last ones, which it picks by default.
constexpr std::size_t kRecords = 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<vpolv::trace::Record> records;
    try {
        records = vpolv::trace::readTrace(text);
    } catch (const vpolv::trace::BadTrace& bad) {
        if (bad.what.empty())
            finding("a trace refused without a reason");
        return 0;
    } catch (...) {
        finding("the trace reader raised something else than BadTrace", describeCurrentException());
    }
    const fs::path target = folder().path() / "scene.json";
    for (std::size_t i = records.size() > kRecords ? records.size() - kRecords : 0;
         i < records.size(); ++i) {
        const auto& record = records[i];
        try {
            const auto result = vpolv::sim::replay(record);
            if (vpolv::sim::replayReport("trace.jsonl", record, result).empty())
                finding("an empty replay report");
        } catch (...) {
            finding("the replay raised", describeCurrentException());
        }
        vpolv::sim::SceneFromTraceFiles files;
        try {
            files = vpolv::sim::sceneFilesFromTrace(record, "trace.jsonl:1", target);
        } catch (const SceneError&) {
            continue;
        } catch (...) {
            finding("scene-from-trace raised something else than SceneError",
                    describeCurrentException());
        }
        try {
            vpolv::sim::parseScene(files.json, target);
        } catch (...) {
            finding("a scene made from a trace does not load",
                    describeCurrentException() + "\n" + files.json);
        }
    }
    return 0;
}
