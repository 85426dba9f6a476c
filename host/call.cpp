// Recorded host calls: as text, and checked against the operations' declarations.
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
    std::string out = std::string(name(object)) + "." + std::string(name(operation)) + "(";
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

namespace {

// A parameter's kind letter (parameterKind; 'S' for the text of a creation, by value only),
// the argument kinds it is recorded with, and how a message names them.
struct ParameterKind {
    char letter;
    Arg::Kind kind;
    Arg::Kind orKind;
    const char* text;
};
constexpr ParameterKind kParameterKinds[] = {
    {'R', Arg::Kind::I4Ref, Arg::Kind::I4Ref, "I4&"},
    {'O', Arg::Kind::I2, Arg::Kind::I4Ref, "I2 or I4&"},
    {'L', Arg::Kind::I4, Arg::Kind::I4, "I4"},
    {'I', Arg::Kind::I2, Arg::Kind::I2, "I2"},
    {'T', Arg::Kind::Str, Arg::Kind::StrRef, "BSTR or BSTR&"},
    {'B', Arg::Kind::Bool, Arg::Kind::Bool, "BOOL"},
    {'S', Arg::Kind::Str, Arg::Kind::Str, "BSTR"},
};

const ParameterKind& parameterOf(char letter) {
    for (const ParameterKind& p : kParameterKinds) {
        if (p.letter == letter)
            return p;
    }
    return kParameterKinds[5];  // Boolean: what parameterKind() gives for the rest
}

const char* answerText(Answer::Kind kind) {
    switch (kind) {
        case Answer::Kind::Text:
            return "a text";
        case Answer::Kind::Long:
            return "a number";
        default:
            return "a Boolean";
    }
}

Answer::Kind answerKind(char result) {
    switch (result) {
        case 'L':
            return Answer::Kind::Long;
        case 'T':
            return Answer::Kind::Text;
        case 'B':
            return Answer::Kind::Boolean;
        default:
            return Answer::Kind::None;
    }
}

}  // namespace

std::optional<std::string> misnamed(std::string_view object, std::string_view operation) {
    const std::optional<Operation> op = operationNamed(operation);
    if (op == Operation::CreateObject) {
        if (!objectNamed(object))
            return "no host object " + std::string(object) + " to create";
        return std::nullopt;
    }
    if (!op || *op == Operation::Release)
        return "unknown operation";
    if (name(operationInfo(*op).object) != object)
        return std::string(operation) + " is an operation of " +
               std::string(name(operationInfo(*op).object)) + ", not of " + std::string(object);
    return std::nullopt;
}

const Arg* objectArgOf(const Call& call) {
    if (call.isLifecycle())
        return nullptr;
    const char* kinds = operationInfo(call.operation).kinds;
    for (std::size_t i = 0; kinds[i] && i < call.args.size(); ++i) {
        if (kinds[i] == 'O')
            return &call.args[i];
    }
    return nullptr;
}

std::optional<std::string> misfit(const Call& call) {
    if (auto fault = misnamed(name(call.object), name(call.operation)))
        return fault;
    const char* kinds = "S";  // a creation: one text by value
    char result = 'V';
    if (!call.isLifecycle()) {
        kinds = operationInfo(call.operation).kinds;
        result = operationInfo(call.operation).result;
    }
    const std::size_t expected = std::char_traits<char>::length(kinds);
    if (call.args.size() != expected) {
        std::string list;
        for (const char* k = kinds; *k; ++k)
            list += std::string(k == kinds ? "" : ", ") + parameterOf(*k).text;
        return "expected " + std::to_string(expected) +
               (expected == 1 ? " argument (" : " arguments (") + list + "), found " +
               std::to_string(call.args.size());
    }
    for (std::size_t i = 0; i < expected; ++i) {
        const Arg& arg = call.args[i];
        const ParameterKind& parameter = parameterOf(kinds[i]);
        const std::string place = "args[" + std::to_string(i) + "]: ";
        if (arg.kind != parameter.kind && arg.kind != parameter.orKind) {
            return place + "expected " + parameter.text + ", found " + Arg::kindName(arg.kind);
        }
        if (arg.kind == Arg::Kind::I2 && (arg.number < -32768 || arg.number > 32767))
            return place + "I2 " + std::to_string(arg.number) + " is out of the 16-bit range";
    }
    const Answer& answer = call.answer;
    if (!answer.error && answer.kind != Answer::Kind::None && answer.kind != answerKind(result)) {
        return std::string("answer: expected ") +
               (result == 'V' ? "none (the call answers nothing)"
                              : answerText(answerKind(result))) +
               ", found " + answerText(answer.kind);
    }
    return std::nullopt;
}

Arg objectArg(ObjectArg object) {
    return object.isCurrent() ? Arg::i2(ObjectArg::kCurrentObject) : Arg::i4Ref(object.idRef());
}

Arg textArg(TextArg text) {
    return Arg::str(text.text(), text.isByRef());
}

}  // namespace vpolv::host
