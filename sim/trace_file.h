// Reading the plug-in's diagnosis trace (docs/trace-format.md): one JSON record per line.
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
#include "host/call.h"
#include "sim/scene_file.h"

namespace vpolv::sim {

// One event as the trace recorded it.
struct TraceRecord {
    std::size_t line = 0;  // in the file, from 1
    std::string event;     // "place", "finishes", "scene"
    Long callParams = 0;
    Text decimalSeparator;
    Text pathSeparator;
    Text spaceIni;
    Text catalogsDir;
    std::optional<Text> catalogFile;
    std::vector<host::Call> calls;  // the creations included, each with its answer or error
    bool result = false;
    std::optional<Error> error;
};

// Reads every record of a trace file. A file that cannot be read or a line that is not a record
// raises SceneError naming the file and the line.
std::vector<TraceRecord> loadTrace(const std::filesystem::path& file);
std::vector<TraceRecord> parseTrace(std::string_view text, const std::filesystem::path& file);

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

// "0x80041234"
std::string hexCode(std::int32_t code);

}  // namespace vpolv::sim
