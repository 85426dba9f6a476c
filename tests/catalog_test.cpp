// Recognising the catalogs, the catalogs directory from "SPACE.INI", finding and loading the
// catalog file and reading the object, on a real folder tree.
#include "catalog/catalog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/text.h"
#include "support/harness.h"

namespace vpolv::testing {
namespace {

TEST(IdentificaCatalogo, AcceptsExactlyTheTwoCatalogNumbers) {
    Constantes m;
    EXPECT_TRUE(identificaCatalogo(m, u"503"));
    EXPECT_EQ(m.sCatalogo, u"polvas10");
    EXPECT_EQ(m.sCodigoCatalogo, u"vpolvc261207");
    EXPECT_TRUE(identificaCatalogo(m, u"570"));
    EXPECT_EQ(m.sCatalogo, u"polvas13");
    for (const Text other : {u"503 ", u"0503", u" 570", u"", u"5030", u"504"}) {
        EXPECT_FALSE(identificaCatalogo(m, other)) << toUtf8(other);
        EXPECT_EQ(m.sCatalogo, u"polvas13");
    }
}

TEST(LeeDirectorioCatalogos, TakesTheFirstSectionWithAValueReadWhole) {
    PluginHarness h;
    EXPECT_EQ(leeDirectorioCatalogos(h.services), u"") << "no SPACE.INI";

    h.writeSpaceIni("[Remote]\nCatalogsDir=/remote/\n");
    EXPECT_EQ(leeDirectorioCatalogos(h.services), u"/remote/");

    h.writeSpaceIni(
        "[Local]\nCatalogsDir=\n[InSitu]\nCatalogsDir=/insitu/\n[Remote]\nCatalogsDir=/r/\n");
    EXPECT_EQ(leeDirectorioCatalogos(h.services), u"/insitu/");

    // Names match without regard to case; blanks and quotes around the value go.
    h.writeSpaceIni("[local]\r\n  catalogsdir = \"/with spaces/\"  \r\n");
    EXPECT_EQ(leeDirectorioCatalogos(h.services), u"/with spaces/");

    // A long value is used whole, not cut to 63 characters.
    const std::string longDir = "/" + std::string(69, 'x') + "/";
    h.writeSpaceIni("[Local]\nCatalogsDir=" + longDir + "\n");
    EXPECT_EQ(toUtf8(leeDirectorioCatalogos(h.services)), longDir);

    h.writeSpaceIni("[Other]\nCatalogsDir=/x/\n[Local]\nKey=1\n");
    EXPECT_EQ(leeDirectorioCatalogos(h.services), u"");
}

TEST(LongitudFichero, ReportsZeroWhereThereIsNoFile) {
    PluginHarness h;
    const auto file = h.module.write("a.cat", "12345");
    EXPECT_EQ(longitudFichero(*h.files, toText(file)), 5);
    EXPECT_EQ(longitudFichero(*h.files, toText(h.module.path() / "missing.cat")), 0);
    EXPECT_EQ(longitudFichero(*h.files, toText(h.module.path())), 0);
    EXPECT_EQ(longitudFichero(*h.files, u""), 0);
}

// A placement of a plain article of catalog 503, with the catalogs directory set to dir.
struct LoadCase {
    PluginHarness h{callObjectScene({.reference = u"MUEBLE"})};
    TemporaryFolder catalogs;

    void setDir(const std::string& dir) { h.writeSpaceIni("[Local]\nCatalogsDir=" + dir + "\n"); }
    std::string root() const { return toUtf8(toText(catalogs.path())); }
    Text loaded() {
        const auto outcome = guarded([&] { return h.plugin.OnObjectPlaceAfter(1); });
        EXPECT_FALSE(outcome.error) << (outcome.error ? outcome.error->what() : "");
        EXPECT_EQ(h.host.loads().size(), 1u);
        return h.host.loads().empty() ? Text() : h.host.loads().front().file;
    }
};

std::string sep() {
    return toUtf8(Text(1, platform::makeFileSystem()->separator()));
}

TEST(CargaCatalogo, TheLastSubfolderInListingOrderHoldingTheFileWins) {
    LoadCase c;
    c.catalogs.write("A/polvas10.cat", "A");
    c.catalogs.write("B/polvas10.cat", "B");
    c.catalogs.write("C/other.cat", "C");
    c.catalogs.write("polvas10.cat", "top");
    c.setDir(c.root() + sep());
    // Whatever order the system lists the folders in, the last of A and B wins.
    Text last;
    for (const auto& entry : c.h.files->listDirectory(toText(c.catalogs.path()))) {
        if (entry.name == u"A" || entry.name == u"B")
            last = entry.name;
    }
    EXPECT_EQ(toUtf8(c.loaded()), c.root() + sep() + toUtf8(last) + sep() + "polvas10.cat");
    EXPECT_THAT(c.h.callLog(),
                ::testing::Contains(::testing::StartsWith("Catalog.FileLoad(I4& 7, BSTR& \"")));
    EXPECT_EQ(c.h.host.loads().front().catalogCode, u"vpolvc261207");
}

TEST(CargaCatalogo, AnEmptyFileIsNotTaken) {
    LoadCase c;
    c.catalogs.write("A/polvas10.cat", "A");
    c.catalogs.write("B/polvas10.cat", "");
    c.setDir(c.root() + sep());
    EXPECT_EQ(toUtf8(c.loaded()), c.root() + sep() + "A" + sep() + "polvas10.cat");
}

TEST(CargaCatalogo, WithoutASubfolderFileTheHostGetsTheBareStem) {
    LoadCase c;
    c.catalogs.write("polvas10.cat", "top level only");
    c.catalogs.mkdir("Empty");
    c.setDir(c.root());
    EXPECT_EQ(c.loaded(), u"polvas10");
}

TEST(CargaCatalogo, ADirectoryWithoutAFinalSeparatorIsJoinedWithOne) {
    LoadCase c;
    c.catalogs.write("A/polvas10.cat", "A");
    c.setDir(c.root());
    EXPECT_EQ(toUtf8(c.loaded()), c.root() + sep() + "A" + sep() + "polvas10.cat");
}

TEST(CargaCatalogo, NoCatalogsDirectoryMeansNoScan) {
    LoadCase c;
    EXPECT_EQ(c.loaded(), u"polvas10");
}

TEST(CargaCatalogo, AMissingCatalogsFolderFailsTheEventWithItsPath) {
    LoadCase c;
    c.setDir(c.root() + sep() + "nowhere");
    const auto outcome = guarded([&] { return c.h.plugin.OnObjectPlaceAfter(1); });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), errors::kPathNotFound);
    EXPECT_NE(toUtf8(outcome.error->description()).find("nowhere"), std::string::npos);
    EXPECT_EQ(c.h.callLog().back(), "Appli.EndSession(I4& 7)");
}

