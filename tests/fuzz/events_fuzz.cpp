// Whole events against the in-memory host, with the scene, the host's answers and failures, and
// the events that start inside other ones all taken from the input.
//
// The input builds a small scene (cabinets of the three types and glass fronts, their glass
// parts, table lines, keywords, one session per call-parameter block), the plug-in's
// surroundings (locale, "SPACE.INI", catalog folders), failures of host calls and of object
// creation, raw text answers, and events: some run one after another, others start inside a host
// call or while the warning box is shown, on the same instance or the other one.
//
// Whatever happens: only vpolv::Error comes out of a method; each event ends exactly the sessions
// it started, with their own ids, once each; every host object is released; ObjectSetInfo writes
// only the codes 43, 173 and 49; and the sanitizers see nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/constantes.h"
#include "common/error.h"
#include "common/fixed_locale.h"
#include "common/text.h"
#include "host/info_codes.h"
#include "host/memory_host.h"
#include "plugin/plugin.h"
#include "testkit/doubles.h"

namespace {

using namespace vpolv;
using Words = std::u16string_view;

constexpr std::int32_t kUnexpectedFailure = static_cast<std::int32_t>(0x80004005);

[[noreturn]] void finding(const std::string& what) {
    std::fprintf(stderr, "\n*** %s\n", what.c_str());
    std::abort();
}

// --- What the scene is made of ---

constexpr Words kCatalogs[] = {u"503", u"570", u"612", u""};
constexpr Words kCabinets[] = {u"VITRINA",    u"VITRINAG",   u"VITRINA2", u"VITRINA3",
                               u"FR_1PRVAMA", u"FR_1PABAYE", u"BALDA_60"};
constexpr Words kParts[] = {u"FR_1PBVN",   u"FR_2PBVN",   u"FR_1PHVN",  u"FR_PP1VN",
                            u"FR_1PRVAMA", u"FR_2PARVGL", u"FR_1PBVGL", u"CAJON_45"};
// Handles of each group (A to E), of none, and a Gola one of no group.
constexpr Words kHandles[] = {u"7", u"240", u"MA", u"1GL", u"MAGL", u"", u"66GL"};
constexpr Words kChoices[] = {u"Grupo 1", u"Grupo 2",       u"Grupo 3", u"Grupo 4",
                              u"",        u"Cristal Fusin", u"Claro"};
constexpr Words kDescriptions[] = {u"Puerta", u"Puerta\r\n#Incremento por cristal viejo#", u"",
                                   u"\r\n#", u"a\r\nb"};
constexpr Words kLines[] = {u"L1", u"L2", u"L3"};
// Column values of table 3, and the line-name parts of table 4 they and their halves give.
constexpr Words kColumns[] = {u"90", u"60", u"45", u"100,5", u"75.5", u"", u"x", u"1e308"};
constexpr Words kNameParts[] = {u"90", u"60",   u"45",   u"30",   u"22,5", u"22.5",
                                u"70", u"37,5", u"37.5", u"70,5", u"x"};
constexpr Words kGroups[] = {u"_1_", u"_2_", u"_3_", u"_4_", u"_0_"};
constexpr Words kPoints[] = {u"25", u"0", u"-7", u"2147483647", u"n/d", u"1.5", u"1,5", u" 3 "};
// Raw answers in place of a host result.
constexpr Words kRaw[] = {u"7",          u"0",           u"-1",   u"abc", u"",
                          u"2147483648", u"-2147483649", u"1e10", u"2,5", u" 12 "};
constexpr Words kCatalogsDirs[] = {u"", u"/catalogs", u"/catalogs/"};

host::Operation anOperation(FuzzedDataProvider& in) {
    return static_cast<host::Operation>(
        in.ConsumeIntegralInRange<std::size_t>(0, std::size(host::kOperations) - 1));
}

constexpr Long kBlocks = 4;  // call-parameter blocks 1 to 4, sessions 11 to 14

template <std::size_t N>
Text pick(FuzzedDataProvider& in, const Words (&words)[N]) {
    return Text(words[in.ConsumeIntegralInRange<std::size_t>(0, N - 1)]);
}

// Some of the infos 85 to 88 (the glass choices) and a description.
void choices(FuzzedDataProvider& in, std::map<Long, Text>& infos) {
    for (const Long code : {info::kChoice85, info::kChoice86, info::kChoice87, info::kChoice88}) {
        if (in.ConsumeBool())
            infos[code] = pick(in, kChoices);
    }
    if (in.ConsumeBool())
        infos[info::kDescription] = pick(in, kDescriptions);
}

host::SceneData buildScene(FuzzedDataProvider& in) {
    host::SceneData scene;
    scene.sessionId = in.ConsumeBool() ? 1 : 0;
    scene.currentObject = 100;
    const int cabinets = in.ConsumeIntegralInRange(1, 3);
    for (int c = 1; c <= cabinets; ++c) {
        const Long id = 100 * c;
        host::SceneObject cabinet;
        cabinet.infos[info::kCatalog] = pick(in, kCatalogs);
        cabinet.infos[info::kReference] = pick(in, kCabinets);
        cabinet.infos[info::kLineName] = pick(in, kLines);
        cabinet.infos[info::kHandle] = pick(in, kHandles);
        choices(in, cabinet.infos);
        const int children = in.ConsumeIntegralInRange(0, 3);
        for (int k = 1; k <= children; ++k) {
            // Now and then a child the host does not know.
            const Long child = in.ConsumeIntegralInRange(0, 15) == 0 ? id + 99 : id + k;
            cabinet.children.push_back(child);
            if (child == id + 99)
                continue;
            host::SceneObject part;
            part.infos[info::kReference] = pick(in, kParts);
            choices(in, part.infos);
            scene.objects[child] = std::move(part);
        }
        scene.objects[id] = std::move(cabinet);
        scene.sceneObjects.push_back(id);
    }
    if (in.ConsumeIntegralInRange(0, 15) == 0)
        scene.sceneObjects.push_back(999);
    for (Long block = 1; block <= kBlocks; ++block) {
        const Long object = 100 * in.ConsumeIntegralInRange(1, cabinets);
        scene.sessions[block] = {10 + block, object};
    }
    for (int k = 3; k <= 6; ++k) {
        scene.keywords[u"@Rubrique.GénériqueChoixNom(," + Text(1, static_cast<char16_t>('0' + k)) +
                       u")"] = pick(in, kChoices);
    }
    for (const auto line : kLines) {
        scene.tables[3].push_back(
            {Text(line),
             {{3, pick(in, kColumns)}, {4, pick(in, kColumns)}, {5, pick(in, kColumns)}}});
    }
    const int priced = in.ConsumeIntegralInRange(0, 6);
    for (int k = 0; k < priced; ++k) {
        Text name = pick(in, kGroups);
        if (name != u"_0_")
            name += pick(in, kNameParts) + u"_" + pick(in, kNameParts);
        scene.tables[4].push_back({std::move(name), {{3, pick(in, kPoints)}}});
    }
    return scene;
}

// --- The plug-in's surroundings, in memory ---

class Surroundings : public platform::FileSystem, public platform::Profile {
  public:
    explicit Surroundings(FuzzedDataProvider& in)
        : catalogsDir_(pick(in, kCatalogsDirs)),
          listFails_(in.ConsumeIntegralInRange(0, 7) == 0),
          lengths_(in.ConsumeIntegral<std::uint8_t>()) {}

