// What the simulator's commands share: where they write, how a command line is refused, the
// exit statuses, and the one shape of a command (CLI11: an options struct, a setup that declares
// the subcommand and its options, and a callback that runs it).
#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <memory>
#include <string>

#include "common/types.h"
#include "standalone/files.h"

namespace vpolv::sim {

// Exit statuses.
inline constexpr int kTrueResult = 0;   // the event returned True; nothing missing; identical
inline constexpr int kFalseResult = 1;  // it returned False; something missing; differences
inline constexpr int kBadInput = 2;     // a bad command line or input file: nothing ran or written
inline constexpr int kNotWritten = 3;   // it ran, but what it writes could not be written
inline constexpr int kUnexpected = 4;   // something unexpected ended it (out of memory, say)

// A command line that CLI11 accepts and the command does not (--object with --event scene): the
// message goes to stderr, with the usage.
struct UsageError {
    std::string message;
};

using standalone::Console;

// The run of one command line: where the commands write, and the exit status the command's
// callback leaves.
struct Session {
    Console console;
    int status = kTrueResult;
};

// What the command did not take (an unknown option, a second file), refused as CLI11 refuses
// it: CLI11 2.1 names the arguments in reverse order, so each command keeps them (allow_extras)
// and this names them in the order given.
void refuseExtras(const CLI::App& app);

// A command's callback: its function on its options, the status kept in the session. A named
// type and not a lambda: the release builds' symbols name a lambda after the path of its source
// file, so a lambda here would make two builds of the same sources in two folders differ.
template <class Options>
struct Callback {
    CLI::App* app;
    std::shared_ptr<Options> options;
    int (*function)(const Options&, const Console&);
    Session* session;
    void operator()() const {
        refuseExtras(*app);
        session->status = function(*options, session->console);
    }
};

// Declares a subcommand of parent: the options its setup adds are bound to *options, and
// function runs on them once CLI11 has parsed and checked the command line. A bad input file
// raises SceneError.
template <class Options>
CLI::App* addCommand(CLI::App& parent, Session& session, const std::string& name,
                     const std::string& description, std::shared_ptr<Options> options,
                     int (*function)(const Options&, const Console&)) {
    CLI::App* app = parent.add_subcommand(name, description);
    app->allow_extras();
    app->callback(Callback<Options>{app, std::move(options), function, &session});
    return app;
}

// The options of every command: given at most once (applied to each command as it is set up).
void givenOnce(CLI::App& app);

// The setups, in the order the help lists the commands.
CLI::App* setupRun(CLI::App& parent, Session& session);
CLI::App* setupCheck(CLI::App& parent, Session& session);
CLI::App* setupReference(CLI::App& parent, Session& session);
CLI::App* setupReplay(CLI::App& parent, Session& session);
CLI::App* setupSceneFromTrace(CLI::App& parent, Session& session);
CLI::App* setupDoctor(CLI::App& parent, Session& session);
CLI::App* setupTrace(CLI::App& parent, Session& session);
CLI::App* setupCollect(CLI::App& parent, Session& session);

// --record of the trace commands: a record number from 1.
CLI::Option* addRecord(CLI::App& app, long long& record);

}  // namespace vpolv::sim
