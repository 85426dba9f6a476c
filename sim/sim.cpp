// The command line: CLI11 parses and checks the commands; the older form (a scene and options,
// --check, --replay TRACE...) is first written as the command it stands for.
#include "sim/sim.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <ostream>
#include <vector>

#include "common/release.h"
#include "sim/commands/command.h"
#include "sim/formats/scene_file.h"
#include "standalone/echo.h"

namespace vpolv::sim {

namespace {

// The commands (sim/commands/commands.def), in the order the usage and the help list them.
struct Command {
    CLI::App* (*setup)(CLI::App&, Session&);
    std::string_view name;
    std::string_view usage;
    std::string_view summary;
    bool older;  // the older form writes it as an option: "--check SCENE" for "check SCENE"
};
constexpr Command kCommands[] = {
#define VPOLV_COMMAND(setup, name, usage, summary, older) {setup, name, usage, summary, older},
#include "sim/commands/commands.def"
};

std::string usage() {
    std::string text;
    for (const Command& command : kCommands) {
        text += (text.empty() ? "usage: " : "       ") + std::string("vpolv-sim ") +
                std::string(command.name) + (command.usage.empty() ? "" : " ") +
                std::string(command.usage) + "\n";
    }
    return text + "       vpolv-sim help [COMMAND] | COMMAND --help | --version\n";
}

// A line of the help's list of commands.
std::string helpLine(std::string_view command, std::string_view summary) {
    std::string line = "  " + std::string(command);
    line.resize(20, ' ');
    return line + std::string(summary) + "\n";
}

constexpr std::string_view kHelpSummary = "this help, or a command's";

constexpr std::string_view kHelpEnd = R"(
"vpolv-sim COMMAND --help" gives a command's options and exit status. The older form
works as well: "vpolv-sim SCENE --event KIND ..." for run, and "--check SCENE",
"--reference", "--replay TRACE", "--scene-from-trace TRACE" for the others. "--" ends
the options; an option given twice is an error. docs/scene-format.md has the details.
)";

std::string helpText() {
    std::string text =
        "Runs host events of the vpolv plug-in on scene files, in an in-memory host.\n\n";
    for (const Command& command : kCommands)
        text += helpLine(command.name, command.summary);
    return text + helpLine("help [COMMAND]", kHelpSummary) + std::string(kHelpEnd);
}

// The command line in the form CLI11 reads: a command first. "help COMMAND" is "COMMAND --help",
// "--help" alone is "help".
std::vector<std::string> commandForm(std::span<const std::string> args, const CLI::App& app) {
    const auto isCommand = [&](const std::string& name) {
        return !app.get_subcommands([&](const CLI::App* sub) { return sub->check_name(name); })
                    .empty();
    };
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))
        return {"help"};
    if (args.size() == 2 && args[0] == "help" && args[1] != "help" && isCommand(args[1]))
        return {args[1], "--help"};
    if (!args.empty() && isCommand(args[0]))
        return {args.begin(), args.end()};
    for (std::size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
        const std::string& arg = args[i];
        const std::size_t eq = arg.find('=');
        for (const Command& command : kCommands) {
            if (!command.older || arg.substr(0, eq) != "--" + std::string(command.name))
                continue;
            std::vector<std::string> line{std::string(command.name)};
            line.insert(line.end(), args.begin(), args.begin() + static_cast<std::ptrdiff_t>(i));
            if (eq != std::string::npos)
                line.push_back(arg.substr(eq + 1));
            line.insert(line.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            return line;
        }
    }
    std::vector<std::string> line{"run"};
    line.insert(line.end(), args.begin(), args.end());
    return line;
}

int runCommandLine(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    Session session{{out, err}};
    const standalone::Console& console = session.console;
    CLI::App app("Runs host events of the vpolv plug-in on scene files.", "vpolv-sim");
    // On Windows CLI11 would take "/x" for an option x: here it is a path, as on every system.
    // Set before the commands are added, which take it from here.
    app.allow_windows_style_options(false);
    // Every option at most once (flags too: command_line.cpp), in every command.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::Throw);
    std::vector<std::string> names;
    for (const Command& command : kCommands)
        names.push_back(command.setup(app, session)->get_name());
    // The commands' help is theirs; vpolv-sim's own is the help command.
    app.set_help_flag();
    std::string helpFor;
    CLI::App* help = app.add_subcommand("help", std::string(kHelpSummary));
    help->add_option("COMMAND", helpFor, "the command")->check(CLI::IsMember(names));
    // Answered before CLI11 parses: its search for a command of that name is noexcept, so
    // memory running out there would end the program instead of giving status 4.
    if (args.size() == 1 && args[0] == "--version")
        return console.print("vpolv " + std::string(kVersion) + "\n") ? support::kOk
                                                                      : support::kNotWritten;
    try {
        std::vector<std::string> line = commandForm(args, app);
        std::reverse(line.begin(), line.end());  // as CLI11 takes it
        app.parse(line);
        if (help->parsed())
            return console.print(usage() + "\n" + helpText()) ? support::kOk : support::kNotWritten;
        return session.status;
    } catch (const CLI::CallForHelp&) {
        for (const CLI::App* command : app.get_subcommands({})) {
            if (command->parsed())
                return console.print(command->help("vpolv-sim")) ? support::kOk
                                                                 : support::kNotWritten;
        }
        throw;
    } catch (const CLI::ParseError& e) {
        err << "vpolv-sim: " << standalone::echo(e.what()) << "\n" << usage();
        return support::kNotRun;
    } catch (const UsageError& e) {
        err << "vpolv-sim: " << e.message << "\n" << usage();
        return support::kNotRun;
    } catch (const SceneError& e) {
        err << "vpolv-sim: " << e.what() << "\n";
        return support::kNotRun;
    }
}

// What ends vpolv-sim unexpectedly, as its message says it.
std::string unexpectedEnd() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& e) {
        return standalone::echo(e.what());
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
    std::_Exit(support::kUnexpected);
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
        return support::kUnexpected;
    }
}

void installLastResort() {
    std::set_terminate(terminating);
}

}  // namespace vpolv::sim
