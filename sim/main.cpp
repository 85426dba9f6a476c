// vpolv-sim: runs one host event of the plug-in on a scene file and reports what it did.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "common/release.h"
#include "common/text.h"
#include "platform/native.h"
#include "sim/check.h"
#include "sim/doctor.h"
#include "sim/echo.h"
#include "sim/entry.h"
#include "sim/files.h"
#include "sim/reference.h"
#include "sim/replay.h"
#include "sim/report.h"
#include "sim/run.h"
#include "sim/scene_file.h"
#include "sim/scene_from_trace.h"
#include "sim/trace_file.h"
#include "testkit/interrupt.h"

namespace {

namespace fs = std::filesystem;
using vpolv::sim::echo;
using vpolv::sim::EventKind;
using vpolv::sim::pathFromUtf8;
using vpolv::sim::utf8Path;

constexpr int kTrueResult = 0;
constexpr int kFalseResult = 1;
constexpr int kBadInput = 2;
constexpr int kNotWritten = 3;
// --check: the tables lack lines or hold points that are not whole numbers.
constexpr int kGaps = 1;

constexpr const char* kUsage =
    "usage: vpolv-sim SCENE --event place|finishes|scene [--object ID] [--out FILE]\n"
    "                 [--json] [--quiet] [--trace FILE]\n"
    "       vpolv-sim --replay TRACE [--record N]\n"
    "       vpolv-sim --scene-from-trace TRACE [--record N] --out SCENE\n"
    "       vpolv-sim --check SCENE\n"
    "       vpolv-sim --reference\n"
    "       vpolv-sim doctor [--host-folder DIR] [--json]\n";

constexpr const char* kHelp =
    "Runs one host event of the vpolv plug-in on a scene file, in an in-memory host, and\n"
    "reports every host call with its arguments and answer, every write (object, information\n"
    "code, old and new value), the glass priced, any warning box, what deserves a look and the\n"
    "event's result.\n"
    "\n"
    "  SCENE             the scene file (JSON; see docs/scene-format.md)\n"
    "  --event KIND      place     OnObjectPlaceAfter on the object of the call\n"
    "                    finishes  OnObjectFinishesAfter on the object of the call\n"
    "                    scene     OnSceneGenericFinishesAfter on the whole scene\n"
    "  --object ID       the object of the call, instead of the scene's \"callObject\"\n"
    "  --out FILE        write the scene as the event left it (same format), to chain events;\n"
    "                    through a symbolic link to its target, whole or not at all\n"
    "  --json            print the report as JSON\n"
    "  --trace FILE      have the plug-in append the event's record to this trace file\n"
    "                    (docs/trace-format.md); the run and the report are unchanged\n"
    "  --quiet           print only the writes, the warnings and what deserves a look\n"
    "  --check           run no event: list the surcharge lines (table 4) that the scene's\n"
    "                    cabinets and glass fronts would look up and do not find, and the\n"
    "                    points that are not whole numbers under the scene's separator\n"
    "  --reference       run no event and read no scene: print the glass pricing rules as\n"
    "                    Markdown, from the plug-in's own tables, with worked examples the\n"
    "                    plug-in computes (docs/pricing-reference.md holds this output)\n"
    "  --replay TRACE    run the core once more on a traced event, against a host that answers\n"
    "                    every call from the record, and compare: the same calls with the same\n"
    "                    arguments in the same order (the writes among them), the same result\n"
    "                    and error code; prints \"identical\" or the differences\n"
    "  --scene-from-trace TRACE\n"
    "                    write (--out) a scene file holding what the traced event read, so that\n"
    "                    the same event on it makes the same writes\n"
    "  --record N        the record of the trace to use, from 1 (default: the last)\n"
    "  --help            print this help\n"
    "  --                the next argument is the scene file, even if it starts with '-'\n"
    "  --version         print the plug-in's version\n"
    "  doctor            check this machine's set-up of the plug-in and change nothing\n"
    "                    (vpolv-sim doctor --help)\n"
    "\n"
    "Exit status: 0 the event returned True, 1 it returned False (its error is reported and\n"
    "also written to stderr), 2 a bad command line or scene file (nothing was run or written),\n"
    "3 the event ran but --out or the report could not be written.\n"
    "With --check: 0 nothing is missing, 1 the report lists what is, 2 a bad scene file.\n"
    "With --reference: 0, or 3 when the document could not be written.\n"
    "With --replay: 0 identical, 1 the report lists the differences, 2 a file that is not a\n"
    "trace or a record number out of range. With --scene-from-trace: 0 written, 2 a bad trace\n"
    "or a record a scene cannot express, 3 the scene could not be written.\n";

struct Options {
    fs::path scene;
    EventKind event = EventKind::Place;
    std::optional<vpolv::Long> object;
    std::optional<fs::path> out;
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool check = false;
    bool version = false;
    bool reference = false;
    std::optional<fs::path> trace;
    std::optional<fs::path> replay;
    std::optional<fs::path> sceneFromTrace;
    std::optional<long long> record;
};

struct UsageError {
    std::string message;
};

vpolv::Long parseObjectId(const std::string& text) {
    const std::size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    bool digits = start < text.size();
    for (std::size_t i = start; i < text.size(); ++i)
        digits = digits && text[i] >= '0' && text[i] <= '9';
    if (!digits)
        throw UsageError{"--object needs a whole number, not \"" + echo(text) + "\""};
    long long value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL)
            break;
    }
    if (text[0] == '-')
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX) {
        throw UsageError{"--object " + echo(text) +
                         ": out of range (a 32-bit whole number, -2147483648 to 2147483647)"};
    }
    return static_cast<vpolv::Long>(value);
}

