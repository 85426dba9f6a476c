// The record's members, described once: mapRecord() names each member of a record, in the order
// the writer writes them, with what a reader requires of it. The writer (trace/writer.cpp) and
// the reader (trace/reader.cpp) each pass an io that does their part, so that the two cannot
// disagree on a name or an order. The form of each kind of value (a text, a call, an error) is
// each side's.
#pragma once

#include "trace/record.h"

namespace vpolv::trace {

// Whether a reader requires a member, or takes a record without it (an older plug-in's).
enum class Presence { Required, Optional };

template <class IO, class B>
void mapBox(IO& io, B& box) {
    io.field("title", box.title);
    io.field("text", box.text);
    io.field("style", box.style);
}

// After "format", which comes first and tells a reader whether it knows the rest.
template <class IO, class R>
void mapRecord(IO& io, R& record) {
    io.field("plugin", record.plugin, Presence::Optional);
    io.field("time", record.time, Presence::Optional);
    io.field("event", record.event);
    io.field("callParams", record.callParams);
    // An older record has the decimal separator alone: both others, or neither.
    io.numbers("decimalSeparator", "thousandsSeparator", "currencySign", record.numbers);
    io.character("pathSeparator", record.pathSeparator);
    io.field("spaceIni", record.spaceIni);
    io.field("catalogsDir", record.catalogsDir);
    io.field("catalogFile", record.catalogFile);  // null when there is none
    io.list("calls", record.calls, Presence::Required,
            "none; a record holds at least the creation of Appli");
    io.list("boxes", record.boxes, Presence::Optional);
    io.field("result", record.result);
    io.field("error", record.error);  // left out when there is none
}

}  // namespace vpolv::trace
