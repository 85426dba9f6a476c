// vpolv-sim's exit statuses, one set for every command; each command's help says what they mean
// for it.
#pragma once

namespace vpolv::support {

enum ExitStatus : int {
    // run: the event returned True; check: nothing missing; replay: identical; doctor: every
    // check ok; collect: collected, with an event; the others: done.
    kOk = 0,
    // run: the event returned False; check: something missing; replay: differences; doctor: a
    // problem found; collect: collected, but no event traced.
    kNotOk = 1,
    // A bad command line or input file: nothing was run or written. doctor, collect, trace: it
    // could not be done.
    kNotRun = 2,
    // It ran, but what it writes could not be written.
    kNotWritten = 3,
    // Something unexpected ended it (out of memory, say).
    kUnexpected = 4,
};

}  // namespace vpolv::support