    Text moduleFolder() const override { return u"/plugin"; }
    char16_t separator() const override { return u'/'; }
    bool isSeparator(char16_t c) const override { return c == u'/'; }
    std::vector<platform::DirEntry> listDirectory(const Text& directory) const override {
        if (listFails_)
            throw errors::pathNotFound(directory);
        return {{u".", true}, {u"..", true}, {u"a", true}, {u"b", true}, {u"polvas10.cat", false}};
    }
    // Each lookup takes the next two bits: no file, an empty one, a catalog, or an error.
    std::int64_t fileLength(const Text& path) const override {
        const int kind = (lengths_ >> (2 * (lookups_++ % 4))) & 3;
        if (kind == 3)
            return -1;
        if (kind == 0)
            throw Error(errors::kPathNotFound, path);
        return kind == 1 ? 0 : 4096;
    }
    Text readString(const Text&, const Text& section, const Text&) const override {
        return section == u"InSitu" ? catalogsDir_ : Text();
    }

  private:
    Text catalogsDir_;
    bool listFails_;
    unsigned lengths_;
    mutable unsigned lookups_ = 0;
};

// --- Which event started which session ---

// The host as the plug-in sees it, watching the sessions: each running method has a frame with
// the sessions its StartSessionFromCallParams answered and it has not ended yet.
class SessionWatch : public host::Connector {
  public:
    explicit SessionWatch(host::MemoryHost& host) : host_(host) {}

