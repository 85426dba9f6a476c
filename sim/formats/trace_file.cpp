// Trace files, read whole.
#include "sim/formats/trace_file.h"

#include <algorithm>

#include "standalone/echo.h"
#include "standalone/files.h"
#include "support/bundle.h"
#include "support/zip.h"

namespace vpolv::sim {

using platform::utf8Path;
using standalone::echo;
using standalone::readRegularFile;
using standalone::sizeText;

namespace fs = std::filesystem;
namespace {

// A trace grows to about 10 MiB before it is renamed; twice that leaves room.
constexpr std::uintmax_t kMaxTraceBytes = 64 * 1024 * 1024;

}  // namespace

FoundCatalogs foundCatalogs(const trace::Record& record) {
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

LoadedTrace loadTrace(const fs::path& file) {
    std::string reason;
    auto contents = readRegularFile(file, kMaxTraceBytes, reason);
    if (!contents)
        throw SceneError(utf8Path(file) + ": cannot be read: " + reason);
    LoadedTrace loaded{utf8Path(file), {}};
    if (support::looksLikeZip(*contents)) {
        std::vector<support::ZipEntry> entries;
        try {
            entries = support::readZip(*contents);
        } catch (const support::ZipError& bad) {
            throw SceneError(loaded.name + ": not a readable bundle: " + echo(bad.what()));
        }
        const auto trace = std::find_if(
            entries.begin(), entries.end(),
            [](const support::ZipEntry& e) { return e.name == support::bundle::kTrace; });
        if (trace == entries.end()) {
            throw SceneError(
                loaded.name + ": a bundle without " + std::string(support::bundle::kTrace) + " (" +
                std::to_string(entries.size()) + (entries.size() == 1 ? " entry)" : " entries)"));
        }
        loaded.name += " (" + std::string(support::bundle::kTrace) + ")";
        if (trace->data.size() > kMaxTraceBytes) {
            throw SceneError(loaded.name + ": cannot be read: larger than " +
                             sizeText(kMaxTraceBytes));
        }
        *contents = std::move(trace->data);
    }
    try {
        loaded.records = trace::readTrace(*contents);
    } catch (const trace::BadTrace& bad) {
        throw SceneError(loaded.name + (bad.line ? ":" + std::to_string(bad.line) : "") + ": " +
                         echo(bad.what));
    }
    return loaded;
}

const trace::Record& pickRecord(const LoadedTrace& trace, std::optional<long long> n) {
    const auto& records = trace.records;
    if (!n)
        return records.back();
    if (*n < 1 || static_cast<std::size_t>(*n) > records.size()) {
        throw SceneError(trace.name + ": --record " + std::to_string(*n) +
                         ": out of range (the trace holds " + std::to_string(records.size()) +
                         (records.size() == 1 ? " record)" : " records)"));
    }
    return records[static_cast<std::size_t>(*n) - 1];
}

}  // namespace vpolv::sim
