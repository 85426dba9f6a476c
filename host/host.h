// The host application's automation SDK, seen from the plug-in.
//
// Three automation objects ("KDSDK.Appli", "KDSDK.Scene", "KDSDK.Catalog") offer the twelve
// operations of host/operations.def, declared here from that table. Every argument keeps the
// kind the host expects, so that a binding can pass exactly the right automation types (see the
// table). Results arrive already converted (to Long, Text or bool); a failed call or a result
// that does not convert raises vpolv::Error.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "common/types.h"

namespace vpolv::host {

// The object argument of a host call.
class ObjectArg {
  public:
    // -2 as a 16-bit integer: the object that the current host call concerns.
    static constexpr Integer kCurrentObject = -2;
    static ObjectArg current() { return ObjectArg(nullptr); }
    // An object id held in a 32-bit variable, passed by reference.
    static ObjectArg id(Long& objectId) { return ObjectArg(&objectId); }

    bool isCurrent() const { return id_ == nullptr; }
    // The referenced id variable; only for !isCurrent().
    Long& idRef() const { return *id_; }

  private:
    explicit ObjectArg(Long* id) : id_(id) {}
    Long* id_;
};

// A text argument, by value or by reference.
class TextArg {
  public:
    static TextArg byValue(const Text& text) { return TextArg(const_cast<Text*>(&text), false); }
    static TextArg byRef(Text& text) { return TextArg(&text, true); }

    bool isByRef() const { return byRef_; }
    const Text& text() const { return *text_; }
    // The caller's variable; a binding may write back what the host left in a by-reference text.
    Text& ref() const { return *text_; }

  private:
    TextArg(Text* text, bool byRef) : text_(text), byRef_(byRef) {}
    Text* text_;
    bool byRef_;
};

// "KDSDK.Appli"
class Appli {
  public:
    virtual ~Appli() = default;
#define VPOLV_APPLI(name, result, parameters, arguments) virtual result name parameters = 0;
#include "host/operations.def"
};

// "KDSDK.Scene"
class Scene {
  public:
    virtual ~Scene() = default;
#define VPOLV_SCENE(name, result, parameters, arguments) virtual result name parameters = 0;
#include "host/operations.def"
};

// "KDSDK.Catalog"
class Catalog {
  public:
    virtual ~Catalog() = default;
#define VPOLV_CATALOG(name, result, parameters, arguments) virtual result name parameters = 0;
#include "host/operations.def"
};

// The host's automation objects (host/objects.def), as a record names them.
enum class ObjectKind {
#define VPOLV_HOST_OBJECT(kind, progId) kind,
#include "host/objects.def"
};

struct HostObjectInfo {
    ObjectKind kind;
    std::string_view name;           // "Appli", "Scene" or "Catalog"
    std::string_view progId;         // "KDSDK.Appli", ...
    std::u16string_view progIdText;  // the same, as the automation layer passes it
    const wchar_t* progIdWide;       // the same, as Win32 takes it
};

inline constexpr HostObjectInfo kHostObjects[] = {
#define VPOLV_HOST_OBJECT(kind, progId) {ObjectKind::kind, #kind, progId, u"" progId, L"" progId},
#include "host/objects.def"
};

inline constexpr const HostObjectInfo& objectInfo(ObjectKind kind) {
    return kHostObjects[static_cast<std::size_t>(kind)];
}
inline constexpr std::string_view name(ObjectKind kind) {
    return objectInfo(kind).name;
}
inline constexpr std::u16string_view progId(ObjectKind kind) {
    return objectInfo(kind).progIdText;
}
// The object a record names; nullopt for any other name.
inline constexpr std::optional<ObjectKind> objectNamed(std::string_view name) {
    for (const HostObjectInfo& object : kHostObjects) {
        if (object.name == name)
            return object.kind;
    }
    return std::nullopt;
}

// The kind of each object class: kindOf<Scene> is ObjectKind::Scene.
template <class Object>
inline constexpr ObjectKind kindOf = ObjectKind{};
#define VPOLV_HOST_OBJECT(kind, progId) \
    template <>                         \
    inline constexpr ObjectKind kindOf<kind> = ObjectKind::kind;
#include "host/objects.def"

// Creates the host's automation objects by programmatic identifier.
class Connector {
  public:
    virtual ~Connector() = default;
#define VPOLV_HOST_OBJECT(kind, progId) virtual std::unique_ptr<kind> create##kind() = 0;
#include "host/objects.def"
};

// The connector's creation of an object by its class: created<Scene>(connector).
template <class Object>
std::unique_ptr<Object> created(Connector& connector);
#define VPOLV_HOST_OBJECT(kind, progId)                                 \
    template <>                                                         \
    inline std::unique_ptr<kind> created<kind>(Connector & connector) { \
        return connector.create##kind();                                \
    }
#include "host/objects.def"

// In a class deriving from Connector, the creation of one object, handed to the class's member
// template `member<Object>()`. Expanded for every object where a connector is implemented:
//   #define VPOLV_HOST_OBJECT(kind, progId) VPOLV_CREATE(kind, created)
//   #include "host/objects.def"
#define VPOLV_CREATE(kind, member)                                 \
    std::unique_ptr<::vpolv::host::kind> create##kind() override { \
        return this->template member<::vpolv::host::kind>();       \
    }