TEST(Inicializa, ReadsTheObjectAndItsTable3LineInOrder) {
    PluginHarness h(callObjectScene({.reference = u"MUEBLE", .handle = u"MA", .column3 = u"120"}));
    EXPECT_EQ(h.plugin.OnObjectFinishesAfter(1), kTrue);
    EXPECT_THAT(
        h.callLog(),
        ::testing::ElementsAre(
            "Appli.StartSessionFromCallParams(I4& 1)", "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 2)",
            "Catalog.FileLoad(I4& 7, BSTR& \"polvas10\", BSTR& \"vpolvc261207\")",
            "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 7)", "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 4)",
            "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 65)",
            "Catalog.TableGetLineRankFromName(I4& 7, I2 3, I2 0, I2 1, "
            "BSTR& \"L1\", BOOL False)",
            "Catalog.TableGetLineInfo(I4& 7, I2 3, I2 0, I4& 1, I2 3)",
            "Catalog.TableGetLineInfo(I4& 7, I2 3, I2 0, I4& 1, I2 4)",
            "Catalog.TableGetLineInfo(I4& 7, I2 3, I2 0, I4& 1, I2 5)",
            "Scene.ObjectGetChildrenNb(I4& 7, I2 -2, I2 0)", "Appli.EndSession(I4& 7)"));
    const auto& f = h.plugin.fields();
    EXPECT_EQ(f.sNombreLinea, u"L1");
    EXPECT_EQ(f.sReferencia, u"MUEBLE");
    EXPECT_EQ(f.sTirador, u"MA");
    EXPECT_EQ(f.lLineaTabla3, 1);
    EXPECT_EQ(f.sColumna3, u"120");
    EXPECT_EQ(f.sColumna4, u"C4");
    EXPECT_EQ(f.sColumna5, u"H");
}

TEST(Inicializa, VitrinaGColumn3IsThirtyLessUnderEitherSeparator) {
    for (const char16_t decimal : {u'.', u','}) {
        PluginHarness g(callObjectScene({.reference = u"VITRINAG", .column3 = u"120"}), decimal);
        EXPECT_EQ(g.plugin.OnObjectFinishesAfter(1), kTrue);
        EXPECT_EQ(g.plugin.fields().sColumna3, u"90");
        PluginHarness half(callObjectScene({.reference = u"VITRINAG", .column3 = u"100,5"}), u',');
        EXPECT_EQ(half.plugin.OnObjectFinishesAfter(1), kTrue);
        EXPECT_EQ(half.plugin.fields().sColumna3, u"70,5");
        PluginHarness plain(callObjectScene({.reference = u"VITRINA", .column3 = u"120"}), decimal);
        EXPECT_EQ(plain.plugin.OnObjectFinishesAfter(1), kTrue);
        EXPECT_EQ(plain.plugin.fields().sColumna3, u"120");
    }
}

// Every host call that the initialisation makes, failing in turn, fails the placement of a
// Gola-handled object: False with the error, the session ended, no warning.
TEST(Inicializa, AFailureAnywhereInsideFailsTheEventWithoutAWarning) {
    using host::Operation;
    const std::vector<std::pair<Operation, std::size_t>> steps = {
        {Operation::FileLoad, 1},
        {Operation::ObjectGetInfo, 2},
        {Operation::ObjectGetInfo, 3},
        {Operation::ObjectGetInfo, 4},
        {Operation::TableGetLineRankFromName, 1},
        {Operation::TableGetLineInfo, 1},
        {Operation::TableGetLineInfo, 2},
        {Operation::TableGetLineInfo, 3}};
    for (const auto& [op, nth] : steps) {
        const std::string operation(host::name(op));
        PluginHarness h(callObjectScene({.handle = u"MAGL"}));
        h.host.failOperation(op, kInjected, nth);
        const auto outcome = guarded([&] { return h.plugin.OnObjectPlaceAfter(1); });
        ASSERT_TRUE(outcome.error) << operation << " #" << nth;
        EXPECT_EQ(outcome.error->code(), kInjected.code());
        EXPECT_EQ(h.callLog().back(), "Appli.EndSession(I4& 7)");
        EXPECT_TRUE(h.messages.shown.empty()) << operation << " #" << nth;
    }
    PluginHarness h(
        callObjectScene({.reference = u"VITRINAG", .handle = u"MAGL", .column3 = u"n/a"}));
    const auto outcome = guarded([&] { return h.plugin.OnObjectPlaceAfter(1); });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), errors::kTypeMismatch);
    EXPECT_TRUE(h.messages.shown.empty());
}

}  // namespace
}  // namespace vpolv::testing
