// The command line: CLI11 parses the commands; the older form (a scene and options, --check,
// --replay TRACE...) is the same command line with its command written as an option, and is
// read as that command.
#include "sim/sim.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <ostream>
#include <vector>

#include "common/release.h"
#include "sim/commands/command.h"
#include "sim/doctor/doctor.h"
#include "sim/formats/scene_file.h"
#include "sim/system/echo.h"

namespace vpolv::sim {

namespace {

constexpr const char* kUsage =
    "usage: vpolv-sim run SCENE --event place|finishes|scene [--object ID] [--out FILE]\n"
    "                     [--json] [--quiet] [--trace FILE]\n"
    "       vpolv-sim check SCENE\n"
    "       vpolv-sim reference\n"
    "       vpolv-sim replay TRACE [--record N]\n"
    "       vpolv-sim scene-from-trace TRACE [--record N] --out SCENE\n"
    "       vpolv-sim doctor [--host-folder DIR] [--json]\n"
    "       vpolv-sim help [COMMAND] | COMMAND --help | --version\n";

constexpr const char* kHelp =
    "Runs host events of the vpolv plug-in on scene files, in an in-memory host.\n"
    "\n"
    "  run               one event on a scene, and its report\n"
    "  check             what the scene's tables lack for pricing its glass\n"
    "  reference         the glass pricing rules as Markdown\n"
    "  replay            a traced event run again against its record, and compared\n"
    "  scene-from-trace  a scene file holding what a traced event read\n"
    "  doctor            this machine's set-up of the plug-in, checked; nothing is changed\n"
    "  help [COMMAND]    this help, or a command's\n"
    "\n"
    "\"vpolv-sim COMMAND --help\" gives a command's options and exit status. The older form\n"
    "works as well: \"vpolv-sim SCENE --event KIND ...\" for run, and \"--check SCENE\",\n"
    "\"--reference\", \"--replay TRACE\", \"--scene-from-trace TRACE\" for the others. \"--\" "
    "ends\n"
    "the options; an option given twice is an error. docs/scene-format.md has the details.\n";

// The commands, in the order the help lists them.
using MakeCommand = Command (*)(CLI::App&);
constexpr std::array<MakeCommand, 5> kCommands = {runCommand, checkCommand, referenceCommand,
                                                  replayCommand, sceneFromTraceCommand};

// Options that take a value, and the commands written as options, in the older form.
constexpr std::array<std::string_view, 7> kValued = {
    "--event", "--object", "--out", "--trace", "--replay", "--scene-from-trace", "--record"};
// In the order in which one prevails over another.
constexpr std::array<std::string_view, 4> kModes = {"--reference", "--replay", "--scene-from-trace",
                                                    "--check"};

bool contains(auto& list, std::string_view item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// The older form's command line as a command's: "--replay TRACE x" is "replay TRACE x".
struct Rewritten {
    std::vector<std::string> args;
    bool version = false;
};

Rewritten rewriteOlderForm(std::span<const std::string> args) {
    std::vector<std::string> rest;
    std::vector<std::string> modes;
    std::optional<std::string> trace;
    bool version = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        const std::string name = arg.substr(0, arg.find('='));
        const bool inlineValue = name.size() < arg.size() && arg.rfind("--", 0) == 0;
        if (arg == "--version") {
            version = true;
        } else if (contains(kModes, name)) {
            if (contains(modes, name))
                throw UsageError{name + " is given more than once"};
            modes.push_back(name);
            if (name == "--replay" || name == "--scene-from-trace") {
                if (!inlineValue && i + 1 >= args.size())
                    throw UsageError{name + " needs a value"};
                trace = inlineValue ? arg.substr(name.size() + 1) : args[++i];
            } else if (inlineValue) {
                throw UsageError{name + " takes no value"};
            }
        } else {
            rest.push_back(arg);
            if (contains(kValued, name) && !inlineValue && i + 1 < args.size())
                rest.push_back(args[++i]);
        }
    }
    std::string mode;
    for (const std::string_view m : kModes) {
        if (mode.empty() && contains(modes, m))
            mode = m;
    }
    for (const auto& other : modes) {
        if (other != mode)
            throw UsageError{other + " does not go with " + mode};
    }
    Rewritten out{{mode.empty() ? "run" : mode.substr(2)}, version};
    if (trace)
        out.args.push_back(*trace);
    out.args.insert(out.args.end(), rest.begin(), rest.end());
    return out;
}

// The name of an option as written: "--event" of "--event=place".
std::string optionName(const std::string& arg) {
    return arg.substr(0, arg.find('='));
}

// What CLI11 left over, or gave twice, as the simulator says it.
void checkCommandLine(const Command& command, const std::vector<Command>& all, bool older,
                      const std::string& name, const std::vector<std::string>& files) {
    const std::string& which = command.app->get_name();
    std::vector<std::string> extras = command.app->remaining();
    const std::size_t beforeFiles = extras.size();
    for (const std::string& file : files) {
        if (command.file && command.file->empty() && extras.empty())
            *command.file = file;
        else
            extras.push_back(file);
    }
    for (std::size_t i = 0; i < extras.size(); ++i) {
        const std::string& extra = extras[i];
        if (i < beforeFiles && extra.size() > 1 && extra[0] == '-') {
            const std::string option = optionName(extra);
            std::vector<std::string> owners;
            for (const Command& other : all) {
                if (other.app->get_option_no_throw(option))
                    owners.push_back(older ? "--" + other.app->get_name() : other.app->get_name());
            }
            if (owners.empty())
                throw UsageError{"unknown option " + echo(option)};
            if (which != "run")
                throw UsageError{option + " does not go with " + name};
            std::string list;
            for (std::size_t i = 0; i < owners.size(); ++i)
                list += (i == 0 ? "" : i + 1 == owners.size() ? " or " : ", ") + owners[i];
            throw UsageError{option + " goes with " + list};
        }
        if (which == "run" || which == "check")
            throw UsageError{"only one scene file, not also \"" + echo(extra) + "\""};
        if (older)
            throw UsageError{name + " reads no scene file"};
        throw UsageError{name + " takes " +
                         (which == "reference" ? std::string("no file") : "one trace file") +
                         ", not also \"" + echo(extra) + "\""};
    }
    for (const CLI::Option* option : command.app->get_options()) {
        if (option->count() > 1)
            throw UsageError{option->get_name() + " is given more than once"};
    }
}

int runCommandLine(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    const Console console{out, err};
    CLI::App app("vpolv-sim", "vpolv-sim");
    // On Windows CLI11 would take "/x" for an option x: here it is a path, as on every system.
    // Set before the commands are added, which take it from here.
    app.allow_windows_style_options(false);
    std::vector<Command> commands;
    for (const MakeCommand make : kCommands) {
        commands.push_back(make(app));
        CLI::App& sub = *commands.back().app;
        sub.allow_extras();
        for (CLI::Option* option : sub.get_options())
            option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
    // The commands' help is theirs; vpolv-sim's own is the help command.
    app.set_help_flag();
    std::string helpFor;
    CLI::App* help = app.add_subcommand("help", "this help, or a command's");
    help->add_option("COMMAND", helpFor);

    // The first argument names the command, or the command line has the older form.
    const auto isCommand = [&](const std::string& first) {
        return first == "help" || first == "--version" || first == "--help" || first == "-h" ||
               std::any_of(commands.begin(), commands.end(),
                           [&](const Command& c) { return c.app->get_name() == first; });
    };
    // The doctor reads its own options: they have nothing in common with the others'.
    if (!args.empty() && args[0] == "doctor")
        return doctor::command({args.begin() + 1, args.end()}, out, err);
    const bool older = args.empty() || !isCommand(args[0]);
    const Command* chosen = nullptr;
    try {
        std::vector<std::string> line(args.begin(), args.end());
        if (older) {
            Rewritten rewritten = rewriteOlderForm(args);
            if (rewritten.version)
                line = {"--version"};
            else
                line = std::move(rewritten.args);
        }
        if (!line.empty() && line[0] == "--version")
            return console.print("vpolv " + std::string(kVersion) + "\n") ? kTrueResult
                                                                          : kNotWritten;
        if (line.empty() || line[0] == "--help" || line[0] == "-h")
            line = {"help"};
        // What follows "--" are file arguments, whatever they look like: given to the command
        // once it is known.
        std::vector<std::string> files;
        if (const auto end = std::find(line.begin(), line.end(), "--"); end != line.end()) {
            files.assign(end + 1, line.end());
            line.erase(end, line.end());
        }
        std::reverse(line.begin(), line.end());
        try {
            app.parse(line);
        } catch (const CLI::CallForHelp&) {
            for (const Command& command : commands) {
                if (command.app->parsed())
                    return console.print(command.app->help("vpolv-sim")) ? kTrueResult
                                                                         : kNotWritten;
            }
            throw;
        }
        if (help->parsed()) {
            // "help replay": CLI11 takes "replay" for the command itself.
            for (const Command& command : commands) {
                if (command.app->get_name() == helpFor || command.app->parsed())
                    return console.print(command.app->help("vpolv-sim")) ? kTrueResult
                                                                         : kNotWritten;
            }
            if (helpFor == "doctor")
                return doctor::command({"--help"}, out, err);
            if (!helpFor.empty())
                throw UsageError{"no command \"" + echo(helpFor) + "\""};
            return console.print(std::string(kUsage) + "\n" + kHelp) ? kTrueResult : kNotWritten;
        }
        for (const Command& command : commands) {
            if (command.app->parsed())
                chosen = &command;
        }
        const std::string name = older ? "--" + chosen->app->get_name() : chosen->app->get_name();
        checkCommandLine(*chosen, commands, older, name, files);
        return chosen->run({console, name});
    } catch (const UsageError& e) {
        err << "vpolv-sim: " << e.message << "\n" << kUsage;
        return kBadInput;
    } catch (const CLI::ParseError& e) {
        err << "vpolv-sim: " << echo(e.what()) << "\n" << kUsage;
        return kBadInput;
    } catch (const SceneError& e) {
        err << "vpolv-sim: " << e.what() << "\n";
        return kBadInput;
    }
}

// What ends vpolv-sim unexpectedly, as its message says it.
std::string unexpectedEnd() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& e) {
        return echo(e.what());
    } catch (...) {
        return "an unexpected error";
    }
}

// The last resort: anything thrown where no catch reaches it (from a destructor, or out of a
// function that throws nothing) is reported as runSim reports what it catches, and the process
// ends with its status rather than through abort(). Written with the C library alone: memory
// may be what ran out.
[[noreturn]] void terminating() noexcept {
    const char* what = "an unexpected error";
    // Kept for as long as its what() is used.
    const std::exception_ptr current = std::current_exception();
    if (current) {
        try {
            std::rethrow_exception(current);
        } catch (const std::bad_alloc&) {
            what = "out of memory";
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
    }
    try {
        std::cout.flush();
        std::cerr.flush();
    } catch (...) {
    }
    std::fprintf(stderr, "vpolv-sim: %s\n", what);
    std::fflush(stderr);
    std::_Exit(kUnexpected);
}

}  // namespace

int runSim(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    try {
        return runCommandLine(args, out, err);
    } catch (...) {
        try {
            err << "vpolv-sim: " << unexpectedEnd() << "\n";
        } catch (...) {
            err << "vpolv-sim: out of memory\n";  // for the message itself
        }
        return kUnexpected;
    }
}

void installLastResort() {
    std::set_terminate(terminating);
}

}  // namespace vpolv::sim
