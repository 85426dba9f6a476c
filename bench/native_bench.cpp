// The plug-in's own cost per host call on the in-memory host: each event through vpolv::Plugin
// against a bare replay of the same host calls, SPACE.INI reads and catalogs-folder listings.
//
//   vpolv-bench-native [--quick] [--case NAME]
//   vpolv-bench-native --case NAME --iterations N [--replay]
//       runs only the event loop (or the replay loop), for callgrind or perf
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "bench/measure.h"
#include "bench/scenes.h"
#include "common/fixed_locale.h"
#include "common/text.h"
#include "host/memory_host.h"
#include "platform/native.h"
#include "plugin/plugin.h"
#include "standalone/temporary_folder.h"
#include "testkit/doubles.h"

namespace vpolv::bench {
namespace {

namespace fs = std::filesystem;

// The plug-in's folder: SPACE.INI naming a catalogs folder whose subfolder "B" holds the
// catalog file ("A" an empty one, "C" none).
struct PluginFolder : standalone::TemporaryFolder {
    PluginFolder() : TemporaryFolder("vpolv-bench-") {
        write("catalogs/A/polvas10.cat", "");
        write("catalogs/B/polvas10.cat", "catalog");
        mkdir("catalogs/C");
        write("catalogs/polvas13.cat", "catalog");
        write("SPACE.INI", "[Local]\nCatalogsDir=\n[InSitu]\nCatalogsDir=" +
                               (path() / "catalogs").string() + "/\n");
    }
};

struct Environment {
    PluginFolder folder;
    FixedLocale locale{u'.'};
    std::unique_ptr<platform::FileSystem> files =
        platform::makeFileSystem(fromUtf8(folder.path().string()));
    std::unique_ptr<platform::Profile> profile = platform::makeProfile();
    testing::RecordingMessageBox boxes;
    platform::Services services{locale, *files, *profile, boxes, nullptr};
};

// A recorded host call, ready to be made again: its numbers in variables of their own (the
// by-reference ones among them, as a caller keeps them), its texts in the program's pool.
struct Step {
    static constexpr std::size_t kMax = 6;
    host::Operation op;
    std::array<host::Arg::Kind, kMax> kinds{};
    std::array<Long, kMax> longs{};
    std::array<Text*, kMax> texts{};

    // The i-th argument as the operation declares it (see host::invokeWith).
    template <class P>
    P get(std::size_t i) {
        if constexpr (std::is_same_v<P, Long&>)
            return longs[i];
        else if constexpr (std::is_same_v<P, Long>)
            return longs[i];
        else if constexpr (std::is_same_v<P, Integer>)
            return static_cast<Integer>(longs[i]);
        else if constexpr (std::is_same_v<P, bool>)
            return longs[i] != 0;
        else if constexpr (std::is_same_v<P, host::ObjectArg>)
            return kinds[i] == host::Arg::Kind::I2 ? host::ObjectArg::current()
                                                   : host::ObjectArg::id(longs[i]);
        else
            return kinds[i] == host::Arg::Kind::StrRef ? host::TextArg::byRef(*texts[i])
                                                       : host::TextArg::byValue(*texts[i]);
    }
};

struct Program {
    std::vector<Step> steps;
    std::deque<Text> texts;
};

Program programOf(const std::vector<host::Call>& calls) {
    Program program;
    for (const auto& call : calls) {
        Step step{call.operation};
        for (std::size_t i = 0; i < call.args.size(); ++i) {
            const host::Arg& arg = call.args[i];
            step.kinds[i] = arg.kind;
            step.longs[i] = arg.number;
            if (arg.kind == host::Arg::Kind::Str || arg.kind == host::Arg::Kind::StrRef)
                step.texts[i] = &program.texts.emplace_back(arg.text);
        }
        program.steps.push_back(step);
    }
    return program;
}

// The same host objects and calls as one event, made straight.
void replay(host::MemoryHost& host, Program& program) {
    // Named after their objects, as the operations' table names them.
#define VPOLV_HOST_OBJECT(kind, progId) \
    const std::unique_ptr<host::kind> kind = host.create##kind();
#include "host/objects.def"
    for (Step& s : program.steps) {
        switch (s.op) {
#define VPOLV_OPERATION(object, name, result, parameters, arguments) \
    case host::Operation::name:                                      \
        host::invokeWith(*object, &host::object::name, s);           \
        break;
#include "host/operations.def"
            case host::Operation::CreateObject:
            case host::Operation::Release:
                break;
        }
    }
}

// What the plug-in asks of the platform before each catalog load: the catalogs folder from
// SPACE.INI, its listing and the length of the catalog file in each subfolder.
void iniAndFolder(const platform::Services& sys) {
    const Text ini = sys.files.moduleFolder() + u"/SPACE.INI";
    Text dir;
    for (const char16_t* section : {u"Local", u"InSitu", u"Remote"}) {
        dir = sys.profile.readString(ini, section, u"CatalogsDir");
        if (!dir.empty())
            break;
    }
    for (const auto& entry : sys.files.listDirectory(dir)) {
        if (!entry.directory || entry.name == u"." || entry.name == u"..")
            continue;
        try {
            sys.files.fileLength(dir + entry.name + u"/polvas10.cat");
        } catch (const Error&) {
        }
    }
}

std::size_t countOf(const Program& program, host::Operation op) {
    std::size_t n = 0;
    for (const auto& s : program.steps)
        n += s.op == op;
    return n;
}

// One case: the plug-in on its host, and the recorded calls to replay on another.
struct Bench {
    Case c;
    Environment& env;
    host::MemoryHost eventHost{c.scene, env.locale};
    host::MemoryHost replayHost{c.scene, env.locale};
    Plugin plugin{eventHost, env.services};
    Program program;
    std::size_t loads = 0;

