// The three cabinet rules and their scene variants, driven on the in-memory host: where each glass
// choice is read, which children are priced, the price-line names, and the events end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "catalog/constantes.h"
#include "common/error.h"
#include "common/text.h"
#include "support/harness.h"

namespace vpolv {
namespace {

using host::SceneData;
using host::SceneObject;
using host::TableLine;
using testing::errorCode;
using testing::PluginHarness;

constexpr Long kCabinet = 10;
constexpr Long kFirstChild = 21;  // children get consecutive ids from here

// Glass parts of each type, and the fronts that type 3 prices with their own choice.
const std::vector<Text> kGlass1 = {
    u"FR_1PBVN",  u"FR_1PBVCH",  u"FR_1PHVN",  u"FR_1PHVCH",  u"FR_1PRVN",  u"FR_1PRVCH",
    u"FR_1GVN",   u"FR_1CVCH",   u"FR_1PABVN", u"FR_1PABVCH", u"FR_1PRRVN", u"FR_1PEVCH",
    u"FR_1PARVN", u"FR_PP2VN",   u"FR_PP2VAN", u"FR_1PRVA",   u"FR_1PHVA",  u"FR_1PRVVERT",
    u"FR_1PAVA",  u"FR_1PARVGL", u"FR_1PBVGL"};
const std::vector<Text> kGlass2 = {u"FR_2PBVCH",  u"FR_2PBVN",   u"FR_2PHVN",  u"FR_2PHVCH",
                                   u"FR_2PARVN",  u"FR_2PARVCH", u"FR_2PHVA",  u"FR_2PAVA",
                                   u"FR_2PCVHN",  u"FR_2PCVAHN", u"FR_2PCVBN", u"FR_2PCVABN",
                                   u"FR_2PCVAAN", u"FR_2PARVGL", u"FR_2PBVGL"};
const std::vector<Text> kGlass3 = {u"FR_1PBVCH", u"FR_1PBVN",    u"FR_1PHVN",  u"FR_1PHVCH",
                                   u"FR_1PRVN",  u"FR_1PRVCH",   u"FR_1GVN",   u"FR_1CVCH",
                                   u"FR_1PABVN", u"FR_1PABVCH",  u"FR_1PRRVN", u"FR_1PEVCH",
                                   u"FR_1PARVN", u"FR_PP1VN",    u"FR_PP1VAN", u"FR_1PRVA",
                                   u"FR_1PHVA",  u"FR_1PRVVERT", u"FR_1PAVA"};
const std::vector<Text> kFronts = {u"FR_1PRVAME", u"FR_1PRVAMA", u"FR_1PRVAR7", u"FR_1PRVAYE",
                                   u"FR_1PABAMA", u"FR_1PABAME", u"FR_1PABAR7", u"FR_1PABAYE"};

const std::vector<Text>& glassParts(int type) {
    return type == 1 ? kGlass1 : type == 2 ? kGlass2 : kGlass3;
}
// One glass part per type, for the tests that need just one.
Text aGlassPart(int type) {
    return type == 1 ? u"FR_1PARVGL" : type == 2 ? u"FR_2PCVAAN" : u"FR_PP1VAN";
}

Text keyword(int n) {
    return u"@Rubrique.GénériqueChoixNom(," + longToText(n) + u")";
}

TableLine line(Text name, Text points) {
    return {std::move(name), {{3, std::move(points)}}};
}
// The "Grupo 1" line of each type for columns 3 = 60 and 5 = 90.
std::vector<TableLine> grupo1Lines(const Text& points) {
    return {line(u"_1_90_60", points), line(u"_1_90_30", points), line(u"_1_45_60", points)};
}

// Runs check for every type, per-object rule and scene rule.
void forEachRule(const std::function<void(int type, bool sceneRule)>& check) {
    for (int type : {1, 2, 3}) {
        for (bool sceneRule : {false, true}) {
            SCOPED_TRACE("type " + std::to_string(type) + (sceneRule ? " AG" : ""));
            check(type, sceneRule);
        }
    }
}

// A cabinet (the object of the call) with the given children, whose every choice source answers
// its own name: keyword N "kwN", cabinet info K "cabK", a child's info K "hijoK". Table 4 has a
// "_0_" line worth 0 points.
SceneData namedSourcesScene(const std::vector<Text>& children) {
    SceneData s;
    s.currentObject = kCabinet;
    SceneObject cabinet;
    for (Long k = 85; k <= 88; ++k)
        cabinet.infos[k] = u"cab" + longToText(k);
    for (std::size_t i = 0; i < children.size(); ++i) {
        const Long id = kFirstChild + static_cast<Long>(i);
        cabinet.children.push_back(id);
        SceneObject child;
        child.infos[4] = children[i];
        child.infos[49] = u"Vidrio " + longToText(id) + u"\r\n#Incremento viejo#";
        for (Long k = 85; k <= 88; ++k)
            child.infos[k] = u"hijo" + longToText(k);
        s.objects[id] = std::move(child);
    }
    s.objects[kCabinet] = std::move(cabinet);
    for (int n = 3; n <= 6; ++n)
        s.keywords[keyword(n)] = u"kw" + longToText(n);
    s.tables[4] = {line(u"_0_", u"0")};
    return s;
}

// The plug-in with the module state an event would have set up, ready to call a rule directly.
struct Rig {
    explicit Rig(SceneData scene, char16_t decimal = u'.') : h(std::move(scene), decimal) {
        Constantes& m = constantes();
        m.oScene = h.host.createScene();
        m.oCatalog = h.host.createCatalog();
        m.lSessionId = 1;
        f().sColumna3 = u"60";
        f().sColumna5 = u"90";
        f().sTirador = u"25";
    }
    PluginFields& f() { return h.plugin.fields(); }