    std::unique_ptr<host::Appli> createAppli() override {
        return std::make_unique<Appli>(host_.createAppli(), *this);
    }
    std::unique_ptr<host::Scene> createScene() override { return host_.createScene(); }
    std::unique_ptr<host::Catalog> createCatalog() override { return host_.createCatalog(); }

    void begin() { frames_.emplace_back(); }
    void end() {
        if (!frames_.back().empty())
            finding("a method returned with session " + std::to_string(frames_.back()[0]) +
                    " open");
        frames_.pop_back();
    }

  private:
    class Appli : public host::Appli {
      public:
        Appli(std::unique_ptr<host::Appli> appli, SessionWatch& watch)
            : appli_(std::move(appli)), watch_(watch) {}
        Long StartSessionFromCallParams(Long& block) override {
            const Long session = appli_->StartSessionFromCallParams(block);
            watch_.frames_.back().push_back(session);
            return session;
        }
        bool EndSession(Long& session) override {
            auto& open = watch_.frames_.back();
            const auto it = std::find(open.begin(), open.end(), session);
            if (it == open.end())
                finding("EndSession(" + std::to_string(session) +
                        ") of a session the running event has not started, or ended before");
            open.erase(it);
            return appli_->EndSession(session);
        }

      private:
        std::unique_ptr<host::Appli> appli_;
        SessionWatch& watch_;
    };

    host::MemoryHost& host_;
    std::vector<std::vector<Long>> frames_;
};

// --- The run ---

class Run {
  public:
    explicit Run(FuzzedDataProvider& in)
        : in_(in),
          locale_(in.ConsumeBool() ? u',' : u'.'),
          surroundings_(in),
          services_{locale_, surroundings_, surroundings_, box_},
          host_(buildScene(in), locale_),
          watch_(host_),
          plugins_{Plugin(watch_, services_), Plugin(watch_, services_)} {}

    void play() {
        injectFailures();
        const int nested = in_.ConsumeIntegralInRange(0, 4);
        for (int k = 0; k < nested; ++k) {
            const host::Operation operation = anOperation(in_);
            const auto n = in_.ConsumeIntegralInRange<std::size_t>(1, 4);
            host_.interrupt(operation, method(), n);
        }
        if (in_.ConsumeBool())
            box_.whileShown = method();
        const int events = in_.ConsumeIntegralInRange(1, 3);
        for (int k = 0; k < events; ++k)
            method()();

        for (const auto& call : host_.calls()) {
            if (call.operation == host::Operation::ObjectSetInfo) {
                const Long code = arg(call, host::param::ObjectSetInfo::code).number;
                if (code != info::kSurcharge && code != info::kSurchargeAgain &&
                    code != info::kDescription) {
                    finding("ObjectSetInfo wrote information " + std::to_string(code));
                }
            }
        }
        if (host_.liveObjects() != 0)
            finding(std::to_string(host_.liveObjects()) + " host objects left unreleased");
    }

