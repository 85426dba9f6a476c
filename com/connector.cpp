// The host SDK reached late-bound through IDispatch, with exactly the argument types it expects.
#include "com/connector.h"

#include <array>
#include <new>
#include <optional>
#include <string>
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

// The error the host reported for a failed call, passed on with its own code and description.
Error hostFailure(HRESULT hr, EXCEPINFO& info) {
    if (hr != DISP_E_EXCEPTION)
        return Error(static_cast<std::int32_t>(hr), win::systemMessage(hr));
    if (info.pfnDeferredFillIn)
        info.pfnDeferredFillIn(&info);
    const Bstr description(info.bstrDescription);
    const Bstr source(info.bstrSource);
    const Bstr helpFile(info.bstrHelpFile);
    HRESULT code = info.scode;
    if (code == S_OK) {
        code = info.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, info.wCode) : E_FAIL;
    }
    Text text = win::fromBstr(description.get());
    if (text.empty())
        text = win::systemMessage(code);
    return Error(static_cast<std::int32_t>(code), std::move(text), win::fromBstr(source.get()));
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

// The SDK's operations, each called by name.
enum class Op {
#define VPOLV_OPERATION(object, name, params) name,
#include "host/operations.def"
    Count
};
constexpr std::array<const wchar_t*, static_cast<std::size_t>(Op::Count)> kOpNames = {
#define VPOLV_OPERATION(object, name, params) L## #name,
#include "host/operations.def"
};

// One host object, called by operation name.
class DispatchObject {
  public:
    explicit DispatchObject(std::u16string_view progId) : object_(create(progId)) {}

    Long callLong(Op op, Args& args) {
        Variant result;
        call(op, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, result);
        coerce(result, VT_I4);
        return V_I4(result.get());
    }
    Text callText(Op op, Args& args) {
        Variant result;
        call(op, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, result);
        coerce(result, VT_BSTR);
        return win::fromBstr(V_BSTR(result.get()));
    }
    bool callBool(Op op, Args& args) {
        Variant result;
        call(op, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, result);
        coerce(result, VT_BOOL);
        return V_BOOL(result.get()) != VARIANT_FALSE;
    }
    void callVoid(Op op, Args& args) {
        Variant result;
        call(op, DISPATCH_METHOD, args, result);
    }

  private:
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
    DISPID id(Op op) {
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

    void call(Op op, WORD flags, Args& args, Variant& result) {
        const DISPID dispId = id(op);
        DISPPARAMS params = args.params();
        EXCEPINFO info{};
        UINT argError = 0;
        const HRESULT hr = object_->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                           result.get(), &info, &argError);
        args.writeBack();
        if (FAILED(hr))
            throw hostFailure(hr, info);
    }

    ComPtr<IDispatch> object_;
    std::array<std::optional<DISPID>, kOpNames.size()> ids_{};
};

class AutomationAppli : public host::Appli {
  public:
    AutomationAppli() : object_(host::Connector::kAppliProgId) {}

    Long StartSessionFromCallParams(Long& callParamsBlock) override {
        Args args;
        args.i4Ref(callParamsBlock);
        return object_.callLong(Op::StartSessionFromCallParams, args);
    }
    bool EndSession(Long& sessionId) override {
        Args args;
        args.i4Ref(sessionId);
        return object_.callBool(Op::EndSession, args);
    }

  private:
    DispatchObject object_;
};

class AutomationScene : public host::Scene {
  public:
    AutomationScene() : object_(host::Connector::kSceneProgId) {}

    Text ObjectGetInfo(Long& sessionId, host::ObjectArg object, Long code) override {
        Args args;
        args.i4Ref(sessionId).object(object).i4(code);
        return object_.callText(Op::ObjectGetInfo, args);
    }
    void ObjectSetInfo(Long& sessionId, host::ObjectArg object, host::TextArg value,
                       Long code) override {
        Args args;
        args.i4Ref(sessionId).object(object).text(value).i4(code);
        object_.callVoid(Op::ObjectSetInfo, args);
    }
    Long SceneGetObjectsNb(Long& sessionId) override {
        Args args;
        args.i4Ref(sessionId);
        return object_.callLong(Op::SceneGetObjectsNb, args);
    }
    Long SceneGetObjectId(Long& sessionId, Long& rank) override {
        Args args;
        args.i4Ref(sessionId).i4Ref(rank);
        return object_.callLong(Op::SceneGetObjectId, args);
    }
    Long ObjectGetChildrenNb(Long& sessionId, host::ObjectArg object, Integer zero) override {
        Args args;
        args.i4Ref(sessionId).object(object).i2(zero);
        return object_.callLong(Op::ObjectGetChildrenNb, args);
    }
    Long ObjectGetChildId(Long& sessionId, host::ObjectArg object, Long& rank,
                          Integer zero) override {
        Args args;
        args.i4Ref(sessionId).object(object).i4Ref(rank).i2(zero);
        return object_.callLong(Op::ObjectGetChildId, args);
    }
    Text SceneGetKeywordInfo(Long& sessionId, host::TextArg keyword) override {
        Args args;
        args.i4Ref(sessionId);
        if (BSTR kept = keyword.isByRef() ? nullptr : keptText(keyword.text())) {
            args.text(kept);
        } else {
            args.text(keyword);
        }
        return object_.callText(Op::SceneGetKeywordInfo, args);
    }

  private:
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

    DispatchObject object_;
    std::vector<std::pair<Text, Bstr>> keywords_;
};

class AutomationCatalog : public host::Catalog {
  public:
    AutomationCatalog() : object_(host::Connector::kCatalogProgId) {}

    Long TableGetLineRankFromName(Long& sessionId, Integer table, Integer zero, Integer one,
                                  host::TextArg lineName, bool flag) override {
        Args args;
        args.i4Ref(sessionId).i2(table).i2(zero).i2(one).text(lineName).boolean(flag);
        return object_.callLong(Op::TableGetLineRankFromName, args);
    }
    Text TableGetLineInfo(Long& sessionId, Integer table, Integer zero, Long& rank,
                          Integer column) override {
        Args args;
        args.i4Ref(sessionId).i2(table).i2(zero).i4Ref(rank).i2(column);
        return object_.callText(Op::TableGetLineInfo, args);
    }
    bool FileLoad(Long& sessionId, host::TextArg file, host::TextArg catalogCode) override {
        Args args;
        args.i4Ref(sessionId).text(file).text(catalogCode);
        return object_.callBool(Op::FileLoad, args);
    }

  private:
    DispatchObject object_;
};

}  // namespace

std::unique_ptr<host::Appli> AutomationConnector::createAppli() {
    return std::make_unique<AutomationAppli>();
}
std::unique_ptr<host::Scene> AutomationConnector::createScene() {
    return std::make_unique<AutomationScene>();
}
std::unique_ptr<host::Catalog> AutomationConnector::createCatalog() {
    return std::make_unique<AutomationCatalog>();
}

}  // namespace vpolv::com
