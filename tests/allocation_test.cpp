// Memory running out at every point of an event: each allocation of the plug-in (and each
// system allocation its platform makes for it) fails in turn, from the first until the event
// runs through without a failure. Every run ends True with exactly the calls and writes of a
// run with memory enough (the failure was absorbed), or False with the out-of-memory error; it
// ends the session it started, once, and releases every host object; the sanitizers' build
// finds any leak at exit. With the trace on, the runs that fail are the same as without it,
// call for call: the trace's own allocations never change an event. And vpolv-sim, failing
// where nothing of its own expects it, ends with its status for the unexpected.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

#include "catalog/constantes.h"
#include "platform/native.h"
#include "platform/posix/posix_platform.h"
#include "sim/formats/scene_file.h"
#include "sim/sim.h"
#include "support/failing_allocation.h"
#include "support/harness.h"
#include "support/nested_events.h"

namespace vpolv::testing {
namespace {

// The host's own work: not counted.
template <class F>
auto hostWork(F&& work) {
    const allocation::Paused paused;
    return work();
}

// The in-memory host seen through objects that keep its work out of the count.
template <class Object>
class HostObject : public Object {
  public:
    explicit HostObject(std::unique_ptr<Object> inner) : inner_(std::move(inner)) {}
    ~HostObject() override {
        hostWork([&] { inner_.reset(); });
    }

  protected:
    template <class R, class... Args, class... Given>
    R call(R (Object::*operation)(Args...), Given&&... args) {
        return hostWork([&] { return ((*inner_).*operation)(std::forward<Given>(args)...); });
    }

  private:
    std::unique_ptr<Object> inner_;
};

class Appli final : public HostObject<host::Appli> {
  public:
    using HostObject::HostObject;
    Long StartSessionFromCallParams(Long& block) override {
        return call(&host::Appli::StartSessionFromCallParams, block);
    }
    bool EndSession(Long& s) override { return call(&host::Appli::EndSession, s); }
};

class Scene final : public HostObject<host::Scene> {
  public:
    using HostObject::HostObject;
    Text ObjectGetInfo(Long& s, host::ObjectArg o, Long code) override {
        return call(&host::Scene::ObjectGetInfo, s, o, code);
    }
    void ObjectSetInfo(Long& s, host::ObjectArg o, host::TextArg value, Long code) override {
        call(&host::Scene::ObjectSetInfo, s, o, value, code);
    }
    Long SceneGetObjectsNb(Long& s) override { return call(&host::Scene::SceneGetObjectsNb, s); }
    Long SceneGetObjectId(Long& s, Long& rank) override {
        return call(&host::Scene::SceneGetObjectId, s, rank);
    }
    Long ObjectGetChildrenNb(Long& s, host::ObjectArg o, Integer zero) override {
        return call(&host::Scene::ObjectGetChildrenNb, s, o, zero);
    }
    Long ObjectGetChildId(Long& s, host::ObjectArg o, Long& rank, Integer zero) override {
        return call(&host::Scene::ObjectGetChildId, s, o, rank, zero);
    }
    Text SceneGetKeywordInfo(Long& s, host::TextArg keyword) override {
        return call(&host::Scene::SceneGetKeywordInfo, s, keyword);
    }
};

class Catalog final : public HostObject<host::Catalog> {
  public:
    using HostObject::HostObject;
    Long TableGetLineRankFromName(Long& s, Integer table, Integer zero, Integer one,
                                  host::TextArg line, bool flag) override {
        return call(&host::Catalog::TableGetLineRankFromName, s, table, zero, one, line, flag);
    }
    Text TableGetLineInfo(Long& s, Integer table, Integer zero, Long& rank,
                          Integer column) override {
        return call(&host::Catalog::TableGetLineInfo, s, table, zero, rank, column);
    }
    bool FileLoad(Long& s, host::TextArg file, host::TextArg code) override {
        return call(&host::Catalog::FileLoad, s, file, code);
    }
};

class Host final : public host::Connector {
  public:
    explicit Host(host::MemoryHost& memory) : memory_(memory) {}
    std::unique_ptr<host::Appli> createAppli() override { return create<Appli>(&M::createAppli); }
    std::unique_ptr<host::Scene> createScene() override { return create<Scene>(&M::createScene); }
    std::unique_ptr<host::Catalog> createCatalog() override {
        return create<Catalog>(&M::createCatalog);
    }

