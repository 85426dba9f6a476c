// Self-registration of the library: the class Plugin, its programmatic identifier, the
// interface _Plugin and the type library, machine-wide or for the current user.
#pragma once

#include "platform/windows/win32.h"

namespace vpolv::com {

enum class Scope { Machine, User };

// Both raise vpolv::Error on failure. Unregistering removes exactly what registering wrote
// and does not mind what is already gone; while the DLL of the other bitness is registered in
// the other registry view, it leaves the keys both share to it.
void registerServer(Scope scope);
void unregisterServer(Scope scope);

}  // namespace vpolv::com
