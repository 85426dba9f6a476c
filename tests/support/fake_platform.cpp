// Temporary folders, the plug-in harness on the in-memory host, and scene building helpers.
#include "support/fake_platform.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>

#include "catalog/constantes.h"

namespace vpolv::testing {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("vpolv-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::string& relative, const std::string& content) {
    const auto file = path_ / std::filesystem::u8path(relative);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
}

void TempDir::mkdir(const std::string& relative) {
    std::filesystem::create_directories(path_ / std::filesystem::u8path(relative));
}

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
