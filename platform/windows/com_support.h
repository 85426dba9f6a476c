// Owners for the system resources the Windows side handles (interface pointers, BSTRs,
// VARIANTs, registry keys) and the one way a failing system call turns into a vpolv::Error.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "common/error.h"
#include "common/types.h"
#include "platform/windows/registry.h"
#include "platform/windows/unique.h"
#include "platform/windows/wide.h"
#include "platform/windows/win32.h"

namespace vpolv::win {

// An owned interface pointer: releases on destruction, AddRefs on copy.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already holds.
    static ComPtr attach(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset() {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out parameters: releases what is held and hands out the slot.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    // Gives up ownership of the reference.
    T* detach() { return std::exchange(p_, nullptr); }

  private:
    T* p_ = nullptr;
};

// A VARIANT that clears itself.
class Variant {
  public:
    Variant() { VariantInit(&v_); }
    Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v_); }
    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* operator->() { return &v_; }

  private:
    VARIANT v_;
};

struct FindTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle find) noexcept { FindClose(find); }
};
// A directory listing in progress (FindFirstFileW).
using UniqueFind = UniqueAny<FindTraits>;

struct LocalTraits {
    using Handle = wchar_t*;
    static Handle invalid() noexcept { return nullptr; }
    static void close(Handle memory) noexcept { LocalFree(memory); }
};

struct FileTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle file) noexcept { CloseHandle(file); }
};
// An open file (CreateFileW gives INVALID_HANDLE_VALUE when there is none).
using UniqueFile = UniqueAny<FileTraits>;

struct BstrTraits {
    using Handle = BSTR;
    static Handle invalid() noexcept { return nullptr; }
    static void close(Handle text) noexcept { SysFreeString(text); }
};
// An owned BSTR (null is the empty text).
using Bstr = UniqueAny<BstrTraits>;

// A text the system allocated with LocalAlloc (FormatMessageW's, say).
using UniqueLocalText = UniqueAny<LocalTraits>;

// A new BSTR holding text; raises E_OUTOFMEMORY when it cannot be allocated.
Bstr toBstr(const Text& text);
Text fromBstr(const BSTR text);
// Replaces target's contents with the BSTR's, reusing target's storage.
void assignFromBstr(Text& target, const BSTR text);

// The system's message for a failure code, or "Automation error" when it has none.
Text systemMessage(HRESULT hr);

// The full path of a loaded module, however long.
std::wstring moduleFileName(HMODULE module);

// The single error path of the Windows side: a failing HRESULT becomes a vpolv::Error with that
// code and the system's description of it.
void check(HRESULT hr);
inline void checkWin32(LONG status) {
    if (status != ERROR_SUCCESS)
        check(HRESULT_FROM_WIN32(static_cast<DWORD>(status)));
}

}  // namespace vpolv::win
