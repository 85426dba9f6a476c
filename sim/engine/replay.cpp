// vpolv-sim --replay: a traced event run again against its recorded answers, and compared.
#include "sim/engine/replay.h"

#include <memory>
#include <type_traits>

#include "catalog/constantes.h"
#include "common/fixed_locale.h"
#include "common/text.h"
#include "host/recorded.h"
#include "standalone/echo.h"
#include "standalone/message_box.h"

namespace vpolv::sim {

using standalone::echo;

namespace {

using host::Arg;
using host::Call;

// What the replay raises to end the event once it has left the record.
constexpr std::int32_t kStopCode = static_cast<std::int32_t>(0x80004004);

// Answers each call with the recorded call at the same position, as long as they agree.
class ReplayHost final : public host::Connector {
  public:
    ReplayHost(const std::vector<Call>& record, const Locale& locale)
        : record_(record), locale_(locale) {}

#define VPOLV_HOST_OBJECT(kind, progId) VPOLV_CREATE(kind, created)
#include "host/objects.def"

    // The recorded answer of call as a result of type R, or the recorded error raised. There is
    // no inner object to run.
    template <class R, class MakeCall, class Run>
    R perform(MakeCall makeCall, Run&&) {
        const host::Answer a = answer(makeCall());
        if constexpr (std::is_same_v<R, Text>) {
            return a.value;
        } else if constexpr (std::is_same_v<R, Long>) {
            if (a.kind == host::Answer::Kind::Boolean)
                return a.value == u"True" ? -1 : 0;
            return locale_.textToLong(a.value);
        } else if constexpr (std::is_same_v<R, bool>) {
            if (a.kind == host::Answer::Kind::Boolean)
                return a.value == u"True";
            return locale_.textToLong(a.value) != 0;
        }
    }

    Error stop() const {
        return Error(kStopCode, u"the call differs from the record: the replay ends here",
                     u"vpolv-sim");
    }

    const std::vector<Call>& calls() const {
        return calls_;
    }
    std::optional<std::size_t> firstDifference() const {
        if (!first_ && next_ < record_.size())
            return calls_.size();
        return first_;
    }

  private:
    host::Answer answer(Call call) {
        calls_.push_back(std::move(call));
        const Call& now = calls_.back();
        if (first_)
            throw stop();
        if (next_ >= record_.size()) {
            first_ = calls_.size() - 1;
            throw stop();
        }
        const Call& then = record_[next_++];
        if (then.object != now.object || then.operation != now.operation || then.args != now.args) {
            first_ = calls_.size() - 1;
            throw stop();
        }
        if (then.answer.error)
            throw *then.answer.error;
        return then.answer;
    }

    template <class Object>
    std::unique_ptr<Object> created() {
        answer(host::creationCall(host::kindOf<Object>));
        return host::recorded<Object>(*this, std::unique_ptr<Object>());
    }

    const std::vector<Call>& record_;
    const Locale& locale_;
    std::vector<Call> calls_;
    std::size_t next_ = 0;
    std::optional<std::size_t> first_;
};

// The plug-in's folder and the catalogs folder as the record saw them: the catalogs folder lists
// the subfolders the record loaded from, and the files it loaded have a length.
class ReplayFiles final : public platform::FileSystem {
  public:
    explicit ReplayFiles(const trace::Record& record)
        : record_(record), found_(foundCatalogs(record)), sep_(record.pathSeparator[0]) {}
    Text moduleFolder() const override {
        const auto at = record_.spaceIni.rfind(sep_);
        return at == Text::npos ? Text() : record_.spaceIni.substr(0, at);
    }
    char16_t separator() const override { return sep_; }
    bool isSeparator(char16_t c) const override { return c == sep_ || c == u'/'; }
    std::vector<platform::DirEntry> listDirectory(const Text& directory) const override {
        if (directory != record_.catalogsDir)
            throw errors::pathNotFound(directory);
        std::vector<platform::DirEntry> entries;
        for (const Text& sub : found_.subfolders)
            entries.push_back({sub, true});
        return entries;
    }
    std::int64_t fileLength(const Text& path) const override {
        return std::find(found_.files.begin(), found_.files.end(), path) == found_.files.end() ? -1
                                                                                               : 1;
    }

  private:
    const trace::Record& record_;
    FoundCatalogs found_;
    char16_t sep_;
};

// A SPACE.INI whose every section names the recorded catalogs folder.
class ReplayProfile final : public platform::Profile {
  public:
    explicit ReplayProfile(const trace::Record& record) : record_(record) {}
    Text readString(const Text& file, const Text&, const Text&) const override {
        return file == record_.spaceIni ? record_.catalogsDir : Text();
    }

