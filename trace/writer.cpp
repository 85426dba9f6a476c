// Writing a record as one JSON line. The plug-in writes records, so this is a small writer of
// its own rather than a JSON library inside the DLL; the reader beside it reads back every byte.
#include <cstdio>

#include "common/text.h"
#include "trace/record_fields.h"

namespace vpolv::trace {

namespace {

using host::Arg;

// A JSON text: UTF-16 turned into UTF-8, or {"utf16": [code units]} for a text holding an
// unpaired surrogate.
void appendText(std::string& out, const Text& text) {
    if (hasUnpairedSurrogate(text)) {
        out += "{\"utf16\":[";
        for (std::size_t j = 0; j < text.size(); ++j)
            out += (j ? "," : "") + std::to_string(static_cast<unsigned>(text[j]));
        out += "]}";
        return;
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

void appendError(std::string& out, const Error& error) {
    out += "{\"code\":\"" + errorCodeText(error.code()) + "\",\"source\":";
    appendText(out, error.source());
    out += ",\"description\":";
    appendText(out, error.description());
    out += '}';
}

void appendCall(std::string& out, const host::Call& call) {
    out += "{\"object\":\"" + std::string(host::name(call.object)) + "\",\"operation\":\"" +
           std::string(host::name(call.operation)) + "\",\"args\":[";
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

// Writes each member mapRecord() names as `,"key":value` (the first of an object as `{"key":`).
class Writing {
  public:
    Writing(std::string& out, bool first) : out_(out), first_(first) {}

    void field(const char* key, const std::string& utf8, Presence = Presence::Required) {
        appendText(name(key), std::string_view(utf8));
    }
    void field(const char* key, const Text& text) { appendText(name(key), text); }
    void field(const char* key, Long number) { name(key) += std::to_string(number); }
    void field(const char* key, bool value) { name(key) += value ? "true" : "false"; }
    void field(const char* key, Event event) { appendText(name(key), eventName(event)); }
    void field(const char* key, const std::optional<Text>& text) {
        if (text)
            appendText(name(key), *text);
        else
            name(key) += "null";
    }
    void field(const char* key, const std::optional<Error>& error) {
        if (error)
            appendError(name(key), *error);
    }
    void numbers(const char* decimal, const char* thousands, const char* currency,
                 const NumberSymbols& numbers) {
        field(decimal, numbers.decimal);
        field(thousands, numbers.thousands);
        field(currency, numbers.currency);
    }
    void character(const char* key, const Text& text) { field(key, text); }
    template <class T>
    void list(const char* key, const std::vector<T>& items, Presence, const char* = nullptr) {
        name(key) += '[';
        for (std::size_t i = 0; i < items.size(); ++i) {
            out_ += i ? "," : "";
            element(items[i]);
        }
        out_ += ']';
    }

  private:
    std::string& name(const char* key) {
        out_ += first_ ? "{\"" : ",\"";
        first_ = false;
        return out_ += std::string(key) + "\":";
    }
    void element(const host::Call& call) { appendCall(out_, call); }
    void element(const Box& box) {
        Writing members(out_, true);
        mapBox(members, box);
        out_ += '}';
    }

    std::string& out_;
    bool first_;
};

}  // namespace

std::string recordLine(const Record& record) {
    std::string out = "{\"format\":" + std::to_string(kFormat);
    Writing io(out, false);
    mapRecord(io, record);
    out += "}\n";
    return out;
}

}  // namespace vpolv::trace
