// Self-registration of the library: the class Plugin, its programmatic identifier, the
// interface _Plugin and the type library, machine-wide or for the current user.
#pragma once

#include "platform/windows/win32.h"

namespace vpolv::com {

enum class Scope { Machine, User };

// Both raise vpolv::Error on failure. Unregistering removes exactly what registering wrote
// and does not mind what is already gone.
void registerServer(Scope scope);
void unregisterServer(Scope scope);

}  // namespace vpolv::com
