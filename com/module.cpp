// The loaded library's handle and the counts that decide whether it may be unloaded.
#include "com/module.h"

#include <atomic>
#include <string>

#include "platform/windows/com_support.h"

namespace vpolv::com::module {
namespace {

HMODULE gHandle = nullptr;
std::atomic<long> gObjects{0};
std::atomic<long> gLocks{0};

}  // namespace

void setHandle(HMODULE handle) {
    gHandle = handle;
}
HMODULE handle() {
    return gHandle;
}

std::wstring path() {
    return win::moduleFileName(gHandle);
}

void objectCreated() {
    ++gObjects;
}
void objectDestroyed() {
    --gObjects;
}
void lock() {
    ++gLocks;
}
void unlock() {
    --gLocks;
}
bool canUnload() {
    return gObjects == 0 && gLocks == 0;
}

}  // namespace vpolv::com::module