    Bench(Case cs, Environment& e) : c(std::move(cs)), env(e) {
        // Twice: the second event reads what the first one wrote, as every later one does.
        for (int run = 0; run < 2; ++run) {
            eventHost.clearRecords();
            if (plugin.fire(c.event, kCallParams) != kTrue)
                throw std::runtime_error(c.name + ": the event did not succeed");
        }
        if (eventHost.writes().size() != c.writes || !env.boxes.shown.empty() ||
            eventHost.liveObjects() != 0) {
            throw std::runtime_error(c.name + ": " + std::to_string(eventHost.writes().size()) +
                                     " surcharge writes, " + std::to_string(c.writes) +
                                     " expected");
        }
        program = programOf(eventHost.calls());
        loads = countOf(program, host::Operation::FileLoad);
        eventHost.clearRecords();
    }

    void event() {
        if (plugin.fire(c.event, kCallParams) != kTrue)
            std::abort();
    }
};

}  // namespace

// The loops run alone for profiling; kept out of line so that callgrind can count them alone
// (--toggle-collect='*eventLoop*').
[[gnu::noinline]] void eventLoop(Bench& bench, long iterations) {
    for (long i = 0; i < iterations; ++i) {
        bench.event();
        bench.eventHost.clearRecords();
    }
}

[[gnu::noinline]] void replayLoop(Bench& bench, long iterations) {
    for (long i = 0; i < iterations; ++i) {
        replay(bench.replayHost, bench.program);
        for (std::size_t n = 0; n < bench.loads; ++n)
            iniAndFolder(bench.env.services);
        bench.replayHost.clearRecords();
    }
}

namespace {

int profileLoop(const std::string& name, long iterations, bool replaySide) {
    Environment env;
    Bench bench(makeCase(name), env);
    if (replaySide) {
        replayLoop(bench, iterations);
    } else {
        eventLoop(bench, iterations);
    }
    std::printf("%s: %ld %s, %zu host calls each\n", name.c_str(), iterations,
                replaySide ? "replays" : "events", bench.program.steps.size());
    return 0;
}

// Times the case against its bare replay; adds its row and gives its seconds per event.
double measure(const std::string& name, int rounds, double blockSeconds, Table& table) {
    Environment env;
    Bench bench(makeCase(name), env);
    const auto clearEvent = [&] { bench.eventHost.clearRecords(); };
    const auto clearReplay = [&] { bench.replayHost.clearRecords(); };
    Side event{[&] { bench.event(); }, clearEvent};
    Side replayed{[&] { replay(bench.replayHost, bench.program); }, clearReplay};
    Side files{[&] {
        for (std::size_t n = 0; n < bench.loads; ++n)
            iniAndFolder(env.services);
    }};
    const auto bareScene = bench.replayHost.createScene();
    Long session = bench.c.scene.sessionId;
    Long object = bench.c.scene.sceneObjects.front();
    Side bare{[&] { bareScene->ObjectGetInfo(session, host::ObjectArg::id(object), 2); },
              clearReplay, true};
    return timeCase(name, bench.program.steps.size(), {event, replayed, files, bare}, rounds,
                    blockSeconds, table);
}

int usage() {
    std::fprintf(stderr,
                 "usage: vpolv-bench-native [--quick] [--case NAME]\n"
                 "       vpolv-bench-native --case NAME --iterations N [--replay]\n"
                 "cases:");
    for (const auto& name : caseNames())
        std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    return 2;
}

int run(int argc, char** argv) {
    bool quick = false;
    bool replaySide = false;
    long iterations = -1;
    std::vector<std::string> cases;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--replay") {
            replaySide = true;
        } else if (arg == "--case" && i + 1 < argc) {
            cases.push_back(argv[++i]);
        } else if (arg == "--iterations" && i + 1 < argc) {
            iterations = std::atol(argv[++i]);
        } else {
            return usage();
        }
    }
    if (iterations >= 0) {
        if (cases.size() != 1)
            return usage();
        return profileLoop(cases.front(), iterations, replaySide);
    }
    if (cases.empty())
        cases = caseNames();
    measureCases("native: the in-memory host", cases, quick, {}, measure);
    return 0;
}

}  // namespace
}  // namespace vpolv::bench

int main(int argc, char** argv) {
    try {
        return vpolv::bench::run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vpolv-bench-native: %s\n", e.what());
        return 1;
    }
}
