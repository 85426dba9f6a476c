// The module state: one per thread, and one per call that entered inside another.
#include "catalog/constantes.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "common/error.h"

namespace vpolv {

host::Appli& Constantes::appli() const {
    if (!oAppli)
        throw errors::objectNotSet();
    return *oAppli;
}

host::Scene& Constantes::scene() const {
    if (!oScene)
        throw errors::objectNotSet();
    return *oScene;
}

host::Catalog& Constantes::catalog() const {
    if (!oCatalog)
        throw errors::objectNotSet();
    return *oCatalog;
}

namespace {

// The state lives on the heap behind a trivially destructible thread-local pointer: a loaded
// library must not rely on thread-exit destructors of its own, so the Windows shell frees the
// states explicitly on thread and process detach.
thread_local Constantes* tState = nullptr;
// The state of the innermost call that entered inside another one (null while none did), and
// the number of calls from outside running on this thread.
thread_local Constantes* tNested = nullptr;
thread_local int tCalls = 0;

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<Constantes*>& registry() {
    static std::vector<Constantes*> states;
    return states;
}

#ifndef _WIN32
// Elsewhere the library stays loaded for the life of the process, so a thread-exit hook is safe.
struct ThreadReaper {
    ~ThreadReaper() { releaseThreadConstantes(); }
};
thread_local ThreadReaper tReaper;
#endif

}  // namespace

namespace {

Constantes& threadState() {
    if (!tState) {
#ifndef _WIN32
        (void)&tReaper;
#endif
        auto state = std::make_unique<Constantes>();
        std::lock_guard lock(registryMutex());
        registry().push_back(state.get());
        tState = state.release();
    }
    return *tState;
}

}  // namespace

Constantes& constantes() {
    return tNested ? *tNested : threadState();
}

ModuleStateScope::ModuleStateScope() : interrupted_(tNested) {
    if (tCalls == 0) {
        state_ = &threadState();
    } else {
        const Constantes& running = constantes();
        own_ = std::make_unique<Constantes>();
        own_->sCatalogsDir = running.sCatalogsDir;
        own_->sCatalogo = running.sCatalogo;
        own_->sCodigoCatalogo = running.sCodigoCatalogo;
        own_->sGrupo = running.sGrupo;
        own_->sCristal = running.sCristal;
        state_ = own_.get();
        tNested = state_;
    }
    ++tCalls;
}

ModuleStateScope::~ModuleStateScope() {
    --tCalls;
    tNested = interrupted_;
}

void releaseThreadConstantes() {
    if (!tState)
        return;
    {
        std::lock_guard lock(registryMutex());
        auto& states = registry();
        states.erase(std::remove(states.begin(), states.end(), tState), states.end());
    }
    delete tState;
    tState = nullptr;
}

void releaseAllConstantes() {
    std::vector<Constantes*> states;
    {
        std::lock_guard lock(registryMutex());
        states.swap(registry());
    }
    for (Constantes* state : states)
        delete state;
    tState = nullptr;
}

}  // namespace vpolv
