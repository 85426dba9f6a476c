// The COM object Plugin: its IDispatch from the type library and its fourteen methods.
#include "com/plugin_object.h"

#include "com/guard.h"
#include "com/module.h"
#include "platform/windows/windows_platform.h"

namespace vpolv::com {
namespace {

// A Long passed by reference: the method works on a copy, which goes back to the caller's
// variable when the call ends, failed or not.
class LongRef {
  public:
    explicit LongRef(LONG* target) : target_(target), value_(*target) {}
    LongRef(const LongRef&) = delete;
    LongRef& operator=(const LongRef&) = delete;
    ~LongRef() { *target_ = value_; }
    Long& operator*() { return value_; }

  private:
    LONG* target_;
    Long value_;
};

win::ComPtr<ITypeInfo> loadTypeInfo() {
    win::ComPtr<ITypeLib> library;
    win::check(LoadTypeLibEx(module::path().c_str(), REGKIND_NONE, library.put()));
    win::ComPtr<ITypeInfo> info;
    win::check(library->GetTypeInfoOfGuid(IID__Plugin, info.put()));
    return info;
}

}  // namespace

PluginObject::PluginObject()
    : typeInfo_(loadTypeInfo()), plugin_(connector_, platform::windows::services()) {}

HRESULT STDMETHODCALLTYPE PluginObject::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PluginObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    typeInfo_->AddRef();
    *info = typeInfo_.get();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PluginObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                      LCID, DISPID* ids) {
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(typeInfo_.get(), names, count, ids);
}

HRESULT STDMETHODCALLTYPE PluginObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                               DISPPARAMS* params, VARIANT* result,
                                               EXCEPINFO* exception, UINT* argError) {
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    return typeInfo_->Invoke(static_cast<_Plugin*>(this), id, flags, params, result, exception,
                             argError);
}

HRESULT STDMETHODCALLTYPE PluginObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID__Plugin ? S_OK : S_FALSE;
}

template <class F>
HRESULT PluginObject::run(F&& work) noexcept {
    // The host may drop its last reference while a call runs (from inside the warning box, or
    // inside one of its own operations): the object lives until the call has returned.
    AddRef();
    const HRESULT hr = guard(IID__Plugin, std::forward<F>(work));
    Release();
    return hr;
}

template <class F>
HRESULT PluginObject::runBoolean(VARIANT_BOOL* result, F&& work) noexcept {
    if (!result)
        return E_POINTER;
    *result = VARIANT_FALSE;
    return run([&] { *result = work() ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT STDMETHODCALLTYPE PluginObject::Inicializa() {
    return run([&] { plugin_.Inicializa(); });
}

HRESULT STDMETHODCALLTYPE PluginObject::OnObjectPlaceAfter(LONG lCallParamsBlock,
                                                           VARIANT_BOOL* result) {
    return runBoolean(result, [&] { return plugin_.OnObjectPlaceAfter(lCallParamsBlock); });
}

HRESULT STDMETHODCALLTYPE PluginObject::OnObjectFinishesAfter(LONG lCallParamsBlock,
                                                              VARIANT_BOOL* result) {
    return runBoolean(result, [&] { return plugin_.OnObjectFinishesAfter(lCallParamsBlock); });
}

HRESULT STDMETHODCALLTYPE PluginObject::OnSceneGenericFinishesAfter(LONG lCallParamsBlock,
                                                                    VARIANT_BOOL* result) {
    return runBoolean(result,
                      [&] { return plugin_.OnSceneGenericFinishesAfter(lCallParamsBlock); });
}

HRESULT STDMETHODCALLTYPE PluginObject::casoPolvast(LONG lCallParamsBlock, LONG* d,
                                                    VARIANT_BOOL* result) {
    if (!d)
        return E_POINTER;
    LongRef dRef(d);
    return runBoolean(result, [&] { return plugin_.casoPolvast(lCallParamsBlock, *dRef); });
}

HRESULT STDMETHODCALLTYPE PluginObject::casoPolvastAG(LONG lCallParamsBlock, LONG* d,
                                                      LONG* lObjectId, VARIANT_BOOL* result) {
    if (!d || !lObjectId)
        return E_POINTER;
    LongRef dRef(d), idRef(lObjectId);
    return runBoolean(result,
                      [&] { return plugin_.casoPolvastAG(lCallParamsBlock, *dRef, *idRef); });
}

HRESULT STDMETHODCALLTYPE PluginObject::formateaDescripcion(BSTR* desc, BSTR* result) {
    if (!desc || !result)
        return E_POINTER;
    *result = nullptr;
    return run([&] {
        Text text = win::fromBstr(*desc);
        const Text formatted = plugin_.formateaDescripcion(text);
        win::Bstr shortened = win::toBstr(text);
        win::Bstr returned = win::toBstr(formatted);
        SysFreeString(*desc);
        *desc = shortened.release();
        *result = returned.release();
    });
}

HRESULT STDMETHODCALLTYPE PluginObject::vitrina(LONG* nHijos, LONG* auxd) {
    if (!nHijos || !auxd)
        return E_POINTER;
    LongRef n(nHijos), d(auxd);
    return run([&] { plugin_.vitrina(*n, *d); });
}

HRESULT STDMETHODCALLTYPE PluginObject::vitrina2(LONG* nHijos, LONG* auxd) {
    if (!nHijos || !auxd)
        return E_POINTER;
    LongRef n(nHijos), d(auxd);
    return run([&] { plugin_.vitrina2(*n, *d); });
}

HRESULT STDMETHODCALLTYPE PluginObject::vitrina3(LONG* nHijos, LONG* auxd) {
    if (!nHijos || !auxd)
        return E_POINTER;
    LongRef n(nHijos), d(auxd);
    return run([&] { plugin_.vitrina3(*n, *d); });
}

HRESULT STDMETHODCALLTYPE PluginObject::vitrina3b() {
    return run([&] { plugin_.vitrina3b(); });
}

HRESULT STDMETHODCALLTYPE PluginObject::vitrinaAG(LONG* nHijos, LONG* auxd, LONG* lObjectId) {
    if (!nHijos || !auxd || !lObjectId)
        return E_POINTER;
    LongRef n(nHijos), d(auxd), id(lObjectId);
    return run([&] { plugin_.vitrinaAG(*n, *d, *id); });
}

HRESULT STDMETHODCALLTYPE PluginObject::vitrina2AG(LONG* nHijos, LONG* auxd, LONG* lObjectId) {
    if (!nHijos || !auxd || !lObjectId)
        return E_POINTER;
    LongRef n(nHijos), d(auxd), id(lObjectId);
    return run([&] { plugin_.vitrina2AG(*n, *d, *id); });
}

HRESULT STDMETHODCALLTYPE PluginObject::vitrina3AG(LONG* nHijos, LONG* auxd, LONG* lObjectId) {
    if (!nHijos || !auxd || !lObjectId)
        return E_POINTER;
    LongRef n(nHijos), d(auxd), id(lObjectId);
    return run([&] { plugin_.vitrina3AG(*n, *d, *id); });
}

}  // namespace vpolv::com
