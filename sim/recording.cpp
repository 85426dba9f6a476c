#include "sim/recording.h"

#include <utility>

namespace vpolv::sim {

namespace {

using host::ObjectArg;
using host::TextArg;

class AppliAnswers : public host::Appli {
  public:
    AppliAnswers(AnsweringConnector& to, std::unique_ptr<host::Appli> inner)
        : to_(to), inner_(std::move(inner)) {}
    Long StartSessionFromCallParams(Long& callParamsBlock) override {
        return to_.answer([&] { return inner_->StartSessionFromCallParams(callParamsBlock); });
    }
    bool EndSession(Long& sessionId) override {
        return to_.answer([&] { return inner_->EndSession(sessionId); });
    }

  private:
    AnsweringConnector& to_;
    std::unique_ptr<host::Appli> inner_;
};

class SceneAnswers : public host::Scene {
  public:
    SceneAnswers(AnsweringConnector& to, std::unique_ptr<host::Scene> inner)
        : to_(to), inner_(std::move(inner)) {}
    Text ObjectGetInfo(Long& sessionId, ObjectArg object, Long code) override {
        return to_.answer([&] { return inner_->ObjectGetInfo(sessionId, object, code); });
    }
    void ObjectSetInfo(Long& sessionId, ObjectArg object, TextArg value, Long code) override {
        to_.answer([&] { inner_->ObjectSetInfo(sessionId, object, value, code); });
    }
    Long SceneGetObjectsNb(Long& sessionId) override {
        return to_.answer([&] { return inner_->SceneGetObjectsNb(sessionId); });
    }
    Long SceneGetObjectId(Long& sessionId, Long& rank) override {
        return to_.answer([&] { return inner_->SceneGetObjectId(sessionId, rank); });
    }
    Long ObjectGetChildrenNb(Long& sessionId, ObjectArg object, Integer zero) override {
        return to_.answer([&] { return inner_->ObjectGetChildrenNb(sessionId, object, zero); });
    }
    Long ObjectGetChildId(Long& sessionId, ObjectArg object, Long& rank, Integer zero) override {
        return to_.answer([&] { return inner_->ObjectGetChildId(sessionId, object, rank, zero); });
    }
    Text SceneGetKeywordInfo(Long& sessionId, TextArg keyword) override {
        return to_.answer([&] { return inner_->SceneGetKeywordInfo(sessionId, keyword); });
    }

  private:
    AnsweringConnector& to_;
    std::unique_ptr<host::Scene> inner_;
};

class CatalogAnswers : public host::Catalog {
  public:
    CatalogAnswers(AnsweringConnector& to, std::unique_ptr<host::Catalog> inner)
        : to_(to), inner_(std::move(inner)) {}
    Long TableGetLineRankFromName(Long& sessionId, Integer table, Integer zero, Integer one,
                                  TextArg lineName, bool flag) override {
        return to_.answer([&] {
            return inner_->TableGetLineRankFromName(sessionId, table, zero, one, lineName, flag);
        });
    }
    Text TableGetLineInfo(Long& sessionId, Integer table, Integer zero, Long& rank,
                          Integer column) override {
        return to_.answer(
            [&] { return inner_->TableGetLineInfo(sessionId, table, zero, rank, column); });
    }
    bool FileLoad(Long& sessionId, TextArg file, TextArg catalogCode) override {
        return to_.answer([&] { return inner_->FileLoad(sessionId, file, catalogCode); });
    }

  private:
    AnsweringConnector& to_;
    std::unique_ptr<host::Catalog> inner_;
};

}  // namespace

void AnsweringConnector::keep(Answer answer) {
    if (host_.log().empty())
        return;
    answers_[host_.log().size() - 1] = std::move(answer);
}

std::unique_ptr<host::Appli> AnsweringConnector::createAppli() {
    return std::make_unique<AppliAnswers>(*this, answer([&] { return host_.createAppli(); }));
}

std::unique_ptr<host::Scene> AnsweringConnector::createScene() {
    return std::make_unique<SceneAnswers>(*this, answer([&] { return host_.createScene(); }));
}

std::unique_ptr<host::Catalog> AnsweringConnector::createCatalog() {
    return std::make_unique<CatalogAnswers>(*this, answer([&] { return host_.createCatalog(); }));
}

}  // namespace vpolv::sim
