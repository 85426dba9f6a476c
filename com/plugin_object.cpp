// The COM object Plugin: its IDispatch from the type library and its fourteen methods, each
// made from its entry in plugin/methods.def.
#include "com/plugin_object.h"

#include <functional>
#include <type_traits>
#include <utility>

#include "com/guard.h"
#include "com/module.h"
#include "platform/windows/windows_platform.h"

namespace vpolv::com {
namespace {

// Where a method without a result puts it.
struct NoResult {};

// A null pointer among a call's arguments or for its result.
template <class T>
bool missing(T) {
    return false;
}
template <class T>
bool missing(T* pointer) {
    return !pointer;
}

// An argument as the method takes it, made from the argument as _Plugin passes it. After a
// successful call, prepare() makes what goes back to the caller (it may fail) and commit() hands
// it over (it cannot fail).
template <class Abi>
class Argument;

// A Long.
template <>
class Argument<LONG> {
  public:
    explicit Argument(LONG value) : value_(value) {}
    Long get() const { return value_; }
    void prepare() {}
    void commit() noexcept {}

  private:
    Long value_;
};

// A Long passed by reference: the method works on a copy, which goes back to the caller's
// variable when the call ends, failed or not.
template <>
class Argument<LONG*> {
  public:
    explicit Argument(LONG* target) : target_(target), value_(*target) {}
    Argument(const Argument&) = delete;
    Argument& operator=(const Argument&) = delete;
    ~Argument() { *target_ = value_; }
    Long& get() { return value_; }
    void prepare() {}
    void commit() noexcept {}

  private:
    LONG* target_;
    Long value_;
};

// A text passed by reference: the method works on a copy, which replaces the caller's string
// only when the call succeeds.
template <>
class Argument<BSTR*> {
  public:
    explicit Argument(BSTR* target) : target_(target), value_(win::fromBstr(*target)) {}
    Text& get() { return value_; }
    void prepare() { returned_ = win::toBstr(value_); }
    void commit() noexcept {
        SysFreeString(*target_);
        *target_ = returned_.release();
    }

  private:
    BSTR* target_;
    Text value_;
    win::Bstr returned_;
};

// The arguments of one call, made first to last and undone last to first, as local variables.
template <class... Abi>
struct Arguments {
    template <class F>
    decltype(auto) apply(F&& f) {
        return std::forward<F>(f)();
    }
    void prepare() {}
    void commit() noexcept {}
};

template <class First, class... Rest>
struct Arguments<First, Rest...> {
    explicit Arguments(First first, Rest... rest) : head(first), tail(rest...) {}
    // Calls f with every argument as the method takes it.
    template <class F>
    decltype(auto) apply(F&& f) {
        return tail.apply([&](auto&&... more) -> decltype(auto) {
            return f(head.get(), std::forward<decltype(more)>(more)...);
        });
    }
    void prepare() {
        head.prepare();
        tail.prepare();
    }
    void commit() noexcept {
        head.commit();
        tail.commit();
    }

    Argument<First> head;
    Arguments<Rest...> tail;
};

// A result as _Plugin returns it.
VARIANT_BOOL toAbi(Boolean value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}
win::Bstr toAbi(const Text& value) {
    return win::toBstr(value);
}
VARIANT_BOOL release(VARIANT_BOOL value) {
    return value;
}
BSTR release(win::Bstr& value) {
    return value.release();
}

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

template <auto method, class Result, class... Abi>
HRESULT PluginObject::call(Result result, Abi... arguments) noexcept {
    if (missing(result) || (missing(arguments) || ...))
        return E_POINTER;
    if constexpr (!std::is_same_v<Result, NoResult>)
        *result = {};  // False, or no string
    return run([&] {
        Arguments<Abi...> args(arguments...);
        const auto invoke = [&](auto&&... a) -> decltype(auto) {
            return std::invoke(method, plugin_, std::forward<decltype(a)>(a)...);
        };
        if constexpr (std::is_same_v<Result, NoResult>) {
            args.apply(invoke);
            args.prepare();
            args.commit();
        } else {
            const auto value = args.apply(invoke);
            args.prepare();
            auto returned = toAbi(value);
            args.commit();
            *result = release(returned);
        }
    });
}

// The arguments of call(): the result's pointer (or NoResult), then the method's parameters.
#define VPOLV_RESULT_void NoResult()
#define VPOLV_RESULT_Boolean result
#define VPOLV_RESULT_Text result
#define VPOLV_ABI_ARGUMENT(type, name) name
#define VPOLV_CALL_ARGUMENTS(returns, ...) \
    VPOLV_RESULT_##returns __VA_OPT__(, VPOLV_EACH_PARAMETER(VPOLV_ABI_ARGUMENT, __VA_ARGS__))
#define VPOLV_METHOD(name, dispId, returns, ...)                                               \
    HRESULT STDMETHODCALLTYPE PluginObject::name(VPOLV_ABI_PARAMETERS(returns, __VA_ARGS__)) { \
        return call<&vpolv::Plugin::name>(VPOLV_CALL_ARGUMENTS(returns, __VA_ARGS__));         \
    }
#include "plugin/methods.def"

}  // namespace vpolv::com
