// Removing the temporary files when the program is interrupted.
#include "standalone/interrupt.h"

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

namespace vpolv::standalone {

namespace {

constexpr int kSlots = 8;

// A slot's path lives in `path` while `name` points at its characters; the handler reads `name`
// only, so a slot is published by setting `name` last and withdrawn by clearing it first.
struct Slot {
    std::filesystem::path::string_type path;
    std::atomic<const std::filesystem::path::value_type*> name{nullptr};
    std::atomic<bool> folder{false};
    std::atomic<bool> taken{false};
};

std::array<Slot, kSlots>& slots() {
    static std::array<Slot, kSlots> all;
    return all;
}

void removeFile(const std::filesystem::path::value_type* path) {
#ifdef _WIN32
    _wunlink(path);
#else
    unlink(path);
#endif
}

void removeFolder(const std::filesystem::path::value_type* path) {
#ifdef _WIN32
    _wrmdir(path);
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
    static_assert(std::atomic<const std::filesystem::path::value_type*>::is_always_lock_free);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

Leftover::Leftover(const std::filesystem::path& path, Kind kind) : slot_(-1) {
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = slots()[i];
        bool expected = false;
        if (slot.taken.compare_exchange_strong(expected, true)) {
            slot.path = path.native();
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
            const auto* name = slot.name.load();
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

}  // namespace vpolv::standalone
