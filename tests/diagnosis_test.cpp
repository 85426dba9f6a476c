// What a failed event tells the people who support the plug-in: errors that name, in the
// catalog's terms, what is missing, with the codes unchanged.
#include <gtest/gtest.h>

#include <functional>

#include "common/text.h"
#include "support/fake_platform.h"
#include "support/nested_events.h"

namespace vpolv::testing {
namespace {

using namespace nested;

// The outer cabinet of twoCabinets() placed after a change to its scene.
Outcome placeAfter(const std::function<void(host::SceneData&)>& change) {
    host::SceneData scene = twoCabinets();
    change(scene);
    PluginHarness h(std::move(scene));
    return guarded([&] { return h.plugin.OnObjectPlaceAfter(kOuterBlock); });
}

host::TableLine& line(host::SceneData& scene, Integer table, const Text& name) {
    for (auto& l : scene.tables[table]) {
        if (l.name == name)
            return l;
    }
    throw std::logic_error("no such line");
}

TEST(Diagnosis, ATypeMismatchSaysWhatDidNotConvert) {
    auto cabinet = [](host::SceneData& s, const Text& reference, const Text& glass) {
        s.objects[kOuterCabinet].infos[4] = reference;
        s.objects[kOuterGlass].infos[4] = glass;
    };
    const struct {
        std::function<void(host::SceneData&)> change;
        const char* description;
    } cases[] = {
        {[](host::SceneData& s) { s.tables[4].clear(); },
         "Type mismatch: catalog table 4 has no line \"_2_H_90\""},
        {[](host::SceneData& s) { line(s, 4, u"_2_H_90").columns[3] = u"abc"; },
         "Type mismatch: the points \"abc\" of line \"_2_H_90\" in catalog table 4 are not a "
         "number"},
        {[&](host::SceneData& s) {
             cabinet(s, u"VITRINAG", u"FR_1PBVN");
             line(s, 3, u"L1").columns[3] = u"";
         },
         "Type mismatch: column 3 (\"\") of line \"L1\" in catalog table 3 is not a number"},
        {[&](host::SceneData& s) {
             cabinet(s, u"VITRINA2", u"FR_2PBVN");
             line(s, 3, u"L1").columns[3] = u"x";
         },
         "Type mismatch: column 3 (\"x\") of line \"L1\" in catalog table 3 is not a number"},
        {[&](host::SceneData& s) {
             cabinet(s, u"VITRINA3", u"FR_1PBVN");
             s.objects[kOuterCabinet].infos[65] = u"7";  // the scene's rubrics: "Grupo 3"
             line(s, 3, u"L1").columns[5] = u"y";
         },
         "Type mismatch: column 5 (\"y\") of line \"L1\" in catalog table 3 is not a number"},
    };
    for (const auto& c : cases) {
        const Outcome out = placeAfter(c.change);
        ASSERT_FALSE(out.ok()) << c.description;
        EXPECT_EQ(out.error->code(), errors::kTypeMismatch);
        EXPECT_EQ(toUtf8(out.error->description()), c.description);
        EXPECT_EQ(out.error->source(), u"vpolv");
    }
}

TEST(Diagnosis, HostErrorsPassUntouched) {
    host::SceneData scene = twoCabinets();
    PluginHarness h(std::move(scene));
    const Error hostError(static_cast<std::int32_t>(0x80041234), u"No table", u"KDSDK");
    h.host.failOperation("TableGetLineInfo", hostError, 4);  // the points of table 4
    const Outcome out = guarded([&] { return h.plugin.OnObjectPlaceAfter(kOuterBlock); });
    ASSERT_FALSE(out.ok());
    EXPECT_EQ(out.error->code(), hostError.code());
    EXPECT_EQ(out.error->description(), hostError.description());
    EXPECT_EQ(out.error->source(), hostError.source());
}

}  // namespace
}  // namespace vpolv::testing
