// The trace's view of an event: the event's host objects, calls and warning boxes pass through
// unchanged, and each call is kept with its answer or its error, each box with its text.
#pragma once

#include <memory>
#include <type_traits>
#include <vector>

#include "common/error.h"
#include "host/call.h"
#include "host/host.h"
#include "platform/platform.h"
#include "trace/record.h"

namespace vpolv::trace {

class Recorder final : public host::Connector, public platform::Dialogs {
  public:
    Recorder(host::Connector& host, platform::Dialogs& messages);
    ~Recorder() override;

    std::unique_ptr<host::Appli> createAppli() override;
    std::unique_ptr<host::Scene> createScene() override;
    std::unique_ptr<host::Catalog> createCatalog() override;
    void show(const Text& text, const Text& title, Long style) override;

    const std::vector<host::Call>& calls() const { return calls_; }
    const std::vector<Box>& boxes() const { return boxes_; }

    // Keeps the call, runs it and keeps its answer or its error.
    template <class R, class Run>
    R perform(host::Call call, Run&& run);

  private:
    template <class Object>
    std::unique_ptr<Object> created(const char* object, std::u16string_view progId,
                                    std::unique_ptr<Object> (host::Connector::*create)());

    host::Connector& host_;
    platform::Dialogs& messages_;
    std::vector<host::Call> calls_;
    std::vector<Box> boxes_;
};

template <class R, class Run>
R Recorder::perform(host::Call call, Run&& run) {
    calls_.push_back(std::move(call));
    const std::size_t at = calls_.size() - 1;
    try {
        if constexpr (std::is_void_v<R>) {
            run();
        } else {
            R value = run();
            // A created object answers nothing worth keeping.
            if constexpr (requires { host::answerOf(value); })
                calls_[at].answer = host::answerOf(value);
            return value;
        }
    } catch (const Error& e) {
        calls_[at].answer.error = e;
        throw;
    }
}

}  // namespace vpolv::trace
