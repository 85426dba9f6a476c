// Every command of vpolv-sim declared on CLI11: for each, its options bound to its options struct,
// its description and exit statuses, and its function as the callback that runs it.
#include <algorithm>
#include <limits>
#include <vector>

#include "common/types.h"
#include "host/event.h"
#include "sim/commands/command.h"

namespace vpolv::sim {

using standalone::Console;

namespace {

// What the command did not take (an unknown option, a second file), refused as CLI11 refuses
// it: CLI11 2.1 names the arguments in reverse order, so each command keeps them (allow_extras)
// and this names them in the order given.
void refuseExtras(const CLI::App& app) {
    std::vector<std::string> extras = app.remaining();
    // CLI11 keeps the "--" that ends the options among them, and does not count it.
    for (std::size_t marks = extras.size() - app.remaining_size(); marks > 0; --marks)
        extras.erase(std::find(extras.begin(), extras.end(), "--"));
    if (!extras.empty()) {
        std::reverse(extras.begin(), extras.end());
        throw CLI::ExtrasError(app.get_name(), extras);
    }
}

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

// Declares a subcommand of parent, its help ending with what its exit statuses mean: the options
// its setup binds to *options, function runs on them once CLI11 has parsed and checked the
// command line.
template <class Options>
CLI::App* addCommand(CLI::App& parent, Session& session, const std::string& name,
                     const std::string& description, const std::string& exitStatus,
                     std::shared_ptr<Options> options,
                     int (*function)(const Options&, const Console&)) {
    CLI::App* app = parent.add_subcommand(name, description);
    app->allow_extras();
    app->footer(exitStatus.empty() ? "" : "Exit status: " + exitStatus);
    app->callback(Callback<Options>{app, std::move(options), function, &session});
    return app;
}

// Every option is given at most once: the options by the policy every command takes from
// option_defaults(), the flags (which CLI11 lets repeat) by this.
CLI::Option* addFlag(CLI::App& app, const std::string& name, bool& value,
                     const std::string& description) {
    return app.add_flag(name, value, description)
        ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

// --record of the trace commands: a record number from 1.
void addRecord(CLI::App& app, std::optional<long long>& record) {
    app.add_option("--record", record, "the record of the trace to use, from 1 (default: the last)")
        ->check(CLI::Range(1LL, static_cast<long long>(std::numeric_limits<int>::max())));
}

// A name that may not be empty: a folder or a file. A named type and not a lambda: the release
// builds' symbols name a lambda after the path of its source file, so that two builds of the same
// sources in two folders would differ.
struct NotEmpty {
    std::string what;
    std::string operator()(const std::string& name) const {
        return name.empty() ? "needs a " + what + ", not an empty text" : std::string();
    }
};
CLI::Validator notEmpty(const std::string& what) {
    return CLI::Validator(NotEmpty{what}, "");
}

// "TRACE" of the trace commands.
void addTrace(CLI::App& app, std::string& trace) {
    app.add_option("TRACE", trace,
                   "the trace file (docs/trace-format.md), or a support bundle holding it")
        ->required();
}

}  // namespace

CLI::App* setupRun(CLI::App& parent, Session& session) {
    auto options = std::make_shared<RunOptions>();
    CLI::App* app = addCommand(
        parent, session, "run",
        "Runs one host event of the plug-in on a scene file, in an in-memory host, and "
        "reports every host call with its arguments and answer, every write, the glass "
        "priced, any warning box, what deserves a look and the event's result.",
        "0 the event returned True, 1 it returned False (its error is reported and "
        "also written to stderr), 2 a bad command line or scene file (nothing was run or "
        "written), 3 the event ran but --out or the report could not be written.",
        options, runCommand);
    app->add_option("SCENE", options->scene, "the scene file (JSON; see docs/scene-format.md)")
        ->required();
    std::vector<std::string> events;
    for (const Event event : kEvents)
        events.emplace_back(eventName(event));
    app->add_option("--event", options->event,
                    "place: OnObjectPlaceAfter on the object of the call; finishes: "
                    "OnObjectFinishesAfter on it; scene: OnSceneGenericFinishesAfter on the whole "
                    "scene")
        ->required()
        ->check(CLI::IsMember(events));
    app->add_option("--object", options->object,
                    "the object of the call, instead of the scene's callObject")
        ->check(CLI::Range(static_cast<long long>(std::numeric_limits<Long>::min()),
                           static_cast<long long>(std::numeric_limits<Long>::max())));
    app->add_option("--out", options->out,
                    "write the scene as the event left it (same format), to chain events; through "
                    "a symbolic link to its target, whole or not at all");
    addFlag(*app, "--json", options->json, "print the report as JSON");
    addFlag(*app, "--quiet", options->quiet,
            "print only the writes, the warnings and what deserves a look");
    app->add_option("--trace", options->trace,
                    "have the plug-in append the event's record to this trace file "
                    "(docs/trace-format.md); the run and the report are unchanged");
    return app;
}

CLI::App* setupCheck(CLI::App& parent, Session& session) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* app = addCommand(
        parent, session, "check",
        "Runs no event: lists the surcharge lines (table 4) that the scene's cabinets and glass "
        "fronts would look up and do not find, and the points that are not whole numbers under "
        "the scene's separator.",
        "0 nothing is missing, 1 the report lists what is, 2 a bad command "
        "line or scene file, 3 the report could not be written.",
        options, checkCommand);
    app->add_option("SCENE", options->scene, "the scene file")->required();
    return app;
}

CLI::App* setupReference(CLI::App& parent, Session& session) {
    return addCommand(
        parent, session, "reference",
        "Runs no event and reads no scene: prints the glass pricing rules as Markdown, from the "
        "plug-in's own tables, with worked examples the plug-in computes "
        "(docs/pricing-reference.md holds this output).",
        "0, or 3 when the document could not be written.", std::make_shared<NoOptions>(),
        referenceCommand);
}

CLI::App* setupReplay(CLI::App& parent, Session& session) {
    auto options = std::make_shared<ReplayOptions>();
    CLI::App* app = addCommand(
        parent, session, "replay",
        "Runs the core once more on a traced event, against a host that answers every call from "
        "the record, and compares: the same calls with the same arguments in the same order "
        "(the writes among them), the same result and error code; prints \"identical\" or the "
        "differences.",
        "0 identical, 1 the report lists the differences, 2 a file that is "
        "not a trace (nor a bundle holding one) or a record number out of range.",
        options, replayCommand);
    addTrace(*app, options->trace);
    addRecord(*app, options->record);
    return app;
}

CLI::App* setupSceneFromTrace(CLI::App& parent, Session& session) {
    auto options = std::make_shared<SceneFromTraceOptions>();
    CLI::App* app = addCommand(
        parent, session, "scene-from-trace",
        "Writes (--out) a scene file holding what a traced event read, so that the same event on "
        "it makes the same writes.",
        "0 written, 2 a bad trace or a record a scene cannot express, 3 the "
        "scene could not be written.",
        options, sceneFromTraceCommand);
    addTrace(*app, options->trace);
    addRecord(*app, options->record);
    app->add_option("--out", options->out, "the scene file to write")->required();
    return app;
}

CLI::App* setupDoctor(CLI::App& parent, Session& session) {
    auto options = std::make_shared<support::doctor::Options>();
    CLI::App* app = addCommand(
        parent, session, "doctor",
        "Checks whether this machine is set up for the vpolv plug-in, and changes nothing. One "
        "line per check, \"ok\" or \"problem:\" with what is wrong and what to do.\n"
        "\n"
        "On Windows, in both registry views (32-bit and 64-bit hosts) and for the per-user and "
        "the per-machine registration: the class vpolv.Plugin (ProgID, InprocServer32, "
        "ThreadingModel, the type library), the DLL it names (there, of the view's bitness, its "
        "version record and signature), the SPACE.INI in that DLL's folder, the catalogs folder "
        "it names and the catalog files for 503 and 570 as the plug-in finds them, the trace "
        "switch (and whether this user may append to the trace and rotate it, from the rights "
        "Windows grants: nothing is written) and the installer's record. Everywhere: the user's "
        "decimal separator.",
        "0 every check is ok, 1 a problem was found, 2 the checks could not be "
        "made.",
        options, support::doctor::command);
    app->add_option("--host-folder", options->hostFolder,
                    "check a host folder instead (SPACE.INI and the catalogs), registered or "
                    "not; the only checks without Windows")
        ->type_name("DIR")
        ->check(notEmpty("folder"));
    addFlag(*app, "--json", options->json, "print the report as one JSON document");
    return app;
}

CLI::App* setupTrace(CLI::App& parent, Session& session) {
    CLI::App* app = parent.add_subcommand(
        "trace",
        "Switches the plug-in's trace on and off for the user running it, on Windows: the "
        "value TraceFile under HKEY_CURRENT_USER\\Software\\vpolv, which names the file the "
        "plug-in appends one record to for every event (docs/trace-format.md). The "
        "machine-wide value under HKEY_LOCAL_MACHINE is only read. No administrator rights are "
        "needed; the change takes effect with the host's next event.");
    app->require_subcommand(1);
    auto onOptions = std::make_shared<TraceOnOptions>();
    CLI::App* on = addCommand(
        *app, session, "on",
        "Switches the trace on into FILE, or into a new file named with the date and time "
        "under %LOCALAPPDATA%\\vpolv\\ (the folder is made), and prints the file. When it is on "
        "already: into the same file (or FILE not given), it says so and changes nothing; into "
        "another, it switches to FILE and says which file it replaced.",
        "", onOptions, traceOnCommand);
    on->add_option("FILE", onOptions->file, "the trace file (its folder is made)")
        ->type_name("FILE");
    addCommand(*app, session, "off",
               "Switches the trace off: removes the user's value (or, when a vpolv-sim run that "
               "was ended left it switched, puts back the value it replaced) and prints where the "
               "trace was written, with the older part renamed to .1 at 10 MiB. A machine-wide "
               "value that keeps tracing is named, not changed.",
               "", std::make_shared<NoOptions>(), traceOffCommand);
    addCommand(*app, session, "status",
               "Prints the user's value, the machine-wide value, which one the plug-in uses, the "
               "trace file's size, and a switch that a vpolv-sim run that was ended left on.",
               "", std::make_shared<NoOptions>(), traceStatusCommand);
    app->footer("Exit status: 0 done, 2 it could not be done (or not on Windows).");
    return app;
}

CLI::App* setupCollect(CLI::App& parent, Session& session) {
    auto options = std::make_shared<support::collect::Options>();
    CLI::App* app = addCommand(
        parent, session, "collect",
        "Collects a wrong price's case on the designer's machine in one step, run as the "
        "designer (Windows; no administrator rights). Runs the doctor; switches the trace on "
        "for this user only, into a new file under %LOCALAPPDATA%\\vpolv; asks the designer to "
        "repeat the placement or the change of finishes in the host and press Enter (or waits "
        "--wait seconds), counting the events traced; puts the user's switch back as it was "
        "(also on Ctrl+C, which ends the waiting, and on a closed console window; the "
        "machine-wide switch is never touched); writes one zip for the ticket: trace.jsonl, "
        "doctor.json, versions.txt, the SPACE.INI the plug-in reads and README.txt. Its path "
        "is printed last. \"vpolv-sim replay BUNDLE\" replays it.",
        "0 collected, with at least one event; 1 collected, but no event was "
        "traced (the bundle says so); 2 could not collect (not Windows, a switch held by "
        "another collect, the bundle not written).",
        options, support::collect::run);
    app->add_option("--out", options->out,
                    "the zip to write (default: vpolv-case-DATE-TIME.zip on the Desktop, or in "
                    "the current folder without one)")
        ->type_name("FILE")
        ->check(notEmpty("file"));
    app->add_option("--wait", options->waitSeconds, "wait this many seconds instead of until Enter")
        ->type_name("SECONDS")
        ->check(CLI::Range(1LL, 86400LL));
    addFlag(*app, "--json", options->json,
            "print the summary as one JSON document (the progress goes to standard error)");
    return app;
}

}  // namespace vpolv::sim