  private:
    Error error() {
        switch (in_.ConsumeIntegralInRange(0, 3)) {
            case 0:
                return Error(static_cast<std::int32_t>(0x80041234), u"Injected", u"KDSDK");
            case 1:
                return errors::typeMismatch();
            case 2:
                return errors::overflow();
            default:
                return Error(host::kHostError, u"Host", u"KDSDK");
        }
    }

    Text rawAnswer() {
        if (in_.ConsumeIntegralInRange(0, 3) == 0) {
            const std::string bytes = in_.ConsumeRandomLengthString(12);
            return Text(bytes.begin(), bytes.end());
        }
        return pick(in_, kRaw);
    }

    void injectFailures() {
        const int failures = in_.ConsumeIntegralInRange(0, 3);
        for (int k = 0; k < failures; ++k) {
            switch (in_.ConsumeIntegralInRange(0, 3)) {
                case 0:
                    host_.failCall(in_.ConsumeIntegralInRange<std::size_t>(1, 60), error());
                    break;
                case 1: {
                    const host::Operation operation = anOperation(in_);
                    host_.failOperation(operation, error(),
                                        in_.ConsumeIntegralInRange<std::size_t>(1, 3));
                    break;
                }
                case 2:
                    host_.failCreate(in_.PickValueInArray(host::kHostObjects).progIdText, error());
                    break;
                default:
                    host_.answerWithText(in_.ConsumeIntegralInRange<std::size_t>(1, 60),
                                         rawAnswer());
            }
        }
    }

    // A call of one of the plug-in's methods on one of the two instances, chosen now and made
    // when the action runs.
    std::function<void()> method() {
        Plugin& plugin = plugins_[in_.ConsumeBool() ? 1 : 0];
        Long block = in_.ConsumeIntegralInRange<Long>(1, kBlocks + 1);
        Long a = in_.ConsumeIntegralInRange<Long>(-1, 3);
        Long b = in_.ConsumeIntegralInRange<Long>(-1, 3);
        Long id = 100 * in_.ConsumeIntegralInRange<Long>(0, 3);
        const int which = in_.ConsumeIntegralInRange(0, 13);
        return [this, &plugin, which, block, a, b, id]() mutable {
            watch_.begin();
            const Outcome outcome = guarded([&]() -> Boolean {
                if (which <= 6) {
                    return plugin.fire(which <= 2   ? Event::Place
                                       : which <= 4 ? Event::Finishes
                                                    : Event::Scene,
                                       block);
                }
                switch (which) {
                    case 7:
                        plugin.Inicializa();
                        return kTrue;
                    case 8:
                        return plugin.casoPolvast(block, a);
                    case 9:
                        return plugin.casoPolvastAG(block, a, id);
                    case 10:
                        plugin.vitrina(a, b);
                        return kTrue;
                    case 11:
                        plugin.vitrina2AG(a, b, id);
                        return kTrue;
                    case 12:
                        plugin.vitrina3b();
                        return kTrue;
                    default: {
                        Text description = u"Puerta\r\n#x#";
                        plugin.formateaDescripcion(description);
                        return kTrue;
                    }
                }
            });
            watch_.end();
            if (outcome.error && outcome.error->code() == kUnexpectedFailure)
                finding("a method failed with something else than vpolv::Error");
        };
    }

    FuzzedDataProvider& in_;
    FixedLocale locale_;
    Surroundings surroundings_;
    // The warning box, and what the host does while it is shown.
    testing::RecordingMessageBox box_;
    platform::Services services_;
    host::MemoryHost host_;
    SessionWatch watch_;
    Plugin plugins_[2];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // Every input starts from a fresh thread state, as a new thread would.
    releaseThreadConstantes();
    Run run(in);
    run.play();
    releaseThreadConstantes();
    return 0;
}
