// Replaying a traced event: the plug-in's core runs once more against a host that answers every
// call from the record, and what it does now is compared with what the record says it did.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host/call.h"
#include "plugin/plugin.h"
#include "sim/formats/trace_file.h"

namespace vpolv::sim {

struct ReplayResult {
    std::vector<host::Call> calls;  // the calls of the replayed run, in order
    // The first call that differs from the record: its index in calls, or calls.size() when the
    // run ended while the record holds more calls.
    std::optional<std::size_t> firstDifference;
    Outcome outcome;
    // The error the replay raised to end the event at the first difference.
    std::optional<Error> stop;

    bool identical(const trace::Record& record) const;
};

// Runs the record's event on a host and platform that answer as the record says.
ReplayResult replay(const trace::Record& record);

// "identical ..." or the list of differences, as the simulator prints it.
std::string replayReport(const std::string& file, const trace::Record& record,
                         const ReplayResult& result);

}  // namespace vpolv::sim
