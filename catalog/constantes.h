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

// The calling thread's module state, created empty on first use.
Constantes& constantes();
// Frees the calling thread's module state; the next use starts empty again.
void releaseThreadConstantes();
// Frees the module state of every thread (when the library is unloaded).
void releaseAllConstantes();

}  // namespace vpolv
