// The owner of a system handle, in a header without the system's: every owner of the Windows
// side is one of these (com_support.h for most kinds, registry.h for registry keys).
#pragma once

#include <utility>

namespace vpolv::win {

// One owner for every kind of system handle. Traits names the handle type, the value that
// holds nothing (a null pointer, or INVALID_HANDLE_VALUE for a find handle) and how to close it.
template <class Traits>
class UniqueAny {
  public:
    using Handle = typename Traits::Handle;

    UniqueAny() noexcept = default;
    explicit UniqueAny(Handle handle) noexcept : handle_(handle) {}
    UniqueAny(UniqueAny&& other) noexcept : handle_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueAny() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::invalid(); }
    void reset(Handle handle = Traits::invalid()) noexcept {
        if (*this)
            Traits::close(handle_);
        handle_ = handle;
    }
    Handle release() noexcept { return std::exchange(handle_, Traits::invalid()); }
    // For out parameters: closes what is held and hands out the slot.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }
    // The slot itself, for an in-out parameter whose callee may close the handle and leave
    // another one in its place: the owner then owns what the callee left.
    Handle* addressOf() noexcept { return &handle_; }

  private:
    Handle handle_ = Traits::invalid();
};

struct HandleTraits {
    using Handle = void*;  // HANDLE
    static Handle invalid() noexcept { return nullptr; }
    static void close(Handle handle) noexcept;
};
// A kernel handle that is null when there is none (a process, a thread, an event).
using UniqueHandle = UniqueAny<HandleTraits>;

}  // namespace vpolv::win
