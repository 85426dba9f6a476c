// The counting operator new (every replaceable form, so that the sanitizers' own never pairs
// with these) and the state behind failing_allocation.h.
#include "support/failing_allocation.h"

#include <cstdlib>
#include <new>

namespace vpolv::testing::allocation {
namespace {

struct State {
    bool armed = false;
    int paused = 0;
    std::size_t counted = 0;
    std::size_t failAt = 0;
    bool failed = false;
};
thread_local State state;

}  // namespace

void failAt(std::size_t n) {
    state.armed = true;
    state.counted = 0;
    state.failAt = n;
    state.failed = false;
}

std::size_t disarm() {
    state.armed = false;
    return state.counted;
}

bool failed() {
    return state.failed;
}

bool next() {
    if (!state.armed || state.paused)
        return false;
    if (++state.counted != state.failAt)
        return false;
    state.failed = true;
    return true;
}

Paused::Paused() {
    ++state.paused;
}
Paused::~Paused() {
    --state.paused;
}

Resumed::Resumed() : paused_(state.paused) {
    state.paused = 0;
}
Resumed::~Resumed() {
    state.paused = paused_;
}

}  // namespace vpolv::testing::allocation

namespace {

void* allocate(std::size_t size, std::size_t alignment = 0) noexcept {
    if (vpolv::testing::allocation::next())
        return nullptr;
    if (size == 0)
        size = 1;
    if (alignment == 0)
        return std::malloc(size);
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* allocateOrThrow(std::size_t size, std::size_t alignment = 0) {
    if (void* p = allocate(size, alignment))
        return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
