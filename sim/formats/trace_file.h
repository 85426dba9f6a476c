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

using TraceRecord = trace::Record;

// Reads every record of a trace file. A file that cannot be read or a line that is not a record
// raises SceneError naming the file and the line.
std::vector<TraceRecord> loadTrace(const std::filesystem::path& file);

// Record n (from 1) of the trace, or the last when n is absent; SceneError when there is none.
const TraceRecord& pickRecord(const std::vector<TraceRecord>& records,
                              const std::filesystem::path& file, std::optional<long long> n);

// The catalog files the record's loads found: each a path under the catalogs folder, in a
// subfolder of it ("<catalogsDir><subfolder><separator><stem>.cat").
struct FoundCatalogs {
    std::vector<Text> subfolders;  // in the order the record first loads from them
    std::vector<Text> files;       // the whole paths
};
FoundCatalogs foundCatalogs(const TraceRecord& record);

}  // namespace vpolv::sim