Options parseCommandLine(const std::vector<std::string>& args) {
    Options options;
    bool haveEvent = false;
    std::optional<std::string> scene;
    std::vector<std::string> seen;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        const bool option = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (!option) {
            if (scene)
                throw UsageError{"only one scene file, not also \"" + echo(arg) + "\""};
            scene = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        const std::string name = arg == "-h" ? "--help" : arg;
        for (const auto& earlier : seen) {
            if (earlier == name)
                throw UsageError{echo(name) + " is given more than once"};
        }
        seen.push_back(name);
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= args.size())
                throw UsageError{arg + " needs a value"};
            return args[++i];
        };
        auto noValue = [&] {
            if (inlineValue)
                throw UsageError{arg + " takes no value"};
        };
        if (name == "--help") {
            noValue();
            options.help = true;
        } else if (arg == "--version") {
            noValue();
            options.version = true;
        } else if (arg == "--event") {
            const std::string kind = value();
            const auto event = vpolv::eventNamed(kind);
            if (!event) {
                throw UsageError{"unknown event \"" + echo(kind) + "\" (place, finishes or scene)"};
            }
            options.event = *event;
            haveEvent = true;
        } else if (arg == "--object") {
            options.object = parseObjectId(value());
        } else if (arg == "--out") {
            options.out = pathFromUtf8(value());
        } else if (arg == "--json") {
            noValue();
            options.json = true;
        } else if (arg == "--quiet") {
            noValue();
            options.quiet = true;
        } else if (arg == "--check") {
            noValue();
            options.check = true;
        } else if (arg == "--reference") {
            noValue();
            options.reference = true;
        } else if (arg == "--trace") {
            options.trace = pathFromUtf8(value());
        } else if (arg == "--replay") {
            options.replay = pathFromUtf8(value());
        } else if (arg == "--scene-from-trace") {
            options.sceneFromTrace = pathFromUtf8(value());
        } else if (arg == "--record") {
            const std::string text = value();
            const bool digits = !text.empty() && text.size() <= 9 &&
                                text.find_first_not_of("0123456789") == std::string::npos;
            if (!digits)
                throw UsageError{"--record needs a record number from 1, not \"" + echo(text) +
                                 "\""};
            options.record = std::stoll(text);
        } else {
            throw UsageError{"unknown option " + echo(arg)};
        }
    }
    if (options.help || options.version)
        return options;
    if (options.reference) {
        if (scene)
            throw UsageError{"--reference reads no scene file"};
        for (const auto& name : seen) {
            if (name != "--reference")
                throw UsageError{echo(name) + " does not go with --reference"};
        }
        return options;
    }
    if (options.replay || options.sceneFromTrace) {
        const char* mode = options.replay ? "--replay" : "--scene-from-trace";
        if (scene)
            throw UsageError{std::string(mode) + " reads no scene file"};
        for (const auto& name : seen) {
            const bool fits =
                name == mode || name == "--record" || (options.sceneFromTrace && name == "--out");
            if (!fits)
                throw UsageError{echo(name) + " does not go with " + mode};
        }
        if (options.sceneFromTrace && !options.out)
            throw UsageError{"--scene-from-trace needs --out"};
        return options;
    }
    if (options.record)
        throw UsageError{"--record goes with --replay or --scene-from-trace"};
    if (!scene)
        throw UsageError{"no scene file given"};
    options.scene = pathFromUtf8(*scene);
    if (options.check) {
        for (const char* other : {"--event", "--object", "--out", "--json", "--quiet", "--trace"}) {
            for (const auto& name : seen) {
                if (name == other)
                    throw UsageError{std::string(other) + " does not go with --check"};
            }
        }
        return options;
    }
    if (!haveEvent)
        throw UsageError{"no --event given"};
    if (options.object && options.event == EventKind::Scene) {
        throw UsageError{"--object does not apply to --event scene"};
    }
    return options;
}

bool print(const std::string& text) {
    return vpolv::sim::printToStdout(text, "vpolv-sim");
}

