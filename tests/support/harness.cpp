// The plug-in harness on the in-memory host.
#include "support/harness.h"

#include <algorithm>

#include "catalog/constantes.h"

namespace vpolv::testing {

Text toText(const std::filesystem::path& path) {
    return path.u16string();
}

PluginHarness::PluginHarness(host::SceneData scene, char16_t decimal)
    : locale(decimal),
      files(platform::makeFileSystem(toText(module.path()))),
      profile(platform::makeProfile()),
      services{locale, *files, *profile, messages},
      host(std::move(scene), locale),
      plugin(host, services) {
    // Every test starts from a fresh thread state.
    releaseThreadConstantes();
}

PluginHarness::~PluginHarness() {
    releaseThreadConstantes();
}

void PluginHarness::writeSpaceIni(const std::string& content) {
    module.write("SPACE.INI", content);
}

void openSession(PluginHarness& harness, Long sessionId) {
    Constantes& m = constantes();
    m.oScene = harness.host.createScene();
    m.oCatalog = harness.host.createCatalog();
    m.lSessionId = sessionId;
}

bool called(const PluginHarness& harness, const std::string& call) {
    const auto log = harness.callLog();
    return std::find(log.begin(), log.end(), call) != log.end();
}

}  // namespace vpolv::testing
