// The glass display cabinets: description formatting, the glass surcharge step shared by every
// rule, and the rules themselves.
#pragma once

#include <span>
#include <string_view>

#include "catalog/catalog.h"
#include "catalog/context.h"
#include "host/host.h"

namespace vpolv {

// Where an event comes from, as the rules receive it (auxd): a placement, or the scene's generic
// finishes changed; the finishes of one object changed. The scene rules always get a placement.
inline constexpr Long kOriginPlaced = 1;
inline constexpr Long kOriginFinishes = 2;

// The surcharge line the rules append to a description: CR LF, then "#...#".
inline constexpr std::u16string_view kSurchargeLineStart = u"\r\n#";

// Cuts a surcharge line, and everything after it, off a description. The line begins at the
// first CR LF that is immediately followed by "#"; without one the text comes back unchanged.
// The caller's variable is shortened in place and the same text is returned.
Text formateaDescripcion(Text& desc);

// Where a part of the table-4 line name comes from. The halves are worked out only when the
// glass choice is one of the four groups, and are kept in their own fields.
enum class LinePart {
    Column3,
    Column5,
    HalfColumn3,  // half of sColumna3, into sValorTipo2
    HalfColumn5,  // half of sColumna5, into sValorTipo3
};

// The glass choices (sGrupo) that name a surcharge line, and the prefix of the line's name.
struct GlassGroup {
    std::u16string_view choice;
    std::u16string_view prefix;
};
std::span<const GlassGroup> glassGroups();
// Fused glass is not priced: the description is rewritten without a surcharge line.
inline constexpr std::u16string_view kFusedGlass = u"Cristal Fusin";
// The line name of any other choice.
inline constexpr std::u16string_view kNoGroupLine = u"_0_";

// A glass front priced on its own names its line from these parts and counts its points once.
inline constexpr LinePart kFrontFirstPart = LinePart::Column5;
inline constexpr LinePart kFrontSecondPart = LinePart::Column3;
inline constexpr Long kFrontFactor = 1;

// Turns the glass choice (sGrupo) into a table-4 line, reads its points and writes the surcharge
// (codes 43 and 173, points plus lBase times factor) and the description with a fresh surcharge
// line (code 49) to target.
void aplicaIncrementoCristal(Context& ctx, host::ObjectArg target, LinePart first, LinePart second,
                             Long factor);

// A glass front placed or changed on its own: its own choice (infos 85, 86), priced on itself.
void vitrina3b(Context& ctx);

// The cabinet types and their rules.
struct CabinetType;
extern const CabinetType kCabinetType1;
extern const CabinetType kCabinetType2;
extern const CabinetType kCabinetType3;

// Walks the cabinet's children and prices its glass. The cabinet chooses the rule: the object of
// the call (ObjectArg::current()) gets the per-object rule of the placement and finish events,
// a scene object given by its id the scene rule of the generic finishes event.
void priceCabinetGlass(Context& ctx, const CabinetType& type, Long& nHijos, Long& auxd,
                       host::ObjectArg cabinet);

}  // namespace vpolv
