// The event skeleton: host objects, session, the per-object and scene events, and what happens
// when something fails on the way; routing objects to their rule; the Gola warning.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "catalog/constantes.h"
#include "support/harness.h"

namespace vpolv::testing {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> lifecycle(const PluginHarness& h) {
    std::vector<std::string> out;
    for (const auto& call : h.host.log()) {
        if (call.isLifecycle())
            out.push_back(std::string(host::name(call.object)) + "." +
                          std::string(host::name(call.operation)));
    }
    return out;
}

const std::vector<std::string> kNormalLifecycle = {"Appli.CreateObject",   "Scene.CreateObject",
                                                   "Catalog.CreateObject", "Appli.Release",
                                                   "Scene.Release",        "Catalog.Release"};

TEST(Events, ObjectOfAnotherCatalogOnlyOpensAndEndsTheSession) {
    PluginHarness h(callObjectScene({.catalog = u"504"}));
    const auto outcome = guarded([&] { return h.plugin.OnObjectPlaceAfter(4242); });
    EXPECT_EQ(outcome.result, kTrue);
    EXPECT_FALSE(outcome.error);
    EXPECT_THAT(h.callLog(),
                ElementsAre("Appli.StartSessionFromCallParams(I4& 4242)",
                            "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 2)", "Appli.EndSession(I4& 7)"));
    EXPECT_EQ(lifecycle(h), kNormalLifecycle);
    EXPECT_EQ(h.host.liveObjects(), 0);
}

TEST(Events, NoSessionSkipsTheWorkButStillEndsIt) {
    for (const Event event : kEvents) {
        auto scene = callObjectScene({});
        scene.sessionId = 0;
        PluginHarness h(scene);
        const auto outcome = guarded([&] { return h.plugin.fire(event, 1); });
        EXPECT_EQ(outcome.result, kTrue);
        EXPECT_THAT(h.callLog(), ElementsAre("Appli.StartSessionFromCallParams(I4& 1)",
                                             "Appli.EndSession(I4& 0)"));
        EXPECT_EQ(h.host.liveObjects(), 0);
    }
}

TEST(Events, PlacementAndFinishChangePassTheirOriginToTheRule) {
    // A type-1 cabinet with handle "25" reads keywords on placement and its own info 87 on a
    // finish change: the origin code reached the rule unchanged.
    auto scene = callObjectScene({.handle = u"25", .children = {201}});
    addObject(scene, 201, {{4, u"FR_1PBVN"}, {49, u"Door"}});
    addLine(scene, 4, u"_0_", {{3, u"0"}});
    {
        PluginHarness h(scene);
        EXPECT_EQ(h.plugin.OnObjectPlaceAfter(1), kTrue);
        EXPECT_TRUE(called(
            h, "Scene.SceneGetKeywordInfo(I4& 7, BSTR \"@Rubrique.GénériqueChoixNom(,5)\")"));
    }
    {
        PluginHarness h(scene);
        EXPECT_EQ(h.plugin.OnObjectFinishesAfter(1), kTrue);
        EXPECT_TRUE(called(h, "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 87)"));
    }
}

TEST(Events, SceneEventServesOnlyObjectsOfTheTwoCatalogsInRankOrder) {
    host::SceneData scene;
    scene.sessionId = 3;
    addObject(scene, 11, {{2, u"570"}, {7, u"L1"}, {4, u"MUEBLE"}});
    addObject(scene, 12, {{2, u"999"}});
    addObject(scene, 13, {{2, u"503"}, {7, u"L1"}, {4, u"MUEBLE"}});
    addLine(scene, 3, u"L1", {{3, u"1"}, {4, u"2"}, {5, u"3"}});
    scene.sceneObjects = {13, 12, 11};
    PluginHarness h(scene);
    EXPECT_EQ(h.plugin.OnSceneGenericFinishesAfter(5), kTrue);

    std::vector<std::string> served;
    for (const auto& call : h.host.calls()) {
        if (call.operation == host::Operation::ObjectGetChildrenNb)
            served.push_back(call.toString());
    }
    EXPECT_THAT(served, ElementsAre("Scene.ObjectGetChildrenNb(I4& 3, I4& 13, I2 0)",
                                    "Scene.ObjectGetChildrenNb(I4& 3, I4& 11, I2 0)"));
    ASSERT_EQ(h.host.loads().size(), 2u);
    EXPECT_EQ(h.host.loads()[0].file, u"polvas10");
    EXPECT_EQ(h.host.loads()[1].file, u"polvas13");
    EXPECT_TRUE(called(h, "Scene.SceneGetObjectId(I4& 3, I4& 2)"));
    EXPECT_TRUE(called(h, "Scene.ObjectGetInfo(I4& 3, I4& 12, I4 2)"));
    EXPECT_TRUE(h.messages.shown.empty());
}

TEST(Events, SceneWithNoObjectsOrANegativeCountVisitsNothing) {
    for (const Text count : {u"0", u"-3"}) {
        PluginHarness h(callObjectScene({}));
        h.host.answerWithText(2, count);  // the answer of SceneGetObjectsNb
        EXPECT_EQ(h.plugin.OnSceneGenericFinishesAfter(1), kTrue);
        EXPECT_THAT(h.callLog(),
                    ElementsAre("Appli.StartSessionFromCallParams(I4& 1)",
                                "Scene.SceneGetObjectsNb(I4& 7)", "Appli.EndSession(I4& 7)"));
    }
}

TEST(EventFailures, AnErrorMidEventEndsTheSessionReleasesAndReportsIt) {
    auto scene = callObjectScene({.children = {201}});
    PluginHarness h(scene);
    h.host.failOperation(host::Operation::ObjectGetChildrenNb, kInjected);
    const auto outcome = guarded([&] { return h.plugin.OnObjectPlaceAfter(1); });
    EXPECT_EQ(outcome.result, kFalse);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), kInjected.code());
    EXPECT_EQ(outcome.error->description(), kInjected.description());
    const auto log = h.callLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Appli.EndSession(I4& 7)");
    EXPECT_EQ(lifecycle(h), kNormalLifecycle);
    EXPECT_EQ(h.host.liveObjects(), 0);
    EXPECT_FALSE(constantes().oAppli || constantes().oScene || constantes().oCatalog);
}

