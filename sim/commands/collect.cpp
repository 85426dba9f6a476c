// vpolv-sim collect: its command line (the collection itself: support/collect.h).
#include "support/collect.h"

#include "sim/commands/command.h"

namespace vpolv::sim {

using namespace support;

namespace {

struct CollectOptions {
    collect::Options run;
};

int collectCommand(const CollectOptions& options, const Console& console) {
    return collect::run(options.run, console);
}

std::string notEmpty(const std::string& file) {
    return file.empty() ? "needs a file, not an empty text" : "";
}

}  // namespace

CLI::App* setupCollect(CLI::App& parent, Session& session) {
    auto options = std::make_shared<CollectOptions>();
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
        options, collectCommand);
    app->add_option("--out", options->run.out,
                    "the zip to write (default: vpolv-case-DATE-TIME.zip on the Desktop, or in "
                    "the current folder without one)")
        ->type_name("FILE")
        ->check(CLI::Validator(notEmpty, ""));
    app->add_option("--wait", options->run.waitSeconds,
                    "wait this many seconds instead of until Enter")
        ->type_name("SECONDS")
        ->check(CLI::Range(1LL, 86400LL));
    app->add_flag("--json", options->run.json,
                  "print the summary as one JSON document (the progress goes to standard error)");
    app->footer(
        "Exit status: 0 collected, with at least one event; 1 collected, but no event was "
        "traced (the bundle says so); 2 could not collect (not Windows, a switch held by "
        "another collect, the bundle not written).");
    return app;
}

}  // namespace vpolv::sim
