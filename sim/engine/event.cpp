// Running one event on a scene in the in-memory host.
#include "sim/engine/event.h"

#include <memory>
#include <stdexcept>
#include <string>

#include "catalog/catalog.h"
#include "common/fixed_locale.h"
#include "common/text.h"
#include "platform/native.h"
#include "standalone/files.h"

namespace vpolv::sim {

using platform::utf8Path;
using standalone::kWindows;
using standalone::TemporaryFolder;

namespace {

// The scene's SPACE.INI (UTF-8) as the system's profile reader takes it. Windows reads a file
// without a byte-order mark in the ANSI code page, which cannot hold every folder name: there it
// is written as UTF-16 with its mark.
std::string iniFileContents(const std::string& text) {
    if (!kWindows)
        return text;
    const Text wide = fromUtf8(text);
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : wide) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// A fresh folder that stands for the plug-in's folder while an event runs, with the scene's
// "SPACE.INI" in it.
std::unique_ptr<TemporaryFolder> pluginFolder(const SpaceIni& ini) {
    try {
        auto folder = std::make_unique<TemporaryFolder>("vpolv-sim-");
        if (ini.source != SpaceIni::Source::None)
            folder->write(toUtf8(Text(kSpaceIni)), iniFileContents(ini.contents));
        return folder;
    } catch (const std::runtime_error& e) {
        throw SceneError(e.what());
    }
}

}  // namespace

Long answerNumber(const host::Answer& answer) {
    return static_cast<Long>(std::stol(toUtf8(answer.value)));
}

std::vector<TableLookup> tableLookups(const RunResult& run) {
    std::vector<TableLookup> lookups;
    for (std::size_t i = 0; i < run.log.size(); ++i) {
        const host::Call& call = run.log[i];
        const host::Answer& answer = call.answer;
        if (call.operation == host::Operation::TableGetLineRankFromName) {
            using P = host::param::TableGetLineRankFromName;
            TableLookup lookup;
            lookup.call = i;
            lookup.table = static_cast<Integer>(arg(call, P::table).number);
            lookup.line = arg(call, P::lineName).text;
            if (answer.kind != host::Answer::Kind::Long || answer.error) {
                lookup.failed = true;
            } else {
                lookup.rank = answerNumber(answer);
            }
            lookups.push_back(std::move(lookup));
        } else if (call.operation == host::Operation::TableGetLineInfo && !lookups.empty() &&
                   answer.kind == host::Answer::Kind::Text && !answer.error) {
            using P = host::param::TableGetLineInfo;
            TableLookup& last = lookups.back();
            if (arg(call, P::table).number == last.table &&
                arg(call, P::rank).number == last.rank) {
                last.columns[static_cast<Integer>(arg(call, P::column).number)] = answer.value;
            }
        }
    }
    return lookups;
}

RunResult runEvent(const SceneFile& scene, Event event, std::optional<Long> object,
                   const platform::Trace* trace) {
    host::SceneData data = scene.scene;
    if (object) {
        if (!data.objects.count(*object)) {
            throw SceneError(utf8Path(scene.file) + ": --object " + std::to_string(*object) +
                             ": no object has this id");
        }
        data.currentObject = *object;
    }
    const std::optional<Long> callObject = object ? object : scene.callObject;

    const auto folder = pluginFolder(scene.spaceIni);
    const FixedLocale locale(scene.numbers);
    const auto files = platform::makeFileSystem(fromUtf8(utf8Path(folder->path())));
    const auto profile = platform::makeProfile();
    standalone::RecordingMessageBox messages;
    const platform::Services services{locale, *files, *profile, messages, trace};

    host::MemoryHost host(std::move(data), locale);
    for (const auto& failure : scene.failures) {
        const Error error(failure.code, fromUtf8(failure.description), u"KDSDK");
        if (failure.operation) {
            host.failOperation(*failure.operation, error, static_cast<std::size_t>(failure.nth));
        } else if (failure.create) {
            host.failCreate(host::progId(*failure.create), error);
        }
    }
    Outcome outcome;
    {
        Plugin plugin(host, services);
        Long block = scene.callParamsBlock;
        outcome = guarded([&] { return plugin.fire(event, block); });
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
