// The Plugin class: its public methods, the three events and the dispatch to the rules.
#include "plugin/plugin.h"

#include <memory>

#include "catalog/catalog.h"
#include "common/text.h"
#include "host/info_codes.h"
#include "plugin/gola.h"
#include "plugin/trace.h"
#include "showcase/cabinet.h"
#include "showcase/showcase.h"

namespace vpolv {

namespace {

// Ends the host session (when one was started) and releases the host objects in order, whatever
// ended the event. A failure while ending the session after an error is not reported: the
// original error is.
class EventScope {
  public:
    explicit EventScope(Constantes& m) : m_(m) {}
    EventScope(const EventScope&) = delete;
    EventScope& operator=(const EventScope&) = delete;

    void sessionStarted() { sessionOpen_ = true; }

    // The normal end: EndSession's failure is the event's failure.
    void end() {
        if (sessionOpen_) {
            sessionOpen_ = false;
            m_.appli().EndSession(m_.lSessionId);
        }
        release();
    }

    ~EventScope() {
        if (sessionOpen_) {
            try {
                m_.appli().EndSession(m_.lSessionId);
            } catch (...) {
            }
        }
        release();
    }

  private:
    void release() noexcept {
        m_.oAppli.reset();
        m_.oScene.reset();
        m_.oCatalog.reset();
    }

