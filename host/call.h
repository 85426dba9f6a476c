// A host call as recorded: the operation, and each argument with its automation kind. The
// in-memory host keeps its log in this form, and so does the diagnosis trace.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/types.h"
#include "host/host.h"

namespace vpolv::host {

// One recorded argument: its automation kind and its value.
struct Arg {
    enum class Kind { I2, I4, I4Ref, Str, StrRef, Bool };
    Kind kind;
    Long number = 0;
    Text text;

    static Arg i2(Integer v) { return {Kind::I2, v, {}}; }
    static Arg i4(Long v) { return {Kind::I4, v, {}}; }
    static Arg i4Ref(Long v) { return {Kind::I4Ref, v, {}}; }
    static Arg str(Text v, bool byRef) {
        return {byRef ? Kind::StrRef : Kind::Str, 0, std::move(v)};
    }
    static Arg boolean(bool v) { return {Kind::Bool, v ? -1 : 0, {}}; }

    // The kind's automation type name: "I2", "I4", "I4&", "BSTR", "BSTR&", "BOOL".
    static const char* kindName(Kind kind);
    // For example: I2 -2, I4& 7, BSTR& "_1_A_90", BOOL False.
    std::string toString() const;
    bool operator==(const Arg&) const = default;
};

// What a recorded call answered: a value of the operation's result type, shown as text (a text
// as it is, a number in decimal, a Boolean as "True" or "False"), nothing, or the error it raised.
struct Answer {
    enum class Kind { None, Text, Long, Boolean };
    Kind kind = Kind::None;
    Text value;
    std::optional<Error> error;
};

// One recorded operation, or the creation or release of a host object.
struct Call {
    ObjectKind object;
    Operation operation;
    std::vector<Arg> args;
    Answer answer;  // kept once the call has returned or failed; a release answers nothing

    bool isLifecycle() const { return host::isLifecycle(operation); }
    // For example: Scene.ObjectGetInfo(I4& 1, I2 -2, I4 2)
    std::string toString() const;
};

// The argument of a named parameter of a call of that parameter's operation:
// arg(call, param::ObjectGetInfo::code). A call of another operation, or with fewer arguments
// than its operation declares, is a programming error (std::logic_error); a call read from a
// trace fits its operation (see misfit).
template <class Parameter>
requires requires(Parameter p) {
    param::operationOf(p);
}
const Arg& arg(const Call& call, Parameter parameter) {
    const auto at = static_cast<std::size_t>(parameter);
    if (call.operation != param::operationOf(parameter) || at >= call.args.size())
        throw std::logic_error("no such argument in the call");
    return call.args[at];
}

// The argument of the call declared as an object (ObjectArg), if the operation has one.
const Arg* objectArgOf(const Call& call);

// The recorded answer of a call that returned text, a Long or a Boolean.
Answer answerOf(const Text& text);
Answer answerOf(Long number);
Answer answerOf(bool boolean);

// What in a call's names, as a record gives them, does not fit host/operations.def: the
// operation unknown (a release is not recorded), or of another host object, or the object to
// create unknown. nullopt when the names fit (objectNamed and operationNamed then find them).
std::optional<std::string> misnamed(std::string_view object, std::string_view operation);

// What in a recorded call does not fit its operation as host/operations.def declares it: the
// operation unknown (a release) or of another host object, the number of arguments, an argument's
// kind (or an I2 out of 16 bits), or the kind of the answer. A creation ("CreateObject" of Appli,
// Scene or Catalog) takes one text by value and answers nothing. An error in place of the answer
// fits every call, and so does no answer at all (the call raised something the record does not
// keep). nullopt when the call fits.
std::optional<std::string> misfit(const Call& call);

// The recorded form of an object argument: I2 -2, or the id as I4&.
Arg objectArg(ObjectArg object);
// The recorded form of a text argument, by value or by reference.
Arg textArg(TextArg text);

}  // namespace vpolv::host
