// Events that start while another one is running on the same thread: from inside the warning
// box, or from inside a host call, on the same instance or on another one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "catalog/constantes.h"
#include "common/text.h"
#include "support/fake_platform.h"

namespace vpolv::testing {
namespace {

using ::testing::ElementsAre;

constexpr Long kOuterBlock = 5, kOuterSession = 7, kOuterCabinet = 100, kOuterGlass = 101;
constexpr Long kInnerBlock = 6, kInnerSession = 8, kInnerCabinet = 200, kInnerGlass = 201;

// Two type-1 cabinets, each with one glass part and a table-3 line of its own, so that each
// one's glass is priced from different table-4 lines: the outer one (Gola handle, its choice
// in its own infos 85 and 86) at 100 points, the inner one (handle group A, the scene's
// rubrics) at 7.
host::SceneData twoCabinets() {
    host::SceneData scene;
    scene.sessions[kOuterBlock] = {kOuterSession, kOuterCabinet};
    scene.sessions[kInnerBlock] = {kInnerSession, kInnerCabinet};
    addObject(
        scene, kOuterCabinet,
        {{2, u"503"}, {7, u"L1"}, {4, u"VITRINA"}, {65, u"MAGL"}, {85, u"Grupo 2"}, {86, u"Claro"}},
        {kOuterGlass});
    addObject(scene, kOuterGlass, {{4, u"FR_1PBVN"}, {49, u"Puerta"}});
    addObject(scene, kInnerCabinet, {{2, u"570"}, {7, u"L2"}, {4, u"VITRINA"}, {65, u"7"}},
              {kInnerGlass});
    addObject(scene, kInnerGlass, {{4, u"FR_1PBVN"}, {49, u"Puerta"}});
    scene.keywords[u"@Rubrique.GénériqueChoixNom(,5)"] = u"Grupo 3";
    scene.keywords[u"@Rubrique.GénériqueChoixNom(,6)"] = u"Mate";
    addLine(scene, 3, u"L1", {{3, u"90"}, {4, u""}, {5, u"H"}});
    addLine(scene, 3, u"L2", {{3, u"60"}, {4, u""}, {5, u"K"}});
    addLine(scene, 4, u"_2_H_90", {{3, u"100"}});
    addLine(scene, 4, u"_3_K_60", {{3, u"7"}});
    return scene;
}

// The session id each operation carried, in order; 0 for the session starts.
std::vector<Long> sessionsOfCalls(const host::MemoryHost& host) {
    std::vector<Long> out;
    for (const auto& call : host.calls())
        out.push_back(call.operation == "StartSessionFromCallParams" ? 0 : call.args[0].number);
    return out;
}

enum class Where { Box, FileLoad, ChildId, Write };

struct Case {
    Where where;
    bool sameInstance;
};

class Nesting : public ::testing::TestWithParam<Case> {};

TEST_P(Nesting, EachEventKeepsItsOwnStateAndSession) {
    const Case c = GetParam();
    PluginHarness h(twoCabinets());
    Plugin other(h.host, h.services);
    Plugin& inner = c.sameInstance ? h.plugin : other;

    Outcome innerOutcome;
    auto fireInner = [&] {
        innerOutcome = guarded([&] { return inner.OnObjectPlaceAfter(kInnerBlock); });
    };
    switch (c.where) {
        case Where::Box:
            h.messages.whileShown = fireInner;
            break;
        case Where::FileLoad:
            h.host.interrupt("FileLoad", fireInner);
            break;
        case Where::ChildId:
            h.host.interrupt("ObjectGetChildId", fireInner);
            break;
        case Where::Write:
            h.host.interrupt("ObjectSetInfo", fireInner);
            break;
    }
    const Outcome outer = guarded([&] { return h.plugin.OnObjectPlaceAfter(kOuterBlock); });

    ASSERT_TRUE(outer.ok()) << toUtf8(outer.error->description());
    ASSERT_TRUE(innerOutcome.ok()) << toUtf8(innerOutcome.error->description());
    EXPECT_EQ(outer.result, kTrue);
    EXPECT_EQ(innerOutcome.result, kTrue);

    // Each cabinet priced from its own lines.
    std::map<Long, Text> points;
    for (const auto& w : h.host.writes()) {
        if (w.code == 43)
            points[w.object] = w.newValue;
    }
    EXPECT_EQ(points, (std::map<Long, Text>{{kOuterGlass, u"100"}, {kInnerGlass, u"7"}}));

    // The inner event's calls, all in its own session, sit inside the outer event's calls, all
    // in the outer session; each session ends once, the inner one first.
    const auto sessions = sessionsOfCalls(h.host);
    const auto log = h.callLog();
    const auto innerStart =
        std::find(log.begin(), log.end(), "Appli.StartSessionFromCallParams(I4& 6)") - log.begin();
    const auto innerEnd =
        std::find(log.begin(), log.end(), "Appli.EndSession(I4& 8)") - log.begin();
    ASSERT_LT(innerEnd, static_cast<std::ptrdiff_t>(log.size()));
    for (std::ptrdiff_t i = 1; i < static_cast<std::ptrdiff_t>(log.size()); ++i) {
        const bool inside = i > innerStart && i <= innerEnd;
        if (i != innerStart) {
            EXPECT_EQ(sessions[i], inside ? kInnerSession : kOuterSession) << log[i];
        }
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), "Appli.EndSession(I4& 7)"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Appli.EndSession(I4& 8)"), 1);
    if (c.where == Where::Box) {
        // After the box only the outer session's end.
        EXPECT_THAT(std::vector(log.begin() + innerEnd + 1, log.end()),
                    ElementsAre("Appli.EndSession(I4& 7)"));
    }
    EXPECT_EQ(h.host.liveObjects(), 0);

    // What the outer event left is what the next event on this thread and instance starts
    // with; the inner event's state went with it.
    EXPECT_EQ(h.plugin.fields().sTirador, u"MAGL");
    EXPECT_EQ(h.plugin.fields().lIncremento, 100);
    EXPECT_EQ(constantes().sGrupo, u"Grupo 2");
    EXPECT_EQ(constantes().sCatalogo, u"polvas10");
    EXPECT_FALSE(constantes().oAppli || constantes().oScene || constantes().oCatalog);
    if (!c.sameInstance) {
        EXPECT_EQ(other.fields().sTirador, u"7");
    }
    EXPECT_EQ(h.messages.shown.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(InsideTheBoxAndHostCalls, Nesting,
                         ::testing::Values(Case{Where::Box, true}, Case{Where::Box, false},
                                           Case{Where::FileLoad, true},
                                           Case{Where::FileLoad, false}, Case{Where::ChildId, true},
                                           Case{Where::ChildId, false}, Case{Where::Write, true},
                                           Case{Where::Write, false}));

TEST(Nesting, AFailingInnerEventLeavesTheOuterOneWhole) {
    PluginHarness h(twoCabinets());
    const Error hostError(static_cast<std::int32_t>(0x80041234), u"Injected", u"KDSDK");
    Outcome inner;
    h.host.interrupt("ObjectGetChildId", [&] {
        h.host.failOperation("ObjectGetChildrenNb", hostError, 2);
        inner = guarded([&] { return h.plugin.OnObjectPlaceAfter(kInnerBlock); });
    });
    const Outcome outer = guarded([&] { return h.plugin.OnObjectPlaceAfter(kOuterBlock); });
    ASSERT_FALSE(inner.ok());
    EXPECT_EQ(inner.error->code(), hostError.code());
    EXPECT_TRUE(outer.ok());
    EXPECT_EQ(h.host.writes().size(), 3u);  // the outer glass alone
    EXPECT_EQ(h.host.liveObjects(), 0);
    EXPECT_EQ(h.plugin.fields().lIncremento, 100);
}

}  // namespace
}  // namespace vpolv::testing