    void run(int type, bool sceneRule, Long nHijos, Long auxd) {
        Long cabinet = kCabinet;
        Plugin& p = h.plugin;
        if (sceneRule) {
            type == 1   ? p.vitrinaAG(nHijos, auxd, cabinet)
            : type == 2 ? p.vitrina2AG(nHijos, auxd, cabinet)
                        : p.vitrina3AG(nHijos, auxd, cabinet);
        } else {
            type == 1   ? p.vitrina(nHijos, auxd)
            : type == 2 ? p.vitrina2(nHijos, auxd)
                        : p.vitrina3(nHijos, auxd);
        }
    }

    // The reads of a glass choice: keywords and infos 85 to 88, whatever their object.
    std::vector<std::string> choiceReads() const {
        std::vector<std::string> out;
        for (const auto& c : h.host.calls()) {
            const bool choiceInfo = c.operation == host::Operation::ObjectGetInfo &&
                                    arg(c, host::param::ObjectGetInfo::code).number >= 85 &&
                                    arg(c, host::param::ObjectGetInfo::code).number <= 88;
            if (c.operation == host::Operation::SceneGetKeywordInfo || choiceInfo)
                out.push_back(c.toString());
        }
        return out;
    }
    std::vector<Text> lineLookups() const {
        std::vector<Text> out;
        for (const auto& c : h.host.calls()) {
            if (c.operation == host::Operation::TableGetLineRankFromName)
                out.push_back(arg(c, host::param::TableGetLineRankFromName::lineName).text);
        }
        return out;
    }
    std::vector<std::string> writes() const { return testing::writeLines(h.host); }

