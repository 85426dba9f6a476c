// The host SDK reached late-bound through IDispatch, with exactly the argument types it expects.
#include "com/connector.h"

#include <array>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/windows/com_support.h"

namespace vpolv::com {
namespace {

using win::Bstr;
using win::ComPtr;
using win::Variant;

// The arguments of one call, in the SDK's order. By-reference arguments point at storage held
// here and are copied back to the caller's variables once the host has answered.
class Args {
  public:
    static constexpr std::size_t kMax = 6;

    Args() = default;
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;

    Args& i2(Integer value) {
        VARIANT& v = next();
        V_VT(&v) = VT_I2;
        V_I2(&v) = value;
        return *this;
    }
    Args& i4(Long value) {
        VARIANT& v = next();
        V_VT(&v) = VT_I4;
        V_I4(&v) = value;
        return *this;
    }
    Args& i4Ref(Long& value) {
        const std::size_t i = count_;
        VARIANT& v = next();
        longs_[i] = value;
        longTargets_[i] = &value;
        V_VT(&v) = VT_BYREF | VT_I4;
        V_I4REF(&v) = &longs_[i];
        return *this;
    }
    Args& boolean(bool value) {
        VARIANT& v = next();
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
        return *this;
    }
    Args& object(host::ObjectArg object) {
        return object.isCurrent() ? i2(host::ObjectArg::kCurrentObject) : i4Ref(object.idRef());
    }
    Args& text(host::TextArg text) {
        const std::size_t i = count_;
        VARIANT& v = next();
        texts_[i] = win::toBstr(text.text());
        if (text.isByRef()) {
            textTargets_[i] = &text.ref();
            V_VT(&v) = VT_BYREF | VT_BSTR;
            // The host may free this string and leave another one in its place.
            V_BSTRREF(&v) = texts_[i].addressOf();
        } else {
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = texts_[i].get();
        }
        return *this;
    }
    // A text by value whose BSTR the caller keeps (the host only reads it).
    Args& text(BSTR kept) {
        VARIANT& v = next();
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = kept;
        return *this;
    }

    // The arguments as IDispatch::Invoke takes them: last argument first.
    DISPPARAMS params() {
        for (std::size_t i = 0; i < count_; ++i)
            reversed_[count_ - 1 - i] = args_[i];
        return DISPPARAMS{count_ ? reversed_.data() : nullptr, nullptr, static_cast<UINT>(count_),
                          0};
    }

    // Copies what the host left in the by-reference arguments back to the caller's variables.
    void writeBack() {
        for (std::size_t i = 0; i < count_; ++i) {
            if (longTargets_[i])
                *longTargets_[i] = longs_[i];
            if (textTargets_[i])
                win::assignFromBstr(*textTargets_[i], texts_[i].get());
        }
    }

  private:
    VARIANT& next() {
        VARIANT& v = args_[count_++];
        VariantInit(&v);
        return v;
    }

    std::array<VARIANT, kMax> args_{};
    std::array<VARIANT, kMax> reversed_{};
    std::array<LONG, kMax> longs_{};
    std::array<Long*, kMax> longTargets_{};
    std::array<Bstr, kMax> texts_{};
    std::array<Text*, kMax> textTargets_{};
    std::size_t count_ = 0;
};

// The exception information a failed call may leave: its three texts are freed however the
// call ends, an error writing back its by-reference arguments included.
struct ExceptionInfo : EXCEPINFO {
    ExceptionInfo() : EXCEPINFO{} {}
    ~ExceptionInfo() {
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        SysFreeString(bstrHelpFile);
    }
    ExceptionInfo(const ExceptionInfo&) = delete;
    ExceptionInfo& operator=(const ExceptionInfo&) = delete;
};

// The error the host reported for a failed call, passed on with its own code and description.
Error hostFailure(HRESULT hr, ExceptionInfo& info) {
    if (hr != DISP_E_EXCEPTION)
        return Error(static_cast<std::int32_t>(hr), win::systemMessage(hr));
    if (info.pfnDeferredFillIn) {
        info.pfnDeferredFillIn(&info);
        info.pfnDeferredFillIn = nullptr;
    }
    HRESULT code = info.scode;
    if (code == S_OK) {
        code = info.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, info.wCode) : E_FAIL;
    }
    Text text = win::fromBstr(info.bstrDescription);
    if (text.empty())
        text = win::systemMessage(code);
    return Error(static_cast<std::int32_t>(code), std::move(text), win::fromBstr(info.bstrSource));
}

// Converts a host result in place; a result that does not convert is a type mismatch. A result
// of the right type already is left as it is.
void coerce(Variant& value, VARTYPE type) {
    if (V_VT(value.get()) == type)
        return;
    const HRESULT hr = VariantChangeTypeEx(value.get(), value.get(), LOCALE_USER_DEFAULT, 0, type);
    if (hr == DISP_E_OVERFLOW)
        throw errors::overflow();
    if (hr == E_OUTOFMEMORY)
        throw std::bad_alloc();
    if (FAILED(hr))
        throw errors::typeMismatch();
}

// One host object, called by operation.
class DispatchObject {
  public:
    explicit DispatchObject(std::u16string_view progId) : object_(create(progId)) {}

