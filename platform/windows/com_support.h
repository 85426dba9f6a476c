// Owners for the system resources the Windows side handles (interface pointers, BSTRs,
// VARIANTs, registry keys) and the one way a failing system call turns into a vpolv::Error.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "common/error.h"
#include "common/types.h"
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

struct BstrFree {
    void operator()(OLECHAR* s) const { SysFreeString(s); }
};
// An owned BSTR (nullptr is the empty text).
using Bstr = std::unique_ptr<OLECHAR, BstrFree>;

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

struct KeyClose {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
// An owned registry key.
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyClose>;

// Text <-> system strings. Text and wide strings are both UTF-16 here.
std::wstring toWide(const Text& text);
Text fromWide(const wchar_t* text, std::size_t length);
Text fromWide(const std::wstring& text);
// A new BSTR holding text; raises E_OUTOFMEMORY when it cannot be allocated.
Bstr toBstr(const Text& text);
Text fromBstr(const BSTR text);

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
