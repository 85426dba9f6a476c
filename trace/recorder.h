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

#define VPOLV_HOST_OBJECT(kind, progId) std::unique_ptr<host::kind> create##kind() override;
#include "host/objects.def"
    void show(const Text& text, const Text& title, Long style) override;

    const std::vector<host::Call>& calls() const {
        return calls_;
    }
    const std::vector<Box>& boxes() const {
        return boxes_;
    }
    // The record is the trace's own: when memory runs out while it is kept, it is given up (and
    // not written) and the event goes on as it would untraced.
    bool lost() const {
        return lost_;
    }

    // Keeps the call makeCall() gives, runs it and keeps its answer or its error.
    template <class R, class MakeCall, class Run>
    R perform(MakeCall&& makeCall, Run&& run);

  private:
    // Runs keeping, which adds to the record; gives the record up when that fails.
    template <class Keeping>
    void keep(Keeping&& keeping) noexcept;

    // The host's object, created through the host and recorded.
    template <class Object>
    std::unique_ptr<Object> created();

    host::Connector& host_;
    platform::Dialogs& messages_;
    std::vector<host::Call> calls_;
    std::vector<Box> boxes_;
    bool lost_ = false;
};

template <class Keeping>
void Recorder::keep(Keeping&& keeping) noexcept {
    if (lost_)
        return;
    try {
        keeping();
    } catch (...) {
        lost_ = true;
        calls_.clear();
        boxes_.clear();
    }
}

template <class R, class MakeCall, class Run>
R Recorder::perform(MakeCall&& makeCall, Run&& run) {
    std::size_t at = 0;
    keep([&] {
        calls_.push_back(makeCall());
        at = calls_.size();
    });
    try {
        if constexpr (std::is_void_v<R>) {
            run();
        } else {
            R value = run();
            // A created object answers nothing worth keeping.
            if constexpr (requires { host::answerOf(value); })
                keep([&] { calls_[at - 1].answer = host::answerOf(value); });
            return value;
        }
    } catch (...) {
        // The host's error, or what the call ran into on its way (no memory for an argument,
        // say): the plug-in sees it as this error too.
        keep([&] { calls_[at - 1].answer.error = currentError(); });
        throw;
    }
}

}  // namespace vpolv::trace
