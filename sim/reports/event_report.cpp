// The report of one event: the calls, writes, boxes, notices and result, as text or JSON.
#include "sim/reports/event_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/text.h"
#include "host/info_codes.h"
#include "showcase/showcase.h"
#include "standalone/echo.h"
#include "standalone/files.h"
#include "trace/record.h"

namespace vpolv::sim {

using platform::utf8Path;
using standalone::echo;
using standalone::endsInSeparator;
using standalone::kWindows;

namespace {

using Json = nlohmann::ordered_json;
using host::Arg;

// The version of the JSON report's shape; it changes when a field changes its meaning or goes.
constexpr int kJsonFormat = 1;

// Writes the run's texts into a report: as UTF-8, with the scene's folder shown as "<scene>/", so
// that a report does not depend on where the scene lies; quoted where a value is shown.
class ReportTexts {
  public:
    explicit ReportTexts(const SceneFile& scene) {
        folder_ = utf8Path(scene.folder);
        if (!endsInSeparator(folder_))
            folder_ += static_cast<char>(std::filesystem::path::preferred_separator);
    }

    // UTF-8 with the scene folder shown as "<scene>/". A path below it is shown with '/' between
    // its parts on every system, so that reports made on Windows and elsewhere compare equal.
    std::string plain(const Text& text) const {
        std::string out = toUtf8(text);
        for (auto p = out.find(folder_); p != std::string::npos; p = out.find(folder_, p)) {
            out.replace(p, folder_.size(), "<scene>/");
            for (p += 8; kWindows && p < out.size() && !endsPath(out[p]); ++p) {
                if (out[p] == '\\')
                    out[p] = '/';
            }
        }
        return out;
    }

    // Quoted, with line breaks and other control characters escaped.
    std::string quoted(const Text& text) const {
        std::string out = "\"";
        for (const char c : plain(text)) {
            switch (c) {
                case '\r':
                    out += "\\r";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                default:
                    if (static_cast<unsigned char>(c) < 0x20) {
                        char escaped[8];
                        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                        out += escaped;
                    } else {
                        out += c;
                    }
            }
        }
        return out + "\"";
    }

    std::string arg(const Arg& a) const {
        std::string out = Arg::kindName(a.kind);
        out += ' ';
        switch (a.kind) {
            case Arg::Kind::Str:
            case Arg::Kind::StrRef:
                return out + quoted(a.text);
            case Arg::Kind::Bool:
                return out + (a.number ? "True" : "False");
            default:
                return out + std::to_string(a.number);
        }
    }

    std::string call(const host::Call& c) const {
        std::string out =
            std::string(host::name(c.object)) + "." + std::string(host::name(c.operation)) + "(";
        for (std::size_t i = 0; i < c.args.size(); ++i) {
            if (i)
                out += ", ";
            out += arg(c.args[i]);
        }
        return out + ")";
    }

  private:
    // Whether c cannot be part of a Windows path, so that a path in a text ends before it.
    static bool endsPath(char c) {
        return static_cast<unsigned char>(c) < 0x20 ||
               std::string_view("\"<>|?*").find(c) != std::string_view::npos;
    }

