// Recorded host calls as text.
#include "host/call.h"

#include "common/text.h"

namespace vpolv::host {

const char* Arg::kindName(Kind kind) {
    switch (kind) {
        case Kind::I2:
            return "I2";
        case Kind::I4:
            return "I4";
        case Kind::I4Ref:
            return "I4&";
        case Kind::Str:
            return "BSTR";
        case Kind::StrRef:
            return "BSTR&";
        case Kind::Bool:
            return "BOOL";
    }
    return "?";
}

std::string Arg::toString() const {
    std::string out = kindName(kind);
    out += ' ';
    switch (kind) {
        case Kind::Str:
        case Kind::StrRef:
            out += '"' + toUtf8(text) + '"';
            break;
        case Kind::Bool:
            out += number ? "True" : "False";
            break;
        default:
            out += std::to_string(number);
    }
    return out;
}

std::string Call::toString() const {
    std::string out = object + "." + operation + "(";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i)
            out += ", ";
        out += args[i].toString();
    }
    return out + ")";
}

Answer answerOf(const Text& text) {
    return {Answer::Kind::Text, text, std::nullopt};
}
Answer answerOf(Long number) {
    return {Answer::Kind::Long, longToText(number), std::nullopt};
}
Answer answerOf(bool boolean) {
    return {Answer::Kind::Boolean, boolean ? u"True" : u"False", std::nullopt};
}

Arg objectArg(ObjectArg object) {
    return object.isCurrent() ? Arg::i2(ObjectArg::kCurrentObject) : Arg::i4Ref(object.idRef());
}

Arg textArg(TextArg text) {
    return Arg::str(text.text(), text.isByRef());
}

}  // namespace vpolv::host
