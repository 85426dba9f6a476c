// What the simulator's commands share: where they write, how a command line is refused, and the
// one shape of a command (CLI11: an options struct, a setup that declares the subcommand and its
// options in command_line.cpp, and a function that runs it once the command line is parsed).
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

#include "standalone/files.h"
#include "support/collect.h"
#include "support/doctor.h"
#include "support/exit_status.h"

namespace vpolv::sim {

// A command line that CLI11 accepts and the command does not (--object with --event scene): the
// message goes to stderr, with the usage.
struct UsageError {
    std::string message;
};

// The run of one command line: where the commands write, and the exit status the command's
// function leaves.
struct Session {
    standalone::Console console;
    int status = support::kOk;
};

// The commands' options, as CLI11 leaves them; an option not given is nullopt.
struct RunOptions {
    std::string scene;
    std::string event;  // an event's name (host/events.def)
    std::optional<long long> object;
    std::optional<std::string> out;
    std::string trace;
    bool json = false;
    bool quiet = false;
};
struct CheckOptions {
    std::string scene;
};
struct ReplayOptions {
    std::string trace;
    std::optional<long long> record;  // from 1
};
struct SceneFromTraceOptions {
    std::string trace;
    std::optional<long long> record;
    std::string out;
};
struct TraceOnOptions {
    std::optional<std::string> file;
};
struct NoOptions {};
// doctor and collect: support::doctor::Options and support::collect::Options.

// The commands' functions: the exit status. A bad input file raises SceneError.
int runCommand(const RunOptions& options, const standalone::Console& console);
int checkCommand(const CheckOptions& options, const standalone::Console& console);
int referenceCommand(const NoOptions& options, const standalone::Console& console);
int replayCommand(const ReplayOptions& options, const standalone::Console& console);
int sceneFromTraceCommand(const SceneFromTraceOptions& options, const standalone::Console& console);
int traceOnCommand(const TraceOnOptions& options, const standalone::Console& console);
int traceOffCommand(const NoOptions& options, const standalone::Console& console);
int traceStatusCommand(const NoOptions& options, const standalone::Console& console);

// The setups (sim/commands/commands.def lists them): each declares its command as a subcommand
// of parent, whose function leaves its status in the session.
#define VPOLV_COMMAND(setup, name, usage, summary, older) \
    CLI::App* setup(CLI::App& parent, Session& session);
#include "sim/commands/commands.def"

}  // namespace vpolv::sim
