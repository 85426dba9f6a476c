// What the simulator's commands share: where they write, how a command line is refused, the
// exit statuses, and the one shape of a command (CLI11: an options struct and a function each).
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "common/types.h"

namespace vpolv::sim {

// Exit statuses.
inline constexpr int kTrueResult = 0;   // the event returned True; nothing missing; identical
inline constexpr int kFalseResult = 1;  // it returned False; something missing; differences
inline constexpr int kBadInput = 2;     // a bad command line or input file: nothing ran or written
inline constexpr int kNotWritten = 3;   // it ran, but what it writes could not be written
inline constexpr int kUnexpected = 4;   // something unexpected ended it (out of memory, say)

// A bad command line: the message goes to stderr, with the usage.
struct UsageError {
    std::string message;
};

struct Console {
    std::ostream& out;
    std::ostream& err;
    // Writes text to out; false, after a message on err, when it cannot.
    bool print(const std::string& text) const;
};

// What a command runs with.
struct Context {
    Console console;
    // How messages name the command: "check", or "--check" in the older form.
    std::string name;
};

// One subcommand: its options, bound to an options struct of its own, and what runs it once
// the command line holds together. The function returns the exit status; a bad input file
// raises SceneError.
struct Command {
    CLI::App* app;
    std::function<int(const Context&)> run;
    std::string* file = nullptr;  // its one file argument (SCENE, TRACE), if it takes one
};

// A command's function with its options, for Command::run. A named type and not a lambda: the
// release builds' symbols name a lambda after the path of its source file, so a lambda here
// would make two builds of the same sources in two folders differ.
template <class Options>
struct Bound {
    std::shared_ptr<Options> options;
    int (*function)(const Options&, const Context&);
    int operator()(const Context& context) const { return function(*options, context); }
};

Command runCommand(CLI::App& parent);
Command checkCommand(CLI::App& parent);
Command referenceCommand(CLI::App& parent);
Command replayCommand(CLI::App& parent);
Command sceneFromTraceCommand(CLI::App& parent);

// Option values the commands read themselves, so that a bad one is named as they name it.
Long objectId(const std::string& text);  // --object
// --record, when given.
std::optional<long long> recordNumber(const CLI::Option& option, const std::string& text);

}  // namespace vpolv::sim
