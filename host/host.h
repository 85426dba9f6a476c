// The host application's automation SDK, seen from the plug-in.
//
// Three automation objects ("KDSDK.Appli", "KDSDK.Scene", "KDSDK.Catalog") offer the twelve
// operations below. Every argument keeps the kind the host expects, so that a binding can pass
// exactly the right automation types:
//   - the session id and object ids are 32-bit values passed by reference (Long&);
//   - the object of the current call is -2 as a 16-bit value (ObjectArg::current());
//   - table numbers, columns and the 0/1 flags are 16-bit values (Integer);
//   - information codes are 32-bit values by value (Long);
//   - texts go by value or by reference (TextArg), and the last argument of
//     TableGetLineRankFromName is the Boolean False.
// Results arrive already converted (to Long, Text or bool); a failed call or a result that does
// not convert raises vpolv::Error.
#pragma once

#include <memory>
#include <string_view>

#include "common/types.h"

namespace vpolv::host {

// The object argument of a host call.
class ObjectArg {
  public:
    // -2 as a 16-bit integer: the object that the current host call concerns.
    static constexpr Integer kCurrentObject = -2;
    static ObjectArg current() { return ObjectArg(nullptr); }
    // An object id held in a 32-bit variable, passed by reference.
    static ObjectArg id(Long& objectId) { return ObjectArg(&objectId); }

    bool isCurrent() const { return id_ == nullptr; }
    // The referenced id variable; only for !isCurrent().
    Long& idRef() const { return *id_; }

  private:
    explicit ObjectArg(Long* id) : id_(id) {}
    Long* id_;
};

// A text argument, by value or by reference.
class TextArg {
  public:
    static TextArg byValue(const Text& text) { return TextArg(const_cast<Text*>(&text), false); }
    static TextArg byRef(Text& text) { return TextArg(&text, true); }

    bool isByRef() const { return byRef_; }
    const Text& text() const { return *text_; }
    // The caller's variable; a binding may write back what the host left in a by-reference text.
    Text& ref() const { return *text_; }

  private:
    TextArg(Text* text, bool byRef) : text_(text), byRef_(byRef) {}
    Text* text_;
    bool byRef_;
};

// "KDSDK.Appli"
class Appli {
  public:
    virtual ~Appli() = default;
    // The call-parameter block goes by reference; there is no session id before it.
    virtual Long StartSessionFromCallParams(Long& callParamsBlock) = 0;
    virtual bool EndSession(Long& sessionId) = 0;
};

// "KDSDK.Scene"
class Scene {
  public:
    virtual ~Scene() = default;
    virtual Text ObjectGetInfo(Long& sessionId, ObjectArg object, Long code) = 0;
    virtual void ObjectSetInfo(Long& sessionId, ObjectArg object, TextArg value, Long code) = 0;
    virtual Long SceneGetObjectsNb(Long& sessionId) = 0;
    virtual Long SceneGetObjectId(Long& sessionId, Long& rank) = 0;
    virtual Long ObjectGetChildrenNb(Long& sessionId, ObjectArg object, Integer zero) = 0;
    virtual Long ObjectGetChildId(Long& sessionId, ObjectArg object, Long& rank, Integer zero) = 0;
    virtual Text SceneGetKeywordInfo(Long& sessionId, TextArg keyword) = 0;
};

// "KDSDK.Catalog"
class Catalog {
  public:
    virtual ~Catalog() = default;
    virtual Long TableGetLineRankFromName(Long& sessionId, Integer table, Integer zero, Integer one,
                                          TextArg lineName, bool flag) = 0;
    virtual Text TableGetLineInfo(Long& sessionId, Integer table, Integer zero, Long& rank,
                                  Integer column) = 0;
    virtual bool FileLoad(Long& sessionId, TextArg file, TextArg catalogCode) = 0;
};

// Creates the host's automation objects by programmatic identifier.
class Connector {
  public:
    virtual ~Connector() = default;
    static constexpr std::u16string_view kAppliProgId = u"KDSDK.Appli";
    static constexpr std::u16string_view kSceneProgId = u"KDSDK.Scene";
    static constexpr std::u16string_view kCatalogProgId = u"KDSDK.Catalog";

    virtual std::unique_ptr<Appli> createAppli() = 0;
    virtual std::unique_ptr<Scene> createScene() = 0;
    virtual std::unique_ptr<Catalog> createCatalog() = 0;
};

}  // namespace vpolv::host
