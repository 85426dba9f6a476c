// Cutting the surcharge line off a description, and the glass surcharge step.
#include "showcase/showcase.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "catalog/constantes.h"
#include "common/text.h"
#include "support/harness.h"

namespace vpolv::testing {
namespace {

using ::testing::ElementsAre;

TEST(FormateaDescripcion, CutsFromTheFirstSurchargeLineOn) {
    struct Case {
        Text in;
        Text out;
    };
    const Case cases[] = {
        {u"Mueble alto", u"Mueble alto"},
        {u"Mueble\r\n#Incremento por cristal Grupo 1 (T) de 40 puntos.#", u"Mueble"},
        {u"Mueble\r\n#uno#\r\n#dos#", u"Mueble"},
        {u"Mueble #3", u"Mueble #3"},  // a "#" of the user's own text stays
        {u"#3 de 4", u"#3 de 4"},
        {u"\r\n#nota#", u""},
        {u"A\r\nB #x\r\n#nota#", u"A\r\nB #x"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        Text desc = c.in;
        const Text returned = formateaDescripcion(desc);
        EXPECT_EQ(desc, c.out) << toUtf8(c.in);
        EXPECT_EQ(returned, c.out);
    }
}

// The surcharge step on a glass front placed on its own (target -2).
struct StepHarness {
    explicit StepHarness(const Text& grupo, const Text& points = u"40", char16_t decimal = u'.')
        : h(scene(grupo, points), decimal) {}
    static host::SceneData scene(const Text& grupo, const Text& points) {
        auto s = callObjectScene({.reference = u"FR_1PRVAYE", .column3 = u"90", .column5 = u"A"});
        s.objects[100].infos[49] = u"Frente";
        s.objects[100].infos[85] = grupo;
        s.objects[100].infos[86] = u"Mate";
        for (const Text prefix : {u"_1_", u"_2_", u"_3_", u"_4_"}) {
            addLine(s, 4, prefix + u"A_90", {{3, points}});
        }
        addLine(s, 4, u"_0_", {{3, u"0"}});
        return s;
    }
    std::vector<std::string> stepCalls() const {
        std::vector<std::string> out;
        for (const auto& call : h.host.calls()) {
            if (call.object == host::ObjectKind::Catalog && call.args.size() > 1 &&
                call.args[1].number == 4) {  // every Catalog operation's table
                out.push_back(call.toString());
            }
            if (call.operation == host::Operation::ObjectSetInfo)
                out.push_back(call.toString());
        }
        return out;
    }
    Text info(Long code) { return h.host.scene().objects[100].infos[code]; }
    PluginHarness h;
};

TEST(AplicaIncrementoCristal, EachGroupLooksUpItsLineAndWritesInOrder) {
    const std::pair<Text, std::string> groups[] = {
        {u"Grupo 1", "_1_"}, {u"Grupo 2", "_2_"}, {u"Grupo 3", "_3_"}, {u"Grupo 4", "_4_"}};
    for (const auto& [grupo, prefix] : groups) {
        StepHarness s(grupo);
        EXPECT_EQ(s.h.plugin.OnObjectPlaceAfter(1), kTrue);
        const std::string desc =
            "Frente\r\n#Incremento por cristal " + toUtf8(grupo) + " (Mate) de 40 puntos.#";
        EXPECT_THAT(
            s.stepCalls(),
            ElementsAre("Catalog.TableGetLineRankFromName(I4& 7, I2 4, I2 0, I2 1, BSTR& \"" +
                            prefix + "A_90\", BOOL False)",
                        ::testing::StartsWith("Catalog.TableGetLineInfo(I4& 7, I2 4, I2 0, I4& "),
                        "Scene.ObjectSetInfo(I4& 7, I2 -2, BSTR \"40\", I4 43)",
                        "Scene.ObjectSetInfo(I4& 7, I2 -2, BSTR \"40\", I4 173)",
                        "Scene.ObjectSetInfo(I4& 7, I2 -2, BSTR& \"" + desc + "\", I4 49)"));
    }
}

TEST(AplicaIncrementoCristal, CristalFusinRewritesTheDescriptionOnly) {
    StepHarness s(u"Cristal Fusin");
    s.h.host.scene().objects[100].infos[49] =
        u"Frente\r\n#Incremento por cristal Grupo 1 (x) de 9 puntos.#";
    s.h.host.scene().objects[100].infos[43] = u"9";
    EXPECT_EQ(s.h.plugin.OnObjectPlaceAfter(1), kTrue);
    EXPECT_THAT(s.stepCalls(),
                ElementsAre("Scene.ObjectSetInfo(I4& 7, I2 -2, BSTR& \"Frente\", I4 49)"));
    EXPECT_EQ(s.info(43), u"9");
    EXPECT_EQ(s.h.plugin.fields().sNombreLineaTabla4, u"0");
}

TEST(AplicaIncrementoCristal, AnyOtherChoiceLooksUpTheNoGroupLine) {
    for (const Text other : {u"grupo 1", u"Grupo 1 ", u"", u"Cristal fusin", u"Grupo 5"}) {
        StepHarness s(other);
        EXPECT_EQ(s.h.plugin.OnObjectPlaceAfter(1), kTrue);
        EXPECT_TRUE(called(s.h,
                           "Catalog.TableGetLineRankFromName(I4& 7, I2 4, I2 0, I2 1, BSTR& "
                           "\"_0_\", BOOL False)"))
            << toUtf8(other);
        EXPECT_EQ(s.info(49),
                  u"Frente\r\n#Incremento por cristal " + other + u" (Mate) de 0 puntos.#");
        EXPECT_EQ(s.info(43), u"0");
    }
}

TEST(AplicaIncrementoCristal, PointsAreConvertedForTheCodesAndShownAsTheTableHasThem) {
    struct Case {
        Text points;
        char16_t decimal;
        Text written;
    };
    const Case cases[] = {{u"-10", u'.', u"-10"},
                          {u"2.5", u'.', u"2"},
                          {u"3.5", u'.', u"4"},
                          {u"2,5", u',', u"2"},
                          {u"40.4", u'.', u"40"}};
    for (const auto& c : cases) {
        StepHarness s(u"Grupo 2", c.points, c.decimal);
        EXPECT_EQ(s.h.plugin.OnObjectPlaceAfter(1), kTrue) << toUtf8(c.points);
        EXPECT_EQ(s.info(43), c.written) << toUtf8(c.points);
        EXPECT_EQ(s.info(173), c.written);
        EXPECT_EQ(s.info(49), u"Frente\r\n#Incremento por cristal Grupo 2 (Mate) de " + c.points +
                                  u" puntos.#");
    }
}

TEST(AplicaIncrementoCristal, BadPointsFailWithTheCodesUntouched) {
    for (const Text bad : {u"", u"n/a", u"99999999999"}) {
        StepHarness s(u"Grupo 3", bad);
        const auto outcome = guarded([&] { return s.h.plugin.OnObjectPlaceAfter(1); });
        ASSERT_TRUE(outcome.error) << toUtf8(bad);
        EXPECT_EQ(outcome.error->code(),
                  bad == u"99999999999" ? errors::kOverflow : errors::kTypeMismatch);
        EXPECT_TRUE(s.h.host.writes().empty());
        EXPECT_EQ(s.h.callLog().back(), "Appli.EndSession(I4& 7)");
    }
}

TEST(AplicaIncrementoCristal, TheSumAndTheProductAreOverflowChecked) {
    struct Case {
        Text points;
        Long base;
        Long factor;
    };
    for (const auto& c :
         {Case{u"2147483647", 1, 1}, Case{u"1073741824", 0, 2}, Case{u"-2147483648", -1, 1}}) {
        StepHarness s(u"Grupo 1", c.points);
        openSession(s.h);
        auto& m = constantes();
        m.sGrupo = u"Grupo 1";
        s.h.plugin.fields().sColumna5 = u"A";
        s.h.plugin.fields().sColumna3 = u"90";
        s.h.plugin.fields().lBase = c.base;
        Context ctx{s.h.plugin.fields(), m, s.h.services};
        EXPECT_EQ(errorCode([&] {
                      aplicaIncrementoCristal(ctx, host::ObjectArg::current(), LinePart::Column5,
                                              LinePart::Column3, c.factor);
                  }),
                  errors::kOverflow)
            << toUtf8(c.points);
        EXPECT_TRUE(s.h.host.writes().empty());
    }
}

TEST(AplicaIncrementoCristal, RunningTwiceLeavesOneSurchargeLine) {
    StepHarness s(u"Grupo 4");
    EXPECT_EQ(s.h.plugin.OnObjectPlaceAfter(1), kTrue);
    EXPECT_EQ(s.h.plugin.OnObjectFinishesAfter(1), kTrue);
    s.h.host.scene().objects[100].infos[85] = u"Grupo 1";
    EXPECT_EQ(s.h.plugin.OnObjectFinishesAfter(1), kTrue);
    EXPECT_EQ(s.info(49), u"Frente\r\n#Incremento por cristal Grupo 1 (Mate) de 40 puntos.#");
}

TEST(Vitrina3b, PricesAGlassFrontEndToEnd) {
    StepHarness s(u"Grupo 1");
    EXPECT_EQ(s.h.plugin.OnObjectPlaceAfter(1), kTrue);
    EXPECT_THAT(s.h.callLog(),
                ::testing::IsSupersetOf({"Scene.ObjectGetInfo(I4& 7, I2 -2, I4 49)",
                                         "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 85)",
                                         "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 86)"}));
    const auto& f = s.h.plugin.fields();
    EXPECT_EQ(f.sNombreLineaTabla4, u"_1_A_90");
    EXPECT_EQ(f.lIncremento, 40);
    EXPECT_EQ(f.lBase, 0);
    EXPECT_EQ(s.info(43), u"40");
    EXPECT_EQ(s.info(173), u"40");
    EXPECT_EQ(s.info(49), u"Frente\r\n#Incremento por cristal Grupo 1 (Mate) de 40 puntos.#");
}

}  // namespace
}  // namespace vpolv::testing