TEST(EventFailures, AFailingEndSessionDuringCleanupDoesNotHideTheOriginalError) {
    PluginHarness h(callObjectScene({}));
    h.host.failOperation(host::Operation::ObjectGetInfo, kInjected);
    h.host.failOperation(host::Operation::EndSession,
                         Error(static_cast<std::int32_t>(0x80049999), u"End failed"));
    const auto outcome = guarded([&] { return h.plugin.OnObjectFinishesAfter(1); });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), kInjected.code());
    EXPECT_EQ(h.callLog().back(), "Appli.EndSession(I4& 7)");
    EXPECT_EQ(h.host.liveObjects(), 0);
}

TEST(EventFailures, AFailingEndSessionOnTheNormalPathFailsTheEvent) {
    PluginHarness h(callObjectScene({.catalog = u"1"}));
    h.host.failOperation(host::Operation::EndSession, kInjected);
    const auto outcome = guarded([&] { return h.plugin.OnObjectPlaceAfter(1); });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), kInjected.code());
    // EndSession is not tried a second time.
    EXPECT_EQ(h.host.calls().size(), 3u);
    EXPECT_EQ(lifecycle(h), kNormalLifecycle);
}

TEST(EventFailures, AHostObjectThatCannotBeCreatedFailsBeforeAnySession) {
    for (const host::HostObjectInfo& object : host::kHostObjects) {
        PluginHarness h(callObjectScene({}));
        h.host.failCreate(object.progIdText, errors::cannotCreateObject());
        const auto outcome = guarded([&] { return h.plugin.OnObjectPlaceAfter(1); });
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code(), errors::kCannotCreateObject);
        EXPECT_TRUE(h.host.calls().empty());
        EXPECT_EQ(h.host.liveObjects(), 0);
    }
}

TEST(EventFailures, AFailedSessionStartIsNotEnded) {
    PluginHarness h(callObjectScene({}));
    h.host.answerWithText(1, u"not a session");
    const auto outcome = guarded([&] { return h.plugin.OnObjectPlaceAfter(1); });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), errors::kTypeMismatch);
    EXPECT_EQ(h.host.calls().size(), 1u);
    EXPECT_EQ(h.host.liveObjects(), 0);
}