  private:
    const trace::Record& record_;
};

std::string quoted(const Text& text) {
    return "\"" + echo(toUtf8(text)) + "\"";
}

std::string errorText(const Error& error) {
    return errorCodeText(error.code()) + " " + quoted(error.description()) + " (" +
           echo(toUtf8(error.source())) + ")";
}

// What a differing write changed, when both calls write the same information.
// Both calls fit their operation: the record's were checked as it was read.
std::string writeDifference(const Call& then, const Call& now) {
    using P = host::param::ObjectSetInfo;
    if (then.operation != host::Operation::ObjectSetInfo ||
        now.operation != host::Operation::ObjectSetInfo ||
        arg(then, P::object) != arg(now, P::object) || arg(then, P::code) != arg(now, P::code))
        return {};
    const Arg& object = arg(now, P::object);
    const std::string who = object.kind == Arg::Kind::I2
                                ? "the object of the call"
                                : "object " + std::to_string(object.number);
    return "    the write of information " + std::to_string(arg(now, P::code).number) + " to " +
           who + ": recorded " + quoted(arg(then, P::value).text) + ", replayed " +
           quoted(arg(now, P::value).text) + "\n";
}

}  // namespace

bool ReplayResult::identical(const trace::Record& record) const {
    const bool sameError = record.error.has_value() == outcome.error.has_value() &&
                           (!record.error || record.error->code() == outcome.error->code());
    return !firstDifference && record.result == (outcome.result != kFalse) && sameError;
}

ReplayResult replay(const trace::Record& record) {
    const FixedLocale locale(record.numbers);
    const ReplayFiles files(record);
    const ReplayProfile profile(record);
    standalone::RecordingMessageBox dialogs;  // shown to nobody
    const platform::Services services{locale, files, profile, dialogs};
    ReplayHost host(record.calls, locale);
    ReplayResult result;
    {
        Plugin plugin(host, services);
        Long block = record.callParams;
        result.outcome = guarded([&] { return plugin.fire(record.event, block); });
    }
    releaseThreadConstantes();
    result.calls = host.calls();
    result.firstDifference = host.firstDifference();
    if (result.firstDifference)
        result.stop = host.stop();
    return result;
}

std::string replayReport(const std::string& file, const trace::Record& record,
                         const ReplayResult& result) {
    std::size_t writes = 0;
    for (const Call& call : record.calls)
        writes += call.operation == host::Operation::ObjectSetInfo;
    const std::string which = "record of line " + std::to_string(record.line) + " of " + echo(file);
    if (result.identical(record)) {
        return "identical: " + which + " (" + std::string(eventName(record.event)) + ", " +
               std::to_string(record.calls.size()) + " calls, " + std::to_string(writes) +
               " writes, result " + (record.result ? "True" : "False") + ")\n";
    }
    std::string out =
        "differences from the " + which + " (" + std::string(eventName(record.event)) + "):\n";
    if (const auto at = result.firstDifference) {
        const std::string n = std::to_string(*at + 1);
        if (*at >= result.calls.size()) {
            out += "  the replay made " + std::to_string(result.calls.size()) +
                   " calls, the record holds more; its call " + n +
                   ":\n    recorded: " + record.calls[*at].toString() + "\n";
        } else if (*at >= record.calls.size()) {
            out += "  call " + n +
                   " is not in the record:\n    replayed: " + result.calls[*at].toString() + "\n";
        } else {
            const Call& then = record.calls[*at];
            const Call& now = result.calls[*at];
            out += "  call " + n + " differs:\n    recorded: " + then.toString() +
                   "\n    replayed: " + now.toString() + "\n" + writeDifference(then, now);
        }
    }
    const bool replayed = result.outcome.result != kFalse;
    if (record.result != replayed) {
        out += std::string("  result: recorded ") + (record.result ? "True" : "False") +
               ", replayed " + (replayed ? "True" : "False") + "\n";
    }
    const auto& now = result.outcome.error;
    if (record.error.has_value() != now.has_value() ||
        (record.error && record.error->code() != now->code())) {
        out += "  error: recorded " + (record.error ? errorText(*record.error) : "none") +
               ", replayed " + (now ? errorText(*now) : "none") + "\n";
    }
    return out;
}

}  // namespace vpolv::sim
