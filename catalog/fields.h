// The fields of a Plugin instance. They keep their values between calls on the same instance;
// a new instance starts with empty texts and zero numbers.
#pragma once

#include "common/types.h"

namespace vpolv {

struct PluginFields {
    Text sNombreLinea;        // information 7: the object's line name in catalog table 3
    Text sReferencia;         // information 4: cabinet type or article reference
    Text sTirador;            // information 65: handle code
    Text sColumna3;           // column 3 of the object's table-3 line (less 30 for "VITRINAG")
    Text sColumna4;           // column 4 of that line (kept, not used)
    Text sColumna5;           // column 5 of that line
    Text sValorTipo3;         // half of sColumna5: part of the type-3 price-line name
    Text sValorTipo2;         // half of sColumna3: part of the type-2 price-line name
    Long lNumHijos = 0;       // number of children of the cabinet
    Long lHijo = 0;           // 1-based rank of the child being handled
    Long lHijoId = 0;         // object id of that child
    Text sReferenciaHijo;     // that child's information 4
    Long lLineaTabla3 = 0;    // rank of the object's line in catalog table 3
    Long lLineaTabla4 = 0;    // rank of the price line in catalog table 4
    Text sNombreLineaTabla4;  // name of that price line
    Text sPuntos;             // column 3 of the price line: the surcharge in points
    Long lBase = 0;           // amount added to the points (always 0)
    Text sDescripcion;        // description (information 49) being rebuilt
    Long lIncremento = 0;     // surcharge written back to the object
};

}  // namespace vpolv
