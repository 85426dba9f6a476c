// The diagnosis trace: when support switches it on, every event appends one JSON line with what
// it read and did (every host call with its arguments and answer, the boxes shown, the result),
// so that a wrong price can be looked at and the event replayed in the simulator.
// docs/trace-format.md describes the record.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalog/context.h"
#include "common/error.h"
#include "host/call.h"
#include "host/host.h"
#include "platform/platform.h"

namespace vpolv {

// Passes an event's host objects, calls and warning boxes through unchanged, recording each call
// with its answer or its error, and each box.
class TraceRecorder final : public host::Connector, public platform::Dialogs {
  public:
    static constexpr int kFormat = 1;

    TraceRecorder(host::Connector& host, platform::Dialogs& messages);
    ~TraceRecorder() override;

    std::unique_ptr<host::Appli> createAppli() override;
    std::unique_ptr<host::Scene> createScene() override;
    std::unique_ptr<host::Catalog> createCatalog() override;
    void show(const Text& text, const Text& title, Long style) override;

    // What the event was, and how it ended.
    struct Event {
        const char* name;  // "place", "finishes", "scene"
        Long callParams;
        const Context& ctx;
        bool result;
        const Error* error;  // when it failed
    };
    // The event's record: one JSON line, the line feed included.
    std::string record(const Event& event) const;

    // Records the call with the arguments args() gives, runs it and records its answer or its
    // error.
    template <class Args, class Run>
    auto pass(const char* object, const char* operation, Args&& args, Run&& run) -> decltype(run());

    // The record is the trace's own: when memory runs out while it is kept, it is given up (and
    // not written) and the event goes on as it would untraced.
    bool lost() const { return lost_; }

  private:
    template <class T>
    T created(const char* object, std::u16string_view progId, T (host::Connector::*create)());
    // The host's object, its calls passed through this recorder; the object itself once the
    // record is given up.
    template <class Traced, class T>
    std::unique_ptr<T> wrap(std::unique_ptr<T> inner);
    // Runs keeping, which adds to the record; gives the record up when that fails.
    template <class Keeping>
    void keep(Keeping&& keeping) noexcept;

    host::Connector& host_;
    platform::Dialogs& messages_;
    std::vector<host::Call> calls_;
    struct Box {
        Text text;
        Text title;
        Long style;
    };
    std::vector<Box> boxes_;
    bool lost_ = false;
};

template <class Keeping>
void TraceRecorder::keep(Keeping&& keeping) noexcept {
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

template <class Args, class Run>
auto TraceRecorder::pass(const char* object, const char* operation, Args&& args, Run&& run)
    -> decltype(run()) {
    std::size_t at = 0;
    keep([&] {
        calls_.push_back({object, operation, args(), {}});
        at = calls_.size();
    });
    try {
        if constexpr (std::is_void_v<decltype(run())>) {
            run();
        } else {
            auto value = run();
            // A created object answers nothing worth keeping.
            if constexpr (requires { host::answerOf(value); })
                keep([&] { calls_[at - 1].answer = host::answerOf(value); });
            return value;
        }
    } catch (const Error& e) {
        keep([&] { calls_[at - 1].answer.error = e; });
        throw;
    }
}

// Runs an event with the trace that services.trace switches on, if any: the event's calls,
// writes, result and error are exactly those of a run without it, whether the trace can be
// written or not.
template <class Run>
Boolean traced(const platform::Services& services, host::Connector& host, const char* name,
               Long callParams, const Context& ctx, Run&& run);

// Appends the record to the trace file; any failure to do so is ignored.
void writeTrace(const platform::Trace& trace, const Text& file, const TraceRecorder& recorder,
                const TraceRecorder::Event& event) noexcept;

template <class Run>
Boolean traced(const platform::Services& services, host::Connector& host, const char* name,
               Long callParams, const Context& ctx, Run&& run) {
    Text file;
    try {
        if (services.trace)
            file = services.trace->file();
    } catch (...) {
        // A switch that cannot be read is off.
    }
    if (file.empty())
        return run(host, services.messages);
    TraceRecorder recorder(host, services.messages);
    Boolean result = kFalse;
    try {
        result = run(recorder, recorder);
    } catch (...) {
        const Error error = currentError();
        writeTrace(*services.trace, file, recorder, {name, callParams, ctx, false, &error});
        throw;
    }
    writeTrace(*services.trace, file, recorder, {name, callParams, ctx, result != kFalse, nullptr});
    return result;
}

}  // namespace vpolv
