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

// Creates the host's automation objects by programmatic identifier.
class Connector {
  public:
    virtual ~Connector() = default;
    static constexpr std::u16string_view kAppliProgId = u"KDSDK.Appli";
    static constexpr std::u16string_view kSceneProgId = u"KDSDK.Scene";
    static constexpr std::u16string_view kCatalogProgId = u"KDSDK.Catalog";

    virtual std::unique_ptr<Appli> createAppli() = 0;
    virtual std::unique_ptr<Scene> createScene() = 0;
    virtual std::unique_ptr<Catalog> createCatalog() = 0;
};

// --- The operations as data ---

enum class Operation {
#define VPOLV_OPERATION(object, name, result, parameters, arguments) name,
#include "host/operations.def"
};

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

struct OperationInfo {
    std::string_view object;  // "Appli", "Scene" or "Catalog"
    std::string_view name;
    const char* kinds;  // the parameters' kinds in order, as parameterKind gives them
    char result;        // the result's kind, as resultKind gives it
};

inline constexpr OperationInfo kOperations[] = {
#define VPOLV_OPERATION(object, name, result, parameters, arguments) \
    {#object, #name, Declared<result parameters>::kKinds, Declared<result parameters>::kResult},
#include "host/operations.def"
};

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
