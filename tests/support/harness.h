// A fixture that runs the plug-in on the in-memory host with the
// platform's own file services.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/fixed_locale.h"
#include "host/memory_host.h"
#include "platform/native.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "standalone/temporary_folder.h"
#include "testkit/doubles.h"
#include "testkit/scenes.h"

namespace vpolv::testing {

using standalone::TemporaryFolder;

Text toText(const std::filesystem::path& path);

// The plug-in on an in-memory host, with the platform's own file services rooted at a temporary
// module folder, a recording message box and a fixed-separator locale.
struct PluginHarness {
    explicit PluginHarness(host::SceneData scene = {}, char16_t decimal = u'.');
    ~PluginHarness();

    // Writes "SPACE.INI" into the module folder.
    void writeSpaceIni(const std::string& content);

    TemporaryFolder module;
    FixedLocale locale;
    std::unique_ptr<platform::FileSystem> files;
    std::unique_ptr<platform::Profile> profile;
    RecordingMessageBox messages;
    platform::Services services;
    host::MemoryHost host;
    Plugin plugin;

    std::vector<std::string> callLog() const { return callLines(host); }
};

// Sets the thread's module state up as an event does before the rules run.
void openSession(PluginHarness& harness, Long sessionId = 1);

// Whether a call with this text was recorded.
bool called(const PluginHarness& harness, const std::string& call);

}  // namespace vpolv::testing
