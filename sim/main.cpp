// vpolv-sim: runs one host event of the plug-in on a scene file and reports what it did.
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "common/release.h"
#include "sim/report.h"
#include "sim/run.h"
#include "sim/scene_file.h"

namespace {

namespace fs = std::filesystem;
using vpolv::sim::EventKind;

constexpr int kTrueResult = 0;
constexpr int kFalseResult = 1;
constexpr int kBadInput = 2;

constexpr const char* kUsage =
    "usage: vpolv-sim SCENE --event place|finishes|scene [--object ID] [--out FILE]\n"
    "                 [--json] [--quiet]\n";

constexpr const char* kHelp =
    "Runs one host event of the vpolv plug-in on a scene file, in an in-memory host, and\n"
    "reports every host call with its arguments and answer, every write (object, information\n"
    "code, old and new value), the glass priced, any warning box and the event's result.\n"
    "\n"
    "  SCENE             the scene file (JSON; see docs/scene-format.md)\n"
    "  --event KIND      place     OnObjectPlaceAfter on the object of the call\n"
    "                    finishes  OnObjectFinishesAfter on the object of the call\n"
    "                    scene     OnSceneGenericFinishesAfter on the whole scene\n"
    "  --object ID       the object of the call, instead of the scene's \"callObject\"\n"
    "  --out FILE        write the scene as the event left it (same format), to chain events\n"
    "  --json            print the report as JSON\n"
    "  --quiet           print only the writes and the warnings\n"
    "  --help            print this help\n"
    "  --version         print the plug-in's version\n"
    "\n"
    "Exit status: 0 the event returned True, 1 it returned False (its error is reported),\n"
    "2 a bad command line or scene file.\n";

struct Options {
    fs::path scene;
    EventKind event = EventKind::Place;
    std::optional<vpolv::Long> object;
    std::optional<fs::path> out;
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

struct UsageError {
    std::string message;
};

vpolv::Long parseObjectId(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        throw UsageError{"--object needs a whole number, not \"" + text + "\""};
    }
    return static_cast<vpolv::Long>(value);
}

Options parseCommandLine(const std::vector<std::string>& args) {
    Options options;
    bool haveEvent = false;
    std::optional<std::string> scene;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
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
        if (arg == "--help" || arg == "-h") {
            noValue();
            options.help = true;
        } else if (arg == "--version") {
            noValue();
            options.version = true;
        } else if (arg == "--event") {
            const std::string name = value();
            const auto kind = vpolv::sim::eventKindFromName(name);
            if (!kind)
                throw UsageError{"unknown event \"" + name + "\" (place, finishes or scene)"};
            options.event = *kind;
            haveEvent = true;
        } else if (arg == "--object") {
            options.object = parseObjectId(value());
        } else if (arg == "--out") {
            options.out = value();
        } else if (arg == "--json") {
            noValue();
            options.json = true;
        } else if (arg == "--quiet") {
            noValue();
            options.quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + arg};
        } else if (scene) {
            throw UsageError{"only one scene file, not also \"" + arg + "\""};
        } else {
            scene = arg;
        }
    }
    if (options.help || options.version)
        return options;
    if (!scene)
        throw UsageError{"no scene file given"};
    if (!haveEvent)
        throw UsageError{"no --event given"};
    if (options.object && options.event == EventKind::Scene) {
        throw UsageError{"--object does not apply to --event scene"};
    }
    options.scene = *scene;
    return options;
}

// Writes the file in full or not at all.
void writeWhole(const fs::path& file, const std::string& contents) {
    const fs::path partial = file.string() + ".partial";
    {
        std::ofstream out(partial, std::ios::binary);
        out << contents;
        if (!out.flush()) {
            std::error_code ignored;
            fs::remove(partial, ignored);
            throw vpolv::sim::SceneError(file.string() + ": cannot be written");
        }
    }
    std::error_code error;
    fs::rename(partial, file, error);
    if (error) {
        fs::remove(partial, error);
        throw vpolv::sim::SceneError(file.string() + ": cannot be written");
    }
}

int run(const Options& options) {
    const auto scene = vpolv::sim::loadScene(options.scene);
    if (options.event != EventKind::Scene && !options.object && !scene.callObject) {
        throw vpolv::sim::SceneError(options.scene.string() +
                                     ": no \"callObject\" in the scene and no --object given");
    }
    const auto result = vpolv::sim::runEvent(scene, options.event, options.object);
    const vpolv::sim::ReportOptions report{options.quiet};
    std::cout << (options.json ? vpolv::sim::jsonReport(scene, result, report)
                               : vpolv::sim::textReport(scene, result, report));
    if (options.quiet && !options.json && result.outcome.error) {
        std::cerr << "vpolv-sim: the event failed: " << result.outcome.error->what() << "\n";
    }
    if (options.out) {
        writeWhole(*options.out, vpolv::sim::sceneToJson(scene, result.after, *options.out));
    }
    return result.outcome.result == vpolv::kFalse ? kFalseResult : kTrueResult;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "vpolv-sim: " << e.message << "\n" << kUsage;
        return kBadInput;
    }
    if (options.help) {
        std::cout << kUsage << "\n" << kHelp;
        return kTrueResult;
    }
    if (options.version) {
        std::cout << "vpolv " << vpolv::kVersion << "\n";
        return kTrueResult;
    }
    try {
        return run(options);
    } catch (const vpolv::sim::SceneError& e) {
        std::cerr << "vpolv-sim: " << e.what() << "\n";
        return kBadInput;
    }
}
