// A support bundle: the zip archive vpolv-sim collect writes for a ticket, which replay and
// scene-from-trace read the trace from. Its entries, in the order it holds them, and what each
// holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vpolv::support::bundle {

// The records traced while collecting, oldest first; left out when no event was traced.
inline constexpr std::string_view kTrace = "trace.jsonl";
// The doctor's report of the machine, as "vpolv-sim doctor --json" prints it.
inline constexpr std::string_view kDoctor = "doctor.json";
// vpolv-sim and each registered vpolv.dll, with their versions.
inline constexpr std::string_view kVersions = "versions.txt";
// The SPACE.INI each registered DLL reads, in the doctor's order: SPACE.INI, then SPACE-2.INI...
inline std::string spaceIni(std::size_t index) {
    return index == 0 ? "SPACE.INI" : "SPACE-" + std::to_string(index + 1) + ".INI";
}
// What each entry is, for whoever opens the bundle.
inline constexpr std::string_view kReadme = "README.txt";

}  // namespace vpolv::support::bundle
