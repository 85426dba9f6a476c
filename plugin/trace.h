// The diagnosis trace: when support switches it on, every event appends one record with what it
// read and did (every host call with its arguments and answer, the boxes shown, the result), so
// that a wrong price can be looked at and the event replayed in the simulator. The record itself
// is trace/'s; this is when and with what it is written.
#pragma once

#include "catalog/context.h"
#include "common/error.h"
#include "host/event.h"
#include "host/host.h"
#include "platform/platform.h"
#include "trace/recorder.h"

namespace vpolv {

// What the event was, and how it ended.
struct TracedEvent {
    Event event;
    Long callParams;
    const Context& ctx;
    bool result;
    const Error* error;  // when it failed
};

// The event's record, from what the recorder saw.
trace::Record traceRecord(const trace::Recorder& recorder, const TracedEvent& event);

// Appends the record to the trace file; any failure to do so is ignored.
void writeTrace(const platform::Trace& trace, const Text& file, const trace::Recorder& recorder,
                const TracedEvent& event) noexcept;

// Runs an event with the trace that services.trace switches on, if any: the event's calls,
// writes, result and error are exactly those of a run without it, whether the trace can be
// written or not.
template <class Run>
Boolean traced(const platform::Services& services, host::Connector& host, Event event,
               Long callParams, const Context& ctx, Run&& run) {
    Text file;
    try {
        if (services.trace)
            file = services.trace->file();
    } catch (...) {
        // A switch that cannot be read is off.
    }
    if (file.empty())
        return run(host, services.messages);
    trace::Recorder recorder(host, services.messages);
    Boolean result = kFalse;
    try {
        result = run(recorder, recorder);
    } catch (...) {
        const Error error = currentError();
        writeTrace(*services.trace, file, recorder, {event, callParams, ctx, false, &error});
        throw;
    }
    writeTrace(*services.trace, file, recorder,
               {event, callParams, ctx, result != kFalse, nullptr});
    return result;
}

}  // namespace vpolv
