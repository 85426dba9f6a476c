// Recognising the two served catalogs, finding the catalog file and having the host load it (in
// an event, or on its own for a given catalog number), reading the object's own line of catalog
// table 3, and the errors of table values that do not convert.
#pragma once

#include <optional>
#include <string_view>

#include "catalog/constantes.h"
#include "catalog/context.h"
#include "common/error.h"
#include "common/release.h"
#include "host/host.h"
#include "platform/platform.h"

namespace vpolv {

// The catalog code both catalogs are supplied with (six lower-case letters, six digits; set at
// configuration, VPOLV_CATALOG_CODE); the host needs it to open the catalog files and it goes
// unchanged to FileLoad.
inline constexpr std::u16string_view kCatalogCode = kBuiltCatalogCode;

// Catalog numbers (information 2) and the stems of their files.
inline constexpr std::u16string_view kCatalog503 = u"503";
inline constexpr std::u16string_view kCatalog570 = u"570";
inline constexpr std::u16string_view kStem503 = u"polvas10";
inline constexpr std::u16string_view kStem570 = u"polvas13";

// Column 3 of a "VITRINAG" cabinet is that of the matching "VITRINA" less this many: the object
// is read with the reduced value.
inline constexpr std::u16string_view kVitrinaG = u"VITRINAG";
inline constexpr double kVitrinaGReduction = 30;

// The host's configuration file in the plug-in's folder, and the key read from it.
inline constexpr std::u16string_view kSpaceIni = u"SPACE.INI";
inline constexpr std::u16string_view kCatalogsDirKey = u"CatalogsDir";
inline constexpr std::u16string_view kSpaceIniSections[] = {u"Local", u"InSitu", u"Remote"};

// The catalog tables read: each object's own line in table 3, the glass prices in table 4 (their
// points in column 3).
inline constexpr Integer kTable3 = 3;
inline constexpr Integer kTable4 = 4;
inline constexpr Integer kPointsColumn = 3;

// Accepts "503" and "570" exactly, and then sets the catalog stem and code.
bool identificaCatalogo(Constantes& m, const Text& number);

// The catalogs directory from "SPACE.INI": the first non-empty "CatalogsDir" value among the
// sections, read whole; empty when there is none.
Text leeDirectorioCatalogos(const platform::Services& sys);

// Length of the file at path, or 0 when there is none (or it does not fit a Long); raises the
// file system's Error when the system could not look.
Long longitudFichero(const platform::FileSystem& files, const Text& path);

// Looks for "<stem>.cat" in the subfolders of the catalogs directory (the last subfolder in
// listing order that holds a non-empty file wins) and has the host load the catalog.
bool cargaCatalogo(Context& ctx, host::Catalog& catalog);

// A served catalog's file as an event looks for it: the catalog number, the catalogs directory
// read from "SPACE.INI" (empty when none is named) and the stem of the catalog's file.
struct CatalogSearch {
    Text number;
    Text catalogsDir;
    Text stem;
};

// The search for the catalog of that number; nullopt for a number that is not served.
std::optional<CatalogSearch> catalogSearch(const platform::Services& sys, const Text& number);

// Looks for the catalog's file and has catalog load it as an event does (see cargaCatalogo), on
// a module state of its own, outside any event and session.
bool loadCatalog(const platform::Services& sys, host::Catalog& catalog,
                 const CatalogSearch& search);

// A value read from a catalog table: which table, line and column, and what the host answered.
struct TableCell {
    Integer table;
    const Text& line;  // the line's name
    Long rank;         // the rank the host gave for that name (0 or less: no such line)
    Integer column;
    const Text& value;
};

// The type mismatch for a table value that did not convert.
Error cellNotANumber(const TableCell& cell);

// Runs convert() on a table value; a type mismatch it raises says, in the catalog's terms, what
// did not convert (a missing line, points or a column that are not a number). Other errors,
// the host's own among them, pass unchanged.
template <class Convert>
auto convertCell(const TableCell& cell, Convert&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (const Error& e) {
        if (e.code() != errors::kTypeMismatch)
            throw;
        throw cellNotANumber(cell);
    }
}

// Reads the catalogs directory, loads the catalog and fills the fields that describe the object:
// line name, reference, handle code and the columns of its table-3 line.
void readObject(Context& ctx, host::ObjectArg object);

}  // namespace vpolv