int check(const Options& options) {
    const auto scene = vpolv::sim::loadScene(options.scene);
    const auto found = vpolv::sim::checkTables(scene);
    if (!print(vpolv::sim::checkReport(scene, found)))
        return kNotWritten;
    return found.clean() ? kTrueResult : kGaps;
}

int run(const Options& options) {
    // Where --out goes is settled before anything runs.
    std::optional<fs::path> outTarget;
    if (options.out) {
        std::string reason;
        outTarget = vpolv::sim::outputTarget(*options.out, reason);
        if (!outTarget)
            throw vpolv::sim::SceneError("--out " + utf8Path(*options.out) + ": " + reason);
    }
    const auto scene = vpolv::sim::loadScene(options.scene);
    if (options.event != EventKind::Scene && !options.object && !scene.callObject) {
        throw vpolv::sim::SceneError(utf8Path(options.scene) +
                                     ": no \"callObject\" in the scene and no --object given");
    }
    std::unique_ptr<vpolv::platform::Trace> trace;
    if (options.trace)
        trace = vpolv::platform::makeFileTrace(vpolv::fromUtf8(utf8Path(*options.trace)));
    const auto result = vpolv::sim::runEvent(scene, options.event, options.object, trace.get());

    // The event ran: from here on a failure to write is exit status 3.
    const vpolv::sim::ReportOptions report{options.quiet};
    bool written = print(options.json ? vpolv::sim::jsonReport(scene, result, report)
                                      : vpolv::sim::textReport(scene, result, report));
    if (result.outcome.error) {
        std::cerr << "vpolv-sim: the event failed: " << echo(result.outcome.error->what()) << "\n";
    }
    if (outTarget) {
        const auto failed = vpolv::sim::writeWhole(
            *outTarget, vpolv::sim::sceneToJson(scene, result.after, *outTarget));
        if (failed) {
            std::cerr << "vpolv-sim: " << echo(utf8Path(*options.out))
                      << ": cannot be written: " << *failed << "\n";
            written = false;
        }
    }
    if (!written)
        return kNotWritten;
    return result.outcome.result == vpolv::kFalse ? kFalseResult : kTrueResult;
}

int replay(const Options& options) {
    const auto records = vpolv::sim::loadTrace(*options.replay);
    const auto& record = vpolv::sim::pickRecord(records, *options.replay, options.record);
    const auto result = vpolv::sim::replay(record);
    if (!print(vpolv::sim::replayReport(utf8Path(*options.replay), record, result)))
        return kNotWritten;
    return result.identical(record) ? kTrueResult : kFalseResult;
}

int sceneFromTrace(const Options& options) {
    std::string reason;
    const auto target = vpolv::sim::outputTarget(*options.out, reason);
    if (!target)
        throw vpolv::sim::SceneError("--out " + utf8Path(*options.out) + ": " + reason);
    const auto records = vpolv::sim::loadTrace(*options.sceneFromTrace);
    const auto& record = vpolv::sim::pickRecord(records, *options.sceneFromTrace, options.record);
    const std::string where = utf8Path(*options.sceneFromTrace) + ":" + std::to_string(record.line);
    const auto failed = vpolv::sim::writeSceneFromTrace(record, where, *target);
    if (failed) {
        std::cerr << "vpolv-sim: " << echo(utf8Path(*options.out))
                  << ": cannot be written: " << *failed << "\n";
        return kNotWritten;
    }
    return kTrueResult;
}

}  // namespace

int vpolv::sim::simulatorMain(const std::vector<std::string>& args) {
#ifdef SIGPIPE
    // A reader that went away is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    vpolv::testing::removeLeftoversOnInterrupt();
    if (!args.empty() && args[0] == "doctor")
        return vpolv::sim::doctor::command(std::vector<std::string>(args.begin() + 1, args.end()));
    Options options;
    try {
        options = parseCommandLine(args);
    } catch (const UsageError& e) {
        std::cerr << "vpolv-sim: " << e.message << "\n" << kUsage;
        return kBadInput;
    }
    if (options.help)
        return print(std::string(kUsage) + "\n" + kHelp) ? kTrueResult : kNotWritten;
    if (options.version) {
        return print("vpolv " + std::string(vpolv::kVersion) + "\n") ? kTrueResult : kNotWritten;
    }
    try {
        if (options.reference)
            return print(vpolv::sim::pricingReference()) ? kTrueResult : kNotWritten;
        if (options.replay)
            return replay(options);
        if (options.sceneFromTrace)
            return sceneFromTrace(options);
        return options.check ? check(options) : run(options);
    } catch (const vpolv::sim::SceneError& e) {
        std::cerr << "vpolv-sim: " << e.what() << "\n";
        return kBadInput;
    }
}

#ifndef _WIN32
// Windows has an entry of its own (windows_main.cpp), which reads the command line as UTF-16.
int main(int argc, char** argv) {
    return vpolv::sim::simulatorMain(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
