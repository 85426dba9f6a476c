// The Plugin class: the object the host creates and calls.
//
// Every public method raises vpolv::Error on failure; the event methods first end the host
// session and release the host objects, so a failing event never leaves a session open.
//
// Nested calls (the code that keeps them apart points here). Calls may nest: the host handles its
// messages inside the Gola warning box, and may do so inside any of its own operations, so another
// event (on this instance or another one) can start before the running one has ended. A call that
// enters while another runs on the same thread works on state of its own: its own host objects and
// session, its own copy of the module state's texts (ModuleStateScope, catalog/constantes.h) and,
// on the same instance, its own copy of the fields (Plugin::Entry). When it ends, the interrupted
// call finds its state exactly as it left it, so every reference it holds stays valid; the inner
// state and its host objects go with the inner call. Its lasting effects are its host calls alone.
// Calls that do not nest see the state the previous call left, as before.
//
// Outcome/guarded turn a call into the host's view: a result, or False plus the error.
#pragma once

#include <optional>
#include <string_view>
#include <utility>

#include "catalog/context.h"
#include "catalog/fields.h"
#include "common/error.h"
#include "host/event.h"
#include "host/host.h"
#include "platform/platform.h"

namespace vpolv {

class Plugin {
  public:
    Plugin(host::Connector& host, const platform::Services& services);

    // The fields the instance keeps between calls.
    PluginFields& fields() { return f_; }
    const PluginFields& fields() const { return f_; }

    // The fourteen methods of the method table (plugin/methods.def), in its order.
#define VPOLV_DECLARE_PARAM(type, name) type name
#define VPOLV_METHOD(name, dispId, returns, ...) \
    returns name(VPOLV_EACH_PARAMETER(VPOLV_DECLARE_PARAM, __VA_ARGS__));
#include "plugin/methods.def"
#undef VPOLV_DECLARE_PARAM

    // The method of an event, by the event's kind.
    Boolean fire(Event event, Long lCallParamsBlock);

  private:
    class Entry;
    Boolean runEvent(Context& ctx, Event event, Long lCallParamsBlock);
    Boolean runEvent(Context& ctx, host::Connector& host, platform::Dialogs& messages, Event event,
                     Long lCallParamsBlock);

    host::Connector& host_;
    const platform::Services& sys_;
    PluginFields f_;
    // The fields the running call works on: f_ itself for the outermost call on this instance,
    // a copy for a call that entered inside it (see Entry).
    PluginFields* active_ = &f_;
    int calls_ = 0;
};

// A method's result as the host sees it: the value, or False (an empty value) and the error.
struct Outcome {
    Boolean result = kFalse;
    std::optional<Error> error;
    bool ok() const { return !error; }
};

// Runs an event method and reports its outcome; nothing escapes.
template <class F>
Outcome guarded(F&& call) noexcept {
    try {
        return {std::forward<F>(call)(), std::nullopt};
    } catch (...) {
        return {kFalse, currentError()};
    }
}

}  // namespace vpolv
