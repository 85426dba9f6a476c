// The simulator's trace: always on, into one file.
#include "platform/native.h"

namespace vpolv::platform {

namespace {

class FileTrace : public Trace {
  public:
    explicit FileTrace(Text file) : file_(std::move(file)) {}
    Text file() const override { return file_; }
    bool append(const Text& file, std::string_view record) const noexcept override {
        return appendTraceRecord(file, record);
    }

  private:
    Text file_;
};

}  // namespace

std::unique_ptr<Trace> makeFileTrace(Text file) {
    return std::make_unique<FileTrace>(std::move(file));
}

}  // namespace vpolv::platform
