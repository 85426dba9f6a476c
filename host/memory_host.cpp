// The in-memory host: answering the twelve operations from a scene, recording every call.
#include "host/memory_host.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "common/text.h"
#include "host/recorded.h"

namespace vpolv::host {

namespace {

Error hostError(const std::string& what) {
    return Error(kHostError, fromUtf8(what), u"KDSDK");
}

}  // namespace

template <class R, class MakeCall, class Run>
R MemoryHost::perform(MakeCall makeCall, Run run) {
    const std::size_t entry = log_.size();
    try {
        answering_ = record(makeCall());
        if constexpr (std::is_void_v<R>) {
            run();
            keepAnswer(entry, {});
        } else {
            R result = run();
            keepAnswer(entry, answerOf(result));
            return result;
        }
    } catch (const Error& e) {
        Answer failed;
        failed.error = e;
        keepAnswer(entry, std::move(failed));
        throw;
    }
}

// The answers of the three objects; the recording around them is host/recorded.h's.
class MemoryHost::AppliImpl final : public Appli {
  public:
    explicit AppliImpl(MemoryHost& host) : host_(host) {}
    ~AppliImpl() override { host_.released(ObjectKind::Appli); }

    Long StartSessionFromCallParams(Long& callParamsBlock) override {
        const auto& sessions = host_.scene_.sessions;
        const auto it = sessions.find(callParamsBlock);
        return host_.longAnswer(it == sessions.end() ? host_.scene_.sessionId
                                                     : it->second.sessionId);
    }
    bool EndSession(Long&) override { return host_.longAnswer(-1) != 0; }

  private:
    MemoryHost& host_;
};

class MemoryHost::SceneImpl final : public Scene {
  public:
    explicit SceneImpl(MemoryHost& host) : host_(host) {}
    ~SceneImpl() override { host_.released(ObjectKind::Scene); }

    Text ObjectGetInfo(Long& sessionId, ObjectArg object, Long code) override {
        if (auto raw = host_.rawAnswer())
            return *raw;
        const auto& infos = host_.objectFor(sessionId, object).infos;
        const auto it = infos.find(code);
        return it == infos.end() ? Text() : it->second;
    }

    void ObjectSetInfo(Long& sessionId, ObjectArg object, TextArg value, Long code) override {
        const Long id = host_.resolve(sessionId, object);
        auto& infos = host_.objectFor(sessionId, object).infos;
        Write write{id, code, std::nullopt, value.text()};
        if (const auto it = infos.find(code); it != infos.end())
            write.oldValue = it->second;
        infos[code] = value.text();
        host_.writes_.push_back(std::move(write));
    }

    Long SceneGetObjectsNb(Long&) override {
        return host_.longAnswer(static_cast<Long>(host_.scene_.sceneObjects.size()));
    }

    Long SceneGetObjectId(Long&, Long& rank) override {
        if (host_.rawAnswer())
            return host_.longAnswer(0);
        return ranked(host_.scene_.sceneObjects, rank, "No scene object of rank ");
    }

    Long ObjectGetChildrenNb(Long& sessionId, ObjectArg object, Integer) override {
        if (host_.rawAnswer())
            return host_.longAnswer(0);
        return static_cast<Long>(host_.objectFor(sessionId, object).children.size());
    }

    Long ObjectGetChildId(Long& sessionId, ObjectArg object, Long& rank, Integer) override {
        if (host_.rawAnswer())
            return host_.longAnswer(0);
        return ranked(host_.objectFor(sessionId, object).children, rank, "No child of rank ");
    }

    Text SceneGetKeywordInfo(Long&, TextArg keyword) override {
        if (auto raw = host_.rawAnswer())
            return *raw;
        const auto it = host_.scene_.keywords.find(keyword.text());
        return it == host_.scene_.keywords.end() ? Text() : it->second;
    }

  private:
    static Long ranked(const std::vector<Long>& ids, Long rank, const char* none) {
        if (rank < 1 || static_cast<std::size_t>(rank) > ids.size())
            throw hostError(none + std::to_string(rank));
        return ids[rank - 1];
    }

    MemoryHost& host_;
};

class MemoryHost::CatalogImpl final : public Catalog {
  public:
    explicit CatalogImpl(MemoryHost& host) : host_(host) {}
    ~CatalogImpl() override { host_.released(ObjectKind::Catalog); }

    Long TableGetLineRankFromName(Long&, Integer table, Integer, Integer, TextArg lineName,
                                  bool) override {
        if (host_.rawAnswer())
            return host_.longAnswer(0);
        const auto& lines = host_.table(table);
        const auto it = std::find_if(lines.begin(), lines.end(),
                                     [&](const TableLine& l) { return l.name == lineName.text(); });
        // An unknown line name answers rank 0, which names no line.
        return it == lines.end() ? 0 : static_cast<Long>(it - lines.begin()) + 1;
    }

