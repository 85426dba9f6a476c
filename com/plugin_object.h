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

    // _Plugin
    HRESULT STDMETHODCALLTYPE Inicializa() override;
    HRESULT STDMETHODCALLTYPE OnObjectPlaceAfter(LONG lCallParamsBlock,
                                                 VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE OnObjectFinishesAfter(LONG lCallParamsBlock,
                                                    VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE OnSceneGenericFinishesAfter(LONG lCallParamsBlock,
                                                          VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE casoPolvast(LONG lCallParamsBlock, LONG* d,
                                          VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE casoPolvastAG(LONG lCallParamsBlock, LONG* d, LONG* lObjectId,
                                            VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE formateaDescripcion(BSTR* desc, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE vitrina(LONG* nHijos, LONG* auxd) override;
    HRESULT STDMETHODCALLTYPE vitrina2(LONG* nHijos, LONG* auxd) override;
    HRESULT STDMETHODCALLTYPE vitrina3(LONG* nHijos, LONG* auxd) override;
    HRESULT STDMETHODCALLTYPE vitrina3b() override;
    HRESULT STDMETHODCALLTYPE vitrinaAG(LONG* nHijos, LONG* auxd, LONG* lObjectId) override;
    HRESULT STDMETHODCALLTYPE vitrina2AG(LONG* nHijos, LONG* auxd, LONG* lObjectId) override;
    HRESULT STDMETHODCALLTYPE vitrina3AG(LONG* nHijos, LONG* auxd, LONG* lObjectId) override;

  private:
    ~PluginObject() override = default;

    template <class F>
    HRESULT run(F&& work) noexcept;
    template <class F>
    HRESULT runBoolean(VARIANT_BOOL* result, F&& work) noexcept;

    win::ComPtr<ITypeInfo> typeInfo_;
    AutomationConnector connector_;
    vpolv::Plugin plugin_;
};

}  // namespace vpolv::com