// --- The operations as data ---

// A host call: one of the SDK's operations, or the creation or release of a host object.
enum class Operation {
#define VPOLV_OPERATION(object, name, result, parameters, arguments) name,
#include "host/operations.def"
    CreateObject,
    Release,
};

inline constexpr bool isLifecycle(Operation op) {
    return op == Operation::CreateObject || op == Operation::Release;
}

// The name of an operation, as a record writes it.
inline constexpr std::string_view kOperationNames[] = {
#define VPOLV_OPERATION(object, name, result, parameters, arguments) #name,
#include "host/operations.def"
    "CreateObject",
    "Release",
};

inline constexpr std::string_view name(Operation op) {
    return kOperationNames[static_cast<std::size_t>(op)];
}
// The operation a record names; nullopt for any other name.
inline constexpr std::optional<Operation> operationNamed(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kOperationNames); ++i) {
        if (kOperationNames[i] == name)
            return static_cast<Operation>(i);
    }
    return std::nullopt;
}

// The parameters of each operation by name, in order: param::ObjectGetInfo::code is the third
// argument of ObjectGetInfo (see arg() in host/call.h). A creation takes the programmatic
// identifier.
namespace param {
#define VPOLV_LIST(...) __VA_ARGS__
#define VPOLV_OPERATION(object, name, result, parameters, arguments) \
    enum class name { VPOLV_LIST arguments };                        \
    constexpr Operation operationOf(name) {                          \
        return Operation::name;                                      \
    }
#include "host/operations.def"
#undef VPOLV_LIST
enum class CreateObject { progId };
constexpr Operation operationOf(CreateObject) {
    return Operation::CreateObject;
}
}  // namespace param

// The letter of a parameter's kind: R Long by reference, O object, L Long, I Integer, T text,
// B Boolean.
template <class P>
constexpr char parameterKind() {
    if constexpr (std::is_same_v<P, Long&>)
        return 'R';
    else if constexpr (std::is_same_v<P, ObjectArg>)
        return 'O';
    else if constexpr (std::is_same_v<P, Long>)
        return 'L';
    else if constexpr (std::is_same_v<P, Integer>)
        return 'I';
    else if constexpr (std::is_same_v<P, TextArg>)
        return 'T';
    else
        return std::is_same_v<P, bool> ? 'B' : '?';
}

// The letter of a result's kind: L Long, T text, B Boolean, V none (void).
template <class R>
constexpr char resultKind() {
    if constexpr (std::is_same_v<R, Long>)
        return 'L';
    else if constexpr (std::is_same_v<R, Text>)
        return 'T';
    else if constexpr (std::is_same_v<R, bool>)
        return 'B';
    else
        return std::is_void_v<R> ? 'V' : '?';
}

// An operation's declared signature, taken apart.
template <class F>
struct Declared;
template <class R, class... P>
struct Declared<R(P...)> {
    using Result = R;
    static constexpr char kKinds[] = {parameterKind<P>()..., '\0'};
    static constexpr char kResult = resultKind<R>();
    // Calls visit.template operator()<P>(value) for each value in order, P the type its
    // parameter is declared with.
    template <class Visit, class... A>
    static void visit(Visit&& visitor, A&... values) {
        (visitor.template operator()<P>(values), ...);
    }
};

// The SDK's operations, in the order of Operation.
struct OperationInfo {
    ObjectKind object;
    std::string_view name;
    const char* kinds;  // the parameters' kinds in order, as parameterKind gives them
    char result;        // the result's kind, as resultKind gives it
};

inline constexpr OperationInfo kOperations[] = {
#define VPOLV_OPERATION(object, name, result, parameters, arguments) \
    {ObjectKind::object, #name, Declared<result parameters>::kKinds, \
     Declared<result parameters>::kResult},
#include "host/operations.def"
};

// Only for an SDK operation (!isLifecycle(op)).
inline constexpr const OperationInfo& operationInfo(Operation op) {
    return kOperations[static_cast<std::size_t>(op)];
}

// Calls member of object with each declared parameter P taken from source as
// source.template get<P>(its index), and returns what the member returns.
template <class Object, class R, class... P, class Source>
R invokeWith(Object& object, R (Object::*member)(P...), Source& source) {
    return [&]<std::size_t... I>(std::index_sequence<I...>)->R {
        return (object.*member)(source.template get<P>(I)...);
    }
    (std::index_sequence_for<P...>{});
}

}  // namespace vpolv::host
