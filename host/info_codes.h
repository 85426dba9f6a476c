// The object information codes the plug-in reads and writes through the host.
#pragma once

#include "common/types.h"

namespace vpolv::info {

inline constexpr Long kCatalogo = 2;      // catalog number ("503", "570")
inline constexpr Long kReferencia = 4;    // catalog reference
inline constexpr Long kNombreLinea = 7;   // line name in catalog table 3
inline constexpr Long kIncremento = 43;   // surcharge in points
inline constexpr Long kDescripcion = 49;  // description
inline constexpr Long kTirador = 65;      // handle code
inline constexpr Long kEleccion85 = 85;   // choice texts of the glass rules
inline constexpr Long kEleccion86 = 86;
inline constexpr Long kEleccion87 = 87;
inline constexpr Long kEleccion88 = 88;
inline constexpr Long kIncrementoBis = 173;  // the same surcharge in points

}  // namespace vpolv::info