    PluginHarness h;
};

// "kN": keyword N; "iK": info K of the choice object.
std::string expectedRead(const std::string& source, bool sceneRule) {
    if (source[0] == 'k')
        return "Scene.SceneGetKeywordInfo(I4& 1, BSTR \"@Rubrique.GénériqueChoixNom(," +
               source.substr(1) + ")\")";
    const std::string object = sceneRule ? "I4& " + std::to_string(kFirstChild) : "I2 -2";
    return "Scene.ObjectGetInfo(I4& 1, " + object + ", I4 " + source.substr(1) + ")";
}
Text expectedValue(const std::string& source, bool sceneRule) {
    if (source[0] == 'k')
        return u"kw" + fromUtf8(source.substr(1));
    return (sceneRule ? u"hijo" : u"cab") + fromUtf8(source.substr(1));
}

// --- Where the glass choice of a glass part is read ---

struct Sources {
    const char* grupo;
    const char* cristal;
};
struct SourceCase {
    Long auxd;
    const char16_t* tirador;
    const char* label;
    Sources tipo12;       // vitrina, vitrina2
    Sources tipo12Scene;  // vitrinaAG, vitrina2AG
    Sources tipo3;        // vitrina3 and vitrina3AG (the scene rule reads the child's infos)
};

// One code of each handle group, an unlisted one, the empty one, a listed one in lower case.
const SourceCase kSourceCases[] = {
    {1, u"25", "A", {"k5", "k6"}, {"k5", "k6"}, {"k5", "k6"}},
    {1, u"240", "B", {"k3", "k4"}, {"k3", "k4"}, {"k3", "k4"}},
    {1, u"MA", "C", {"i86", "i87"}, {"i86", "i87"}, {"i86", "i87"}},
    {1, u"2GL", "D", {"i86", "i87"}, {"k4", "k5"}, {"k4", "k5"}},
    {1, u"MAGL", "E", {"i85", "i86"}, {"i85", "i86"}, {"k4", "k5"}},
    {1, u"99", "unlisted", {"k4", "k5"}, {"k4", "k5"}, {"k4", "k5"}},
    {1, u"", "empty", {"k4", "k5"}, {"k4", "k5"}, {"k4", "k5"}},
    {1, u"ma", "lowercase", {"k4", "k5"}, {"k4", "k5"}, {"k4", "k5"}},
    {2, u"25", "A", {"i87", "i88"}, {"i87", "i88"}, {"i87", "i88"}},
    {2, u"240", "B", {"i85", "i86"}, {"i85", "i86"}, {"i85", "i86"}},
    {2, u"MA", "C", {"i86", "i87"}, {"i86", "i87"}, {"i86", "i87"}},
    {2, u"2GL", "D", {"i86", "i87"}, {"i86", "i87"}, {"i86", "i87"}},
    {2, u"MAGL", "E", {"i85", "i86"}, {"i85", "i86"}, {"i86", "i87"}},
    {2, u"99", "unlisted", {"i86", "i87"}, {"i86", "i87"}, {"i86", "i87"}},
    {2, u"", "empty", {"i86", "i87"}, {"i86", "i87"}, {"i86", "i87"}},
    {2, u"ma", "lowercase", {"i86", "i87"}, {"i86", "i87"}, {"i86", "i87"}},
};

using SourceParam = std::tuple<int, bool, std::size_t>;  // type, scene rule, case
class GlassSource : public ::testing::TestWithParam<SourceParam> {};

TEST_P(GlassSource, ReadsTheChoiceFromTheRightSources) {
    const auto [type, sceneRule, index] = GetParam();
    const SourceCase& c = kSourceCases[index];
    const Sources want = type == 3 ? c.tipo3 : sceneRule ? c.tipo12Scene : c.tipo12;

    Rig rig(namedSourcesScene({aGlassPart(type)}));
    rig.f().sTirador = c.tirador;
    rig.run(type, sceneRule, 1, c.auxd);

    const std::string parent = sceneRule ? "I4& " + std::to_string(kCabinet) : "I2 -2";
    EXPECT_EQ(rig.h.callLog().front(),
              "Scene.ObjectGetChildId(I4& 1, " + parent + ", I4& 1, I2 0)");
    EXPECT_EQ(rig.choiceReads(), (std::vector<std::string>{expectedRead(want.grupo, sceneRule),
                                                           expectedRead(want.cristal, sceneRule)}));
    EXPECT_EQ(constantes().sGrupo, expectedValue(want.grupo, sceneRule));
    EXPECT_EQ(constantes().sCristal, expectedValue(want.cristal, sceneRule));
}

std::string sourceCaseName(const ::testing::TestParamInfo<SourceParam>& info) {
    const auto [type, sceneRule, index] = info.param;
    const SourceCase& c = kSourceCases[index];
    return "Tipo" + std::to_string(type) + (sceneRule ? "AG" : "") + "_auxd" +
           std::to_string(c.auxd) + "_" + c.label;
}

INSTANTIATE_TEST_SUITE_P(AllRules, GlassSource,
                         ::testing::Combine(::testing::Values(1, 2, 3), ::testing::Bool(),
                                            ::testing::Range<std::size_t>(0,
                                                                          std::size(kSourceCases))),
                         sourceCaseName);

// One glass part through a scene rule, call by call: the group D row that the scene rule reads
// from the keywords, the halved column 3 and the doubled points of type 2.
TEST(CabinetRule, Tipo2SceneRuleCallsInOrder) {
    SceneData s = namedSourcesScene({u"FR_2PBVGL"});
    s.keywords[keyword(4)] = u"Grupo 3";
    s.keywords[keyword(5)] = u"Azul";
    s.tables[4].push_back(line(u"_3_90_37.5", u"35"));
    Rig rig(std::move(s));
    rig.f().sTirador = u"14GL";
    rig.f().sColumna3 = u"75";
    rig.run(2, true, 1, 1);

    const std::string desc = "Vidrio 21\r\n#Incremento por cristal Grupo 3 (Azul) de 35 puntos.#";
    EXPECT_EQ(rig.h.callLog(),
              (std::vector<std::string>{
                  "Scene.ObjectGetChildId(I4& 1, I4& 10, I4& 1, I2 0)",
                  "Scene.ObjectGetInfo(I4& 1, I4& 21, I4 4)",
                  "Scene.ObjectGetInfo(I4& 1, I4& 21, I4 49)",
                  "Scene.SceneGetKeywordInfo(I4& 1, BSTR \"@Rubrique.GénériqueChoixNom(,4)\")",
                  "Scene.SceneGetKeywordInfo(I4& 1, BSTR \"@Rubrique.GénériqueChoixNom(,5)\")",
                  "Catalog.TableGetLineRankFromName(I4& 1, I2 4, I2 0, I2 1, BSTR& "
                  "\"_3_90_37.5\", BOOL False)",
                  "Catalog.TableGetLineInfo(I4& 1, I2 4, I2 0, I4& 2, I2 3)",
                  "Scene.ObjectSetInfo(I4& 1, I4& 21, BSTR \"70\", I4 43)",
                  "Scene.ObjectSetInfo(I4& 1, I4& 21, BSTR \"70\", I4 173)",
                  "Scene.ObjectSetInfo(I4& 1, I4& 21, BSTR& \"" + desc + "\", I4 49)",
              }));
    EXPECT_EQ(rig.f().sValorTipo2, u"37.5");
    EXPECT_EQ(rig.f().lHijo, 2);
}

TEST(CabinetRule, AuxdThreeReadsNoChoiceAndKeepsThePreviousOne) {
    forEachRule([](int type, bool sceneRule) {
        SceneData s = namedSourcesScene({aGlassPart(type), aGlassPart(type)});
        s.tables[4] = grupo1Lines(u"12");
        Rig rig(std::move(s));
        constantes().sGrupo = u"Grupo 1";
        constantes().sCristal = u"Verde";
        rig.run(type, sceneRule, 2, 3);

        EXPECT_TRUE(rig.choiceReads().empty());
        const std::string p = type == 2 ? "24" : "12";
        const std::string note = "\r\n#Incremento por cristal Grupo 1 (Verde) de 12 puntos.#";
        EXPECT_EQ(rig.writes(), (std::vector<std::string>{
                                    "21 43 " + p, "21 173 " + p, "21 49 Vidrio 21" + note,
                                    "22 43 " + p, "22 173 " + p, "22 49 Vidrio 22" + note}));
        EXPECT_EQ(constantes().sGrupo, u"Grupo 1");
    });
}

// --- Which children are priced ---

// Every type and variant against every listed reference, the fronts and near misses: a skipped
// child costs only its id and reference, and gets no write.
TEST(CabinetRule, PricesOnlyItsOwnGlassParts) {
    std::vector<Text> refs;
    for (const auto* list : {&kGlass1, &kGlass2, &kGlass3, &kFronts}) {
        for (const auto& r : *list) {
            if (std::find(refs.begin(), refs.end(), r) == refs.end())
                refs.push_back(r);
        }
    }
    for (const Text r : {u"fr_1pbvn", u"FR_1PBVN ", u"FR_2pbvgl", u"VITRINA3", u"ESTANTE", u""})
        refs.push_back(r);
    const Long n = static_cast<Long>(refs.size());

    forEachRule([&](int type, bool sceneRule) {
        Rig rig(namedSourcesScene(refs));
        rig.run(type, sceneRule, n, 1);

        std::set<Long> want;
        for (Long i = 0; i < n; ++i) {
            const auto& own = glassParts(type);
            const bool glass = std::find(own.begin(), own.end(), refs[i]) != own.end();
            const bool front =
                type == 3 && std::find(kFronts.begin(), kFronts.end(), refs[i]) != kFronts.end();
            if (glass || front)
                want.insert(kFirstChild + i);
        }
        std::set<Long> written;
        for (const auto& w : rig.h.host.writes())
            written.insert(w.object);
        EXPECT_EQ(written, want);
        EXPECT_EQ(want.size(), type == 1 ? 21u : type == 2 ? 15u : 27u);

        int childIds = 0;
        std::map<Long, std::vector<std::string>> onChild;
        for (const auto& c : rig.h.host.calls()) {
            if (c.operation == host::Operation::ObjectGetChildId)
                ++childIds;
            else if (const host::Arg* object = host::objectArgOf(c);
                     object && object->kind == host::Arg::Kind::I4Ref)
                onChild[object->number].push_back(c.toString());
        }
        EXPECT_EQ(childIds, n);
        for (Long id = kFirstChild; id < kFirstChild + n; ++id) {
            if (want.count(id) == 0) {
                EXPECT_EQ(onChild[id], (std::vector<std::string>{"Scene.ObjectGetInfo(I4& 1, I4& " +
                                                                 std::to_string(id) + ", I4 4)"}));
            }
        }
    });
}

// A type-3 front takes the child's own infos 85 and 86, whatever the event and handle code.
TEST(CabinetRule, Tipo3FrontReadsItsOwnChoice) {
    for (bool sceneRule : {false, true}) {
        for (Long auxd : {1, 2}) {
            for (const Text tirador : {u"25", u"240", u"MA", u"99"}) {
                SCOPED_TRACE(toUtf8(tirador) + " auxd " + std::to_string(auxd) +
                             (sceneRule ? " AG" : ""));
                Rig rig(namedSourcesScene({u"FR_1PRVAYE"}));
                rig.f().sTirador = tirador;
                rig.run(3, sceneRule, 1, auxd);
                EXPECT_EQ(rig.choiceReads(),
                          (std::vector<std::string>{"Scene.ObjectGetInfo(I4& 1, I4& 21, I4 85)",
                                                    "Scene.ObjectGetInfo(I4& 1, I4& 21, I4 86)"}));
                EXPECT_EQ(constantes().sGrupo, u"hijo85");
                EXPECT_EQ(constantes().sCristal, u"hijo86");
            }
        }
    }
}

// With auxd 3 on a fresh thread the first glass part has no choice ("_0_"); a front stores its
// own, which the glass parts after it use.
TEST(CabinetRule, Tipo3FrontChoiceCarriesOverWhenAuxdReadsNothing) {
    for (bool sceneRule : {false, true}) {
        SCOPED_TRACE(sceneRule ? "AG" : "per object");
        SceneData s = namedSourcesScene({u"FR_1PBVN", u"FR_1PABAR7", u"FR_1PAVA"});
        s.objects[22].infos[85] = u"Grupo 2";
        s.objects[22].infos[86] = u"Gris";
        s.tables[4].push_back(line(u"_2_45_60", u"15"));
        Rig rig(std::move(s));
        rig.run(3, sceneRule, 3, 3);
        EXPECT_EQ(rig.lineLookups(), (std::vector<Text>{u"_0_", u"_2_45_60", u"_2_45_60"}));
        EXPECT_EQ(rig.writes().back(),
                  "23 49 Vidrio 23\r\n#Incremento por cristal Grupo 2 (Gris) de 15 puntos.#");
    }
}

// --- Price-line names and points ---

TEST(CabinetRule, LineNameHalvesTheTypesColumn) {
    struct Case {
        int type;
        char16_t decimal;
        const char16_t* columna3;
        const char16_t* columna5;
        const char16_t* grupo;
        const char16_t* line;
        const char16_t* half;  // sValorTipo2 (type 2) or sValorTipo3 (type 3)
    };
    const Case cases[] = {
        {1, u'.', u"60", u"90", u"Grupo 1", u"_1_90_60", u""},
        {1, u',', u"75", u"45", u"Grupo 4", u"_4_45_75", u""},
        {2, u'.', u"90", u"72", u"Grupo 2", u"_2_72_45", u"45"},
        {2, u'.', u"75", u"72", u"Grupo 1", u"_1_72_37.5", u"37.5"},
        {2, u',', u"75", u"72", u"Grupo 1", u"_1_72_37,5", u"37,5"},
        {2, u',', u"90", u"72", u"Grupo 4", u"_4_72_45", u"45"},
        {3, u'.', u"60", u"90", u"Grupo 3", u"_3_45_60", u"45"},
        {3, u'.', u"60", u"45", u"Grupo 2", u"_2_22.5_60", u"22.5"},
        {3, u',', u"60", u"45", u"Grupo 2", u"_2_22,5_60", u"22,5"},
        {3, u'.', u"45", u"100", u"Grupo 1", u"_1_50_45", u"50"},
    };
    for (const Case& c : cases) {
        for (bool sceneRule : {false, true}) {
            SCOPED_TRACE(toUtf8(c.line) + (sceneRule ? " AG" : ""));
            SceneData s = namedSourcesScene({aGlassPart(c.type)});
            s.keywords[keyword(5)] = c.grupo;
            s.tables[4].push_back(line(c.line, u"10"));
            Rig rig(std::move(s), c.decimal);
            rig.f().sColumna3 = c.columna3;
            rig.f().sColumna5 = c.columna5;
            rig.run(c.type, sceneRule, 1, 1);
            EXPECT_EQ(rig.lineLookups(), std::vector<Text>{c.line});
            EXPECT_EQ(rig.f().sValorTipo2, c.type == 2 ? c.half : u"");
            EXPECT_EQ(rig.f().sValorTipo3, c.type == 3 ? c.half : u"");
        }
    }
}

// Type 2 writes twice the points; the surcharge line shows them as the table holds them.
TEST(CabinetRule, PointsTimesTheTypesFactor) {
    struct Case {
        int type;
        const char16_t* points;
        const char* written;  // null: overflow
    };
    const Case cases[] = {
        {1, u"35", "35"},
        {2, u"35", "70"},
        {3, u"35", "35"},
        {2, u"-10", "-20"},
        {1, u"1073741824", "1073741824"},
        {2, u"1073741824", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + toUtf8(c.points));
        SceneData s = namedSourcesScene({aGlassPart(c.type)});
        s.keywords[keyword(5)] = u"Grupo 1";
        s.tables[4] = grupo1Lines(c.points);
        Rig rig(std::move(s));
        if (!c.written) {
            EXPECT_EQ(errorCode([&] { rig.run(c.type, false, 1, 1); }), errors::kOverflow);
            EXPECT_TRUE(rig.writes().empty());
            continue;
        }
        rig.run(c.type, false, 1, 1);
        const std::string w = c.written;
        EXPECT_EQ(rig.writes(), (std::vector<std::string>{
                                    "21 43 " + w, "21 173 " + w,
                                    "21 49 Vidrio 21\r\n#Incremento por cristal Grupo 1 (kw6) de " +
                                        toUtf8(c.points) + " puntos.#"}));
    }
}

// The halving is done only for a group; a column that is no number fails only then.
TEST(CabinetRule, NonNumericColumnFailsOnlyForAGroup) {
    struct Case {
        int type;
        const char16_t* grupo;
        const char16_t* columna3;
        const char16_t* columna5;
        const char16_t* line;  // null: "Cristal Fusin", no lookup; u"!": conversion error
    };
    const Case cases[] = {
        {2, u"Cristal Fusin", u"abc", u"90", nullptr},
        {2, u"Grupo 2", u"abc", u"90", u"!"},
        {2, u"Grupo", u"abc", u"90", u"_0_"},
        {2, u"Grupo 1", u"60", u"xyz", u"_1_xyz_30"},
        {3, u"Cristal Fusin", u"60", u"abc", nullptr},
        {3, u"Grupo 2", u"60", u"abc", u"!"},
        {3, u"grupo 2", u"60", u"abc", u"_0_"},
        {3, u"Grupo 1", u"abc", u"90", u"_1_45_abc"},
        {1, u"Grupo 2", u"abc", u"xyz", u"_2_xyz_abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + toUtf8(c.grupo));
        SceneData s = namedSourcesScene({aGlassPart(c.type)});
        s.keywords[keyword(5)] = c.grupo;
        if (c.line)
            s.tables[4].push_back(line(c.line, u"5"));
        Rig rig(std::move(s));
        rig.f().sColumna3 = c.columna3;
        rig.f().sColumna5 = c.columna5;
        if (c.line && Text(c.line) == u"!") {
            EXPECT_EQ(errorCode([&] { rig.run(c.type, false, 1, 1); }), errors::kTypeMismatch);
            EXPECT_TRUE(rig.writes().empty());
            continue;
        }
        rig.run(c.type, false, 1, 1);
        if (c.line) {
            EXPECT_EQ(rig.lineLookups(), std::vector<Text>{c.line});
        } else {
            EXPECT_TRUE(rig.lineLookups().empty());
            EXPECT_EQ(rig.writes(), std::vector<std::string>{"21 49 Vidrio 21"});
        }
    }
}

// --- The loop ---

TEST(CabinetRule, EachPricedChildGetsItsOwnDescriptionAndChoice) {
    forEachRule([](int type, bool sceneRule) {
        SceneData s = namedSourcesScene({aGlassPart(type), u"ESTANTE", aGlassPart(type)});
        s.objects[21].infos[49] = u"Puerta izquierda";
        s.objects[23].infos[49] = u"Puerta derecha\r\n#Incremento por cristal X () de 1 puntos.#";
        s.keywords[keyword(5)] = u"Grupo 1";
        s.keywords[keyword(6)] = u"Claro";
        s.tables[4] = grupo1Lines(u"40");
        Rig rig(std::move(s));
        rig.run(type, sceneRule, 3, 1);

        const std::string p = type == 2 ? "80" : "40";
        const std::string note = "\r\n#Incremento por cristal Grupo 1 (Claro) de 40 puntos.#";
        EXPECT_EQ(rig.writes(), (std::vector<std::string>{
                                    "21 43 " + p, "21 173 " + p, "21 49 Puerta izquierda" + note,
                                    "23 43 " + p, "23 173 " + p, "23 49 Puerta derecha" + note}));
        EXPECT_EQ(rig.choiceReads().size(), 4u);
        EXPECT_EQ(rig.lineLookups().size(), 2u);
        EXPECT_EQ(rig.f().lHijo, 4);
    });
}

// The second of three glass parts fails (as the scene or host setup arranges): the first keeps
// its writes, the second gets none, the third is not visited, and the error comes out unchanged.
void expectWalkStopsAtSecondChild(std::int32_t code,
                                  const std::function<void(SceneData&)>& sceneSetup,
                                  const std::function<void(host::MemoryHost&)>& hostSetup) {
    forEachRule([&](int type, bool sceneRule) {
        SceneData s = namedSourcesScene({aGlassPart(type), aGlassPart(type), aGlassPart(type)});
        sceneSetup(s);
        Rig rig(std::move(s));
        hostSetup(rig.h.host);
        EXPECT_EQ(errorCode([&] { rig.run(type, sceneRule, 3, 1); }), code);
        EXPECT_EQ(rig.writes(),
                  (std::vector<std::string>{
                      "21 43 0", "21 173 0",
                      "21 49 Vidrio 21\r\n#Incremento por cristal kw5 (kw6) de 0 puntos.#"}));
        const auto log = rig.h.callLog();
        EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                [](const std::string& c) {
                                    return c.find("ObjectGetChildId") != std::string::npos;
                                }),
                  2);
        EXPECT_EQ(rig.f().lHijo, 2);
    });
}

void noSceneChange(SceneData&) {}

TEST(CabinetRule, FailingHostCallStopsTheWalk) {
    expectWalkStopsAtSecondChild(
        testing::kInjected.code(), noSceneChange, [&](host::MemoryHost& host) {
            host.failOperation(host::Operation::TableGetLineRankFromName, testing::kInjected, 2);
        });
}

TEST(CabinetRule, ChildIdThatIsNoNumberStopsTheWalk) {
    // The first child takes ten operations; the eleventh is the second child's id.
    expectWalkStopsAtSecondChild(errors::kTypeMismatch, noSceneChange,
                                 [](host::MemoryHost& host) { host.answerWithText(11, u"abc"); });
}

// A "#" of the user's own, even as the first character, is no surcharge line: the description is
// kept whole and the child is priced like any other.
TEST(CabinetRule, HashInTheUsersDescriptionIsKept) {
    forEachRule([](int type, bool sceneRule) {
        SceneData s = namedSourcesScene({aGlassPart(type)});
        s.objects[21].infos[49] = u"#roto";
        Rig rig(std::move(s));
        rig.run(type, sceneRule, 1, 1);
        EXPECT_EQ(rig.writes().back(),
                  "21 49 #roto\r\n#Incremento por cristal kw5 (kw6) de 0 puntos.#");
    });
}

TEST(CabinetRule, NoChildNoHostCall) {
    for (Long n : {0, -1, std::numeric_limits<Long>::min()}) {
        SCOPED_TRACE(n);
        forEachRule([n](int type, bool sceneRule) {
            Rig rig(namedSourcesScene({aGlassPart(type)}));
            rig.f().lHijo = 7;
            rig.run(type, sceneRule, n, 1);
            EXPECT_TRUE(rig.h.host.calls().empty());
            EXPECT_EQ(rig.f().lHijo, 1);
        });
    }
}

// --- The events end to end ---

struct EndToEnd {
    const char16_t* reference;
    const char16_t* glassPart;
    Event event;
    const char* points;  // written with 43 and 173 on the glass part
    const char* note;    // its surcharge line
    bool front;          // the front child is priced too (type 3)
};

// Handle "MA": the per-object events read the cabinet's infos 86/87 ("Grupo 2", "Mate"), the scene
// event the glass part's own ("Grupo 3", "Bronce"). Column 3 is 60 (90 less 30 for "VITRINAG"),
// column 5 is 90.
const EndToEnd kEndToEnd[] = {
    {u"VITRINA", u"FR_1PBVGL", Event::Place, "21", "Grupo 2 (Mate) de 21", false},
    {u"VITRINA", u"FR_1PBVGL", Event::Finishes, "21", "Grupo 2 (Mate) de 21", false},
    {u"VITRINA", u"FR_1PBVGL", Event::Scene, "31", "Grupo 3 (Bronce) de 31", false},
    {u"VITRINAG", u"FR_PP2VN", Event::Place, "21", "Grupo 2 (Mate) de 21", false},
    {u"VITRINAG", u"FR_PP2VN", Event::Scene, "31", "Grupo 3 (Bronce) de 31", false},
    {u"VITRINA2", u"FR_2PCVAAN", Event::Place, "44", "Grupo 2 (Mate) de 22", false},
    {u"VITRINA2", u"FR_2PCVAAN", Event::Finishes, "44", "Grupo 2 (Mate) de 22", false},
    {u"VITRINA2", u"FR_2PCVAAN", Event::Scene, "64", "Grupo 3 (Bronce) de 32", false},
    {u"VITRINA3", u"FR_PP1VAN", Event::Place, "23", "Grupo 2 (Mate) de 23", true},
    {u"VITRINA3", u"FR_PP1VAN", Event::Finishes, "23", "Grupo 2 (Mate) de 23", true},
    {u"VITRINA3", u"FR_PP1VAN", Event::Scene, "33", "Grupo 3 (Bronce) de 33", true},
};

class CabinetEvent : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CabinetEvent, WritesTheSurchargeOfEachGlassChild) {
    const EndToEnd& c = kEndToEnd[GetParam()];
    const Text col3 = Text(c.reference) == u"VITRINAG" ? u"90" : u"60";
    SceneData s = testing::callObjectScene({.id = kCabinet,
                                            .line = u"V90",
                                            .reference = c.reference,
                                            .handle = u"MA",
                                            .column3 = col3,
                                            .column5 = u"90",
                                            .children = {21, 22, 23}});
    auto& cabinet = s.objects[kCabinet].infos;
    cabinet.insert({{85, u"Grupo 1"}, {86, u"Grupo 2"}, {87, u"Mate"}, {88, u"Negro"}});
    s.objects[21].infos = {{4, c.glassPart},
                           {49, u"Vidrio\r\n#Incremento por cristal Grupo 1 (Claro) de 9 puntos.#"},
                           {85, u"Grupo 4"},
                           {86, u"Grupo 3"},
                           {87, u"Bronce"}};
    s.objects[22].infos = {{4, u"ESTANTE"}, {49, u"Estante"}};
    s.objects[23].infos = {{4, u"FR_1PABAME"}, {49, u"Frente"}, {85, u"Grupo 4"}, {86, u"Humo"}};
    s.tables[4] = {line(u"_2_90_60", u"21"), line(u"_3_90_60", u"31"), line(u"_2_90_30", u"22"),
                   line(u"_3_90_30", u"32"), line(u"_2_45_60", u"23"), line(u"_3_45_60", u"33"),
                   line(u"_4_45_60", u"43")};
    PluginHarness h(std::move(s));

    EXPECT_EQ(h.plugin.fire(c.event, 0), kTrue);

    const std::string p = c.points;
    std::vector<std::string> want = {
        "21 43 " + p, "21 173 " + p,
        "21 49 Vidrio\r\n#Incremento por cristal " + std::string(c.note) + " puntos.#"};
    if (c.front) {
        for (const char* w : {"23 43 43", "23 173 43",
                              "23 49 Frente\r\n#Incremento por cristal Grupo 4 (Humo) de 43 "
                              "puntos.#"})
            want.push_back(w);
    }
    EXPECT_EQ(testing::writeLines(h.host), want);
    EXPECT_EQ(h.host.liveObjects(), 0);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, CabinetEvent,
                         ::testing::Range<std::size_t>(0, std::size(kEndToEnd)),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             const EndToEnd& c = kEndToEnd[info.param];
                             return toUtf8(c.reference) + "_" +
                                    std::string(eventMethodName(c.event));
                         });

}  // namespace
}  // namespace vpolv
