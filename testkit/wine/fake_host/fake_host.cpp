// The fake host SDK server: three automation classes answering from an in-memory host.
#include "testkit/wine/fake_host/fake_host.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <type_traits>

#include "com/com_object.h"
#include "common/text.h"
#include "platform/windows/com_support.h"
#include "platform/windows/windows_platform_impl.h"

namespace vpolv::fakehost {
namespace {

using win::Bstr;
using win::ComPtr;

// {B2844458-2626-42BD-B4F4-9BB25DA67700}
constexpr CLSID kAppliClsid = {
    0xb2844458, 0x2626, 0x42bd, {0xb4, 0xf4, 0x9b, 0xb2, 0x5d, 0xa6, 0x77, 0x00}};
// {4F051048-C5B6-459C-96AE-B66D16E48A58}
constexpr CLSID kSceneClsid = {
    0x4f051048, 0xc5b6, 0x459c, {0x96, 0xae, 0xb6, 0x6d, 0x16, 0xe4, 0x8a, 0x58}};
// {3F07400E-2292-46BD-8977-A71250B1AB78}
constexpr CLSID kCatalogClsid = {
    0x3f07400e, 0x2292, 0x46bd, {0x89, 0x77, 0xa7, 0x12, 0x50, 0xb1, 0xab, 0x78}};

using Kind = host::ObjectKind;

const char* kindName(Kind kind) {
    return host::name(kind).data();
}

// The SDK's operations (host::kOperations); an operation's dispatch id is its place in that
// table plus one.
constexpr const wchar_t* kWideNames[] = {
#define VPOLV_OPERATION(object, name, result, parameters, arguments) L## #name,
#include "host/operations.def"
};

bool offers(Kind kind, std::size_t op) {
    return host::kOperations[op].object == kind;
}

std::string narrow(const wchar_t* text) {
    return toUtf8(win::fromWide(text, wcslen(text)));
}

std::string describe(const VARIANT& v) {
    switch (V_VT(&v)) {
        case VT_I2:
            return "I2 " + std::to_string(V_I2(&v));
        case VT_I4:
            return "I4 " + std::to_string(V_I4(&v));
        case VT_BYREF | VT_I4:
            return "I4& " + std::to_string(*V_I4REF(&v));
        case VT_BSTR:
            return "BSTR \"" + toUtf8(win::fromBstr(V_BSTR(&v))) + "\"";
        case VT_BYREF | VT_BSTR:
            return "BSTR& \"" + toUtf8(win::fromBstr(*V_BSTRREF(&v))) + "\"";
        case VT_BOOL:
            return std::string("BOOL ") + (V_BOOL(&v) ? "True" : "False");
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "VT(0x%04X)", V_VT(&v));
            return text;
        }
    }
}

// Whether v has the automation type that parameter kind p requires.
bool accepts(char p, const VARIANT& v) {
    const VARTYPE t = V_VT(&v);
    switch (p) {
        case 'R':
            return t == (VT_BYREF | VT_I4);
        case 'O':
            return (t == VT_I2 && V_I2(&v) == host::ObjectArg::kCurrentObject) ||
                   t == (VT_BYREF | VT_I4);
        case 'L':
            return t == VT_I4;
        case 'I':
            return t == VT_I2;
        case 'T':
            return t == VT_BSTR || t == (VT_BYREF | VT_BSTR);
        case 'B':
            return t == VT_BOOL;
    }
    return false;
}

class Server;
Server& server();

// The host's crash (Control::crashInCall): an access violation in a function of its own, which
// a debugger shows by name at the top of the stack.
[[gnu::noinline]] void crashInHostCode() {
    int* volatile nowhere = nullptr;
    *nowhere = 0;
}

// The typed arguments of one call, decoded from the VARIANTs; by-reference values are copied
// back into the caller's variables afterwards.
class Decoded {
  public:
    Decoded(const char* params, DISPPARAMS& dp) : params_(params), dp_(dp) {
        for (std::size_t i = 0; params_[i]; ++i) {
            VARIANT& v = at(i);
            switch (V_VT(&v)) {
                case VT_I2:
                    longs_[i] = V_I2(&v);
                    break;
                case VT_I4:
                    longs_[i] = V_I4(&v);
                    break;
                case VT_BYREF | VT_I4:
                    longs_[i] = *V_I4REF(&v);
                    break;
                case VT_BSTR:
                    texts_[i] = win::fromBstr(V_BSTR(&v));
                    break;
                case VT_BYREF | VT_BSTR:
                    texts_[i] = win::fromBstr(*V_BSTRREF(&v));
                    break;
                case VT_BOOL:
                    longs_[i] = V_BOOL(&v);
                    break;
            }
        }
    }
    ~Decoded() {
        for (std::size_t i = 0; params_[i]; ++i) {
            VARIANT& v = at(i);
            if (V_VT(&v) == (VT_BYREF | VT_I4))
                *V_I4REF(&v) = longs_[i];
        }
    }

