// Trace files, read whole.
#include "sim/formats/trace_file.h"

#include <algorithm>

#include "sim/system/echo.h"
#include "sim/system/files.h"

namespace vpolv::sim {

namespace fs = std::filesystem;
namespace {

// A trace grows to about 10 MiB before it is renamed; twice that leaves room.
constexpr std::uintmax_t kMaxTraceBytes = 64 * 1024 * 1024;

}  // namespace

FoundCatalogs foundCatalogs(const TraceRecord& record) {
    FoundCatalogs found;
    const Text& dir = record.catalogsDir;
    if (dir.empty())
        return found;
    const char16_t sep = record.pathSeparator[0];
    Text folder = dir;
    if (folder.back() != sep && folder.back() != u'/')
        folder += sep;
    for (const host::Call& call : record.calls) {
        if (call.operation != host::Operation::FileLoad)
            continue;
        const Text& path = arg(call, host::param::FileLoad::file).text;
        if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0)
            continue;
        const Text rest = path.substr(folder.size());
        const auto at = rest.find(sep);
        if (at == Text::npos || at == 0 || rest.find(sep, at + 1) != Text::npos)
            continue;
        const Text sub = rest.substr(0, at);
        if (std::find(found.subfolders.begin(), found.subfolders.end(), sub) ==
            found.subfolders.end())
            found.subfolders.push_back(sub);
        found.files.push_back(path);
    }
    return found;
}

std::vector<TraceRecord> loadTrace(const fs::path& file) {
    std::string reason;
    const auto contents = readRegularFile(file, kMaxTraceBytes, reason);
    if (!contents)
        throw SceneError(utf8Path(file) + ": cannot be read: " + reason);
    try {
        return trace::readTrace(*contents);
    } catch (const trace::BadTrace& bad) {
        throw SceneError(utf8Path(file) + (bad.line ? ":" + std::to_string(bad.line) : "") + ": " +
                         echo(bad.what));
    }
}

const TraceRecord& pickRecord(const std::vector<TraceRecord>& records, const fs::path& file,
                              std::optional<long long> n) {
    if (!n)
        return records.back();
    if (*n < 1 || static_cast<std::size_t>(*n) > records.size()) {
        throw SceneError(utf8Path(file) + ": --record " + std::to_string(*n) +
                         ": out of range (the trace holds " + std::to_string(records.size()) +
                         (records.size() == 1 ? " record)" : " records)"));
    }
    return records[static_cast<std::size_t>(*n) - 1];
}

}  // namespace vpolv::sim
