// The module state shared by every operation on one thread: the host objects of the running
// event, its session, the catalog being served and the last glass choice.
#pragma once

#include <memory>

#include "common/types.h"
#include "host/host.h"

namespace vpolv {

struct Constantes {
    std::unique_ptr<host::Appli> oAppli;
    std::unique_ptr<host::Scene> oScene;
    std::unique_ptr<host::Catalog> oCatalog;
    Long lSessionId = 0;
    Text sCatalogsDir;     // catalogs directory from "SPACE.INI"
    Text sCatalogo;        // catalog file stem, or the full path of the file found in a subfolder
    Text sCodigoCatalogo;  // catalog code passed to FileLoad
    Text sGrupo;           // glass choice or price group
    Text sCristal;         // second choice text, shown in parentheses in the surcharge line

    // The host objects, or an "object not set" error when no event is running.
    host::Appli& appli() const;
    host::Scene& scene() const;
    host::Catalog& catalog() const;
};

// The calling thread's module state, created empty on first use; while a call that entered the
// plug-in inside another one runs, the state of that inner call.
Constantes& constantes();

// Marks a call from outside the plug-in (an event, or any public method) for as long as it runs
// on this thread. The outermost call works on the thread's module state itself, so what it leaves
// is what the next call starts with; a nested call works on a state of its own, made of the
// texts of the running call's state without its host objects or session (see "Nested calls" in
// plugin/plugin.h).
class ModuleStateScope {
  public:
    ModuleStateScope();
    ~ModuleStateScope();
    ModuleStateScope(const ModuleStateScope&) = delete;
    ModuleStateScope& operator=(const ModuleStateScope&) = delete;

    Constantes& state() const { return *state_; }

  private:
    std::unique_ptr<Constantes> own_;
    Constantes* interrupted_;
    Constantes* state_;
};
// Frees the calling thread's module state; the next use starts empty again.
void releaseThreadConstantes();
// Frees the module state of every thread (when the library is unloaded).
void releaseAllConstantes();

}  // namespace vpolv
