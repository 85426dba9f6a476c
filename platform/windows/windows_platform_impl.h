// The classes behind platform::windows::services(), visible to the tests of this folder.
#pragma once

#include <array>
#include <mutex>
#include <optional>

#include "platform/platform.h"
#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"

namespace vpolv::platform::windows {

class WindowsLocale : public Locale {
  public:
    Long textToLong(const Text& text) const override;
    double textToDouble(const Text& text) const override;
    Text doubleToText(double value) const override;
    NumberSymbols symbols() const override;
};

class WindowsFileSystem : public FileSystem {
  public:
    Text moduleFolder() const override;
    char16_t separator() const override { return u'\\'; }
    bool isSeparator(char16_t c) const override { return c == u'\\' || c == u'/'; }
    std::vector<DirEntry> listDirectory(const Text& directory) const override;
    std::int64_t fileLength(const Text& path) const override;

  private:
    static Text lookUpModuleFolder();
};

class WindowsProfile : public Profile {
  public:
    Text readString(const Text& file, const Text& section, const Text& key) const override;
};

// The trace is switched on as platform/windows/trace_switch.h defines: the trace file's path.
//
// Reading the registry costs more than the rest of the plug-in's own work in an event, so the
// switch is read again only after something changed below either Software key. The system sets
// an event on such a change (RegNotifyChangeKeyValue) before the call that made it returns, and
// also when the thread that asked for the notification ends; each call looks at both events at
// once without waiting, so the first call after a change reads the switch anew. Nothing runs
// outside the calls, so nothing has to be stopped before the library is unloaded. Where the watch
// cannot be set up, the switch is read at every call.
class WindowsTrace : public Trace {
  public:
    Text file() const override;
    bool append(const Text& file, std::string_view record) const noexcept override;

  private:
    // One watched root: its Software key and the event the system sets on a change below it.
    struct Watch {
        win::UniqueKey key;
        win::UniqueHandle signal;
        bool armed = false;
    };
    static bool arm(win::registry::Root root, Watch& watch);
    // The switch; nullopt when it could not be read.
    static std::optional<Text> readSwitch();

    mutable std::mutex mutex_;
    mutable std::array<Watch, 2> watches_;
    mutable Text cached_;
    mutable bool valid_ = false;  // cached_ is the switch and every root is watched
};

class WindowsMessageBox : public Dialogs {
  public:
    void show(const Text& text, const Text& title, Long style) override;
};

}  // namespace vpolv::platform::windows
