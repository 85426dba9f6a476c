// What the simulator records around the in-memory host: the answer of every host call and the
// message boxes the plug-in shows.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "common/error.h"
#include "host/memory_host.h"
#include "platform/platform.h"

namespace vpolv::sim {

// What a host call answered: a value of the operation's result type, nothing, or an error.
struct Answer {
    enum class Kind { None, Text, Long, Boolean };
    Kind kind = Kind::None;
    Text text;
    Long number = 0;
    bool boolean = false;
    std::optional<Error> error;
};

// A Connector that hands out the in-memory host's objects wrapped so that each call's answer is
// kept, keyed by the call's index in MemoryHost::log().
class AnsweringConnector : public host::Connector {
  public:
    explicit AnsweringConnector(host::MemoryHost& host) : host_(host) {}

    std::unique_ptr<host::Appli> createAppli() override;
    std::unique_ptr<host::Scene> createScene() override;
    std::unique_ptr<host::Catalog> createCatalog() override;

    const std::map<std::size_t, Answer>& answers() const { return answers_; }

    // Runs a call on the host and keeps what it answered against the log entry it made.
    template <class F>
    auto answer(F&& call) {
        try {
            if constexpr (std::is_void_v<decltype(call())>) {
                call();
                keep(Answer{});
            } else {
                auto result = call();
                keep(make(result));
                return result;
            }
        } catch (const Error& e) {
            Answer failed;
            failed.error = e;
            keep(std::move(failed));
            throw;
        }
    }

  private:
    static Answer make(const Text& text) { return {Answer::Kind::Text, text, 0, false, {}}; }
    static Answer make(Long number) { return {Answer::Kind::Long, {}, number, false, {}}; }
    static Answer make(bool boolean) { return {Answer::Kind::Boolean, {}, 0, boolean, {}}; }
    template <class T>
    static Answer make(const std::unique_ptr<T>&) {
        return {};
    }
    void keep(Answer answer);

    host::MemoryHost& host_;
    std::map<std::size_t, Answer> answers_;
};

// A message box that keeps what it was asked to show and returns at once.
class RecordingMessageBox : public platform::Dialogs {
  public:
    struct Shown {
        Text title;
        Text text;
        Long style;
    };
    void show(const Text& text, const Text& title, Long style) override {
        shown_.push_back({title, text, style});
    }
    const std::vector<Shown>& shown() const { return shown_; }

  private:
    std::vector<Shown> shown_;
};

}  // namespace vpolv::sim