    Text TableGetLineInfo(Long&, Integer table, Integer, Long& rank, Integer column) override {
        if (auto raw = host_.rawAnswer())
            return *raw;
        const auto& lines = host_.table(table);
        // A rank that names no line answers the empty text.
        if (rank < 1 || static_cast<std::size_t>(rank) > lines.size())
            return Text();
        const auto& columns = lines[rank - 1].columns;
        const auto it = columns.find(column);
        return it == columns.end() ? Text() : it->second;
    }

    bool FileLoad(Long&, TextArg file, TextArg catalogCode) override {
        host_.loads_.push_back({file.text(), catalogCode.text()});
        return host_.longAnswer(-1) != 0;
    }

  private:
    MemoryHost& host_;
};

MemoryHost::MemoryHost(SceneData scene, const Locale& locale)
    : scene_(std::move(scene)), locale_(locale) {}

MemoryHost::~MemoryHost() = default;

void MemoryHost::released(ObjectKind object) {
    log_.push_back({object, Operation::Release, {}, {}});
    --live_;
}

template <class Object, class Impl>
std::unique_ptr<Object> MemoryHost::create() {
    log_.push_back(creationCall(kindOf<Object>));
    if (auto it = failCreate_.find(Text(progId(kindOf<Object>))); it != failCreate_.end()) {
        log_.back().answer.error = it->second;
        throw it->second;
    }
    ++live_;
    std::unique_ptr<Object> inner = std::make_unique<Impl>(*this);
    return recorded<Object>(*this, std::move(inner));
}

#define VPOLV_HOST_OBJECT(kind, progId)                \
    std::unique_ptr<kind> MemoryHost::create##kind() { \
        return create<kind, kind##Impl>();             \
    }
#include "host/objects.def"

void MemoryHost::failCall(std::size_t n, Error error) {
    failAt_.insert_or_assign(n, std::move(error));
}

void MemoryHost::failOperation(Operation operation, Error error, std::size_t n) {
    failOperations_.push_back({operation, n, std::move(error)});
}

void MemoryHost::failCreate(std::u16string_view progId, Error error) {
    failCreate_.insert_or_assign(Text(progId), std::move(error));
}

void MemoryHost::answerWithText(std::size_t n, Text raw) {
    rawAnswers_[n] = std::move(raw);
}

void MemoryHost::interrupt(Operation operation, std::function<void()> action, std::size_t n) {
    interruptions_.push_back({operation, n, std::move(action)});
}

std::vector<Call> MemoryHost::calls() const {
    std::vector<Call> out;
    std::copy_if(log_.begin(), log_.end(), std::back_inserter(out),
                 [](const Call& call) { return !call.isLifecycle(); });
    return out;
}

void MemoryHost::clearRecords() {
    log_.clear();
    writes_.clear();
    loads_.clear();
}

std::size_t MemoryHost::record(Call call) {
    const std::size_t n = ++operations_;
    const std::size_t nthOfKind = ++operationCounts_[call.operation];
    const Operation operation = call.operation;
    log_.push_back(std::move(call));
    for (auto& interruption : interruptions_) {
        if (interruption.action && interruption.operation == operation &&
            interruption.n == nthOfKind) {
            // Taken out first: the action may call this host again.
            const auto action = std::exchange(interruption.action, nullptr);
            action();
            break;
        }
    }
    if (const auto it = failAt_.find(n); it != failAt_.end())
        throw it->second;
    for (const auto& failure : failOperations_) {
        if (failure.operation == operation && failure.n == nthOfKind)
            throw failure.error;
    }
    return n;
}

void MemoryHost::keepAnswer(std::size_t entry, Answer answer) {
    // The records may have been cleared while the call ran.
    if (entry < log_.size())
        log_[entry].answer = std::move(answer);
}

std::optional<Text> MemoryHost::rawAnswer() const {
    const auto it = rawAnswers_.find(answering_);
    if (it == rawAnswers_.end())
        return std::nullopt;
    return it->second;
}

Long MemoryHost::longAnswer(Long normal) const {
    if (const auto raw = rawAnswer())
        return locale_.textToLong(*raw);
    return normal;
}

Long MemoryHost::resolve(Long sessionId, ObjectArg object) const {
    if (!object.isCurrent())
        return object.idRef();
    for (const auto& [block, session] : scene_.sessions) {
        if (session.sessionId == sessionId)
            return session.currentObject;
    }
    return scene_.currentObject;
}

SceneObject& MemoryHost::objectFor(Long sessionId, ObjectArg object) {
    const Long id = resolve(sessionId, object);
    const auto it = scene_.objects.find(id);
    if (it == scene_.objects.end())
        throw hostError("No object with id " + std::to_string(id));
    return it->second;
}

const std::vector<TableLine>& MemoryHost::table(Integer number) const {
    static const std::vector<TableLine> kNone;
    const auto it = scene_.tables.find(number);
    return it == scene_.tables.end() ? kNone : it->second;
}

}  // namespace vpolv::host