    Long& ref(std::size_t i) { return longs_[i]; }
    Long number(std::size_t i) const { return longs_[i]; }
    Integer integer(std::size_t i) const { return static_cast<Integer>(longs_[i]); }
    bool boolean(std::size_t i) const { return longs_[i] != 0; }
    host::ObjectArg object(std::size_t i) {
        return V_VT(&at(i)) == VT_I2 ? host::ObjectArg::current() : host::ObjectArg::id(longs_[i]);
    }
    host::TextArg text(std::size_t i) {
        return V_VT(&at(i)) == VT_BSTR ? host::TextArg::byValue(texts_[i])
                                       : host::TextArg::byRef(texts_[i]);
    }

    // The i-th argument as the operation declares it (see host::invokeWith).
    template <class P>
    P get(std::size_t i) {
        if constexpr (std::is_same_v<P, Long&>)
            return ref(i);
        else if constexpr (std::is_same_v<P, Long>)
            return number(i);
        else if constexpr (std::is_same_v<P, Integer>)
            return integer(i);
        else if constexpr (std::is_same_v<P, bool>)
            return boolean(i);
        else if constexpr (std::is_same_v<P, host::ObjectArg>)
            return object(i);
        else
            return text(i);
    }

  private:
    VARIANT& at(std::size_t i) { return dp_.rgvarg[dp_.cArgs - 1 - i]; }

    const char* params_;
    DISPPARAMS& dp_;
    std::array<Long, 8> longs_{};
    std::array<Text, 8> texts_{};
};

// Adds to every text of params passed by reference.
void lengthenTexts(DISPPARAMS& params) {
    for (UINT i = 0; i < params.cArgs; ++i) {
        VARIANT& v = params.rgvarg[i];
        if (V_VT(&v) != (VT_BYREF | VT_BSTR))
            continue;
        const std::wstring longer =
            std::wstring(*V_BSTRREF(&v) ? *V_BSTRREF(&v) : L"") + L" (changed by the failed call)";
        SysFreeString(*V_BSTRREF(&v));
        *V_BSTRREF(&v) = SysAllocString(longer.c_str());
    }
}

class FakeObject;

class Server final : public Control {
  public:
    void reset(host::SceneData scene) override {
        // Objects still alive keep using the host they were created with.
        retired_.push_back(std::move(memory_));
        memory_ = std::make_unique<host::MemoryHost>(std::move(scene), locale_);
        calls_.clear();
        lookups_.clear();
        answers_.clear();
        failures_.clear();
        exceptionTexts_.clear();
        failuresChangeTexts_ = false;
        crashAt_ = 0;
        operations_ = 0;
    }
    host::MemoryHost& memory() override { return *memory_; }
    std::vector<std::string> calls() const override { return calls_; }
    void clearRecords() override { calls_.clear(); }
    std::map<std::string, int> lookups() const override { return lookups_; }
    std::vector<BSTR> exceptionTexts() const override { return exceptionTexts_; }
    int liveObjects() const override { return live_; }
    long liveReferences() const override { return references_; }
    void answerWithText(std::size_t n, const std::wstring& text) override { answers_[n] = text; }
    void failWithHresult(std::size_t n, HRESULT hr) override { failures_[n] = hr; }
    void failuresChangeTexts(bool change) override { failuresChangeTexts_ = change; }
    bool changesTexts() const { return failuresChangeTexts_; }
    void crashInCall(std::size_t n) override { crashAt_ = n; }

    // --- For the objects ---
    // Calls from several threads are served one at a time; a call may come back in on the
    // same thread (an event that starts inside a host call).
    std::unique_lock<std::recursive_mutex> lock() { return std::unique_lock(mutex_); }

    int newInstance(Kind kind) { return ++instances_[static_cast<int>(kind)]; }
    void objectCreated() { ++live_; }
    void objectDestroyed() { --live_; }
    void referenceAdded() { ++references_; }
    void referenceDropped() { --references_; }
    void lookedUp(const std::string& who) { ++lookups_[who]; }

