// vpolv-sim trace on [FILE] | off | status: the plug-in's trace switch for this user, on Windows
// (support/trace_switch.h reads and writes it).
#include <algorithm>
#include <vector>

#include "platform/paths.h"
#include "sim/commands/command.h"
#include "standalone/echo.h"
#include "standalone/files.h"
#include "support/trace_switch.h"

namespace vpolv::sim {

using platform::pathFromUtf8;
using platform::utf8Path;
using standalone::Console;
using standalone::echo;
using support::describe;
using support::kMachineSwitchName;
using support::kUserSwitchName;
using support::SwitchState;
using support::SwitchValue;
using support::TraceSwitchError;

namespace fs = std::filesystem;

namespace {

const std::string kGuide = "docs/trace-format.md";

// Paths as Windows compares them: whatever the case of ASCII letters, either slash.
bool samePath(std::string a, std::string b) {
    for (std::string* text : {&a, &b}) {
        std::transform(text->begin(), text->end(), text->begin(), [](char c) {
            return c == '/' ? '\\' : c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        });
    }
    return a == b;
}

// "FILE: 2 KiB" or "FILE: not there", for the trace file and the older part rotation left.
std::string fileSizes(const std::string& file) {
    std::string text;
    for (const std::string& name : {file, file + ".1"}) {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(pathFromUtf8(name), error);
        if (!error)
            text += (text.empty() ? "" : "; ") + echo(name) + ": " + standalone::sizeText(size);
        else if (name == file)
            text += echo(name) + ": not written (no event traced into it)";
    }
    return text;
}

// What the plug-in of each bitness traces into, from the values it reads: the user's when there
// is one (even one that is not a path), else the machine's of its registry view.
struct InUse {
    std::string file;  // "" when off
    std::string by;    // "the user's value", "the machine-wide value"
};
InUse inUse(const SwitchState& state, const SwitchValue& machine) {
    if (state.user.present)
        return {state.user.text, "the user's value"};
    if (machine.present)
        return {machine.text, "the machine-wide value"};
    return {"", "no value"};
}

std::string inUseText(const InUse& use) {
    return (use.file.empty() ? "traces nothing" : "traces into " + echo(use.file)) + " (" + use.by +
           ")";
}

// The machine-wide values, for the messages: one, or one a registry view when they differ.
std::string machineText(const SwitchState& state) {
    if (!state.machine32 || *state.machine32 == state.machine)
        return describe(state.machine);
    return "for 64-bit hosts " + describe(state.machine) + "; for 32-bit hosts " +
           describe(*state.machine32);
}

// Runs one of the subcommands: elsewhere than on Windows, or when the registry refuses, the
// reason and status 2.
template <class Options>
int guarded(const char* name, int (*run)(const Options&, const Console&), const Options& options,
            const Console& console) {
    try {
        if (!support::kTraceSwitchSupported)
            throw TraceSwitchError(
                "the trace switch is a value of the Windows registry: this command works on "
                "Windows only");
        return run(options, console);
    } catch (const TraceSwitchError& e) {
        console.err << "vpolv-sim: trace " << name << ": " << e.what() << "\n";
        return support::kNotRun;
    }
}

int on(const TraceOnOptions& options, const Console& console) {
    const SwitchState state = support::readTraceSwitch();
    std::string file;
    if (options.file) {
        // Whole, since the plug-in runs in the host's current folder, and in a folder that exists.
        std::error_code error;
        const fs::path path = fs::absolute(pathFromUtf8(*options.file), error);
        if (error)
            throw TraceSwitchError(echo(*options.file) + ": " + standalone::reasonOf(error));
        file = utf8Path(path);
        if (fs::is_directory(path, error))
            throw TraceSwitchError(echo(file) + " is a folder: name a file in it");
        fs::create_directories(path.parent_path(), error);
        if (error) {
            throw TraceSwitchError("the folder " + echo(utf8Path(path.parent_path())) +
                                   " cannot be created: " + standalone::reasonOf(error));
        }
    }
    if (state.user.on() && (file.empty() || samePath(file, state.user.text))) {
        return console.print("The trace is on already for this user, into " +
                             echo(state.user.text) + " (" + kUserSwitchName + ").\n")
                   ? support::kOk
                   : support::kNotWritten;
    }
    if (file.empty())
        file = support::newTraceFile();
    support::setUserTraceFile(file);
    std::string text = "The trace is on for this user, into " + echo(file) + " (" +
                       kUserSwitchName +
                       "): from the next event on, the plug-in appends one record per event.\n";
    if (state.user.present)
        text += "It replaces " + describe(state.user) + ".\n";
    else if (state.machine.present || (state.machine32 && state.machine32->present))
        text += "It takes precedence over the machine-wide value " +
                std::string(kMachineSwitchName) + ": " + machineText(state) + ".\n";
    if (state.leftover)
        text += "Left over from an earlier run: " + *state.leftover + ".\n";
    text += "Switch it off with \"vpolv-sim trace off\".\n";
    return console.print(text) ? support::kOk : support::kNotWritten;
}

int off(const NoOptions&, const Console& console) {
    const SwitchState state = support::readTraceSwitch();
    std::string text;
    SwitchValue after = state.user;
    if (!state.user.present && !state.leftover) {
        text =
            "The trace is off for this user already (no " + std::string(kUserSwitchName) + ").\n";
    } else {
        const support::SwitchOff done = support::switchUserTraceOff();
        after = done.after;
        if (done.leftover)
            text = "Put back " + std::string(kUserSwitchName) +
                   " as it was before a vpolv-sim run switched it and was ended: " +
                   describe(done.after) + ".\n";
        else
            text =
                "The trace is off for this user (" + std::string(kUserSwitchName) + " removed).\n";
        if (done.before.on() && !(done.after.on() && samePath(done.after.text, done.before.text)))
            text += "The trace was written to " + fileSizes(done.before.text) + ".\n";
    }
    if (after.on()) {
        text += "The plug-in traces into " + echo(after.text) + " (the user's value).\n";
    } else if (!after.present) {
        for (const auto& [machine, hosts] :
             {std::pair{&state.machine, state.machine32 ? "64-bit hosts" : "hosts"},
              std::pair{state.machine32 ? &*state.machine32 : nullptr, "32-bit hosts"}}) {
            if (machine && machine->on())
                text += "The machine-wide value " + std::string(kMachineSwitchName) +
                        " still has the plug-in of " + hosts + " trace every user's events into " +
                        echo(machine->text) + ": vpolv-sim changes only this user's value (" +
                        kGuide + ").\n";
        }
    }
    return console.print(text) ? support::kOk : support::kNotWritten;
}

int status(const NoOptions&, const Console& console) {
    const SwitchState state = support::readTraceSwitch();
    std::string text = "user value:     " + describe(state.user) + ", in " + kUserSwitchName +
                       "\nmachine value:  " + machineText(state) + ", in " + kMachineSwitchName +
                       "\n";
    const InUse use = inUse(state, state.machine);
    std::vector<std::string> files{use.file};
    if (!state.machine32 || inUse(state, *state.machine32).file == use.file) {
        text += "the plug-in:    " + inUseText(use) + "\n";
    } else {
        const InUse use32 = inUse(state, *state.machine32);
        text += "the plug-in:    of 64-bit hosts " + inUseText(use) + "; of 32-bit hosts " +
                inUseText(use32) + "\n";
        files.push_back(use32.file);
    }
    for (const std::string& file : files) {
        if (!file.empty())
            text += "trace file:     " + fileSizes(file) + "\n";
    }
    text += "leftover:       " + state.leftover.value_or("none") + "\n";
    if (state.runningSwitch)
        text += "held by:        vpolv-sim (process " + std::to_string(state.runningSwitch) +
                "), which puts the user's value back when it ends\n";
    return console.print(text) ? support::kOk : support::kNotWritten;
}

}  // namespace

int traceOnCommand(const TraceOnOptions& options, const Console& console) {
    return guarded("on", on, options, console);
}
int traceOffCommand(const NoOptions& options, const Console& console) {
    return guarded("off", off, options, console);
}
int traceStatusCommand(const NoOptions& options, const Console& console) {
    return guarded("status", status, options, console);
}

}  // namespace vpolv::sim
