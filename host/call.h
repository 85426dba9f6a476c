// A host call as recorded: the operation, and each argument with its automation kind. The
// in-memory host keeps its log in this form, and so does the diagnosis trace.
#pragma once

#include <optional>
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
    std::string object;     // "Appli", "Scene" or "Catalog"
    std::string operation;  // SDK operation name, or "CreateObject" / "Release"
    std::vector<Arg> args;
    Answer answer;  // kept once the call has returned or failed; a release answers nothing

    bool isLifecycle() const { return operation == "CreateObject" || operation == "Release"; }
    // For example: Scene.ObjectGetInfo(I4& 1, I2 -2, I4 2)
    std::string toString() const;
};

// The recorded answer of a call that returned text, a Long or a Boolean.
Answer answerOf(const Text& text);
Answer answerOf(Long number);
Answer answerOf(bool boolean);

// What in a recorded call does not fit its operation as host/operations.def declares it: the
// operation unknown or of another host object, the number of arguments, an argument's kind (or
// an I2 out of 16 bits), or the kind of the answer. A creation ("CreateObject" of Appli, Scene or
// Catalog) takes one text by value and answers nothing. An error in place of the answer fits
// every call, and so does no answer at all (the call raised something the record does not keep).
// nullopt when the call fits.
std::optional<std::string> misfit(const Call& call);

// The recorded form of an object argument: I2 -2, or the id as I4&.
Arg objectArg(ObjectArg object);
// The recorded form of a text argument, by value or by reference.
Arg textArg(TextArg text);

}  // namespace vpolv::host
