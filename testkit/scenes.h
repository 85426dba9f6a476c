// Scenes for the in-memory host, and what it recorded as text.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "host/memory_host.h"

namespace vpolv::testing {

inline void addObject(host::SceneData& scene, Long id, std::map<Long, Text> infos,
                      std::vector<Long> children = {}) {
    scene.objects[id] = host::SceneObject{std::move(infos), std::move(children)};
}

inline void addLine(host::SceneData& scene, Integer table, Text name,
                    std::map<Integer, Text> columns) {
    scene.tables[table].push_back(host::TableLine{std::move(name), std::move(columns)});
}

// An article of a served catalog as the object of the call, in session 7: its catalog number,
// line name, reference, handle and description ("Cabinet"), and its table-3 line (columns 3,
// 4 "C4" and 5). The children are listed by id only; a test adds those it needs.
struct CallObject {
    Long id = 100;
    Text catalog = u"503";
    Text line = u"L1";
    Text reference = u"VITRINA";
    Text handle = u"7";
    Text column3 = u"90";
    Text column5 = u"H";
    std::vector<Long> children;
};

inline host::SceneData callObjectScene(const CallObject& object) {
    host::SceneData scene;
    scene.sessionId = 7;
    scene.currentObject = object.id;
    scene.sceneObjects = {object.id};
    addObject(scene, object.id,
              {{2, object.catalog},
               {7, object.line},
               {4, object.reference},
               {65, object.handle},
               {49, u"Cabinet"}},
              object.children);
    addLine(scene, 3, object.line, {{3, object.column3}, {4, u"C4"}, {5, object.column5}});
    return scene;
}

// The recorded operations, one a line: "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 2)".
inline std::vector<std::string> callLines(const host::MemoryHost& host) {
    std::vector<std::string> out;
    for (const auto& call : host.calls())
        out.push_back(call.toString());
    return out;
}

// The writes, one a line: "object code value".
inline std::vector<std::string> writeLines(const host::MemoryHost& host) {
    std::vector<std::string> out;
    for (const auto& w : host.writes()) {
        out.push_back(std::to_string(w.object) + " " + std::to_string(w.code) + " " +
                      toUtf8(w.newValue));
    }
    return out;
}

}  // namespace vpolv::testing
