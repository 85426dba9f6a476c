// The glass surcharge step, and a glass front priced on its own.
#include <array>

#include "catalog/catalog.h"
#include "common/text.h"
#include "host/info_codes.h"
#include "showcase/showcase.h"

namespace vpolv {

namespace {

constexpr std::array<GlassGroup, 4> kGlassGroups = {{
    {u"Grupo 1", u"_1_"},
    {u"Grupo 2", u"_2_"},
    {u"Grupo 3", u"_3_"},
    {u"Grupo 4", u"_4_"},
}};
// The line name kept for fused glass, which looks no line up.
constexpr std::u16string_view kFusedGlassLine = u"0";

// Half a column of the object's table-3 line, as text.
Text half(Context& ctx, const Text& value, Integer column) {
    const auto& locale = ctx.services.locale;
    const double number =
        convertCell({kTable3, ctx.fields.sNombreLinea, ctx.fields.lLineaTabla3, column, value},
                    [&] { return locale.textToDouble(value); });
    return locale.doubleToText(number / 2);
}

// The field that holds the part (a half is worked out into its field first).
const Text& linePart(Context& ctx, LinePart part) {
    PluginFields& f = ctx.fields;
    switch (part) {
        case LinePart::Column3:
            return f.sColumna3;
        case LinePart::Column5:
            return f.sColumna5;
        case LinePart::HalfColumn3:
            f.sValorTipo2 = half(ctx, f.sColumna3, 3);
            return f.sValorTipo2;
        case LinePart::HalfColumn5:
            f.sValorTipo3 = half(ctx, f.sColumna5, 5);
            return f.sValorTipo3;
    }
    return f.sColumna3;
}

}  // namespace

std::span<const GlassGroup> glassGroups() {
    return kGlassGroups;
}

void aplicaIncrementoCristal(Context& ctx, host::ObjectArg target, LinePart first, LinePart second,
                             Long factor) {
    PluginFields& f = ctx.fields;
    Constantes& m = ctx.module;
    host::Scene& scene = m.scene();

    const GlassGroup* group = nullptr;
    for (const auto& g : kGlassGroups) {
        if (m.sGrupo == g.choice) {
            group = &g;
            break;
        }
    }
    if (group) {
        const Text& firstPart = linePart(ctx, first);
        const Text& secondPart = linePart(ctx, second);
        f.sNombreLineaTabla4.clear();
        appendAll(f.sNombreLineaTabla4, group->prefix, firstPart, u"_", secondPart);
    } else if (m.sGrupo == kFusedGlass) {
        f.sNombreLineaTabla4.clear();
        appendAll(f.sNombreLineaTabla4, kFusedGlassLine);
        scene.ObjectSetInfo(m.lSessionId, target, host::TextArg::byRef(f.sDescripcion),
                            info::kDescription);
        return;
    } else {
        f.sNombreLineaTabla4.clear();
        appendAll(f.sNombreLineaTabla4, kNoGroupLine);
    }

    host::Catalog& catalog = m.catalog();
    f.lLineaTabla4 = catalog.TableGetLineRankFromName(
        m.lSessionId, kTable4, 0, 1, host::TextArg::byRef(f.sNombreLineaTabla4), false);
    f.sPuntos = catalog.TableGetLineInfo(m.lSessionId, kTable4, 0, f.lLineaTabla4, kPointsColumn);
    const Long points =
        convertCell({kTable4, f.sNombreLineaTabla4, f.lLineaTabla4, kPointsColumn, f.sPuntos},
                    [&] { return ctx.services.locale.textToLong(f.sPuntos); });
    f.lIncremento = checkedMultiply(checkedAdd(points, f.lBase), factor);

    appendAll(f.sDescripcion, kSurchargeLineStart, u"Incremento por cristal ", m.sGrupo, u" (",
              m.sCristal, u") de ", f.sPuntos, u" puntos.#");

    const Text surcharge = longToText(f.lIncremento);
    scene.ObjectSetInfo(m.lSessionId, target, host::TextArg::byValue(surcharge), info::kSurcharge);
    scene.ObjectSetInfo(m.lSessionId, target, host::TextArg::byValue(surcharge),
                        info::kSurchargeAgain);
    scene.ObjectSetInfo(m.lSessionId, target, host::TextArg::byRef(f.sDescripcion),
                        info::kDescription);
}

void vitrina3b(Context& ctx) {
    PluginFields& f = ctx.fields;
    Constantes& m = ctx.module;
    host::Scene& scene = m.scene();
    const auto self = host::ObjectArg::current();

    f.lBase = 0;
    f.sDescripcion = scene.ObjectGetInfo(m.lSessionId, self, info::kDescription);
    formateaDescripcion(f.sDescripcion);
    m.sGrupo = scene.ObjectGetInfo(m.lSessionId, self, info::kChoice85);
    m.sCristal = scene.ObjectGetInfo(m.lSessionId, self, info::kChoice86);
    aplicaIncrementoCristal(ctx, self, kFrontFirstPart, kFrontSecondPart, kFrontFactor);
}

}  // namespace vpolv
