// The trace switch's lookup.
#include "platform/windows/trace_switch.h"

#include "platform/windows/win32.h"

namespace vpolv::win::trace_switch {

Lookup lookUp(registry::View view) {
    Lookup found;
    for (const registry::Root root : kRoots) {
        found.root = root;
        found.status = registry::readText(root, kKey, kValue, view, found.file);
        if (found.status != registry::kNotFound)
            break;  // the user's value, even one that is not a path, hides the machine's
    }
    if (found.status != registry::kOk)
        found.file.clear();
    return found;
}

Turn::Turn() : mutex_(CreateMutexW(nullptr, FALSE, L"Local\\vpolv-trace")) {
    held_ = mutex_ && WaitForSingleObject(mutex_.get(), 5000) != WAIT_TIMEOUT;
}

Turn::~Turn() {
    if (held_)
        ReleaseMutex(mutex_.get());
}

}  // namespace vpolv::win::trace_switch