  private:
    using M = host::MemoryHost;
    template <class Wrapper, class Object>
    std::unique_ptr<Object> create(std::unique_ptr<Object> (M::*make)()) {
        return hostWork([&]() -> std::unique_ptr<Object> {
            return std::make_unique<Wrapper>((memory_.*make)());
        });
    }
    host::MemoryHost& memory_;
};

// The box, and what the host does while it is up.
struct Box final : platform::Dialogs {
    void show(const Text&, const Text&, Long) override {
        if (whileShown)
            whileShown();
    }
    std::function<void()> whileShown;
};

enum class Kind { Place, Finishes, Scene, Nested };
const char* const kKindNames[] = {"Place", "Finishes", "Scene", "Nested"};

// What one run of an event left.
struct Run {
    bool failed = false;  // the chosen allocation failed
    std::size_t allocations = 0;
    Outcome outcome;
    std::optional<Outcome> inner;  // the event run from inside the box
    std::vector<host::Call> calls;
    std::vector<std::string> writes;
    int liveObjects = 0;
};

std::vector<std::string> lines(const std::vector<host::Call>& calls) {
    std::vector<std::string> out;
    for (const auto& call : calls)
        out.push_back(call.toString());
    return out;
}

// The system calls of the file system and the profile, counted while failAt is set: the chosen
// one fails with the chosen error and is named in failed.
struct SystemCalls {
    std::size_t failAt = 0;
    int error = 0;
    std::size_t counted = 0;
    std::string failed;
};
SystemCalls gSystemCalls;

int systemCall(const char* call) {
    if (gSystemCalls.failAt > 0) {
        if (++gSystemCalls.counted != gSystemCalls.failAt)
            return 0;
        gSystemCalls.failed = call;
        return gSystemCalls.error;
    }
    // Opening a directory allocates memory of its own: it counts among the allocations.
    return std::strcmp(call, "opendir") == 0 && allocation::next() ? ENOMEM : 0;
}

// The example showroom (or the two cabinets of nested events) with the platform's own files,
// the trace on or off.
class Surroundings {
  public:
    Surroundings(Kind kind, bool traced)
        : kind_(kind),
          showroom_(sim::loadScene(VPOLV_EXAMPLES_DIR "/showroom.json")),
          locale_(showroom_.numbers),
          files_(platform::makeFileSystem(toText(module_.path()))),
          profile_(platform::makeProfile()),
          trace_(platform::makeFileTrace(toText(module_.path() / "trace.jsonl"))),
          services_{locale_, *files_, *profile_, box_, traced ? trace_.get() : nullptr} {
        if (kind != Kind::Nested)
            module_.write("SPACE.INI", showroom_.spaceIni.contents);
        platform::posix::failingSystemCall = &systemCall;
    }
    ~Surroundings() { platform::posix::failingSystemCall = nullptr; }

    // Runs the event with its n-th allocation failing (none with 0).
    Run run(std::size_t n) {
        Run out;
        host::MemoryHost memory(kind_ == Kind::Nested ? nested::twoCabinets() : showroom_.scene,
                                locale_);
        Host host(memory);
        Plugin plugin(host, services_);
        Plugin other(host, services_);
        box_.whileShown = nullptr;
        if (kind_ == Kind::Nested) {
            box_.whileShown = [&] {
                out.inner = guarded([&] { return other.OnObjectPlaceAfter(nested::kInnerBlock); });
            };
        }
        allocation::failAt(n);
        out.outcome = guarded([&] {
            switch (kind_) {
                case Kind::Place:
                    return plugin.OnObjectPlaceAfter(showroom_.callParamsBlock);
                case Kind::Finishes:
                    return plugin.OnObjectFinishesAfter(showroom_.callParamsBlock);
                case Kind::Scene:
                    return plugin.OnSceneGenericFinishesAfter(showroom_.callParamsBlock);
                case Kind::Nested:
                    break;
            }
            return plugin.OnObjectPlaceAfter(nested::kOuterBlock);
        });
        out.allocations = allocation::disarm();
        out.failed = allocation::failed();
        out.calls = memory.calls();
        out.writes = writeLines(memory);
        out.liveObjects = memory.liveObjects();
        return out;
    }

