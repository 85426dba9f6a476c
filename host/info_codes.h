// The object information codes the plug-in reads and writes through the host.
#pragma once

#include "common/types.h"

namespace vpolv::info {

inline constexpr Long kCatalog = 2;       // catalog number ("503", "570")
inline constexpr Long kReference = 4;     // catalog reference
inline constexpr Long kLineName = 7;      // line name in catalog table 3
inline constexpr Long kSurcharge = 43;    // surcharge in points
inline constexpr Long kDescription = 49;  // description
inline constexpr Long kHandle = 65;       // handle code
inline constexpr Long kChoice85 = 85;     // choice texts of the glass rules
inline constexpr Long kChoice86 = 86;
inline constexpr Long kChoice87 = 87;
inline constexpr Long kChoice88 = 88;
inline constexpr Long kSurchargeAgain = 173;  // the same surcharge in points

}  // namespace vpolv::info
