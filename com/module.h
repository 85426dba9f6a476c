// Book-keeping of the loaded library: its module handle and the counts that decide whether it
// may be unloaded (live objects, class factories included, and server locks).
#pragma once

#include <string>

#include "platform/windows/win32.h"

namespace vpolv::com::module {

void setHandle(HMODULE handle);
HMODULE handle();
// Full path of the loaded vpolv.dll.
std::wstring path();

void objectCreated();
void objectDestroyed();
void lock();
void unlock();
bool canUnload();

}  // namespace vpolv::com::module