TEST(EventFailures, APublicMethodCalledOutsideAnEventFailsCleanly) {
    PluginHarness h(callObjectScene({}));
    const auto outcome = guarded([&] {
        h.plugin.Inicializa();
        return kTrue;
    });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), errors::kObjectNotSet);
}

// --- Routing objects to their rule ---

// The object of the call is an article with the given reference and one glass child of type 1.
struct RouteCase {
    Text reference;
    bool priced;     // a glass part of the cabinet, or the object itself, was priced
    bool childWalk;  // the cabinet's children were visited
};

host::SceneData routeScene(const Text& reference) {
    auto scene = callObjectScene({.reference = reference, .handle = u"99", .children = {201}});
    addObject(scene, 201, {{4, u"FR_1PBVN"}, {49, u"Puerta"}});
    scene.objects[100].infos[85] = u"Grupo 1";
    addObject(scene, 202, {{4, u"FR_2PBVN"}, {49, u"Puerta 2"}});
    addObject(scene, 203, {{4, u"FR_1PRVAMA"}, {49, u"Frente"}});
    addLine(scene, 4, u"_0_", {{3, u"5"}});
    addLine(scene, 4, u"_1_H_90", {{3, u"40"}});
    return scene;
}

TEST(CasoPolvast, RoutesByReference) {
    const RouteCase cases[] = {
        {u"VITRINA", true, true},     {u"VITRINAG", true, true},    {u"VITRINA2", false, true},
        {u"VITRINA3", true, true},    {u"FR_1PRVAMA", true, false}, {u"FR_1PRVAME", true, false},
        {u"FR_1PRVAR7", true, false}, {u"FR_1PRVAYE", true, false}, {u"FR_1PABAMA", true, false},
        {u"FR_1PABAME", true, false}, {u"FR_1PABAR7", true, false}, {u"FR_1PABAYE", true, false},
        {u"vitrina", false, false},   {u"MUEBLE", false, false},    {u"", false, false},
    };
    for (const auto& c : cases) {
        PluginHarness h(routeScene(c.reference));
        EXPECT_EQ(h.plugin.OnObjectPlaceAfter(1), kTrue) << toUtf8(c.reference);
        // The child count is read whatever the reference.
        EXPECT_TRUE(called(h, "Scene.ObjectGetChildrenNb(I4& 7, I2 -2, I2 0)"));
        EXPECT_EQ(called(h, "Scene.ObjectGetChildId(I4& 7, I2 -2, I4& 1, I2 0)"), c.childWalk)
            << toUtf8(c.reference);
        EXPECT_EQ(!h.host.writes().empty(), c.priced) << toUtf8(c.reference);
    }
    // A glass front on its own is priced on itself, with its own choice.
    PluginHarness h(routeScene(u"FR_1PABAYE"));
    EXPECT_EQ(h.plugin.OnObjectFinishesAfter(1), kTrue);
    EXPECT_TRUE(called(h, "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 85)"));
    EXPECT_TRUE(called(h, "Scene.ObjectSetInfo(I4& 7, I2 -2, BSTR \"40\", I4 43)"));
}

TEST(CasoPolvastAG, RoutesCabinetsOnlyAndPassesTheObjectId) {
    const RouteCase cases[] = {
        {u"VITRINA", true, true},      {u"VITRINAG", true, true},     {u"VITRINA3", true, true},
        {u"FR_1PABAYE", false, false}, {u"FR_1PRVAMA", false, false}, {u"MUEBLE", false, false},
    };
    for (const auto& c : cases) {
        PluginHarness h(routeScene(c.reference));
        h.host.scene().objects[201].infos[85] = u"Grupo 1";
        EXPECT_EQ(h.plugin.OnSceneGenericFinishesAfter(1), kTrue) << toUtf8(c.reference);
        EXPECT_TRUE(called(h, "Scene.ObjectGetChildrenNb(I4& 7, I4& 100, I2 0)"));
        EXPECT_EQ(called(h, "Scene.ObjectGetChildId(I4& 7, I4& 100, I4& 1, I2 0)"), c.childWalk)
            << toUtf8(c.reference);
        EXPECT_EQ(!h.host.writes().empty(), c.priced) << toUtf8(c.reference);
    }
}