  private:
    Kind kind_;
    TemporaryFolder module_;
    sim::SceneFile showroom_;
    FixedLocale locale_;
    std::unique_ptr<platform::FileSystem> files_;
    std::unique_ptr<platform::Profile> profile_;
    std::unique_ptr<platform::Trace> trace_;
    Box box_;
    platform::Services services_;
};

bool survived(const Outcome& outcome) {
    return outcome.ok() ? outcome.result == kTrue : outcome.error->code() == errors::kOutOfMemory;
}

// Checks every run of the sweep against the run with memory enough; gives the calls of the runs
// that failed, in order.
std::vector<std::vector<std::string>> sweep(Kind kind, bool traced) {
    Surroundings surroundings(kind, traced);
    const Run clean = surroundings.run(0);
    EXPECT_TRUE(clean.outcome.ok() && clean.outcome.result == kTrue);
    std::vector<std::vector<std::string>> failures;
    std::size_t n = 1;
    for (;; ++n) {
        const Run run = surroundings.run(n);
        const std::string where = std::string(kKindNames[static_cast<int>(kind)]) +
                                  (traced ? " traced" : "") + ", allocation " + std::to_string(n);
        EXPECT_TRUE(survived(run.outcome))
            << where << ": " << (run.outcome.ok() ? "False" : run.outcome.error->what());
        if (run.inner) {
            EXPECT_TRUE(survived(*run.inner)) << where << " (inner event)";
        }
        const bool absorbed = run.outcome.ok() && (!run.inner || run.inner->ok());
        if (absorbed) {
            EXPECT_EQ(lines(run.calls), lines(clean.calls)) << where;
            EXPECT_EQ(run.writes, clean.writes) << where;
        } else {
            failures.push_back(lines(run.calls));
        }
        // Each session that was started is ended once.
        std::map<Long, int> started, ended;
        for (const auto& call : run.calls) {
            if (call.operation == host::Operation::StartSessionFromCallParams)
                ++started[call.answer.error ? 0 : std::stoi(toUtf8(call.answer.value))];
            if (call.operation == host::Operation::EndSession)
                ++ended[arg(call, host::param::EndSession::sessionId).number];
        }
        EXPECT_EQ(started, ended) << where;
        EXPECT_EQ(run.liveObjects, 0) << where;
        if (!run.failed)
            break;
    }
    std::printf("%s%s: %zu allocation points\n", kKindNames[static_cast<int>(kind)],
                traced ? " traced" : "", n - 1);
    return failures;
}

struct Case {
    Kind kind;
    bool traced;  // swept again with the trace on, and compared
};

class Allocation : public ::testing::TestWithParam<Case> {
  protected:
    void TearDown() override { releaseThreadConstantes(); }
};

TEST_P(Allocation, EveryFailureEndsTheEventCleanly) {
    const auto untraced = sweep(GetParam().kind, false);
    if (!GetParam().traced)
        return;
    const auto traced = sweep(GetParam().kind, true);
    ASSERT_EQ(traced.size(), untraced.size());
    for (std::size_t i = 0; i < traced.size(); ++i)
        EXPECT_EQ(traced[i], untraced[i]) << "failed run " << i + 1;
}

// Every event kind; the trace on a placement of its own and of a nested event (the scene
// event's record alone is some thousand allocations more).
INSTANTIATE_TEST_SUITE_P(EachEvent, Allocation,
                         ::testing::Values(Case{Kind::Place, true}, Case{Kind::Finishes, false},
                                           Case{Kind::Scene, false}, Case{Kind::Nested, true}),
                         [](const auto& info) {
                             return std::string(kKindNames[static_cast<int>(info.param.kind)]) +
                                    (info.param.traced ? "AndTraced" : "");
                         });

// Each allocation of a command line in turn: runSim returns 0, 3 (the output could not be
// written) or 4 with "out of memory", and lets nothing out.
TEST(Simulator, MemoryRunningOutEndsWithItsOwnStatus) {
    const std::vector<std::string> args = {"--version"};
    bool unexpected = false;
    for (std::size_t n = 1;; ++n) {
        std::ostringstream out;
        std::ostringstream err;
        allocation::failAt(n);
        const int status = sim::runSim(args, out, err);
        const bool failed = allocation::failed();
        allocation::disarm();
        if (!failed) {
            EXPECT_EQ(status, 0);
            break;
        }
        EXPECT_TRUE(status == 0 || status == 3 || status == 4) << n << ": " << status;
        if (status == 4) {
            EXPECT_EQ(err.str(), "vpolv-sim: out of memory\n");
            unexpected = true;
        }
    }
    EXPECT_TRUE(unexpected);
}

// Each system call that the file system and the profile make in an event fails in turn, with
// each kind of error: the event ends False with the system's error as its code and a description
// that names the file or folder and what could not be done; it ends its session and writes
// nothing that a run with every call answered would not (a placement writes nothing at all).
TEST(SystemCalls, EachFailingCallFailsTheEventWithItsError) {
    struct Failure {
        int error;
        std::int32_t code;
    };
    const Failure failures[] = {
        {ENOMEM, errors::kOutOfMemory}, {EACCES, errors::kAccessDenied}, {EIO, errors::kFail}};
    // What each call could not do, and where.
    const std::map<std::string, std::pair<std::string, std::string>> calls = {
        {"open", {"Could not open '", "/SPACE.INI'"}},
        {"fstat", {"Could not read '", "/SPACE.INI'"}},
        {"read", {"Could not read '", "/SPACE.INI'"}},
        {"opendir", {"Could not list the folder '", "/catalogs/'"}},
        {"readdir", {"Could not list the folder '", "/catalogs/'"}},
        {"stat", {"Could not look for '", "/catalogs/"}}};
    for (const Kind kind : {Kind::Place, Kind::Scene}) {
        Surroundings surroundings(kind, false);
        const auto clean = surroundings.run(0);
        ASSERT_TRUE(clean.outcome.ok() && clean.outcome.result == kTrue);
        ASSERT_FALSE(clean.writes.empty());
        for (const Failure& failure : failures) {
            std::set<std::string> failed;
            std::size_t n = 1;
            for (;; ++n) {
                gSystemCalls = {n, failure.error, 0, {}};
                const auto run = surroundings.run(0);
                const std::string call = std::exchange(gSystemCalls, {}).failed;
                if (call.empty())
                    break;
                failed.insert(call);
                const std::string where = std::string(kKindNames[static_cast<int>(kind)]) + ", " +
                                          call + " (call " + std::to_string(n) + ") failing with " +
                                          std::strerror(failure.error);
                ASSERT_TRUE(run.outcome.error) << where;
                EXPECT_EQ(run.outcome.result, kFalse) << where;
                EXPECT_EQ(run.outcome.error->code(), failure.code) << where;
                const std::string description = toUtf8(run.outcome.error->description());
                const auto& [what, place] = calls.at(call);
                EXPECT_TRUE(description.starts_with(what)) << where << ": " << description;
                EXPECT_NE(description.find(place), std::string::npos)
                    << where << ": " << description;
                if (failure.error == ENOMEM) {
                    EXPECT_TRUE(description.ends_with("': Out of memory")) << where;
                }
                EXPECT_EQ(run.calls.back().operation, host::Operation::EndSession) << where;
                EXPECT_EQ(run.liveObjects, 0) << where;
                if (kind == Kind::Place) {
                    EXPECT_TRUE(run.writes.empty()) << where;
                } else {
                    // Objects priced before the failing look-up keep what they were given.
                    ASSERT_LE(run.writes.size(), clean.writes.size()) << where;
                    EXPECT_TRUE(
                        std::equal(run.writes.begin(), run.writes.end(), clean.writes.begin()))
                        << where;
                }
            }
            std::set<std::string> all;
            for (const auto& entry : calls)
                all.insert(entry.first);
            EXPECT_EQ(failed, all);
            if (failure.error == ENOMEM)
                std::printf("%s: %zu system calls\n", kKindNames[static_cast<int>(kind)], n - 1);
        }
    }
}

}  // namespace
}  // namespace vpolv::testing
