// Trace files in the simulator: read whole through trace/, a record picked, its catalogs found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/types.h"
#include "sim/formats/scene_file.h"
#include "trace/record.h"

namespace vpolv::sim {

// A trace as the commands read it, with the name that messages and reports give it: the file's
// path, or "BUNDLE (trace.jsonl)" for the trace inside a bundle.
struct LoadedTrace {
    std::string name;
    std::vector<trace::Record> records;
};

// Reads every record of a trace file, or of the trace inside a bundle when the file is a zip
// archive. A file that cannot be read, a damaged bundle or one without a trace, and a line that
// is not a record raise SceneError naming the file (and the entry) and the line.
LoadedTrace loadTrace(const std::filesystem::path& file);

// Record n (from 1) of the trace, or the last when n is absent; SceneError when there is none.
const trace::Record& pickRecord(const LoadedTrace& trace, std::optional<long long> n);

// The catalog files the record's loads found: each a path under the catalogs folder, in a
// subfolder of it ("<catalogsDir><subfolder><separator><stem>.cat").
struct FoundCatalogs {
    std::vector<Text> subfolders;  // in the order the record first loads from them
    std::vector<Text> files;       // the whole paths
};
FoundCatalogs foundCatalogs(const trace::Record& record);

}  // namespace vpolv::sim
