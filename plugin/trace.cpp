// The diagnosis trace: an event's record, filled from what it saw.
#include "plugin/trace.h"

#include <chrono>
#include <cstdio>

#include "catalog/catalog.h"
#include "common/release.h"

namespace vpolv {

namespace {

// Now, in UTC, as 2026-12-07T23:59:59Z.
std::string utcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

}  // namespace

trace::Record traceRecord(const trace::Recorder& recorder, const TracedEvent& event) {
    const auto& sys = event.ctx.services;
    trace::Record record;
    record.plugin = kVersion;
    record.time = utcNow();
    record.event = event.event;
    record.callParams = event.callParams;
    record.numbers = sys.locale.symbols();
    record.pathSeparator = Text(1, sys.files.separator());
    record.spaceIni = sys.files.moduleFolder() + sys.files.separator() + Text(kSpaceIni);
    record.catalogsDir = event.ctx.module.sCatalogsDir;
    for (const auto& call : recorder.calls()) {
        if (call.operation == host::Operation::FileLoad)
            record.catalogFile = arg(call, host::param::FileLoad::file).text;
    }
    record.calls = recorder.calls();
    record.boxes = recorder.boxes();
    record.result = event.result;
    if (event.error)
        record.error = *event.error;
    return record;
}

void writeTrace(const platform::Trace& trace, const Text& file, const trace::Recorder& recorder,
                const TracedEvent& event) noexcept {
    if (recorder.lost())
        return;
    try {
        trace.append(file, trace::recordLine(traceRecord(recorder, event)));
    } catch (...) {
        // A trace that cannot be made is skipped; the event is what it was.
    }
}

}  // namespace vpolv
