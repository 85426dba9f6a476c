// The trace's host objects: each call recorded on its way through.
#include "trace/recorder.h"

#include "host/recorded.h"

namespace vpolv::trace {

Recorder::Recorder(host::Connector& host, platform::Dialogs& messages)
    : host_(host), messages_(messages) {}

Recorder::~Recorder() = default;

template <class Object>
std::unique_ptr<Object> Recorder::created() {
    std::unique_ptr<Object> inner =
        perform<std::unique_ptr<Object>>([&] { return host::creationCall(host::kindOf<Object>); },
                                         [&] { return host::created<Object>(host_); });
    std::unique_ptr<Object> recorded;
    // The object is moved only once the recording object's memory is there.
    keep([&] { recorded = host::recorded<Object>(*this, std::move(inner)); });
    return recorded ? std::move(recorded) : std::move(inner);
}

#define VPOLV_HOST_OBJECT(kind, progId)                    \
    std::unique_ptr<host::kind> Recorder::create##kind() { \
        return created<host::kind>();                      \
    }
#include "host/objects.def"

void Recorder::show(const Text& text, const Text& title, Long style) {
    keep([&] { boxes_.push_back({title, text, style}); });
    messages_.show(text, title, style);
}

}  // namespace vpolv::trace
