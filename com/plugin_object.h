// The creatable class Plugin: the dual interface _Plugin over one vpolv::Plugin, its IDispatch
// served from the embedded type library, and ISupportErrorInfo.
#pragma once

#include "com/com_object.h"
#include "com/connector.h"
#include "com/vpolv_h.h"
#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"
#include "plugin/plugin.h"

namespace vpolv::com {

// A parameter of plugin/methods.def as _Plugin passes it: a Long as LONG, a Long& as LONG*, a
// Text& as BSTR*; the result last, as VARIANT_BOOL* or BSTR*.
template <class T>
struct AbiParam;
template <>
struct AbiParam<Long> {
    using type = LONG;
};
template <>
struct AbiParam<Long&> {
    using type = LONG*;
};
template <>
struct AbiParam<Text&> {
    using type = BSTR*;
};
template <class T>
using Abi = typename AbiParam<T>::type;
#define VPOLV_ABI_PARAM(type, name) Abi<type> name
#define VPOLV_ABI_RESULT_void(...)
#define VPOLV_ABI_RESULT_Boolean(...) __VA_OPT__(, ) VARIANT_BOOL* result
#define VPOLV_ABI_RESULT_Text(...) __VA_OPT__(, ) BSTR* result
#define VPOLV_ABI_PARAMETERS(returns, ...)             \
    VPOLV_EACH_PARAMETER(VPOLV_ABI_PARAM, __VA_ARGS__) \
    VPOLV_ABI_RESULT_##returns(__VA_ARGS__)

class PluginObject final : public ComObject<PluginObject, _Plugin, ISupportErrorInfo> {
  public:
    // Created with one reference held by the caller.
    PluginObject();

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argError) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // _Plugin: the methods of plugin/methods.def, each running its vpolv::Plugin method.
#define VPOLV_METHOD(name, dispId, returns, ...) \
    HRESULT STDMETHODCALLTYPE name(VPOLV_ABI_PARAMETERS(returns, __VA_ARGS__)) override;
#include "plugin/methods.def"

  private:
    ~PluginObject() override = default;

    template <class F>
    HRESULT run(F&& work) noexcept;
    // Checks the pointers, runs method on the arguments and hands its result back.
    template <auto method, class Result, class... Abi>
    HRESULT call(Result result, Abi... arguments) noexcept;

    win::ComPtr<ITypeInfo> typeInfo_;
    AutomationConnector connector_;
    vpolv::Plugin plugin_;
};

}  // namespace vpolv::com