    // Calls operation op, declared as F, with values as its arguments; converts the result.
    template <class F, class... A>
    typename host::Declared<F>::Result call(host::Operation op, A&... values) {
        using R = typename host::Declared<F>::Result;
        Args args;
        host::Declared<F>::visit([&]<class P>(auto& value) { add<P>(args, op, value); }, values...);
        Variant result;
        if constexpr (std::is_void_v<R>) {
            invoke(op, DISPATCH_METHOD, args, result);
        } else {
            invoke(op, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, result);
            if constexpr (std::is_same_v<R, Long>) {
                coerce(result, VT_I4);
                return V_I4(result.get());
            } else if constexpr (std::is_same_v<R, bool>) {
                coerce(result, VT_BOOL);
                return V_BOOL(result.get()) != VARIANT_FALSE;
            } else {
                coerce(result, VT_BSTR);
                return win::fromBstr(V_BSTR(result.get()));
            }
        }
    }

  private:
    template <class P, class A>
    void add(Args& args, host::Operation op, A& value) {
        if constexpr (std::is_same_v<P, Long&>) {
            args.i4Ref(value);
        } else if constexpr (std::is_same_v<P, Long>) {
            args.i4(value);
        } else if constexpr (std::is_same_v<P, Integer>) {
            args.i2(value);
        } else if constexpr (std::is_same_v<P, bool>) {
            args.boolean(value);
        } else if constexpr (std::is_same_v<P, host::ObjectArg>) {
            args.object(value);
        } else if (BSTR kept = op == host::Operation::SceneGetKeywordInfo && !value.isByRef()
                                   ? keptText(value.text())
                                   : nullptr) {
            args.text(kept);
        } else {
            args.text(value);
        }
    }

    // The keywords asked for are a handful of constant texts: each one's BSTR is made once per
    // object and kept (null past the first few: those get one of their own per call).
    static constexpr std::size_t kKeptKeywords = 8;
    BSTR keptText(const Text& text) {
        for (const auto& [kept, bstr] : keywords_) {
            if (kept == text)
                return bstr.get();
        }
        if (keywords_.size() == kKeptKeywords)
            return nullptr;
        keywords_.emplace_back(text, win::toBstr(text));
        return keywords_.back().second.get();
    }

    static ComPtr<IDispatch> create(std::u16string_view progId) {
        CLSID clsid;
        ComPtr<IDispatch> object;
        const std::wstring name(progId.begin(), progId.end());
        if (FAILED(CLSIDFromProgID(name.c_str(), &clsid)) ||
            FAILED(
                CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, object.putVoid())) ||
            !object) {
            throw errors::cannotCreateObject();
        }
        return object;
    }

    // The dispatch id of an operation, looked up on first use only.
    DISPID id(host::Operation op) {
        const auto at = static_cast<std::size_t>(op);
        if (ids_[at])
            return *ids_[at];
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(kOpNames[at])};
        const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND)
            throw errors::noSuchMethod();
        win::check(hr);
        ids_[at] = id;
        return id;
    }

    void invoke(host::Operation op, WORD flags, Args& args, Variant& result) {
        const DISPID dispId = id(op);
        DISPPARAMS params = args.params();
        ExceptionInfo info;
        UINT argError = 0;
        const HRESULT hr = object_->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                           result.get(), &info, &argError);
        args.writeBack();
        if (FAILED(hr))
            throw hostFailure(hr, info);
    }

    // The operations' names as IDispatch looks them up.
    static constexpr const wchar_t* kOpNames[] = {
#define VPOLV_OPERATION(object, name, result, parameters, arguments) L## #name,
#include "host/operations.def"
    };

    ComPtr<IDispatch> object_;
    std::array<std::optional<DISPID>, std::size(kOpNames)> ids_{};
    std::vector<std::pair<Text, Bstr>> keywords_;
};

using host::ObjectArg;
using host::TextArg;
#define VPOLV_ARGUMENTS(...) __VA_ARGS__
#define VPOLV_DISPATCHED(name, result, parameters, arguments)                                     \
    result name parameters override {                                                             \
        return object_.call<result parameters>(host::Operation::name, VPOLV_ARGUMENTS arguments); \
    }

class AutomationAppli : public host::Appli {
  public:
    AutomationAppli() : object_(host::progId(host::ObjectKind::Appli)) {}
#define VPOLV_APPLI VPOLV_DISPATCHED
#include "host/operations.def"

  private:
    DispatchObject object_;
};

class AutomationScene : public host::Scene {
  public:
    AutomationScene() : object_(host::progId(host::ObjectKind::Scene)) {}
#define VPOLV_SCENE VPOLV_DISPATCHED
#include "host/operations.def"

  private:
    DispatchObject object_;
};

class AutomationCatalog : public host::Catalog {
  public:
    AutomationCatalog() : object_(host::progId(host::ObjectKind::Catalog)) {}
#define VPOLV_CATALOG VPOLV_DISPATCHED
#include "host/operations.def"

  private:
    DispatchObject object_;
};

}  // namespace

#define VPOLV_HOST_OBJECT(kind, progId)                               \
    std::unique_ptr<host::kind> AutomationConnector::create##kind() { \
        return std::make_unique<Automation##kind>();                  \
    }
#include "host/objects.def"

}  // namespace vpolv::com
