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
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(gHandle, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            win::check(HRESULT_FROM_WIN32(GetLastError()));
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
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
