// What an operation of the plug-in works on: the instance's fields, the thread's module state
// and the platform services.
#pragma once

#include "catalog/constantes.h"
#include "catalog/fields.h"
#include "platform/platform.h"

namespace vpolv {

struct Context {
    PluginFields& f;
    Constantes& m;
    const platform::Services& sys;
};

}  // namespace vpolv
