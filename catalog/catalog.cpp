// Recognising the served catalogs, finding and loading the catalog file, reading the object.
#include "catalog/catalog.h"

#include <iterator>
#include <limits>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "host/info_codes.h"

namespace vpolv {

bool identificaCatalogo(Constantes& m, const Text& number) {
    std::u16string_view stem;
    if (number == kCatalog503) {
        stem = kStem503;
    } else if (number == kCatalog570) {
        stem = kStem570;
    } else {
        return false;
    }
    m.sCatalogo.assign(stem);
    m.sCodigoCatalogo.assign(kCatalogCode);
    return true;
}

Text leeDirectorioCatalogos(const platform::Services& sys) {
    // The profile takes its names as Text: made once.
    static const Text key(kCatalogsDirKey);
    static const std::vector<Text> sections(std::begin(kSpaceIniSections),
                                            std::end(kSpaceIniSections));
    Text file = sys.files.moduleFolder();
    file += sys.files.separator();
    file += kSpaceIni;
    for (const Text& section : sections) {
        Text value = sys.profile.readString(file, section, key);
        if (!value.empty())
            return value;
    }
    return {};
}

Long longitudFichero(const platform::FileSystem& files, const Text& path) {
    // A file the system could not look for raises its error: it is no missing catalog.
    const std::int64_t length = files.fileLength(path);
    if (length < 0 || length > std::numeric_limits<Long>::max())
        return 0;
    return static_cast<Long>(length);
}

bool cargaCatalogo(Context& ctx, host::Catalog& catalog) {
    Constantes& m = ctx.module;
    const Text stem = m.sCatalogo;
    // An empty catalogs directory means there is nothing to scan: the host gets the bare stem.
    if (!m.sCatalogsDir.empty()) {
        const auto& files = ctx.services.files;
        Text folder = m.sCatalogsDir;
        if (!files.isSeparator(folder.back()))
            folder += files.separator();
        Text candidate;
        for (const auto& entry : files.listDirectory(m.sCatalogsDir)) {
            if (entry.name == u"." || entry.name == u"..")
                continue;
            if (!entry.directory)
                continue;
            candidate.assign(folder);
            candidate += entry.name;
            candidate += files.separator();
            candidate += stem;
            candidate += u".cat";
            if (longitudFichero(files, candidate) > 0)
                m.sCatalogo = candidate;
        }
    }
    return catalog.FileLoad(m.lSessionId, host::TextArg::byRef(m.sCatalogo),
                            host::TextArg::byRef(m.sCodigoCatalogo));
}

std::optional<CatalogSearch> catalogSearch(const platform::Services& sys, const Text& number) {
    Constantes m;
    if (!identificaCatalogo(m, number))
        return std::nullopt;
    return CatalogSearch{number, leeDirectorioCatalogos(sys), m.sCatalogo};
}

bool loadCatalog(const platform::Services& sys, host::Catalog& catalog,
                 const CatalogSearch& search) {
    Constantes m;
    identificaCatalogo(m, search.number);
    m.sCatalogsDir = search.catalogsDir;
    PluginFields f;
    Context ctx{f, m, sys};
    return cargaCatalogo(ctx, catalog);
}

Error cellNotANumber(const TableCell& cell) {
    const Text table = longToText(cell.table);
    const Text line = u"\"" + cell.line + u"\"";
    // A rank that is not a line's means the host has no such line, whatever it read from it.
    if (cell.rank <= 0) {
        return errors::typeMismatch(u"catalog table " + table + u" has no line " + line +
                                    u" (rank " + longToText(cell.rank) + u")");
    }
    const Text value = u"\"" + cell.value + u"\"";
    if (cell.table == kTable4 && cell.column == kPointsColumn) {
        return errors::typeMismatch(u"the points " + value + u" of line " + line +
                                    u" in catalog table 4 are not a number");
    }
    return errors::typeMismatch(u"column " + longToText(cell.column) + u" (" + value +
                                u") of line " + line + u" in catalog table " + table +
                                u" is not a number");
}

void readObject(Context& ctx, host::ObjectArg object) {
    PluginFields& f = ctx.fields;
    Constantes& m = ctx.module;
    m.sCatalogsDir = leeDirectorioCatalogos(ctx.services);
    cargaCatalogo(ctx, m.catalog());

    host::Scene& scene = m.scene();
    f.sNombreLinea = scene.ObjectGetInfo(m.lSessionId, object, info::kLineName);
    f.sReferencia = scene.ObjectGetInfo(m.lSessionId, object, info::kReference);
    f.sTirador = scene.ObjectGetInfo(m.lSessionId, object, info::kHandle);

    host::Catalog& catalog = m.catalog();
    f.lLineaTabla3 = catalog.TableGetLineRankFromName(m.lSessionId, kTable3, 0, 1,
                                                      host::TextArg::byRef(f.sNombreLinea), false);
    f.sColumna3 = catalog.TableGetLineInfo(m.lSessionId, kTable3, 0, f.lLineaTabla3, 3);
    f.sColumna4 = catalog.TableGetLineInfo(m.lSessionId, kTable3, 0, f.lLineaTabla3, 4);
    f.sColumna5 = catalog.TableGetLineInfo(m.lSessionId, kTable3, 0, f.lLineaTabla3, 5);

    if (f.sReferencia == kVitrinaG) {
        const auto& locale = ctx.services.locale;
        const double column3 =
            convertCell({kTable3, f.sNombreLinea, f.lLineaTabla3, 3, f.sColumna3},
                        [&] { return locale.textToDouble(f.sColumna3); });
        f.sColumna3 = locale.doubleToText(column3 - kVitrinaGReduction);
    }
}

}  // namespace vpolv