    Constantes& m_;
    bool sessionOpen_ = false;
};

// The per-object dispatch: a cabinet to the rule of its type, a glass front to its own.
void dispatchCallObject(Context& ctx, Long& d) {
    PluginFields& f = ctx.fields;
    Constantes& m = ctx.module;
    f.lNumHijos = m.scene().ObjectGetChildrenNb(m.lSessionId, host::ObjectArg::current(), 0);
    if (const CabinetType* type = cabinetType(f.sReferencia)) {
        priceCabinetGlass(ctx, *type, f.lNumHijos, d, host::ObjectArg::current());
    } else if (contains(glassFronts(), f.sReferencia)) {
        vpolv::vitrina3b(ctx);
    }
}

// The scene event's dispatch of one scene object, initialised first; glass fronts by
// themselves are not priced here.
void dispatchSceneObject(Context& ctx, Long& d, Long& lObjectId) {
    PluginFields& f = ctx.fields;
    Constantes& m = ctx.module;
    readObject(ctx, host::ObjectArg::id(lObjectId));
    f.lNumHijos = m.scene().ObjectGetChildrenNb(m.lSessionId, host::ObjectArg::id(lObjectId), 0);
    if (const CabinetType* type = cabinetType(f.sReferencia))
        priceCabinetGlass(ctx, *type, f.lNumHijos, d, host::ObjectArg::id(lObjectId));
}

}  // namespace

// One call of a public method, from its start to its end: the state it works on (see "Nested
// calls" in plugin.h). The methods call one another through the functions they share, never through
// their public entries, so an Entry always stands for a call from outside.
class Plugin::Entry {
  public:
    explicit Entry(Plugin& plugin)
        : plugin_(plugin),
          interrupted_(plugin.active_),
          ctx_{fieldsFor(plugin), module_.state(), plugin.sys_} {
        plugin_.active_ = &ctx_.fields;
        ++plugin_.calls_;
    }
    ~Entry() {
        --plugin_.calls_;
        plugin_.active_ = interrupted_;
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    Context& context() { return ctx_; }

  private:
    PluginFields& fieldsFor(Plugin& plugin) {
        if (plugin.calls_ == 0)
            return plugin.f_;
        own_ = std::make_unique<PluginFields>(*plugin.active_);
        return *own_;
    }

    Plugin& plugin_;
    PluginFields* interrupted_;
    ModuleStateScope module_;
    std::unique_ptr<PluginFields> own_;
    Context ctx_;
};

Plugin::Plugin(host::Connector& host, const platform::Services& services)
    : host_(host), sys_(services) {}

Boolean Plugin::runEvent(Context& ctx, Event event, Long lCallParamsBlock) {
    return traced(sys_, host_, event, lCallParamsBlock, ctx,
                  [&](host::Connector& host, platform::Dialogs& messages) {
                      return runEvent(ctx, host, messages, event, lCallParamsBlock);
                  });
}

Boolean Plugin::runEvent(Context& ctx, host::Connector& host, platform::Dialogs& messages,
                         Event event, Long lCallParamsBlock) {
    Constantes& m = ctx.module;
    EventScope scope(m);
    m.oAppli = host.createAppli();
    m.oScene = host.createScene();
    m.oCatalog = host.createCatalog();
    m.lSessionId = m.oAppli->StartSessionFromCallParams(lCallParamsBlock);
    scope.sessionStarted();

    bool objectRead = false;
    if (m.lSessionId != 0) {
        if (event == Event::Scene) {
            const Long n = m.scene().SceneGetObjectsNb(m.lSessionId);
            for (Long i = 1; i <= n; i = checkedAdd(i, 1)) {
                Long id = m.scene().SceneGetObjectId(m.lSessionId, i);
                const Text number =
                    m.scene().ObjectGetInfo(m.lSessionId, host::ObjectArg::id(id), info::kCatalog);
                if (identificaCatalogo(m, number)) {
                    Long d = kOriginPlaced;
                    dispatchSceneObject(ctx, d, id);
                }
            }
        } else {
            const Text number =
                m.scene().ObjectGetInfo(m.lSessionId, host::ObjectArg::current(), info::kCatalog);
            if (identificaCatalogo(m, number)) {
                readObject(ctx, host::ObjectArg::current());
                objectRead = true;
                Long d = event == Event::Place ? kOriginPlaced : kOriginFinishes;
                dispatchCallObject(ctx, d);
            }
        }
    }

    // Only an object this placement has read can have its handle checked.
    if (event == Event::Place && objectRead && isGolaHandle(ctx.fields.sTirador)) {
        warnOfGolaHandle(messages);
    }

    scope.end();
    return kTrue;
}

void Plugin::Inicializa() {
    Entry call(*this);
    readObject(call.context(), host::ObjectArg::current());
}

// The event methods, and the one that calls them by the event's kind.
#define VPOLV_EVENT(kind, name, method, dispId)                         \
    Boolean Plugin::method(Long lCallParamsBlock) {                     \
        Entry call(*this);                                              \
        return runEvent(call.context(), Event::kind, lCallParamsBlock); \
    }
#include "host/events.def"

Boolean Plugin::fire(Event event, Long lCallParamsBlock) {
    switch (event) {
#define VPOLV_EVENT(kind, name, method, dispId) \
    case Event::kind:                           \
        return method(lCallParamsBlock);
#include "host/events.def"
    }
    return kFalse;  // not reached: every event has its case
}

Boolean Plugin::casoPolvast(Long /*lCallParamsBlock*/, Long& d) {
    Entry call(*this);
    dispatchCallObject(call.context(), d);
    return kTrue;
}

Boolean Plugin::casoPolvastAG(Long /*lCallParamsBlock*/, Long& d, Long& lObjectId) {
    Entry call(*this);
    dispatchSceneObject(call.context(), d, lObjectId);
    return kTrue;
}

Text Plugin::formateaDescripcion(Text& desc) {
    return vpolv::formateaDescripcion(desc);
}

void Plugin::vitrina(Long& nHijos, Long& auxd) {
    Entry call(*this);
    priceCabinetGlass(call.context(), kCabinetType1, nHijos, auxd, host::ObjectArg::current());
}

void Plugin::vitrina2(Long& nHijos, Long& auxd) {
    Entry call(*this);
    priceCabinetGlass(call.context(), kCabinetType2, nHijos, auxd, host::ObjectArg::current());
}

void Plugin::vitrina3(Long& nHijos, Long& auxd) {
    Entry call(*this);
    priceCabinetGlass(call.context(), kCabinetType3, nHijos, auxd, host::ObjectArg::current());
}

void Plugin::vitrina3b() {
    Entry call(*this);
    vpolv::vitrina3b(call.context());
}

void Plugin::vitrinaAG(Long& nHijos, Long& auxd, Long& lObjectId) {
    Entry call(*this);
    priceCabinetGlass(call.context(), kCabinetType1, nHijos, auxd, host::ObjectArg::id(lObjectId));
}

void Plugin::vitrina2AG(Long& nHijos, Long& auxd, Long& lObjectId) {
    Entry call(*this);
    priceCabinetGlass(call.context(), kCabinetType2, nHijos, auxd, host::ObjectArg::id(lObjectId));
}

void Plugin::vitrina3AG(Long& nHijos, Long& auxd, Long& lObjectId) {
    Entry call(*this);
    priceCabinetGlass(call.context(), kCabinetType3, nHijos, auxd, host::ObjectArg::id(lObjectId));
}

}  // namespace vpolv
