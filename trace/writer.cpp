// Writing a record as one JSON line. The plug-in writes records, so this is a small writer of
// its own rather than a JSON library inside the DLL; the reader beside it reads back every byte.
#include <cstdio>

#include "common/text.h"
#include "trace/record.h"

namespace vpolv::trace {

namespace {

using host::Arg;

bool isHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// A JSON text: UTF-16 turned into UTF-8, or {"utf16": [code units]} for a text holding an
// unpaired surrogate.
void appendText(std::string& out, const Text& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool paired = isHigh(text[i]) && i + 1 < text.size() && isLow(text[i + 1]);
        if (paired) {
            ++i;
        } else if (isHigh(text[i]) || isLow(text[i])) {
            out += "{\"utf16\":[";
            for (std::size_t j = 0; j < text.size(); ++j)
                out += (j ? "," : "") + std::to_string(static_cast<unsigned>(text[j]));
            out += "]}";
            return;
        }
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

}  // namespace

std::string recordLine(const Record& record) {
    std::string out = "{\"format\":" + std::to_string(kFormat) + ",\"plugin\":";
    appendText(out, record.plugin);
    out += ",\"time\":";
    appendText(out, record.time);
    out += ",\"event\":";
    appendText(out, record.event);
    out += ",\"callParams\":" + std::to_string(record.callParams);
    out += ",\"decimalSeparator\":";
    appendText(out, record.numbers.decimal);
    out += ",\"thousandsSeparator\":";
    appendText(out, record.numbers.thousands);
    out += ",\"currencySign\":";
    appendText(out, record.numbers.currency);
    out += ",\"pathSeparator\":";
    appendText(out, record.pathSeparator);
    out += ",\"spaceIni\":";
    appendText(out, record.spaceIni);
    out += ",\"catalogsDir\":";
    appendText(out, record.catalogsDir);
    out += ",\"catalogFile\":";
    if (record.catalogFile)
        appendText(out, *record.catalogFile);
    else
        out += "null";
    out += ",\"calls\":[";
    for (std::size_t i = 0; i < record.calls.size(); ++i) {
        out += i ? "," : "";
        appendCall(out, record.calls[i]);
    }
    out += "],\"boxes\":[";
    for (std::size_t i = 0; i < record.boxes.size(); ++i) {
        out += i ? ",{\"title\":" : "{\"title\":";
        appendText(out, record.boxes[i].title);
        out += ",\"text\":";
        appendText(out, record.boxes[i].text);
        out += ",\"style\":" + std::to_string(record.boxes[i].style) + "}";
    }
    out += std::string("],\"result\":") + (record.result ? "true" : "false");
    if (record.error) {
        out += ",\"error\":";
        appendError(out, *record.error);
    }
    out += "}\n";
    return out;
}

}  // namespace vpolv::trace
