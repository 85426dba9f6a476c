#include "plugin/plugin.h"

#include "catalog/catalog.h"
#include "common/text.h"
#include "host/info_codes.h"
#include "plugin/gola.h"
#include "showcase/cabinet.h"
#include "showcase/showcase.h"

namespace vpolv {

namespace {

// Origin codes of the events, as the rules receive them.
constexpr Long kOrigenColocado = 1;
constexpr Long kOrigenAcabados = 2;

// Glass fronts that are priced when placed or changed on their own.
constexpr std::u16string_view kFrentesSueltos[] = {u"FR_1PRVAMA", u"FR_1PRVAME", u"FR_1PRVAR7",
                                                   u"FR_1PRVAYE", u"FR_1PABAMA", u"FR_1PABAME",
                                                   u"FR_1PABAR7", u"FR_1PABAYE"};

bool isFrenteSuelto(const Text& referencia) {
    for (const auto front : kFrentesSueltos) {
        if (referencia == front)
            return true;
    }
    return false;
}

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

}  // namespace

Plugin::Plugin(host::Connector& host, const platform::Services& services)
    : host_(host), sys_(services) {}

Context Plugin::context() {
    return Context{f_, constantes(), sys_};
}

Boolean Plugin::runEvent(Event event, Long lCallParamsBlock) {
    Constantes& m = constantes();
    EventScope scope(m);
    m.oAppli = host_.createAppli();
    m.oScene = host_.createScene();
    m.oCatalog = host_.createCatalog();
    m.lSessionId = m.oAppli->StartSessionFromCallParams(lCallParamsBlock);
    scope.sessionStarted();

    bool objetoLeido = false;
    if (m.lSessionId != 0) {
        if (event == Event::SceneGenericFinishes) {
            const Long n = m.scene().SceneGetObjectsNb(m.lSessionId);
            for (Long i = 1; i <= n; i = checkedAdd(i, 1)) {
                Long id = m.scene().SceneGetObjectId(m.lSessionId, i);
                const Text catalogo =
                    m.scene().ObjectGetInfo(m.lSessionId, host::ObjectArg::id(id), info::kCatalogo);
                if (identificaCatalogo(m, catalogo)) {
                    Long d = kOrigenColocado;
                    casoPolvastAG(lCallParamsBlock, d, id);
                }
            }
        } else {
            const Text catalogo =
                m.scene().ObjectGetInfo(m.lSessionId, host::ObjectArg::current(), info::kCatalogo);
            if (identificaCatalogo(m, catalogo)) {
                Inicializa();
                objetoLeido = true;
                Long d = event == Event::Place ? kOrigenColocado : kOrigenAcabados;
                casoPolvast(lCallParamsBlock, d);
            }
        }
    }

    // Only an object this placement has read can have its handle checked.
    if (event == Event::Place && objetoLeido && esTiradorGola(f_.sTirador)) {
        avisoTiradorGola(sys_.messages);
    }

    scope.end();
    return kTrue;
}

void Plugin::Inicializa() {
    Context ctx = context();
    inicializaObjeto(ctx, host::ObjectArg::current());
}

Boolean Plugin::OnObjectPlaceAfter(Long lCallParamsBlock) {
    return runEvent(Event::Place, lCallParamsBlock);
}

Boolean Plugin::OnObjectFinishesAfter(Long lCallParamsBlock) {
    return runEvent(Event::Finishes, lCallParamsBlock);
}

Boolean Plugin::OnSceneGenericFinishesAfter(Long lCallParamsBlock) {
    return runEvent(Event::SceneGenericFinishes, lCallParamsBlock);
}

Boolean Plugin::casoPolvast(Long /*lCallParamsBlock*/, Long& d) {
    Constantes& m = constantes();
    f_.lNumHijos = m.scene().ObjectGetChildrenNb(m.lSessionId, host::ObjectArg::current(), 0);
    if (f_.sReferencia == u"VITRINA" || f_.sReferencia == u"VITRINAG") {
        vitrina(f_.lNumHijos, d);
    } else if (f_.sReferencia == u"VITRINA2") {
        vitrina2(f_.lNumHijos, d);
    } else if (f_.sReferencia == u"VITRINA3") {
        vitrina3(f_.lNumHijos, d);
    } else if (isFrenteSuelto(f_.sReferencia)) {
        vitrina3b();
    }
    return kTrue;
}

Boolean Plugin::casoPolvastAG(Long /*lCallParamsBlock*/, Long& d, Long& lObjectId) {
    Context ctx = context();
    inicializaObjeto(ctx, host::ObjectArg::id(lObjectId));
    f_.lNumHijos =
        ctx.m.scene().ObjectGetChildrenNb(ctx.m.lSessionId, host::ObjectArg::id(lObjectId), 0);
    if (f_.sReferencia == u"VITRINA" || f_.sReferencia == u"VITRINAG") {
        vitrinaAG(f_.lNumHijos, d, lObjectId);
    } else if (f_.sReferencia == u"VITRINA2") {
        vitrina2AG(f_.lNumHijos, d, lObjectId);
    } else if (f_.sReferencia == u"VITRINA3") {
        vitrina3AG(f_.lNumHijos, d, lObjectId);
    }
    return kTrue;
}

Text Plugin::formateaDescripcion(Text& desc) {
    return vpolv::formateaDescripcion(desc);
}

void Plugin::vitrina(Long& nHijos, Long& auxd) {
    Context ctx = context();
    recorreVitrina(ctx, kVitrinaTipo1, nHijos, auxd, nullptr);
}

void Plugin::vitrina2(Long& nHijos, Long& auxd) {
    Context ctx = context();
    recorreVitrina(ctx, kVitrinaTipo2, nHijos, auxd, nullptr);
}

void Plugin::vitrina3(Long& nHijos, Long& auxd) {
    Context ctx = context();
    recorreVitrina(ctx, kVitrinaTipo3, nHijos, auxd, nullptr);
}

void Plugin::vitrina3b() {
    Context ctx = context();
    vpolv::vitrina3b(ctx);
}

void Plugin::vitrinaAG(Long& nHijos, Long& auxd, Long& lObjectId) {
    Context ctx = context();
    recorreVitrina(ctx, kVitrinaTipo1, nHijos, auxd, &lObjectId);
}

void Plugin::vitrina2AG(Long& nHijos, Long& auxd, Long& lObjectId) {
    Context ctx = context();
    recorreVitrina(ctx, kVitrinaTipo2, nHijos, auxd, &lObjectId);
}

void Plugin::vitrina3AG(Long& nHijos, Long& auxd, Long& lObjectId) {
    Context ctx = context();
    recorreVitrina(ctx, kVitrinaTipo3, nHijos, auxd, &lObjectId);
}

}  // namespace vpolv
