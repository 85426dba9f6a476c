// The IUnknown of every COM class here: QueryInterface over the class's interface list, an
// atomic reference count, and the count of live objects that keeps the library loaded.
//
//   class PluginObject final : public ComObject<PluginObject, _Plugin, ISupportErrorInfo> {...};
//
// An object starts with one reference, held by whoever created it. IUnknown is answered with the
// first interface of the list, IDispatch with the first one derived from it. A class whose
// objects must not keep this library loaded (a test server's, say) puts NoModuleCount in its
// list.
#pragma once

#include <atomic>
#include <type_traits>

#include "com/module.h"
#include "platform/windows/win32.h"

namespace vpolv::com {

struct NoModuleCount {};

template <class Derived, class First, class... Rest>
class ComObject : public First, public Rest... {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown) {
            *out = static_cast<IUnknown*>(static_cast<First*>(this));
        } else if (!(find<First>(riid, out) || (find<Rest>(riid, out) || ...))) {
            return E_NOINTERFACE;
        }
        static_cast<IUnknown*>(*out)->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG refs = --refs_;
        if (refs == 0)
            delete this;
        return refs;
    }

  protected:
    ComObject() noexcept {
        if constexpr (kCounted)
            module::objectCreated();
    }
    virtual ~ComObject() {
        if constexpr (kCounted)
            module::objectDestroyed();
    }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

  private:
    static constexpr bool kCounted = !(std::is_same_v<Rest, NoModuleCount> || ...);

    template <class I>
    bool find(REFIID riid, void** out) {
        if constexpr (std::is_same_v<I, NoModuleCount>) {
            return false;
        } else {
            if (riid != __uuidof(I) && !(std::is_base_of_v<IDispatch, I> && riid == IID_IDispatch))
                return false;
            *out = static_cast<I*>(this);
            return true;
        }
    }

    std::atomic<ULONG> refs_{1};
};

}  // namespace vpolv::com
