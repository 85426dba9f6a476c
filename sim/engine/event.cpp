// Running one event on a scene in the in-memory host.
#include "sim/engine/event.h"

#include <memory>
#include <stdexcept>
#include <string>

#include "common/fixed_locale.h"
#include "common/text.h"
#include "platform/native.h"
#include "sim/system/files.h"

namespace vpolv::sim {

namespace {

// A fresh folder that stands for the plug-in's folder while an event runs, with the scene's
// "SPACE.INI" in it.
std::unique_ptr<TemporaryFolder> pluginFolder(const SpaceIni& ini) {
    try {
        auto folder = std::make_unique<TemporaryFolder>("vpolv-sim-");
        if (ini.source != SpaceIni::Source::None)
            folder->write("SPACE.INI", ini.contents);
        return folder;
    } catch (const std::runtime_error& e) {
        throw SceneError(e.what());
    }
}

struct EventNames {
    EventKind kind;
    const char* name;
    const char* method;
};

constexpr EventNames kEvents[] = {
    {EventKind::Place, "place", "OnObjectPlaceAfter"},
    {EventKind::Finishes, "finishes", "OnObjectFinishesAfter"},
    {EventKind::Scene, "scene", "OnSceneGenericFinishesAfter"},
};

// A message box that keeps what it was asked to show and returns at once.
class RecordingMessageBox : public platform::Dialogs {
  public:
    void show(const Text& text, const Text& title, Long style) override {
        shown.push_back({title, text, style});
    }
    std::vector<ShownBox> shown;
};

const EventNames& namesOf(EventKind kind) {
    for (const auto& event : kEvents) {
        if (event.kind == kind)
            return event;
    }
    return kEvents[0];
}

}  // namespace

std::optional<EventKind> eventKindFromName(const std::string& name) {
    for (const auto& event : kEvents) {
        if (name == event.name)
            return event.kind;
    }
    return std::nullopt;
}

const char* eventName(EventKind kind) {
    return namesOf(kind).name;
}

const char* eventMethodName(EventKind kind) {
    return namesOf(kind).method;
}

Long answerNumber(const host::Answer& answer) {
    return static_cast<Long>(std::stol(toUtf8(answer.value)));
}

std::vector<TableLookup> tableLookups(const RunResult& run) {
    std::vector<TableLookup> lookups;
    for (std::size_t i = 0; i < run.log.size(); ++i) {
        const host::Call& call = run.log[i];
        const host::Answer& answer = call.answer;
        if (call.operation == "TableGetLineRankFromName" && call.args.size() == 6) {
            TableLookup lookup;
            lookup.call = i;
            lookup.table = static_cast<Integer>(call.args[1].number);
            lookup.line = call.args[4].text;
            if (answer.kind != host::Answer::Kind::Long || answer.error) {
                lookup.failed = true;
            } else {
                lookup.rank = answerNumber(answer);
            }
            lookups.push_back(std::move(lookup));
        } else if (call.operation == "TableGetLineInfo" && call.args.size() == 5 &&
                   !lookups.empty() && answer.kind == host::Answer::Kind::Text && !answer.error) {
            TableLookup& last = lookups.back();
            if (call.args[1].number == last.table && call.args[3].number == last.rank) {
                last.columns[static_cast<Integer>(call.args[4].number)] = answer.value;
            }
        }
    }
    return lookups;
}

RunResult runEvent(const SceneFile& scene, EventKind event, std::optional<Long> object,
                   const platform::Trace* trace) {
    host::SceneData data = scene.scene;
    if (object) {
        if (!data.objects.count(*object)) {
            throw SceneError(scene.file.string() + ": --object " + std::to_string(*object) +
                             ": no object has this id");
        }
        data.currentObject = *object;
    }
    const std::optional<Long> callObject = object ? object : scene.callObject;

    const auto folder = pluginFolder(scene.spaceIni);
    const FixedLocale locale(scene.decimalSeparator);
    const auto files = platform::makeFileSystem(fromUtf8(folder->path().string()));
    const auto profile = platform::makeProfile();
    RecordingMessageBox messages;
    const platform::Services services{locale, *files, *profile, messages, trace};

    host::MemoryHost host(std::move(data), locale);
    for (const auto& failure : scene.failures) {
        const Error error(failure.code, fromUtf8(failure.description), u"KDSDK");
        if (failure.create.empty()) {
            host.failOperation(failure.operation, error, static_cast<std::size_t>(failure.nth));
        } else {
            host.failCreate(fromUtf8(failure.create), error);
        }
    }
    Outcome outcome;
    {
        Plugin plugin(host, services);
        Long block = scene.callParamsBlock;
        outcome = guarded([&] {
            switch (event) {
                case EventKind::Place:
                    return plugin.OnObjectPlaceAfter(block);
                case EventKind::Finishes:
                    return plugin.OnObjectFinishesAfter(block);
                case EventKind::Scene:
                    break;
            }
            return plugin.OnSceneGenericFinishesAfter(block);
        });
    }
    RunResult result{
        event,          callObject,         host.log(),   host.writes(),     host.loads(),
        messages.shown, std::move(outcome), host.scene(), host.liveObjects()};
    // A failed event leaves the host objects in the thread's module state; free them now, after
    // the record was taken, so that a later run starts clean.
    releaseThreadConstantes();
    return result;
}

}  // namespace vpolv::sim
