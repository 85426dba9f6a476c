// The three cabinet types as data: which children are glass, where the glass choice is read for
// each kind of event and handle code, how the price-line name is built, and the factor.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "common/types.h"
#include "showcase/showcase.h"

namespace vpolv {

// Handle-code groups; a code belongs to a group only if it equals one of its texts exactly.
enum class HandleGroup { A, B, C, D, E, Other };

std::span<const std::u16string_view> handleCodes(HandleGroup group);
// The group of a handle code among A to E, or Other.
HandleGroup handleGroup(const Text& handle);

// Where one glass text is read.
enum class Source {
    Keyword3,  // SceneGetKeywordInfo "@Rubrique.GénériqueChoixNom(,3)"
    Keyword4,
    Keyword5,
    Keyword6,
    Info85,  // ObjectGetInfo code 85 of the source object: the cabinet (-2) for the
    Info86,  // per-object rules, the current child for the scene rules
    Info87,
    Info88,
};

std::u16string_view keywordText(Source source);  // for Keyword3..Keyword6
Long infoCode(Source source);                    // for Info85..Info88

// One row of a type's glass-source table.
struct SourceRow {
    Long auxd;                   // kOriginPlaced or kOriginFinishes
    HandleGroup group;           // Other: every code that no other row of this auxd takes
    Source choice;               // where sGrupo is read
    Source secondChoice;         // where sCristal is read
    bool perObjectOnly = false;  // the scene rules skip this row (and fall to Other)
};

struct CabinetType {
    std::span<const std::u16string_view> glassParts;  // priced with the table's glass choice
    std::span<const std::u16string_view> fronts;      // priced with the child's own infos 85, 86
    std::span<const SourceRow> sources;
    LinePart first;   // first part of the price-line name
    LinePart second;  // second part
    Long factor;      // multiplies the points written with codes 43 and 173
};

// The cabinet type of a cabinet reference (information 4), or null when it is none.
const CabinetType* cabinetType(const Text& reference);

// Every cabinet reference with its type, in the order they are looked up.
struct CabinetReference {
    std::u16string_view reference;
    const CabinetType* type;
};
std::span<const CabinetReference> cabinetReferences();

// The eight glass fronts that carry their own glass choice (infos 85 and 86): priced by
// themselves when placed or changed on their own, and as children of a type-3 cabinet.
std::span<const std::u16string_view> glassFronts();

// The row that gives the glass sources for a handle code, or none when auxd is neither 1 nor 2
// (the previous choice is then kept).
std::optional<SourceRow> glassSource(const CabinetType& type, Long auxd, const Text& handle,
                                     bool sceneRule);

}  // namespace vpolv
