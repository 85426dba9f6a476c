// An in-memory host: a scene held in memory that answers the SDK's twelve operations, records
// every call with its arguments and their kinds and what it answered, and stores what
// ObjectSetInfo writes.
//
// The simulator runs the plug-in against it, and the tests use it as their host double: it can
// be told to fail a given call or the creation of any of the three automation objects.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/locale.h"
#include "host/call.h"
#include "host/host.h"

namespace vpolv::host {

// A write made through ObjectSetInfo.
struct Write {
    Long object;
    Long code;
    std::optional<Text> oldValue;  // absent when the object had no such information
    Text newValue;
};

// A catalog load request made through FileLoad.
struct FileLoadRecord {
    Text file;
    Text catalogCode;
};

struct SceneObject {
    std::map<Long, Text> infos;  // information code -> text
    std::vector<Long> children;  // child object ids, in rank order
};

struct TableLine {
    Text name;
    std::map<Integer, Text> columns;
};

// A session the host opens for one call-parameter block, and the object its -2 designates.
struct SessionData {
    Long sessionId = 0;
    Long currentObject = 0;
};

struct SceneData {
    Long sessionId = 1;      // what StartSessionFromCallParams answers (0: no session)
    Long currentObject = 0;  // the object that -2 designates
    // Sessions of particular call-parameter blocks, for events that run inside one another;
    // any other block gets sessionId and currentObject.
    std::map<Long, SessionData> sessions;
    std::map<Long, SceneObject> objects;
    std::vector<Long> sceneObjects;  // in rank order
    std::map<Text, Text> keywords;
    std::map<Integer, std::vector<TableLine>> tables;  // table number -> lines in rank order
};

class MemoryHost : public Connector {
  public:
    // The locale converts answers given as raw text (see answerWithText) to numbers.
    MemoryHost(SceneData scene, const Locale& locale);
    ~MemoryHost() override;

#define VPOLV_HOST_OBJECT(kind, progId) std::unique_ptr<kind> create##kind() override;
#include "host/objects.def"

    // --- Fault injection and scripted answers ---
    // The n-th operation (1-based, creation and release not counted) raises error after
    // being recorded.
    void failCall(std::size_t n, Error error);
    // The n-th call of the operation raises error.
    void failOperation(Operation operation, Error error, std::size_t n = 1);
    // Creating the object with this programmatic identifier raises error.
    void failCreate(std::u16string_view progId, Error error);
    // The n-th operation answers this text instead of its normal result; a numeric result is
    // converted from it with the locale (so a non-number gives a type mismatch).
    void answerWithText(std::size_t n, Text raw);
    // Runs action once, inside the n-th call of the operation, after recording it and before
    // answering: the host handling its own messages while the plug-in waits for it.
    void interrupt(Operation operation, std::function<void()> action, std::size_t n = 1);

    // --- What happened ---
    SceneData& scene() {
        return scene_;
    }
    const SceneData& scene() const {
        return scene_;
    }
    // Every operation, creation and release, in the order they started, each with its answer.
    const std::vector<Call>& log() const {
        return log_;
    }
    // The operations alone, in order.
    std::vector<Call> calls() const;
    const std::vector<Write>& writes() const {
        return writes_;
    }
    const std::vector<FileLoadRecord>& loads() const {
        return loads_;
    }
    // Host objects created and not yet released.
    int liveObjects() const {
        return live_;
    }
    void clearRecords();

  private:
    class AppliImpl;
    class SceneImpl;
    class CatalogImpl;
    template <class H, class O>
    friend class RecordedObject;

    // Records a call, applies the configured interruption and failure, then answers with run()
    // and keeps that answer, or the error raised, in the call's entry.
    template <class R, class MakeCall, class Run>
    R perform(MakeCall makeCall, Run run);
    // Records a call and applies the configured failure; returns its 1-based operation number.
    std::size_t record(Call call);
    void keepAnswer(std::size_t entry, Answer answer);
    // The raw answer configured for the operation being answered.
    std::optional<Text> rawAnswer() const;
    // The operation's raw answer as a number, or normal when it has none.
    Long longAnswer(Long normal) const;
    void released(ObjectKind object);
    // The recorded object of this kind, answered by an Impl.
    template <class Object, class Impl>
    std::unique_ptr<Object> create();
    Long resolve(Long sessionId, ObjectArg object) const;
    SceneObject& objectFor(Long sessionId, ObjectArg object);
    const std::vector<TableLine>& table(Integer number) const;

    SceneData scene_;
    const Locale& locale_;
    std::vector<Call> log_;
    std::vector<Write> writes_;
    std::vector<FileLoadRecord> loads_;
    std::size_t operations_ = 0;
    std::size_t answering_ = 0;  // the number of the operation being answered
    std::map<std::size_t, Error> failAt_;
    struct OperationFailure {
        Operation operation;
        std::size_t n;
        Error error;
    };
    std::vector<OperationFailure> failOperations_;
    std::map<Operation, std::size_t> operationCounts_;
    std::map<Text, Error> failCreate_;
    std::map<std::size_t, Text> rawAnswers_;
    struct Interruption {
        Operation operation;
        std::size_t n;
        std::function<void()> action;
    };
    std::vector<Interruption> interruptions_;
    int live_ = 0;
};

// The error the in-memory host raises for a request it cannot answer (an unknown object id,
// a child rank out of range).
inline constexpr std::int32_t kHostError = static_cast<std::int32_t>(0x80040201);

}  // namespace vpolv::host
