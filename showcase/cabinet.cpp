// The cabinet types as tables, and the rule that walks a cabinet and prices its glass.
#include "showcase/cabinet.h"

#include <algorithm>
#include <array>

#include "common/text.h"
#include "host/info_codes.h"

namespace vpolv {

namespace {

using Refs = std::u16string_view;

constexpr Refs kGroupA[] = {u"7",   u"13",   u"19",   u"20",   u"25",   u"26",
                            u"7GL", u"13GL", u"19GL", u"20GL", u"25GL", u"26GL"};
constexpr Refs kGroupB[] = {u"4",   u"6",   u"10",  u"12",  u"16",  u"18",  u"22",  u"24",
                            u"28",  u"30",  u"35",  u"69",  u"119", u"122", u"125", u"127",
                            u"143", u"157", u"186", u"188", u"225", u"227", u"237", u"238",
                            u"239", u"240", u"244", u"245", u"246"};
constexpr Refs kGroupC[] = {u"MA", u"ME", u"R7", u"YE"};
constexpr Refs kGroupD[] = {u"1GL", u"2GL", u"8GL", u"14GL", u"234GL", u"235GL", u"236GL"};
constexpr Refs kGroupE[] = {u"MAGL", u"MEGL", u"R7GL", u"YEGL"};

// Glass parts of each type.
constexpr Refs kGlassType1[] = {
    u"FR_1PBVN",  u"FR_1PBVCH",  u"FR_1PHVN",  u"FR_1PHVCH",  u"FR_1PRVN",  u"FR_1PRVCH",
    u"FR_1GVN",   u"FR_1CVCH",   u"FR_1PABVN", u"FR_1PABVCH", u"FR_1PRRVN", u"FR_1PEVCH",
    u"FR_1PARVN", u"FR_PP2VN",   u"FR_PP2VAN", u"FR_1PRVA",   u"FR_1PHVA",  u"FR_1PRVVERT",
    u"FR_1PAVA",  u"FR_1PARVGL", u"FR_1PBVGL"};
constexpr Refs kGlassType2[] = {u"FR_2PBVCH",  u"FR_2PBVN",   u"FR_2PHVN",  u"FR_2PHVCH",
                                u"FR_2PARVN",  u"FR_2PARVCH", u"FR_2PHVA",  u"FR_2PAVA",
                                u"FR_2PCVHN",  u"FR_2PCVAHN", u"FR_2PCVBN", u"FR_2PCVABN",
                                u"FR_2PCVAAN", u"FR_2PARVGL", u"FR_2PBVGL"};
constexpr Refs kGlassType3[] = {u"FR_1PBVCH", u"FR_1PBVN",    u"FR_1PHVN",  u"FR_1PHVCH",
                                u"FR_1PRVN",  u"FR_1PRVCH",   u"FR_1GVN",   u"FR_1CVCH",
                                u"FR_1PABVN", u"FR_1PABVCH",  u"FR_1PRRVN", u"FR_1PEVCH",
                                u"FR_1PARVN", u"FR_PP1VN",    u"FR_PP1VAN", u"FR_1PRVA",
                                u"FR_1PHVA",  u"FR_1PRVVERT", u"FR_1PAVA"};
constexpr Refs kGlassFronts[] = {u"FR_1PRVAMA", u"FR_1PRVAME", u"FR_1PRVAR7", u"FR_1PRVAYE",
                                 u"FR_1PABAMA", u"FR_1PABAME", u"FR_1PABAR7", u"FR_1PABAYE"};

using G = HandleGroup;
using S = Source;

// Glass sources of types 1 and 2 (the same table).
constexpr Long kPlaced = kOriginPlaced;
constexpr Long kFinishes = kOriginFinishes;

constexpr SourceRow kSourcesTypes1And2[] = {
    // auxd, group, sGrupo, sCristal
    {kPlaced, G::A, S::Keyword5, S::Keyword6},
    {kPlaced, G::B, S::Keyword3, S::Keyword4},
    {kPlaced, G::C, S::Info86, S::Info87},
    {kPlaced, G::D, S::Info86, S::Info87, /*perObjectOnly=*/true},
    {kPlaced, G::E, S::Info85, S::Info86},
    {kPlaced, G::Other, S::Keyword4, S::Keyword5},
    {kFinishes, G::A, S::Info87, S::Info88},
    {kFinishes, G::B, S::Info85, S::Info86},
    {kFinishes, G::E, S::Info85, S::Info86},
    {kFinishes, G::Other, S::Info86, S::Info87},  // C, D and the rest
};

// Glass sources of type 3: it knows groups A and B, and C only for auxd 1.
constexpr SourceRow kSourcesType3[] = {
    {kPlaced, G::A, S::Keyword5, S::Keyword6},   {kPlaced, G::B, S::Keyword3, S::Keyword4},
    {kPlaced, G::C, S::Info86, S::Info87},       {kPlaced, G::Other, S::Keyword4, S::Keyword5},
    {kFinishes, G::A, S::Info87, S::Info88},     {kFinishes, G::B, S::Info85, S::Info86},
    {kFinishes, G::Other, S::Info86, S::Info87},
};

}  // namespace

const CabinetType kCabinetType1{
    .glassParts = kGlassType1,
    .fronts = {},
    .sources = kSourcesTypes1And2,
    .first = LinePart::Column5,
    .second = LinePart::Column3,
    .factor = 1,
};
// Type 2 prices the line of half its column 3 and writes twice the points.
const CabinetType kCabinetType2{
    .glassParts = kGlassType2,
    .fronts = {},
    .sources = kSourcesTypes1And2,
    .first = LinePart::Column5,
    .second = LinePart::HalfColumn3,
    .factor = 2,
};
// Type 3 prices the line of half its column 5, and its glass fronts with their own choice.
const CabinetType kCabinetType3{
    .glassParts = kGlassType3,
    .fronts = kGlassFronts,
    .sources = kSourcesType3,
    .first = LinePart::HalfColumn5,
    .second = LinePart::Column3,
    .factor = 1,
};

namespace {

// The cabinets by reference: "VITRINAG" is a type-1 cabinet whose column 3 was reduced when the
// object was read.
constexpr CabinetReference kCabinets[] = {
    {u"VITRINA", &kCabinetType1},
    {u"VITRINAG", &kCabinetType1},
    {u"VITRINA2", &kCabinetType2},
    {u"VITRINA3", &kCabinetType3},
};

}  // namespace

const CabinetType* cabinetType(const Text& reference) {
    for (const auto& cabinet : kCabinets) {
        if (cabinet.reference == reference)
            return cabinet.type;
    }
    return nullptr;
}

std::span<const CabinetReference> cabinetReferences() {
    return kCabinets;
}

std::span<const std::u16string_view> glassFronts() {
    return kGlassFronts;
}

std::span<const std::u16string_view> handleCodes(HandleGroup group) {
    switch (group) {
        case G::A:
            return kGroupA;
        case G::B:
            return kGroupB;
        case G::C:
            return kGroupC;
        case G::D:
            return kGroupD;
        case G::E:
            return kGroupE;
        case G::Other:
            break;
    }
    return {};
}

HandleGroup handleGroup(const Text& handle) {
    for (const auto group : {G::A, G::B, G::C, G::D, G::E}) {
        if (contains(handleCodes(group), handle))
            return group;
    }
    return G::Other;
}

std::u16string_view keywordText(Source source) {
    switch (source) {
        case S::Keyword3:
            return u"@Rubrique.GénériqueChoixNom(,3)";
        case S::Keyword4:
            return u"@Rubrique.GénériqueChoixNom(,4)";
        case S::Keyword5:
            return u"@Rubrique.GénériqueChoixNom(,5)";
        case S::Keyword6:
            return u"@Rubrique.GénériqueChoixNom(,6)";
        default:
            return {};
    }
}

Long infoCode(Source source) {
    switch (source) {
        case S::Info85:
            return info::kChoice85;
        case S::Info86:
            return info::kChoice86;
        case S::Info87:
            return info::kChoice87;
        case S::Info88:
            return info::kChoice88;
        default:
            return 0;
    }
}

std::optional<SourceRow> glassSource(const CabinetType& type, Long auxd, const Text& handle,
                                     bool sceneRule) {
    const HandleGroup group = handleGroup(handle);
    std::optional<SourceRow> other;
    for (const auto& row : type.sources) {
        if (row.auxd != auxd || (sceneRule && row.perObjectOnly))
            continue;
        if (row.group == group)
            return row;
        if (row.group == G::Other)
            other = row;
    }
    return other;
}

namespace {

// The keywords as texts, made once: a host call takes its text arguments as Text.
const Text& keyword(Source source) {
    static const std::array<Text, 4> texts = {
        Text(keywordText(S::Keyword3)), Text(keywordText(S::Keyword4)),
        Text(keywordText(S::Keyword5)), Text(keywordText(S::Keyword6))};
    static_assert(static_cast<int>(S::Keyword6) - static_cast<int>(S::Keyword3) == 3);
    return texts[static_cast<std::size_t>(static_cast<int>(source) -
                                          static_cast<int>(S::Keyword3))];
}

Text readSource(Context& ctx, Source source, host::ObjectArg infoObject) {
    Constantes& m = ctx.module;
    const Long code = infoCode(source);
    if (code != 0)
        return m.scene().ObjectGetInfo(m.lSessionId, infoObject, code);
    return m.scene().SceneGetKeywordInfo(m.lSessionId, host::TextArg::byValue(keyword(source)));
}

}  // namespace

void priceCabinetGlass(Context& ctx, const CabinetType& type, Long& nHijos, Long& auxd,
                       host::ObjectArg cabinet) {
    PluginFields& f = ctx.fields;
    Constantes& m = ctx.module;
    const bool sceneRule = !cabinet.isCurrent();
    const auto child = host::ObjectArg::id(f.lHijoId);
    // The per-object rules read the cabinet's own choices; the scene rules the child's.
    const auto infoObject = sceneRule ? child : host::ObjectArg::current();

    const Long end = nHijos;
    for (f.lHijo = 1; f.lHijo <= end; f.lHijo = checkedAdd(f.lHijo, 1)) {
        host::Scene& scene = m.scene();
        f.lHijoId = scene.ObjectGetChildId(m.lSessionId, cabinet, f.lHijo, 0);
        f.sReferenciaHijo = scene.ObjectGetInfo(m.lSessionId, child, info::kReference);

        const bool glassPart = contains(type.glassParts, f.sReferenciaHijo);
        const bool front = !glassPart && contains(type.fronts, f.sReferenciaHijo);
        if (!glassPart && !front)
            continue;

        f.lBase = 0;
        f.sDescripcion = scene.ObjectGetInfo(m.lSessionId, child, info::kDescription);
        formateaDescripcion(f.sDescripcion);

        if (front) {
            m.sGrupo = scene.ObjectGetInfo(m.lSessionId, child, info::kChoice85);
            m.sCristal = scene.ObjectGetInfo(m.lSessionId, child, info::kChoice86);
        } else if (const auto row = glassSource(type, auxd, ctx.fields.sTirador, sceneRule)) {
            m.sGrupo = readSource(ctx, row->choice, infoObject);
            m.sCristal = readSource(ctx, row->secondChoice, infoObject);
        }
        aplicaIncrementoCristal(ctx, child, type.first, type.second, type.factor);
    }
}

}  // namespace vpolv
