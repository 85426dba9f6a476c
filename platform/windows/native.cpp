// The platform factories for programs and tests that host the core themselves.
#include "platform/native.h"

#include <memory>

#include "platform/windows/windows_platform_impl.h"

namespace vpolv::platform {

namespace {

// The system's file services with another folder standing for the library's own.
class RootedFileSystem : public windows::WindowsFileSystem {
  public:
    explicit RootedFileSystem(Text moduleFolder) : moduleFolder_(std::move(moduleFolder)) {}
    Text moduleFolder() const override { return moduleFolder_; }

  private:
    Text moduleFolder_;
};

}  // namespace

std::unique_ptr<FileSystem> makeFileSystem(Text moduleFolder) {
    if (moduleFolder.empty())
        return std::make_unique<windows::WindowsFileSystem>();
    return std::make_unique<RootedFileSystem>(std::move(moduleFolder));
}

std::unique_ptr<Profile> makeProfile() {
    return std::make_unique<windows::WindowsProfile>();
}

std::unique_ptr<Locale> makeUserLocale() {
    return std::make_unique<windows::WindowsLocale>();
}

}  // namespace vpolv::platform