    std::string folder_;
};

std::string errorText(const Error& e) {
    std::string out = errorCodeText(e.code()) + " " + toUtf8(e.description());
    if (!e.source().empty())
        out += " (source " + toUtf8(e.source()) + ")";
    return out;
}

std::string reference(const RunResult& run, Long id) {
    const auto object = run.after.objects.find(id);
    if (object == run.after.objects.end())
        return {};
    const auto info = object->second.infos.find(4);
    return info == object->second.infos.end() ? std::string() : toUtf8(info->second);
}

std::string objectName(const RunResult& run, Long id) {
    std::string out = "object " + std::to_string(id);
    if (const auto ref = reference(run, id); !ref.empty())
        out += " (" + ref + ")";
    return out;
}

// The surcharge line that ends a description: what follows its first "#" and the line break
// before it.
std::optional<Text> surchargeLine(const Text& description) {
    const auto p = description.find(u'#');
    if (p == Text::npos)
        return std::nullopt;
    return description.substr(p);
}

void writesSection(std::ostringstream& out, const ReportTexts& texts, const RunResult& run) {
    out << "Writes\n";
    if (run.writes.empty())
        out << "  none\n";
    for (const auto& w : run.writes) {
        out << "  " << objectName(run, w.object) << ", info " << w.code << ": "
            << (w.oldValue ? texts.quoted(*w.oldValue) : std::string("(none)")) << " -> "
            << texts.quoted(w.newValue) << "\n";
    }
}

void warningsSection(std::ostringstream& out, const ReportTexts& texts, const RunResult& run) {
    out << "Warnings\n";
    if (run.warnings.empty())
        out << "  none\n";
    for (const auto& box : run.warnings) {
        out << "  [" << texts.plain(box.title) << "] (style " << box.style << ")\n";
        std::string text = texts.plain(box.text);
        std::size_t start = 0;
        for (;;) {
            const auto end = text.find("\r\n", start);
            out << "    " << text.substr(start, end - start) << "\n";
            if (end == std::string::npos)
                break;
            start = end + 2;
        }
    }
}

// One entry per object whose description or surcharge the event wrote, in the order of writes.
void pricedSection(std::ostringstream& out, const ReportTexts& texts, const RunResult& run) {
    std::vector<Long> order;
    for (const auto& w : run.writes) {
        if (std::find(order.begin(), order.end(), w.object) == order.end())
            order.push_back(w.object);
    }
    out << "Priced glass\n";
    if (order.empty())
        out << "  none\n";
    for (const Long id : order) {
        std::optional<Text> points;
        std::optional<Text> description;
        for (const auto& w : run.writes) {
            if (w.object != id)
                continue;
            if (w.code == info::kSurcharge)
                points = w.newValue;
            if (w.code == info::kDescription)
                description = w.newValue;
        }
        out << "  " << objectName(run, id) << ": ";
        if (points) {
            out << texts.plain(*points) << " points\n";
        } else {
            out << "no surcharge written\n";
        }
        if (description) {
            if (const auto line = surchargeLine(*description)) {
                out << "    " << texts.plain(*line) << "\n";
            } else {
                out << "    (no surcharge line)\n";
            }
        }
    }
}

void spaceIniSection(std::ostringstream& out, const ReportTexts& texts, const SceneFile& scene) {
    static const char* const kSources[] = {"none", "generated", "from the scene", "from "};
    const auto& ini = scene.spaceIni;
    out << "SPACE.INI  " << kSources[static_cast<int>(ini.source)];
    if (ini.source == SpaceIni::Source::File)
        out << ini.written;
    out << "\n";
    std::string contents = texts.plain(fromUtf8(ini.contents));
    std::size_t start = 0;
    while (start < contents.size()) {
        auto end = contents.find('\n', start);
        if (end == std::string::npos)
            end = contents.size();
        std::string line = contents.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out << "    " << line << "\n";
        start = end + 1;
    }
}

Json answerJson(const ReportTexts& texts, const host::Answer& answer) {
    switch (answer.kind) {
        case host::Answer::Kind::Text:
            return texts.plain(answer.value);
        case host::Answer::Kind::Long:
            return answerNumber(answer);
        case host::Answer::Kind::Boolean:
            return answer.value == u"True";
        case host::Answer::Kind::None:
            break;
    }
    return nullptr;
}

// Something the event let pass that deserves a look: a catalog file not found, a table line not
// found, a surcharge left on a part whose surcharge line was removed.
struct Notice {
    std::string kind;  // "noCatalogFile", "lineNotFound", "staleSurcharge"
    std::string message;
    Json details;  // the kind's own fields
};

std::string callList(const std::vector<std::size_t>& calls) {
    std::string out = calls.size() == 1 ? "call " : "calls ";
    for (std::size_t i = 0; i < calls.size(); ++i)
        out += (i ? ", " : "") + std::to_string(calls[i]);
    return out;
}

std::vector<Notice> notices(const ReportTexts& texts, const RunResult& run) {
    std::vector<Notice> out;
    // FileLoad with a name and no folder: no catalog file was found in the catalogs folder.
    std::vector<std::pair<Text, std::vector<std::size_t>>> bare;
    for (std::size_t i = 0; i < run.log.size(); ++i) {
        const host::Call& call = run.log[i];
        if (call.operation != host::Operation::FileLoad)
            continue;
        const Text& file = arg(call, host::param::FileLoad::file).text;
        if (file.find_first_of(u"/\\") != Text::npos)
            continue;
        auto it =
            std::find_if(bare.begin(), bare.end(), [&](const auto& b) { return b.first == file; });
        if (it == bare.end())
            it = bare.insert(bare.end(), {file, {}});
        it->second.push_back(i + 1);
    }
    for (const auto& [file, calls] : bare) {
        out.push_back({"noCatalogFile",
                       "no catalog file found: FileLoad got the bare name " + texts.quoted(file) +
                           " (" + callList(calls) + ")",
                       {{"file", texts.plain(file)}, {"calls", calls}}});
    }
    for (const auto& lookup : tableLookups(run)) {
        if (lookup.failed || lookup.rank > 0)
            continue;
        out.push_back({"lineNotFound",
                       "table " + std::to_string(lookup.table) + " has no line " +
                           texts.quoted(lookup.line) + " (call " + std::to_string(lookup.call + 1) +
                           " answered rank 0)",
                       {{"table", lookup.table},
                        {"line", texts.plain(lookup.line)},
                        {"call", lookup.call + 1}}});
    }
    // A description rewritten without a surcharge line, while the points written before stay.
    std::vector<Long> rewritten;
    for (const auto& w : run.writes) {
        if (w.code == info::kDescription && w.newValue.find(kSurchargeLineStart) == Text::npos &&
            std::find(rewritten.begin(), rewritten.end(), w.object) == rewritten.end()) {
            rewritten.push_back(w.object);
        }
    }
    for (const Long id : rewritten) {
        const bool pointsWritten = std::any_of(run.writes.begin(), run.writes.end(), [&](auto& w) {
            return w.object == id &&
                   (w.code == info::kSurcharge || w.code == info::kSurchargeAgain);
        });
        const auto object = run.after.objects.find(id);
        if (pointsWritten || object == run.after.objects.end())
            continue;
        std::string kept;
        Json infos = Json::object();
        for (const Long code : {info::kSurcharge, info::kSurchargeAgain}) {
            const auto value = object->second.infos.find(code);
            if (value == object->second.infos.end() || value->second.empty() ||
                value->second == u"0") {
                continue;
            }
            kept += (kept.empty() ? "" : " and ") + std::string("info ") + std::to_string(code) +
                    " " + texts.quoted(value->second);
            infos[std::to_string(code)] = texts.plain(value->second);
        }
        if (kept.empty())
            continue;
        out.push_back({"staleSurcharge",
                       objectName(run, id) + ": surcharge line removed, but " + kept + " stay",
                       {{"object", id}, {"infos", infos}}});
    }
    return out;
}

void noticesSection(std::ostringstream& out, const std::vector<Notice>& found) {
    if (found.empty())
        return;
    out << "Notices\n";
    for (const auto& notice : found)
        out << "  " << notice.message << "\n";
}

Json noticesJson(const std::vector<Notice>& found) {
    Json out = Json::array();
    for (const auto& notice : found) {
        Json entry = {{"kind", notice.kind}, {"message", notice.message}};
        for (const auto& [key, value] : notice.details.items())
            entry[key] = value;
        out.push_back(std::move(entry));
    }
    return out;
}

Json errorJson(const Error& e) {
    return {{"code", errorCodeText(e.code())},
            {"description", toUtf8(e.description())},
            {"source", toUtf8(e.source())}};
}

}  // namespace

std::string textReport(const SceneFile& scene, const RunResult& run, ReportOptions options) {
    const ReportTexts texts(scene);
    std::ostringstream out;
    const auto found = notices(texts, run);
    if (options.quiet) {
        writesSection(out, texts, run);
        warningsSection(out, texts, run);
        noticesSection(out, found);
        return out.str();
    }
    out << "Scene   " << echo(utf8Path(scene.file.filename()));
    if (scene.description)
        out << ": " << *scene.description;
    out << "\nEvent   " << eventMethodName(run.event);
    if (run.event != Event::Scene && run.object)
        out << " on " << objectName(run, *run.object);
    out << "\nLocale  " << numbersText(scene.numbers) << "\n";
    spaceIniSection(out, texts, scene);
    out << "\nHost calls\n";
    for (std::size_t i = 0; i < run.log.size(); ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%4zu  ", i + 1);
        out << number << texts.call(run.log[i]);
        const host::Answer& answer = run.log[i].answer;
        if (answer.error) {
            out << " -> error " << errorText(*answer.error);
        } else if (answer.kind == host::Answer::Kind::Text) {
            out << " -> " << texts.quoted(answer.value);
        } else if (answer.kind != host::Answer::Kind::None) {
            out << " -> " << toUtf8(answer.value);
        }
        out << "\n";
    }
    out << "\n";
    writesSection(out, texts, run);
    out << "\n";
    pricedSection(out, texts, run);
    out << "\n";
    warningsSection(out, texts, run);
    if (!found.empty()) {
        out << "\n";
        noticesSection(out, found);
    }
    out << "\nResult  " << (run.outcome.result == kFalse ? "False" : "True") << "\n";
    if (run.outcome.error)
        out << "Error   " << errorText(*run.outcome.error) << "\n";
    if (run.liveObjects > 0) {
        out << "Note    " << run.liveObjects << " host object(s) not released by the event\n";
    }
    return out.str();
}

std::string jsonReport(const SceneFile& scene, const RunResult& run, ReportOptions options) {
    const ReportTexts texts(scene);
    Json json = Json::object();
    json["format"] = kJsonFormat;
    if (!options.quiet) {
        json["scene"] = echo(utf8Path(scene.file.filename()));
        json["event"] = eventName(run.event);
        json["method"] = eventMethodName(run.event);
        json["object"] = run.object ? Json(*run.object) : Json(nullptr);
        Json calls = Json::array();
        for (std::size_t i = 0; i < run.log.size(); ++i) {
            const auto& c = run.log[i];
            Json args = Json::array();
            for (const auto& a : c.args) {
                Json value;
                if (a.kind == Arg::Kind::Str || a.kind == Arg::Kind::StrRef) {
                    value = texts.plain(a.text);
                } else if (a.kind == Arg::Kind::Bool) {
                    value = a.number != 0;
                } else {
                    value = a.number;
                }
                args.push_back({{"type", Arg::kindName(a.kind)}, {"value", value}});
            }
            Json entry = {{"object", host::name(c.object)},
                          {"operation", host::name(c.operation)},
                          {"args", args}};
            if (c.answer.error) {
                entry["error"] = errorJson(*c.answer.error);
            } else if (c.answer.kind != host::Answer::Kind::None) {
                entry["answer"] = answerJson(texts, c.answer);
            }
            calls.push_back(std::move(entry));
        }
        json["calls"] = calls;
    }
    Json writes = Json::array();
    for (const auto& w : run.writes) {
        writes.push_back({{"object", w.object},
                          {"code", w.code},
                          {"old", w.oldValue ? Json(texts.plain(*w.oldValue)) : Json(nullptr)},
                          {"new", texts.plain(w.newValue)}});
    }
    json["writes"] = writes;
    Json warnings = Json::array();
    for (const auto& box : run.warnings) {
        warnings.push_back({{"title", texts.plain(box.title)},
                            {"text", texts.plain(box.text)},
                            {"style", box.style}});
    }
    json["warnings"] = warnings;
    json["notices"] = noticesJson(notices(texts, run));
    if (!options.quiet) {
        Json loads = Json::array();
        for (const auto& load : run.loads) {
            loads.push_back(
                {{"file", texts.plain(load.file)}, {"code", texts.plain(load.catalogCode)}});
        }
        json["loads"] = loads;
    }
    json["result"] = run.outcome.result != kFalse;
    json["error"] = run.outcome.error ? errorJson(*run.outcome.error) : Json(nullptr);
    if (!options.quiet)
        json["unreleasedObjects"] = run.liveObjects;
    return json.dump(2) + "\n";
}

}  // namespace vpolv::sim
