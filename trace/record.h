// The diagnosis trace's record: what one event of the plug-in read and did, as the plug-in writes
// it (one JSON line) and the simulator reads it back. docs/trace-format.md describes the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/locale.h"
#include "common/types.h"
#include "host/call.h"
#include "host/event.h"

namespace vpolv::trace {

// The record's format; a reader refuses any other.
inline constexpr int kFormat = 1;

// A warning box the event showed.
struct Box {
    Text title;
    Text text;
    Long style = 0;
    bool operator==(const Box&) const = default;
};

struct Record {
    std::string plugin;          // the plug-in's version
    std::string time;            // when the event ended, UTC: 2026-12-07T23:59:59Z
    Event event = Event::Place;  // written as its name; a reader refuses any other
    Long callParams = 0;
    // The user locale's signs: a record of an older plug-in has the decimal separator alone (its
    // first character), read with its usual companions.
    NumberSymbols numbers;
    Text pathSeparator;
    Text spaceIni;
    Text catalogsDir;
    std::optional<Text> catalogFile;  // passed to the last FileLoad
    std::vector<host::Call> calls;    // the creations included, each with its answer or error
    std::vector<Box> boxes;
    bool result = false;
    std::optional<Error> error;

    std::size_t line = 0;  // where a reader found it, from 1
};

// An error code as errorCodeText() writes it: "0x" and one to eight hexadecimal digits;
// nullopt for anything else.
std::optional<std::int32_t> parseErrorCode(std::string_view text);

// Whether a text holds an unpaired surrogate, which UTF-8 cannot carry.
bool hasUnpairedSurrogate(const Text& text);

// The record as one JSON line, the line feed included. A text holding an unpaired surrogate,
// which UTF-8 cannot carry, is written as {"utf16": [code units]}.
std::string recordLine(const Record& record);

// A line of a trace that is not a record, or a trace that holds none (line 0).
struct BadTrace {
    std::size_t line;
    std::string what;  // "not a trace record: ..."
};

// Every record of a trace's text, in order, each with its line; raises BadTrace. Blank lines are
// passed over.
std::vector<Record> readTrace(std::string_view text);

}  // namespace vpolv::trace
