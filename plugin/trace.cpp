// The diagnosis trace: recording an event's host calls and boxes, and its record as JSON.
#include "plugin/trace.h"

#include <chrono>
#include <cstdio>

#include "common/release.h"
#include "common/text.h"

namespace vpolv {

namespace {

using host::Arg;
using Args = std::vector<Arg>;
using host::Call;
using host::objectArg;
using host::textArg;

class TracedAppli final : public host::Appli {
  public:
    TracedAppli(TraceRecorder& trace, std::unique_ptr<host::Appli> inner)
        : trace_(trace), inner_(std::move(inner)) {}
    Long StartSessionFromCallParams(Long& block) override {
        return trace_.pass(
            "Appli", "StartSessionFromCallParams", [&] { return Args{Arg::i4Ref(block)}; },
            [&] { return inner_->StartSessionFromCallParams(block); });
    }
    bool EndSession(Long& session) override {
        return trace_.pass(
            "Appli", "EndSession", [&] { return Args{Arg::i4Ref(session)}; },
            [&] { return inner_->EndSession(session); });
    }

  private:
    TraceRecorder& trace_;
    std::unique_ptr<host::Appli> inner_;
};

class TracedScene final : public host::Scene {
  public:
    TracedScene(TraceRecorder& trace, std::unique_ptr<host::Scene> inner)
        : trace_(trace), inner_(std::move(inner)) {}
    Text ObjectGetInfo(Long& s, host::ObjectArg object, Long code) override {
        return trace_.pass(
            "Scene", "ObjectGetInfo",
            [&] {
                return Args{Arg::i4Ref(s), objectArg(object), Arg::i4(code)};
            },
            [&] { return inner_->ObjectGetInfo(s, object, code); });
    }
    void ObjectSetInfo(Long& s, host::ObjectArg object, host::TextArg value, Long code) override {
        trace_.pass(
            "Scene", "ObjectSetInfo",
            [&] {
                return Args{Arg::i4Ref(s), objectArg(object), textArg(value), Arg::i4(code)};
            },
            [&] { inner_->ObjectSetInfo(s, object, value, code); });
    }
    Long SceneGetObjectsNb(Long& s) override {
        return trace_.pass(
            "Scene", "SceneGetObjectsNb", [&] { return Args{Arg::i4Ref(s)}; },
            [&] { return inner_->SceneGetObjectsNb(s); });
    }
    Long SceneGetObjectId(Long& s, Long& rank) override {
        return trace_.pass(
            "Scene", "SceneGetObjectId",
            [&] {
                return Args{Arg::i4Ref(s), Arg::i4Ref(rank)};
            },
            [&] { return inner_->SceneGetObjectId(s, rank); });
    }
    Long ObjectGetChildrenNb(Long& s, host::ObjectArg object, Integer zero) override {
        return trace_.pass(
            "Scene", "ObjectGetChildrenNb",
            [&] {
                return Args{Arg::i4Ref(s), objectArg(object), Arg::i2(zero)};
            },
            [&] { return inner_->ObjectGetChildrenNb(s, object, zero); });
    }
    Long ObjectGetChildId(Long& s, host::ObjectArg object, Long& rank, Integer zero) override {
        return trace_.pass(
            "Scene", "ObjectGetChildId",
            [&] {
                return Args{Arg::i4Ref(s), objectArg(object), Arg::i4Ref(rank), Arg::i2(zero)};
            },
            [&] { return inner_->ObjectGetChildId(s, object, rank, zero); });
    }
    Text SceneGetKeywordInfo(Long& s, host::TextArg keyword) override {
        return trace_.pass(
            "Scene", "SceneGetKeywordInfo",
            [&] {
                return Args{Arg::i4Ref(s), textArg(keyword)};
            },
            [&] { return inner_->SceneGetKeywordInfo(s, keyword); });
    }

