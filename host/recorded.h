// The host objects of a recording host. Every call becomes its record (host::Call: the object,
// the operation and each argument with its automation kind, from the operation's declared
// parameters) here and nowhere else; the host decides how the call is answered:
//
//   template <class Result, class MakeCall, class Run>
//   Result Host::perform(MakeCall makeCall, Run run);
//
// where makeCall() gives the record (made when the host asks for it, so that a host may keep
// its own allocations apart) and run() makes the call on the inner object the recorded one
// wraps (a host that answers by itself, from a trace, has none and never runs it).
#pragma once

#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/call.h"
#include "host/host.h"

namespace vpolv::host {

// The recorded form of an argument declared as P.
template <class P, class A>
Arg recordedArg(A& value) {
    if constexpr (std::is_same_v<P, Long&>)
        return Arg::i4Ref(value);
    else if constexpr (std::is_same_v<P, Long>)
        return Arg::i4(value);
    else if constexpr (std::is_same_v<P, Integer>)
        return Arg::i2(value);
    else if constexpr (std::is_same_v<P, bool>)
        return Arg::boolean(value);
    else if constexpr (std::is_same_v<P, ObjectArg>)
        return objectArg(value);
    else
        return textArg(value);
}

template <class F>
struct RecordedArgs;
template <class R, class... P>
struct RecordedArgs<R(P...)> {
    template <class... A>
    static std::vector<Arg> of(A&... values) {
        return {recordedArg<P>(values)...};
    }
};

// The record of the creation of a host object.
inline Call creationCall(ObjectKind object) {
    return {object, Operation::CreateObject, {Arg::str(Text(progId(object)), false)}, {}};
}

template <class Host, class Object>
class RecordedObject : public Object {
  public:
    RecordedObject(Host& host, std::unique_ptr<Object> inner)
        : host_(host), inner_(std::move(inner)) {}

  protected:
    template <class F, class Run, class... A>
    auto perform(ObjectKind object, Operation operation, Run&& run, A&... args) {
        return host_.template perform<typename Declared<F>::Result>(
            [&] {
                return Call{object, operation, RecordedArgs<F>::of(args...), {}};
            },
            std::forward<Run>(run));
    }

    Host& host_;
    std::unique_ptr<Object> inner_;
};

#define VPOLV_ARGUMENTS(...) __VA_ARGS__
#define VPOLV_RECORDED(object, name, result, parameters, arguments)                               \
    result name parameters override {                                                             \
        return this->template perform<result parameters>(                                         \
            ObjectKind::object, Operation::name,                                                  \
            [&]() -> result { return this->inner_->name arguments; }, VPOLV_ARGUMENTS arguments); \
    }

// The recording object of each kind; Recorded<Host, Scene> records the calls of a Scene.
template <class Host, class Object>
class Recorded;

template <class Host>
class Recorded<Host, Appli> final : public RecordedObject<Host, Appli> {
  public:
    using RecordedObject<Host, Appli>::RecordedObject;
#define VPOLV_APPLI(...) VPOLV_RECORDED(Appli, __VA_ARGS__)
#include "host/operations.def"
};

template <class Host>
class Recorded<Host, Scene> final : public RecordedObject<Host, Scene> {
  public:
    using RecordedObject<Host, Scene>::RecordedObject;
#define VPOLV_SCENE(...) VPOLV_RECORDED(Scene, __VA_ARGS__)
#include "host/operations.def"
};

template <class Host>
class Recorded<Host, Catalog> final : public RecordedObject<Host, Catalog> {
  public:
    using RecordedObject<Host, Catalog>::RecordedObject;
#define VPOLV_CATALOG(...) VPOLV_RECORDED(Catalog, __VA_ARGS__)
#include "host/operations.def"
};

#undef VPOLV_RECORDED
#undef VPOLV_ARGUMENTS

// A recording object for an inner one; inner is left as it is when there is no memory for it.
template <class Object, class Host>
std::unique_ptr<Object> recorded(Host& host, std::unique_ptr<Object>&& inner) {
    return std::make_unique<Recorded<Host, Object>>(host, std::move(inner));
}

}  // namespace vpolv::host
