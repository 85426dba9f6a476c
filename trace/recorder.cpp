// The trace's host objects: each call recorded on its way through.
#include "trace/recorder.h"

#include "host/recorded.h"

namespace vpolv::trace {

Recorder::Recorder(host::Connector& host, platform::Dialogs& messages)
    : host_(host), messages_(messages) {}

Recorder::~Recorder() = default;

template <class Object>
std::unique_ptr<Object> Recorder::created(const char* object, std::u16string_view progId,
                                          std::unique_ptr<Object> (host::Connector::*create)()) {
    std::unique_ptr<Object> inner = perform<std::unique_ptr<Object>>(
        [&] { return host::creationCall(object, progId); }, [&] { return (host_.*create)(); });
    std::unique_ptr<Object> recorded;
    // The object is moved only once the recording object's memory is there.
    keep([&] { recorded = host::recorded<Object>(*this, std::move(inner)); });
    return recorded ? std::move(recorded) : std::move(inner);
}

std::unique_ptr<host::Appli> Recorder::createAppli() {
    return created("Appli", kAppliProgId, &host::Connector::createAppli);
}

std::unique_ptr<host::Scene> Recorder::createScene() {
    return created("Scene", kSceneProgId, &host::Connector::createScene);
}

std::unique_ptr<host::Catalog> Recorder::createCatalog() {
    return created("Catalog", kCatalogProgId, &host::Connector::createCatalog);
}

void Recorder::show(const Text& text, const Text& title, Long style) {
    keep([&] { boxes_.push_back({title, text, style}); });
    messages_.show(text, title, style);
}

}  // namespace vpolv::trace
