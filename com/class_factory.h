// The class factory of a creatable class T. T is a COM object created with one reference,
// whose constructor may throw; the factory turns that into an HRESULT.
#pragma once

#include <new>

#include "com/com_object.h"
#include "com/guard.h"
#include "com/module.h"
#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"

namespace vpolv::com {

template <class T>
class ClassFactory final : public ComObject<ClassFactory<T>, IClassFactory> {
  public:
    // Hands out a new factory for T as the interface riid.
    static HRESULT create(REFIID riid, void** out) noexcept {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto* factory = new (std::nothrow) ClassFactory();
        if (!factory)
            return E_OUTOFMEMORY;
        const HRESULT hr = factory->QueryInterface(riid, out);
        factory->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        win::ComPtr<T> object;
        const HRESULT hr = guard(IID_NULL, [&] { object = win::ComPtr<T>::attach(new T()); });
        if (FAILED(hr))
            return hr;
        return object->QueryInterface(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? module::lock() : module::unlock();
        return S_OK;
    }

  private:
    ClassFactory() = default;
};

}  // namespace vpolv::com
