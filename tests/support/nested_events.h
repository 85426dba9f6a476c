// Two cabinets for events that start inside one another, and the checks that each event kept
// its own session and was priced from its own lines. Shared by the core tests and the DLL's.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "host/memory_host.h"
#include "testkit/scenes.h"

namespace vpolv::testing::nested {

// The outer event's call-parameter block, session, cabinet and glass part; then the inner's.
inline constexpr Long kOuterBlock = 5, kOuterSession = 7, kOuterCabinet = 100, kOuterGlass = 101;
inline constexpr Long kInnerBlock = 6, kInnerSession = 8, kInnerCabinet = 200, kInnerGlass = 201;
inline constexpr char kOuterPoints[] = "100";
inline constexpr char kInnerPoints[] = "7";

// Two type-1 cabinets, each with one glass part and a table-3 line of its own, so that each
// one's glass is priced from other table-4 lines: the outer one (Gola handle, its choice in its
// own infos 85 and 86) at 100 points, the inner one (handle group A: the scene's rubrics) at 7.
inline host::SceneData twoCabinets() {
    host::SceneData scene;
    scene.sessions[kOuterBlock] = {kOuterSession, kOuterCabinet};
    scene.sessions[kInnerBlock] = {kInnerSession, kInnerCabinet};
    addObject(
        scene, kOuterCabinet,
        {{2, u"503"}, {7, u"L1"}, {4, u"VITRINA"}, {65, u"MAGL"}, {85, u"Grupo 2"}, {86, u"Claro"}},
        {kOuterGlass});
    addObject(scene, kInnerCabinet, {{2, u"570"}, {7, u"L2"}, {4, u"VITRINA"}, {65, u"7"}},
              {kInnerGlass});
    for (const Long glass : {kOuterGlass, kInnerGlass})
        addObject(scene, glass, {{4, u"FR_1PBVN"}, {49, u"Puerta"}});
    scene.keywords[u"@Rubrique.GénériqueChoixNom(,5)"] = u"Grupo 3";
    scene.keywords[u"@Rubrique.GénériqueChoixNom(,6)"] = u"Mate";
    addLine(scene, 3, u"L1", {{3, u"90"}, {4, u""}, {5, u"H"}});
    addLine(scene, 3, u"L2", {{3, u"60"}, {4, u""}, {5, u"K"}});
    addLine(scene, 4, u"_2_H_90", {{3, u"100"}});
    addLine(scene, 4, u"_3_K_60", {{3, u"7"}});
    return scene;
}

// One inner placement ran inside one outer placement: each cabinet's glass priced from its own
// lines; the inner event's calls, all in its own session, inside the outer event's calls, all
// in the outer session; each session ended once, the inner one first; no host object left.
// When the inner event ran from the warning box, the outer one made no call after it but its
// EndSession.
inline void expectNestedRun(const host::MemoryHost& host, bool fromTheBox) {
    std::map<Long, std::string> points;
    for (const auto& w : host.writes()) {
        if (w.code == 43)
            points[w.object] = toUtf8(w.newValue);
    }
    EXPECT_EQ(points, (std::map<Long, std::string>{{kOuterGlass, kOuterPoints},
                                                   {kInnerGlass, kInnerPoints}}));

    std::vector<std::string> log;
    std::vector<Long> sessions;  // the session each operation carried; 0 for session starts
    for (const auto& call : host.calls()) {
        log.push_back(call.toString());
        sessions.push_back(call.operation == host::Operation::StartSessionFromCallParams
                               ? 0
                               : call.args[0].number);  // every other operation's sessionId
    }
    const auto at = [&](const std::string& call) {
        return std::find(log.begin(), log.end(), call) - log.begin();
    };
    const auto innerStart = at("Appli.StartSessionFromCallParams(I4& 6)");
    const auto innerEnd = at("Appli.EndSession(I4& 8)");
    const auto size = static_cast<std::ptrdiff_t>(log.size());
    ASSERT_LT(innerEnd, size);
    for (std::ptrdiff_t i = 1; i < size; ++i) {
        if (i != innerStart) {
            const bool inside = i > innerStart && i <= innerEnd;
            EXPECT_EQ(sessions[i], inside ? kInnerSession : kOuterSession) << log[i];
        }
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), "Appli.EndSession(I4& 7)"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Appli.EndSession(I4& 8)"), 1);
    if (fromTheBox) {
        EXPECT_EQ(std::vector<std::string>(log.begin() + innerEnd + 1, log.end()),
                  std::vector<std::string>{"Appli.EndSession(I4& 7)"});
    }
    EXPECT_EQ(host.liveObjects(), 0);
}

}  // namespace vpolv::testing::nested