    // Records the call and returns its number, with any scripted answer or failure for it.
    std::size_t record(std::string call) {
        calls_.push_back(std::move(call));
        return ++operations_;
    }
    std::optional<HRESULT> failure(std::size_t n) const {
        const auto found = failures_.find(n);
        return found == failures_.end() ? std::nullopt : std::optional<HRESULT>(found->second);
    }
    bool crashes(std::size_t n) const { return n == crashAt_; }
    void handedOut(BSTR text) { exceptionTexts_.push_back(text); }
    std::optional<std::wstring> answer(std::size_t n) const {
        const auto found = answers_.find(n);
        return found == answers_.end() ? std::nullopt : std::optional<std::wstring>(found->second);
    }

  private:
    platform::windows::WindowsLocale locale_;
    std::unique_ptr<host::MemoryHost> memory_ =
        std::make_unique<host::MemoryHost>(host::SceneData{}, locale_);
    std::vector<std::unique_ptr<host::MemoryHost>> retired_;
    std::vector<std::string> calls_;
    std::map<std::string, int> lookups_;
    std::map<std::size_t, std::wstring> answers_;
    std::map<std::size_t, HRESULT> failures_;
    std::vector<BSTR> exceptionTexts_;
    bool failuresChangeTexts_ = false;
    std::size_t crashAt_ = 0;  // none
    std::size_t operations_ = 0;
    std::array<int, 3> instances_{};
    std::atomic<int> live_ = 0;
    std::atomic<long> references_ = 0;
    std::recursive_mutex mutex_;
};

Server& server() {
    static Server instance;
    return instance;
}

// One of the three SDK objects.
class FakeObject final : public com::ComObject<FakeObject, IDispatch, com::NoModuleCount> {
  public:
    // Raises vpolv::Error when the in-memory host refuses to create the object.
    explicit FakeObject(Kind kind) : kind_(kind) {
        const auto lock = server().lock();
        host::MemoryHost& memory = server().memory();
        switch (kind) {
#define VPOLV_HOST_OBJECT(object, progId)                                            \
    case Kind::object:                                                               \
        std::get<std::unique_ptr<host::object>>(objects_) = memory.create##object(); \
        break;
#include "host/objects.def"
        }
        instance_ = server().newInstance(kind);
        server().objectCreated();
        server().referenceAdded();
    }