  private:
    TraceRecorder& trace_;
    std::unique_ptr<host::Scene> inner_;
};

class TracedCatalog final : public host::Catalog {
  public:
    TracedCatalog(TraceRecorder& trace, std::unique_ptr<host::Catalog> inner)
        : trace_(trace), inner_(std::move(inner)) {}
    Long TableGetLineRankFromName(Long& s, Integer table, Integer zero, Integer one,
                                  host::TextArg line, bool flag) override {
        return trace_.pass(
            "Catalog", "TableGetLineRankFromName",
            [&] {
                return Args{Arg::i4Ref(s), Arg::i2(table), Arg::i2(zero),
                            Arg::i2(one),  textArg(line),  Arg::boolean(flag)};
            },
            [&] { return inner_->TableGetLineRankFromName(s, table, zero, one, line, flag); });
    }
    Text TableGetLineInfo(Long& s, Integer table, Integer zero, Long& rank,
                          Integer column) override {
        return trace_.pass(
            "Catalog", "TableGetLineInfo",
            [&] {
                return Args{Arg::i4Ref(s), Arg::i2(table), Arg::i2(zero), Arg::i4Ref(rank),
                            Arg::i2(column)};
            },
            [&] { return inner_->TableGetLineInfo(s, table, zero, rank, column); });
    }
    bool FileLoad(Long& s, host::TextArg file, host::TextArg code) override {
        return trace_.pass(
            "Catalog", "FileLoad",
            [&] {
                return Args{Arg::i4Ref(s), textArg(file), textArg(code)};
            },
            [&] { return inner_->FileLoad(s, file, code); });
    }

  private:
    TraceRecorder& trace_;
    std::unique_ptr<host::Catalog> inner_;
};

// A JSON text: UTF-16 turned into UTF-8. A text holding an unpaired surrogate, which UTF-8
// cannot carry, is written as {"utf16": [code units]} so that nothing is lost.
void appendText(std::string& out, const Text& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        const bool paired =
            high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if ((high && !paired) || low) {
            out += "{\"utf16\":[";
            for (std::size_t j = 0; j < text.size(); ++j)
                out += (j ? "," : "") + std::to_string(static_cast<unsigned>(text[j]));
            out += "]}";
            return;
        }
        if (paired)
            ++i;
    }
    out += '"';
    for (const char ch : toUtf8(text)) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += ch;
        }
    }
    out += '"';
}

void appendText(std::string& out, std::string_view utf8) {
    appendText(out, fromUtf8(utf8));
}

std::string hex(std::int32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

void appendError(std::string& out, const Error& error) {
    out += "{\"code\":\"" + hex(error.code()) + "\",\"source\":";
    appendText(out, error.source());
    out += ",\"description\":";
    appendText(out, error.description());
    out += '}';
}

// Now, in UTC, as 2026-12-07T23:59:59Z.
std::string utcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

}  // namespace

TraceRecorder::TraceRecorder(host::Connector& host, platform::Dialogs& messages)
    : host_(host), messages_(messages) {}

TraceRecorder::~TraceRecorder() = default;

template <class T>
T TraceRecorder::created(const char* object, std::u16string_view progId,
                         T (host::Connector::*create)()) {
    return pass(
        object, "CreateObject", [&] { return Args{Arg::str(Text(progId), false)}; },
        [&] { return (host_.*create)(); });
}

template <class Traced, class T>
std::unique_ptr<T> TraceRecorder::wrap(std::unique_ptr<T> inner) {
    std::unique_ptr<T> traced;
    // The object is moved only once the wrapper's memory is there.
    keep([&] { traced = std::make_unique<Traced>(*this, std::move(inner)); });
    return traced ? std::move(traced) : std::move(inner);
}

std::unique_ptr<host::Appli> TraceRecorder::createAppli() {
    return wrap<TracedAppli>(created("Appli", kAppliProgId, &host::Connector::createAppli));
}

std::unique_ptr<host::Scene> TraceRecorder::createScene() {
    return wrap<TracedScene>(created("Scene", kSceneProgId, &host::Connector::createScene));
}

