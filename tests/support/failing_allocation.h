// Memory running out at a chosen point: the n-th allocation of the calling thread fails, counted
// from when it is armed. This program's operator new throws std::bad_alloc for it, and the
// platform's own system allocations (see posix::failingSystemCall) report no memory.
// For programs that link failing_allocation.cpp, which replaces the global operator new.
#pragma once

#include <cstddef>

namespace vpolv::testing::allocation {

// Counts the allocations of this thread from now on and makes the n-th one (1-based) fail.
void failAt(std::size_t n);
// Stops counting; gives the number of allocations counted since failAt.
std::size_t disarm();
// Whether the chosen allocation has failed since failAt.
bool failed();
// Counts one allocation: true when it is the one to fail. For allocators of the platform.
bool next();

// While alive, the thread's allocations are neither counted nor failed: work that stands for
// the host's or the system's own, which the plug-in does not do.
class Paused {
  public:
    Paused();
    ~Paused();
    Paused(const Paused&) = delete;
    Paused& operator=(const Paused&) = delete;
};

// While alive, inside a Paused scope, the plug-in's allocations count again (an event that runs
// inside a host call).
class Resumed {
  public:
    Resumed();
    ~Resumed();
    Resumed(const Resumed&) = delete;
    Resumed& operator=(const Resumed&) = delete;

  private:
    int paused_;
};

}  // namespace vpolv::testing::allocation
