// Removing the temporary files when the simulator is interrupted.
#include "sim/system/interrupt.h"

#include <array>
#include <atomic>
#include <csignal>
#include <string>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vpolv::sim {

namespace {

constexpr int kSlots = 8;

// A slot's path lives in `path` while `name` points at its characters; the handler reads `name`
// only, so a slot is published by setting `name` last and withdrawn by clearing it first.
struct Slot {
    std::string path;
    std::atomic<const char*> name{nullptr};
    std::atomic<bool> folder{false};
    std::atomic<bool> taken{false};
};

std::array<Slot, kSlots>& slots() {
    static std::array<Slot, kSlots> all;
    return all;
}

void removeFile(const char* path) {
#ifdef _WIN32
    _unlink(path);
#else
    unlink(path);
#endif
}

void removeFolder(const char* path) {
#ifdef _WIN32
    _rmdir(path);
#else
    rmdir(path);
#endif
}

extern "C" void onInterrupt(int signal) {
    removeLeftovers();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

void removeLeftoversOnInterrupt() {
    static_assert(std::atomic<const char*>::is_always_lock_free);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

Leftover::Leftover(const std::filesystem::path& path, Kind kind) : slot_(-1) {
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = slots()[i];
        bool expected = false;
        if (slot.taken.compare_exchange_strong(expected, true)) {
            slot.path = path.string();
            slot.folder = kind == Kind::Folder;
            slot.name = slot.path.c_str();
            slot_ = i;
            return;
        }
    }
}

Leftover::~Leftover() {
    if (slot_ < 0)
        return;
    Slot& slot = slots()[slot_];
    slot.name = nullptr;
    slot.path.clear();
    slot.taken = false;
}

void removeLeftovers() noexcept {
    for (const bool folders : {false, true}) {
        for (Slot& slot : slots()) {
            const char* name = slot.name;
            if (name == nullptr || slot.folder != folders)
                continue;
            if (folders) {
                removeFolder(name);
            } else {
                removeFile(name);
            }
        }
    }
}

}  // namespace vpolv::sim
