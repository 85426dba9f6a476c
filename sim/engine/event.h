// Runs one host event of the plug-in on a scene, in the in-memory host, and gathers what happened.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/memory_host.h"
#include "plugin/plugin.h"
#include "sim/formats/scene_file.h"
#include "standalone/message_box.h"

namespace vpolv::sim {

using standalone::ShownBox;

struct RunResult {
    Event event;
    std::optional<Long> object;   // the object of the call, when the scene or the command names one
    std::vector<host::Call> log;  // with what each call answered
    std::vector<host::Write> writes;
    std::vector<host::FileLoadRecord> loads;
    std::vector<ShownBox> warnings;
    Outcome outcome;
    host::SceneData after;
    int liveObjects = 0;  // host objects the event left unreleased
};

// The number a host call answered (its answer's kind is Long).
Long answerNumber(const host::Answer& answer);

// A table line looked up by name (TableGetLineRankFromName) during a run, and what came of it.
struct TableLookup {
    std::size_t call = 0;  // index in the log
    Integer table = 0;
    Text line;
    bool failed = false;  // the call raised an error
    Long rank = 0;        // what it answered: 0 or less names no line
    // The columns then read from that rank (TableGetLineInfo), before the next lookup.
    std::map<Integer, Text> columns;
};

// Every lookup of a line by name, in call order.
std::vector<TableLookup> tableLookups(const RunResult& run);

// Runs the event with a new Plugin instance. object, when given, replaces the scene's object of
// the call and must be an object of the scene (SceneError otherwise). The plug-in's folder is a
// temporary folder holding the scene's "SPACE.INI", removed afterwards. With a trace, the plug-in
// appends the event's record to it.
RunResult runEvent(const SceneFile& scene, Event event, std::optional<Long> object = {},
                   const platform::Trace* trace = nullptr);

}  // namespace vpolv::sim
