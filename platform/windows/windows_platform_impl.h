// The classes behind platform::windows::services(), visible to the tests of this folder.
#pragma once

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace vpolv::platform::windows {

class WindowsLocale : public Locale {
  public:
    Long textToLong(const Text& text) const override;
    double textToDouble(const Text& text) const override;
    Text doubleToText(double value) const override;
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

// The trace is switched on by the REG_SZ value TraceFile under HKEY_CURRENT_USER\Software\vpolv,
// or, when that value is absent, under HKEY_LOCAL_MACHINE\Software\vpolv: the trace file's path.
class WindowsTrace : public Trace {
  public:
    Text file() const override;
    bool append(const Text& file, std::string_view record) const noexcept override;
};

class WindowsMessageBox : public Dialogs {
  public:
    void show(const Text& text, const Text& title, Long style) override;
};

}  // namespace vpolv::platform::windows
