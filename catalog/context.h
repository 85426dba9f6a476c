// What an operation of the plug-in works on: the instance's fields, the thread's module state
// and the platform services.
#pragma once

#include "catalog/constantes.h"
#include "catalog/fields.h"
#include "platform/platform.h"

namespace vpolv {

struct Context {
    // The fields of the Plugin instance the running call works on (a copy of its own for a
    // nested call: see "Nested calls" in plugin/plugin.h).
    PluginFields& fields;
    // The module state of the running call: its host objects, session, catalog and glass choice
    // (see constantes()).
    Constantes& module;
    // The locale, files, profile, message box and trace of the platform.
    const platform::Services& services;
};

}  // namespace vpolv