TEST(CasoPolvastAG, InitialisesTheGivenObjectItself) {
    PluginHarness h(routeScene(u"VITRINAG"));
    EXPECT_EQ(h.plugin.OnSceneGenericFinishesAfter(1), kTrue);
    EXPECT_TRUE(called(h, "Scene.ObjectGetInfo(I4& 7, I4& 100, I4 7)"));
    EXPECT_TRUE(called(h, "Scene.ObjectGetInfo(I4& 7, I4& 100, I4 65)"));
    EXPECT_EQ(h.plugin.fields().sColumna3, u"60");
    EXPECT_FALSE(called(h, "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 7)"));
}

// --- The Gola warning ---

TEST(Gola, APlacedGolaHandledObjectWarnsOnceWithTheExactTexts) {
    for (const Text code : {u"1GL", u"236GL", u"32GL", u"1131GL", u"137GL", u"YEGL"}) {
        PluginHarness h(callObjectScene({.reference = u"MUEBLE", .handle = code}));
        EXPECT_EQ(h.plugin.OnObjectPlaceAfter(1), kTrue);
        ASSERT_EQ(h.messages.shown.size(), 1u) << toUtf8(code);
        EXPECT_EQ(h.messages.shown[0].title, u"¡¡ATENCION!!");
        EXPECT_EQ(h.messages.shown[0].text,
                  u"Tirador Gola no presupuestado.\r\nIntroduzca el tirador correspondiente del "
                  u"capítulo 'Tirador Gola' junto con los accesorios.");
        EXPECT_EQ(h.messages.shown[0].style, 48);
        // The box comes before the session ends.
        EXPECT_EQ(h.callLog().back(), "Appli.EndSession(I4& 7)");
    }
}

TEST(Gola, NoWarningWithoutAGolaCodeReadByThisPlacement) {
    for (const Text handle : {u"7", u"MA", u"magl", u"MAGL ", u"13GLX", u"GL", u"3GL", u""}) {
        PluginHarness h(callObjectScene({.reference = u"MUEBLE", .handle = handle}));
        EXPECT_EQ(h.plugin.OnObjectPlaceAfter(1), kTrue);
        EXPECT_TRUE(h.messages.shown.empty()) << toUtf8(handle);
    }
    {
        PluginHarness h(callObjectScene({.reference = u"MUEBLE", .handle = u"MAGL"}));
        EXPECT_EQ(h.plugin.OnObjectFinishesAfter(1), kTrue);
        EXPECT_EQ(h.plugin.OnSceneGenericFinishesAfter(1), kTrue);
        EXPECT_TRUE(h.messages.shown.empty());
    }
    // After a Gola-handled object, placing one of another catalog, or with no session, on the
    // same instance does not warn about the earlier object's handle.
    auto scene = callObjectScene({.reference = u"MUEBLE", .handle = u"13GL"});
    PluginHarness h(scene);
    EXPECT_EQ(h.plugin.OnObjectPlaceAfter(1), kTrue);
    EXPECT_EQ(h.messages.shown.size(), 1u);
    h.host.scene().objects[100].infos[2] = u"999";
    EXPECT_EQ(h.plugin.OnObjectPlaceAfter(1), kTrue);
    h.host.scene().sessionId = 0;
    EXPECT_EQ(h.plugin.OnObjectPlaceAfter(1), kTrue);
    EXPECT_EQ(h.messages.shown.size(), 1u);
}

TEST(Gola, AFailingRuleEndsThePlacementBeforeTheCheck) {
    auto scene = callObjectScene({.handle = u"MAGL", .children = {201}});
    PluginHarness h(scene);
    h.host.failOperation(host::Operation::ObjectGetChildId, kInjected);
    EXPECT_FALSE(guarded([&] { return h.plugin.OnObjectPlaceAfter(1); }).ok());
    EXPECT_TRUE(h.messages.shown.empty());
}

}  // namespace
}  // namespace vpolv::testing
