// Events that start while another one is running on the same thread: from inside the warning
// box, or from inside a host call, on the same instance or on another one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "catalog/constantes.h"
#include "common/text.h"
#include "support/harness.h"
#include "support/nested_events.h"

namespace vpolv::testing {
namespace {

using namespace nested;

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
    const host::Operation operation[] = {host::Operation::FileLoad, host::Operation::FileLoad,
                                         host::Operation::ObjectGetChildId,
                                         host::Operation::ObjectSetInfo};
    if (c.where == Where::Box)
        h.messages.whileShown = fireInner;
    else
        h.host.interrupt(operation[static_cast<int>(c.where)], fireInner);
    const Outcome outer = guarded([&] { return h.plugin.OnObjectPlaceAfter(kOuterBlock); });

    ASSERT_TRUE(outer.ok()) << toUtf8(outer.error->description());
    ASSERT_TRUE(innerOutcome.ok()) << toUtf8(innerOutcome.error->description());
    EXPECT_EQ(outer.result, kTrue);
    EXPECT_EQ(innerOutcome.result, kTrue);
    expectNestedRun(h.host, c.where == Where::Box);

    // What the outer event left is what the next event on this thread and instance starts
    // with; the inner event's own state went with it.
    EXPECT_EQ(h.plugin.fields().sTirador, u"MAGL");
    EXPECT_EQ(h.plugin.fields().lIncremento, 100);
    EXPECT_EQ(constantes().sGrupo, u"Grupo 2");
    EXPECT_EQ(constantes().sCatalogo, u"polvas10");
    EXPECT_FALSE(constantes().oAppli || constantes().oScene || constantes().oCatalog);
    EXPECT_EQ(other.fields().sTirador, c.sameInstance ? u"" : u"7");
    EXPECT_EQ(h.messages.shown.size(), 1u);
}

// "FileLoadSameInstance": where the inner event comes, and on which instance.
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    constexpr const char* kWhere[] = {"Box", "FileLoad", "ChildId", "Write"};
    return std::string(kWhere[static_cast<int>(info.param.where)]) +
           (info.param.sameInstance ? "SameInstance" : "NewInstance");
}

INSTANTIATE_TEST_SUITE_P(InsideTheBoxAndHostCalls, Nesting,
                         ::testing::Values(Case{Where::Box, true}, Case{Where::Box, false},
                                           Case{Where::FileLoad, true},
                                           Case{Where::FileLoad, false}, Case{Where::ChildId, true},
                                           Case{Where::ChildId, false}, Case{Where::Write, true},
                                           Case{Where::Write, false}),
                         caseName);

TEST(Nesting, AFailingInnerEventLeavesTheOuterOneWhole) {
    PluginHarness h(twoCabinets());
    Outcome inner;
    h.host.interrupt(host::Operation::ObjectGetChildId, [&] {
        h.host.failOperation(host::Operation::ObjectGetChildrenNb, kInjected, 2);
        inner = guarded([&] { return h.plugin.OnObjectPlaceAfter(kInnerBlock); });
    });
    const Outcome outer = guarded([&] { return h.plugin.OnObjectPlaceAfter(kOuterBlock); });
    ASSERT_FALSE(inner.ok());
    EXPECT_EQ(inner.error->code(), kInjected.code());
    EXPECT_TRUE(outer.ok());
    EXPECT_EQ(h.host.writes().size(), 3u);  // the outer glass alone
    EXPECT_EQ(h.host.liveObjects(), 0);
    EXPECT_EQ(h.plugin.fields().lIncremento, 100);

    // The interrupted call keeps its own answer, though the inner event's calls were logged
    // after it.
    const auto calls = h.host.calls();
    const auto childId = std::find_if(calls.begin(), calls.end(), [](auto& c) {
        return c.operation == host::Operation::ObjectGetChildId;
    });
    ASSERT_NE(childId, calls.end());
    EXPECT_EQ(childId->answer.value, u"101");
}

}  // namespace
}  // namespace vpolv::testing
