// Test doubles for the platform services, and a fixture that runs the plug-in on the in-memory
// host.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/fixed_locale.h"
#include "host/memory_host.h"
#include "platform/native.h"
#include "platform/platform.h"
#include "plugin/plugin.h"

namespace vpolv::testing {

struct ShownBox {
    Text text;
    Text title;
    Long style;
};

class RecordingMessageBox : public platform::Dialogs {
  public:
    void show(const Text& text, const Text& title, Long style) override {
        shown.push_back({text, title, style});
        // What the host does while the box is up, as its message loop runs.
        if (auto action = std::exchange(whileShown, nullptr))
            action();
    }
    std::vector<ShownBox> shown;
    std::function<void()> whileShown;
};

// A temporary folder that is removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    // Writes a file (creating folders on the way) and returns its path.
    std::filesystem::path write(const std::string& relative, const std::string& content);
    void mkdir(const std::string& relative);

  private:
    std::filesystem::path path_;
};

Text toText(const std::filesystem::path& path);

// The plug-in on an in-memory host, with the platform's own file services rooted at a temporary
// module folder, a recording message box and a fixed-separator locale.
struct PluginHarness {
    explicit PluginHarness(host::SceneData scene = {}, char16_t decimal = u'.');
    ~PluginHarness();

    // Writes "SPACE.INI" into the module folder.
    void writeSpaceIni(const std::string& content);

    TempDir module;
    FixedLocale locale;
    std::unique_ptr<platform::FileSystem> files;
    std::unique_ptr<platform::Profile> profile;
    RecordingMessageBox messages;
    platform::Services services;
    host::MemoryHost host;
    Plugin plugin;

    // The recorded operations as text, one a line.
    std::vector<std::string> callLog() const;
};

}  // namespace vpolv::testing

namespace vpolv::testing {

// A catalog object of the call (id 100) with line name "L1", reference and handle, its table-3
// line "L1" (columns 3, 4, 5) and the given children.
struct CabinetSpec {
    Text catalog = u"503";
    Text reference = u"VITRINA";
    Text handle = u"7";
    Text column3 = u"90";
    Text column5 = u"H";
    std::vector<Long> children;
};
host::SceneData cabinetScene(const CabinetSpec& cabinet);

// Adds an object with the given infos.
void addObject(host::SceneData& scene, Long id, std::map<Long, Text> infos,
               std::vector<Long> children = {});
// Adds a table line.
void addLine(host::SceneData& scene, Integer table, Text name, std::map<Integer, Text> columns);

// Sets the thread's module state up as an event does before the rules run.
void openSession(PluginHarness& harness, Long sessionId = 1);

// Whether a call with this text was recorded.
bool called(const PluginHarness& harness, const std::string& call);

}  // namespace vpolv::testing
