// The benchmark scenes: cabinets of catalog 503 whose glass parts are priced from table 4.
#include "bench/scenes.h"

#include <stdexcept>

#include "testkit/scenes.h"

namespace vpolv::bench {

namespace {

using testing::addLine;
using testing::addObject;

// Glass parts of a type-1 cabinet, and a part that is not glass.
constexpr const char16_t* kGlass[] = {u"FR_1PBVN",  u"FR_1PHVN",  u"FR_1PRVN",  u"FR_1GVN",
                                      u"FR_1PBVCH", u"FR_1PHVCH", u"FR_1PRVCH", u"FR_1CVCH",
                                      u"FR_1PABVN", u"FR_1PRRVN"};
constexpr const char16_t* kShelf = u"ESTANTE";

// The line every cabinet reads from table 3, and the price lines of table 4: handle "25" is
// of the group whose choice comes from rubrics 5 and 6 ("Grupo 2"), which names "_2_H_90".
void addCatalog(host::SceneData& scene) {
    addLine(scene, 3, u"LINEA_V", {{3, u"90"}, {4, u"60"}, {5, u"H"}});
    addLine(scene, 4, u"_0_H_90", {{3, u"0"}});
    addLine(scene, 4, u"_1_H_90", {{3, u"25"}});
    addLine(scene, 4, u"_2_H_90", {{3, u"40"}});
    scene.keywords[u"@Rubrique.GénériqueChoixNom(,5)"] = u"Grupo 2";
    scene.keywords[u"@Rubrique.GénériqueChoixNom(,6)"] = u"Claro";
}

// A cabinet at id with the given children; after a finishes change it reads its own
// choices 87 and 88.
void addCabinet(host::SceneData& scene, Long id, std::vector<Long> children) {
    addObject(scene, id,
              {{2, u"503"},
               {4, u"VITRINA"},
               {7, u"LINEA_V"},
               {65, u"25"},
               {49, u"Vitrina"},
               {87, u"Grupo 2"},
               {88, u"Claro"}},
              std::move(children));
}

void addPart(host::SceneData& scene, Long id, const char16_t* reference) {
    addObject(scene, id, {{4, reference}, {49, u"Puerta"}});
}

Case objectCase(const std::string& name, Event event) {
    host::SceneData scene;
    scene.sessionId = 7;
    scene.currentObject = 10;
    scene.sceneObjects = {10};
    std::vector<Long> children;
    for (Long i = 0; i < 10; ++i) {
        addPart(scene, 11 + i, kGlass[i]);
        children.push_back(11 + i);
    }
    addCabinet(scene, 10, children);
    addCatalog(scene);
    return {name, event, std::move(scene), 30};
}

Case sceneCase(const std::string& name, Long cabinets) {
    host::SceneData scene;
    scene.sessionId = 7;
    for (Long c = 0; c < cabinets; ++c) {
        const Long id = 1000 + 10 * c;
        addPart(scene, id + 1, kGlass[c % 10]);
        addPart(scene, id + 2, kShelf);
        addPart(scene, id + 3, kGlass[(c + 3) % 10]);
        addPart(scene, id + 4, kGlass[(c + 6) % 10]);
        addCabinet(scene, id, {id + 1, id + 2, id + 3, id + 4});
        scene.sceneObjects.push_back(id);
    }
    addCatalog(scene);
    return {name, Event::Scene, std::move(scene), static_cast<std::size_t>(cabinets) * 9};
}

}  // namespace

std::vector<std::string> caseNames() {
    return {"placement", "finishes", "scene200", "scene2000"};
}

Case makeCase(const std::string& name) {
    if (name == "placement")
        return objectCase(name, Event::Place);
    if (name == "finishes")
        return objectCase(name, Event::Finishes);
    if (name == "scene200")
        return sceneCase(name, 200);
    if (name == "scene2000")
        return sceneCase(name, 2000);
    throw std::invalid_argument("unknown case \"" + name + "\"");
}

}  // namespace vpolv::bench