std::unique_ptr<host::Catalog> TraceRecorder::createCatalog() {
    return wrap<TracedCatalog>(created("Catalog", kCatalogProgId, &host::Connector::createCatalog));
}

void TraceRecorder::show(const Text& text, const Text& title, Long style) {
    keep([&] { boxes_.push_back({text, title, style}); });
    messages_.show(text, title, style);
}

std::string TraceRecorder::record(const Event& event) const {
    const auto& sys = event.ctx.sys;
    const auto& m = event.ctx.m;
    std::string out = "{\"format\":" + std::to_string(kFormat) + ",\"plugin\":";
    appendText(out, kVersion);
    out += ",\"time\":\"" + utcNow() + "\",\"event\":\"" + event.name + "\"";
    out += ",\"callParams\":" + std::to_string(event.callParams);
    out += ",\"decimalSeparator\":";
    appendText(out, sys.locale.doubleToText(0.5).substr(1, 1));
    out += ",\"pathSeparator\":";
    appendText(out, Text(1, sys.files.separator()));
    out += ",\"spaceIni\":";
    appendText(out, sys.files.moduleFolder() + sys.files.separator() + u"SPACE.INI");
    out += ",\"catalogsDir\":";
    appendText(out, m.sCatalogsDir);
    out += ",\"catalogFile\":";
    const host::Call* load = nullptr;
    for (const auto& call : calls_) {
        if (call.operation == "FileLoad")
            load = &call;
    }
    if (load)
        appendText(out, load->args[1].text);
    else
        out += "null";

    out += ",\"calls\":[";
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        const host::Call& call = calls_[i];
        out += i ? ",{" : "{";
        out += "\"object\":\"" + call.object + "\",\"operation\":\"" + call.operation +
               "\",\"args\":[";
        for (std::size_t a = 0; a < call.args.size(); ++a) {
            const Arg& arg = call.args[a];
            out += a ? "," : "";
            out += "{\"kind\":\"" + std::string(Arg::kindName(arg.kind)) + "\",\"value\":";
            switch (arg.kind) {
                case Arg::Kind::Str:
                case Arg::Kind::StrRef:
                    appendText(out, arg.text);
                    break;
                case Arg::Kind::Bool:
                    out += arg.number ? "true" : "false";
                    break;
                default:
                    out += std::to_string(arg.number);
            }
            out += '}';
        }
        out += ']';
        const host::Answer& answer = call.answer;
        if (answer.error) {
            out += ",\"error\":";
            appendError(out, *answer.error);
        } else if (answer.kind == host::Answer::Kind::Long) {
            out += ",\"answer\":" + toUtf8(answer.value);
        } else if (answer.kind == host::Answer::Kind::Text) {
            out += ",\"answer\":";
            appendText(out, answer.value);
        } else if (answer.kind == host::Answer::Kind::Boolean) {
            out += std::string(",\"answer\":") + (answer.value == u"True" ? "true" : "false");
        }
        out += '}';
    }
    out += "],\"boxes\":[";
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        out += i ? ",{\"title\":" : "{\"title\":";
        appendText(out, boxes_[i].title);
        out += ",\"text\":";
        appendText(out, boxes_[i].text);
        out += ",\"style\":" + std::to_string(boxes_[i].style) + "}";
    }
    out += std::string("],\"result\":") + (event.result ? "true" : "false");
    if (event.error) {
        out += ",\"error\":";
        appendError(out, *event.error);
    }
    out += "}\n";
    return out;
}

void writeTrace(const platform::Trace& trace, const Text& file, const TraceRecorder& recorder,
                const TraceRecorder::Event& event) noexcept {
    if (recorder.lost())
        return;
    try {
        trace.append(file, recorder.record(event));
    } catch (...) {
        // A trace that cannot be made is skipped; the event is what it was.
    }
}

}  // namespace vpolv