    ULONG STDMETHODCALLTYPE AddRef() override {
        server().referenceAdded();
        return ComObject::AddRef();
    }
    ULONG STDMETHODCALLTYPE Release() override {
        server().referenceDropped();
        return ComObject::Release();
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (count == 0)
            return S_OK;
        const auto lock = server().lock();
        server().lookedUp(std::string(kindName(kind_)) + "#" + std::to_string(instance_) + "." +
                          narrow(names[0]));
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        for (std::size_t i = 0; i < std::size(kWideNames); ++i) {
            if (offers(kind_, i) && _wcsicmp(kWideNames[i], names[0]) == 0) {
                ids[0] = static_cast<DISPID>(i + 1);
                return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* argError) override {
        if (id < 1 || id > static_cast<DISPID>(std::size(host::kOperations)) ||
            !offers(kind_, static_cast<std::size_t>(id - 1))) {
            return DISP_E_MEMBERNOTFOUND;
        }
        if (!params)
            return E_INVALIDARG;
        const auto lock = server().lock();
        const host::OperationInfo& op = host::kOperations[id - 1];
        const std::size_t expected = std::strlen(op.kinds);

        std::string call = std::string(kindName(kind_)) + "." + std::string(op.name) + "(";
        for (UINT i = 0; i < params->cArgs; ++i) {
            call += (i ? ", " : "") + describe(params->rgvarg[params->cArgs - 1 - i]);
        }
        const std::size_t n = server().record(call + ")");

        if (params->cNamedArgs != 0)
            return DISP_E_NONAMEDARGS;
        if (params->cArgs != expected)
            return DISP_E_BADPARAMCOUNT;
        for (std::size_t i = 0; i < expected; ++i) {
            if (!accepts(op.kinds[i], params->rgvarg[params->cArgs - 1 - i])) {
                if (argError)
                    *argError = static_cast<UINT>(params->cArgs - 1 - i);
                return DISP_E_TYPEMISMATCH;
            }
        }
        if (const auto hr = server().failure(n))
            return *hr;
        if (server().crashes(n))
            crashInHostCode();

        win::Variant value;
        try {
            Decoded args(op.kinds, *params);
            perform(static_cast<host::Operation>(id - 1), args, value);
        } catch (...) {
            const Error e = currentError();
            if (!exception)
                return e.code();
            if (server().changesTexts())
                lengthenTexts(*params);
            *exception = EXCEPINFO{};
            exception->scode = e.code();
            exception->bstrSource = win::toBstr(e.source()).release();
            exception->bstrDescription = win::toBstr(e.description()).release();
            server().handedOut(exception->bstrSource);
            server().handedOut(exception->bstrDescription);
            return DISP_E_EXCEPTION;
        }
        if (const auto text = server().answer(n)) {
            VariantClear(value.get());
            V_VT(value.get()) = VT_BSTR;
            V_BSTR(value.get()) = SysAllocString(text->c_str());
        }
        if (result) {
            VariantInit(result);
            return VariantCopy(result, value.get());
        }
        return S_OK;
    }

  private:
    ~FakeObject() override {
        const auto lock = server().lock();
        objects_ = {};
        server().objectDestroyed();
    }

    static void set(win::Variant& v, Long value) {
        V_VT(v.get()) = VT_I4;
        V_I4(v.get()) = value;
    }
    static void set(win::Variant& v, const Text& value) {
        V_VT(v.get()) = VT_BSTR;
        V_BSTR(v.get()) = win::toBstr(value).release();
    }
    static void set(win::Variant& v, bool value) {
        V_VT(v.get()) = VT_BOOL;
        V_BOOL(v.get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    // Runs the call and keeps what it answered, if anything.
    template <class Run>
    static void answer(win::Variant& v, Run run) {
        if constexpr (std::is_void_v<decltype(run())>)
            run();
        else
            set(v, run());
    }

    template <class Object>
    Object& target() {
        return *std::get<std::unique_ptr<Object>>(objects_);
    }

    void perform(host::Operation op, Decoded& a, win::Variant& v) {
        switch (op) {
#define VPOLV_OPERATION(object, name, result, parameters, arguments) \
    case host::Operation::name:                                      \
        return answer(                                               \
            v, [&] { return host::invokeWith(target<host::object>(), &host::object::name, a); });
#include "host/operations.def"
            case host::Operation::CreateObject:
            case host::Operation::Release:
                return;  // not operations a dispatch id names
        }
    }

    Kind kind_;
    int instance_ = 0;
    std::tuple<std::unique_ptr<host::Appli>, std::unique_ptr<host::Scene>,
               std::unique_ptr<host::Catalog>>
        objects_;
};

class Factory final : public com::ComObject<Factory, IClassFactory, com::NoModuleCount> {
  public:
    explicit Factory(Kind kind) : kind_(kind) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        try {
            const auto object = ComPtr<FakeObject>::attach(new FakeObject(kind_));
            return object->QueryInterface(riid, out);
        } catch (...) {
            return currentError().code();
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  private:
    Kind kind_;
};

HMODULE gModule = nullptr;

struct Registered {
    const CLSID& clsid;
    const wchar_t* progId;
    Kind kind;
};
const std::array<Registered, 3> kClasses = {{
    {kAppliClsid, host::objectInfo(Kind::Appli).progIdWide, Kind::Appli},
    {kSceneClsid, host::objectInfo(Kind::Scene).progIdWide, Kind::Scene},
    {kCatalogClsid, host::objectInfo(Kind::Catalog).progIdWide, Kind::Catalog},
}};

using win::guidText;

void setValue(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY raw = nullptr;
    win::checkWin32(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + path).c_str(), 0,
                                    nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr));
    const win::UniqueKey key(raw);
    win::checkWin32(RegSetValueExW(key.get(), name, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

}  // namespace
}  // namespace vpolv::fakehost

using namespace vpolv::fakehost;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        gModule = instance;
    return TRUE;
}

Control* fakeHostControl() {
    return &server();
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    for (const auto& c : kClasses) {
        if (clsid == c.clsid) {
            const auto factory = vpolv::win::ComPtr<Factory>::attach(new Factory(c.kind));
            return factory->QueryInterface(riid, out);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// The test program keeps the library loaded for its whole run.
HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
    try {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(gModule, path, MAX_PATH);
        for (const auto& c : kClasses) {
            const std::wstring clsid = guidText(c.clsid);
            setValue(c.progId, nullptr, c.progId);
            setValue(std::wstring(c.progId) + L"\\CLSID", nullptr, clsid);
            setValue(L"CLSID\\" + clsid, nullptr, c.progId);
            setValue(L"CLSID\\" + clsid + L"\\InprocServer32", nullptr, path);
            setValue(L"CLSID\\" + clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
        }
        return S_OK;
    } catch (...) {
        return vpolv::currentError().code();
    }
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
    for (const auto& c : kClasses) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                       (std::wstring(L"Software\\Classes\\") + c.progId).c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                       (L"Software\\Classes\\CLSID\\" + guidText(c.clsid)).c_str());
    }
    return S_OK;
}

}  // extern "C"
