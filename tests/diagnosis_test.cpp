// What an event tells the people who support the plug-in: errors that name, in the catalog's
// terms, what is missing, with the codes unchanged; and the trace of every event.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/text.h"
#include "host/recorded.h"
#include "platform/native.h"
#include "support/harness.h"
#include "support/nested_events.h"
#include "trace/record.h"

namespace vpolv::testing {
namespace {

using namespace nested;

// The outer cabinet of twoCabinets() placed after a change to its scene.
Outcome placeAfter(const std::function<void(host::SceneData&)>& change) {
    host::SceneData scene = twoCabinets();
    change(scene);
    PluginHarness h(std::move(scene));
    return guarded([&] { return h.plugin.OnObjectPlaceAfter(kOuterBlock); });
}

host::TableLine& line(host::SceneData& scene, Integer table, const Text& name) {
    for (auto& l : scene.tables[table]) {
        if (l.name == name)
            return l;
    }
    throw std::logic_error("no such line");
}

TEST(Diagnosis, ATypeMismatchSaysWhatDidNotConvert) {
    auto cabinet = [](host::SceneData& s, const Text& reference, const Text& glass) {
        s.objects[kOuterCabinet].infos[4] = reference;
        s.objects[kOuterGlass].infos[4] = glass;
    };
    const struct {
        std::function<void(host::SceneData&)> change;
        const char* description;
    } cases[] = {
        {[](host::SceneData& s) { s.tables[4].clear(); },
         "Type mismatch: catalog table 4 has no line \"_2_H_90\" (rank 0)"},
        {[](host::SceneData& s) { line(s, 4, u"_2_H_90").columns[3] = u"abc"; },
         "Type mismatch: the points \"abc\" of line \"_2_H_90\" in catalog table 4 are not a "
         "number"},
        {[&](host::SceneData& s) {
             cabinet(s, u"VITRINAG", u"FR_1PBVN");
             line(s, 3, u"L1").columns[3] = u"";
         },
         "Type mismatch: column 3 (\"\") of line \"L1\" in catalog table 3 is not a number"},
        {[&](host::SceneData& s) {
             cabinet(s, u"VITRINA2", u"FR_2PBVN");
             line(s, 3, u"L1").columns[3] = u"x";
         },
         "Type mismatch: column 3 (\"x\") of line \"L1\" in catalog table 3 is not a number"},
        {[&](host::SceneData& s) {
             cabinet(s, u"VITRINA3", u"FR_1PBVN");
             s.objects[kOuterCabinet].infos[65] = u"7";  // the scene's rubrics: "Grupo 3"
             line(s, 3, u"L1").columns[5] = u"y";
         },
         "Type mismatch: column 5 (\"y\") of line \"L1\" in catalog table 3 is not a number"},
    };
    for (const auto& c : cases) {
        const Outcome out = placeAfter(c.change);
        ASSERT_FALSE(out.ok()) << c.description;
        EXPECT_EQ(out.error->code(), errors::kTypeMismatch);
        EXPECT_EQ(toUtf8(out.error->description()), c.description);
        EXPECT_EQ(out.error->source(), u"vpolv");
    }
}

// Hosts differ in what they answer for a name they do not know: any rank that is not a line's
// is a missing line, whatever its columns then read.
TEST(Diagnosis, ALineIsMissingWhateverRankTheHostGave) {
    const auto lookup = [] {
        PluginHarness h(twoCabinets());
        h.plugin.OnObjectPlaceAfter(kOuterBlock);
        const auto calls = callLines(h.host);
        const auto at = std::find_if(calls.begin(), calls.end(), [](const std::string& c) {
            return c.starts_with("Catalog.TableGetLineRankFromName(I4& 7, I2 4,");
        });
        return static_cast<std::size_t>(at - calls.begin()) + 1;
    }();
    for (const char16_t* rank : {u"0", u"-1", u"-2147483648"}) {
        for (const char16_t* points : {u"", u"n/d"}) {
            PluginHarness h(twoCabinets());
            h.host.answerWithText(lookup, rank);
            h.host.answerWithText(lookup + 1, points);
            const Outcome out = guarded([&] { return h.plugin.OnObjectPlaceAfter(kOuterBlock); });
            ASSERT_FALSE(out.ok());
            EXPECT_EQ(out.error->code(), errors::kTypeMismatch);
            EXPECT_EQ(out.error->description(),
                      u"Type mismatch: catalog table 4 has no line \"_2_H_90\" (rank " +
                          Text(rank) + u")");
        }
    }
}

TEST(Diagnosis, HostErrorsPassUntouched) {
    host::SceneData scene = twoCabinets();
    PluginHarness h(std::move(scene));
    const Error hostError(static_cast<std::int32_t>(0x80041234), u"No table", u"KDSDK");
    h.host.failOperation(host::Operation::TableGetLineInfo, hostError, 4);  // the points of table 4
    const Outcome out = guarded([&] { return h.plugin.OnObjectPlaceAfter(kOuterBlock); });
    ASSERT_FALSE(out.ok());
    EXPECT_EQ(out.error->code(), hostError.code());
    EXPECT_EQ(out.error->description(), hostError.description());
    EXPECT_EQ(out.error->source(), hostError.source());
}

}  // namespace
}  // namespace vpolv::testing

namespace vpolv::testing {
namespace {

using namespace nested;

struct Traced {
    explicit Traced(host::SceneData scene) : h(std::move(scene)) {}
    void traceInto(const std::filesystem::path& file) {
        trace = platform::makeFileTrace(toText(file));
        h.services.trace = trace.get();
    }
    PluginHarness h;
    std::unique_ptr<platform::Trace> trace;
};

std::vector<std::string> lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

using Fire = Boolean (Plugin::*)(Long);

// The same event, untraced and traced: the same calls, writes and outcome.
TEST(Trace, ChangesNothingTheEventDoes) {
    const struct {
        Fire fire;
        bool fail;
    } cases[] = {{&Plugin::OnObjectPlaceAfter, false},
                 {&Plugin::OnObjectFinishesAfter, false},
                 {&Plugin::OnSceneGenericFinishesAfter, false},
                 {&Plugin::OnObjectPlaceAfter, true}};
    TemporaryFolder folder;
    const auto file = folder.path() / "trace.jsonl";
    for (const auto& c : cases) {
        std::vector<std::string> logs[2];
        std::vector<std::string> outcomes[2];
        for (const bool on : {false, true}) {
            host::SceneData scene = twoCabinets();
            scene.sceneObjects = {kOuterCabinet, kInnerCabinet};
            Traced t(std::move(scene));
            if (c.fail) {
                t.h.host.failOperation(host::Operation::TableGetLineInfo,
                                       Error(static_cast<std::int32_t>(0x80041234), u"x", u"K"));
            }
            if (on)
                t.traceInto(file);
            const Outcome out = guarded([&] { return (t.h.plugin.*c.fire)(kOuterBlock); });
            logs[on] = t.h.callLog();
            outcomes[on] = {std::to_string(out.result),
                            out.error ? out.error->what() : std::string("ok"),
                            std::to_string(t.h.messages.shown.size())};
        }
        EXPECT_EQ(logs[0], logs[1]);
        EXPECT_EQ(outcomes[0], outcomes[1]);
    }
    const auto records = lines(file);
    ASSERT_EQ(records.size(), std::size(cases));
    for (const auto& record : records) {
        const auto json = nlohmann::json::parse(record);
        EXPECT_EQ(json["format"], 1);
    }
    const auto place = nlohmann::json::parse(records[0]);
    EXPECT_EQ(place["event"], "place");
    EXPECT_EQ(place["callParams"], kOuterBlock);
    EXPECT_EQ(place["decimalSeparator"], ".");
    EXPECT_EQ(place["thousandsSeparator"], ",");
    EXPECT_EQ(place["currencySign"], "$");
    EXPECT_EQ(place["catalogFile"], "polvas10");
    EXPECT_EQ(place["result"], true);
    EXPECT_EQ(place["boxes"].size(), 1u);
    EXPECT_EQ(place["calls"][0]["operation"], "CreateObject");
    const auto& last = place["calls"].back();
    EXPECT_EQ(last["operation"], "EndSession");
    EXPECT_EQ(last["args"][0]["kind"], "I4&");
    EXPECT_EQ(last["args"][0]["value"], kOuterSession);
    const auto failed = nlohmann::json::parse(records[3]);
    EXPECT_EQ(failed["result"], false);
    EXPECT_EQ(failed["error"]["code"], "0x80041234");
}

const Text kOdd = {u'P', 0xD800, u'"', u'\n', 0xD83D, 0xDE00};  // lone and paired surrogates

// The record of a placement that reads kOdd as a description, the line feed included.
std::string oddRecord() {
    host::SceneData scene = twoCabinets();
    scene.objects[kOuterGlass].infos[49] = kOdd;
    Traced t(std::move(scene));
    TemporaryFolder folder;
    t.traceInto(folder.path() / "t.jsonl");
    guarded([&] { return t.h.plugin.OnObjectPlaceAfter(kOuterBlock); });
    return lines(folder.path() / "t.jsonl").at(0) + "\n";
}

TEST(Trace, KeepsTextsWhole) {
    const Text& odd = kOdd;
    const auto record = nlohmann::json::parse(oddRecord());
    bool found = false;
    for (const auto& call : record["calls"]) {
        if (call.contains("answer") && call["answer"].is_object()) {
            std::vector<unsigned> units(odd.begin(), odd.end());
            EXPECT_EQ(call["answer"]["utf16"].get<std::vector<unsigned>>(), units);
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

// What the reader makes of a record is what the writer wrote: write, read, write gives the same
// bytes, for a traced event and for a record with every kind of value.
TEST(Trace, ReadsBackEveryByteItWrote) {
    const Text& odd = kOdd;

    using host::Arg;
    trace::Record every;
    every.plugin = "1.01";
    every.time = "2026-12-07T23:59:59Z";
    every.event = Event::Scene;
    every.callParams = -5;
    every.numbers = {u",", u"\u00A0", u"CHF"};
    every.pathSeparator = u"\\";
    every.spaceIni = u"C:\\H\u00F6st\\SPACE.INI";
    every.catalogsDir = odd;
    // Every kind of argument and of answer, each in a call that takes it.
    every.calls = {host::creationCall(host::ObjectKind::Appli),
                   {host::ObjectKind::Catalog,
                    host::Operation::TableGetLineRankFromName,
                    {Arg::i4Ref(2147483647), Arg::i2(-32768), Arg::i2(32767), Arg::i2(1),
                     Arg::str(odd, true), Arg::boolean(false)},
                    host::answerOf(Long{-7})},
                   {host::ObjectKind::Scene,
                    host::Operation::ObjectGetInfo,
                    {Arg::i4Ref(1), Arg::i4Ref(-5), Arg::i4(-2147483647 - 1)},
                    host::answerOf(odd)},
                   {host::ObjectKind::Appli,
                    host::Operation::EndSession,
                    {Arg::i4Ref(1)},
                    host::answerOf(true)},
                   {host::ObjectKind::Scene,
                    host::Operation::ObjectSetInfo,
                    {Arg::i4Ref(1), Arg::i2(-2), Arg::str(u"", false), Arg::i4(49)},
                    {}}};
    every.calls[4].answer.error = Error(static_cast<std::int32_t>(0x8000FFFF), odd, u"");
    every.boxes = {{odd, u"\u00A1T\u00EDtulo!", 48}};
    every.error = Error(1, u"\t", odd);

    for (const std::string& written : {oddRecord(), trace::recordLine(every)}) {
        const auto read = trace::readTrace(written);
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].line, 1u);
        EXPECT_EQ(trace::recordLine(read[0]), written);
    }
}

// A record the plug-in could not have written is refused with the line and the call named,
// before anything uses it: its readers take arguments by position, and walk values recursively.
TEST(Trace, ADamagedRecordIsRefusedNamingTheCall) {
    using Json = nlohmann::ordered_json;
    trace::Record record;
    record.event = Event::Place;
    record.pathSeparator = u"\\";
    using host::Arg;
    record.calls = {host::creationCall(host::ObjectKind::Appli),
                    {host::ObjectKind::Appli,
                     host::Operation::StartSessionFromCallParams,
                     {Arg::i4Ref(5)},
                     host::answerOf(Long{7})},
                    {host::ObjectKind::Scene,
                     host::Operation::ObjectGetInfo,
                     {Arg::i4Ref(7), Arg::i2(-2), Arg::i4(2)},
                     host::answerOf(Text(u"503"))},
                    {host::ObjectKind::Scene,
                     host::Operation::ObjectSetInfo,
                     {Arg::i4Ref(7), Arg::i2(-2), Arg::str(u"25", false), Arg::i4(43)},
                     {}}};
    const std::string line = trace::recordLine(record);
    const std::string deep(100000, '[');
    // The record's line with a change made to its JSON.
    const auto changed = [&](const std::function<void(Json&)>& change) {
        Json json = Json::parse(line);
        change(json);
        return json.dump();
    };
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string out = line;
        return out.replace(out.find(from), from.size(), to);
    };
    const struct {
        const char* what;
        std::string line;
        const char* message;
    } cases[] = {
        {"arguments removed", changed([](Json& j) { j["calls"][2]["args"] = Json::array(); }),
         "calls[2] (Scene.ObjectGetInfo): expected 3 arguments (I4&, I2 or I4&, I4), found 0"},
        {"arguments cut to one", changed([](Json& j) {
             Json& args = j["calls"][2]["args"];
             args = Json::array({args[0]});
         }),
         "calls[2] (Scene.ObjectGetInfo): expected 3 arguments (I4&, I2 or I4&, I4), found 1"},
        {"thousands of arguments",
         changed([](Json& j) { j["calls"][3]["args"] = Json(5000, j["calls"][3]["args"][0]); }),
         "calls[3] (Scene.ObjectSetInfo): expected 4 arguments (I4&, I2 or I4&, BSTR or BSTR&, "
         "I4), found 5000"},
        {"an argument of the wrong kind", changed([](Json& j) {
             j["calls"][2]["args"][1] = {{"kind", "BSTR"}, {"value", "x"}};
         }),
         "calls[2] (Scene.ObjectGetInfo): args[1]: expected I2 or I4&, found BSTR"},
        {"an I2 out of range", changed([](Json& j) { j["calls"][2]["args"][1]["value"] = 70000; }),
         "calls[2] (Scene.ObjectGetInfo): args[1]: I2 70000 is out of the 16-bit range"},
        {"a creation without its text", changed([](Json& j) { j["calls"][0]["args"].clear(); }),
         "calls[0] (Appli.CreateObject): expected 1 argument (BSTR), found 0"},
        {"an unknown operation",
         changed([](Json& j) { j["calls"][2]["operation"] = "ObjectGetColour"; }),
         "calls[2] (Scene.ObjectGetColour): unknown operation"},
        {"an operation of another object",
         changed([](Json& j) { j["calls"][2]["object"] = "Catalog"; }),
         "calls[2] (Catalog.ObjectGetInfo): ObjectGetInfo is an operation of Scene, not of "
         "Catalog"},
        {"a text where the answer is a number",
         changed([](Json& j) { j["calls"][1]["answer"] = "7"; }),
         "calls[1] (Appli.StartSessionFromCallParams): answer: expected a number, found a text"},
        {"an answer where there is none", changed([](Json& j) { j["calls"][3]["answer"] = 1; }),
         "calls[3] (Scene.ObjectSetInfo): answer: expected none (the call answers nothing), "
         "found a number"},
        {"no calls", changed([](Json& j) { j["calls"] = Json::array(); }), "calls: none"},
        {"deep nesting in the format", replaced("\"format\":1", "\"format\":" + deep),
         "format: nested deeper than 64 levels"},
        {"deep nesting in an argument", replaced("\"value\":2}", "\"value\":" + deep + "}"),
         "calls[2]: nested deeper than 64 levels"},
        {"a line cut in a call", line.substr(0, line.find("\"answer\":\"503\"")),
         "calls[2]: invalid JSON at byte"},
    };
    for (const auto& c : cases) {
        // After a good record, so that the line is the second.
        try {
            trace::readTrace(line + c.line + "\n");
            ADD_FAILURE() << c.what << ": read";
        } catch (const trace::BadTrace& bad) {
            EXPECT_EQ(bad.line, 2u) << c.what;
            EXPECT_EQ(bad.what.rfind(std::string("not a trace record: ") + c.message, 0), 0u)
                << c.what << ": " << bad.what;
        }
    }
}

TEST(Trace, ATraceThatCannotBeWrittenIsSkipped) {
    TemporaryFolder folder;
    folder.mkdir("a-folder");
    for (const auto& file : {folder.path() / "missing" / "t.jsonl", folder.path() / "a-folder"}) {
        Traced t(twoCabinets());
        t.traceInto(file);
        const Outcome out = guarded([&] { return t.h.plugin.OnObjectPlaceAfter(kOuterBlock); });
        EXPECT_TRUE(out.ok());
        EXPECT_EQ(t.h.host.writes().size(), 3u);
        EXPECT_FALSE(platform::appendTraceRecord(toText(file), "{}\n"));
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "missing"));
}

TEST(Trace, AFullFileMakesWayForANewOne) {
    TemporaryFolder folder;
    const auto file = folder.path() / "t.jsonl";
    std::ofstream(file) << "old\n";
    std::filesystem::resize_file(file, platform::Trace::kMaxBytes);
    Traced t(twoCabinets());
    t.traceInto(file);
    guarded([&] { return t.h.plugin.OnObjectPlaceAfter(kOuterBlock); });
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "t.jsonl.1"),
              static_cast<std::uintmax_t>(platform::Trace::kMaxBytes));
    EXPECT_EQ(lines(file).size(), 1u);
}

TEST(Trace, WritersOfSeveralThreadsNeverMixTheirLines) {
    TemporaryFolder folder;
    const auto file = folder.path() / "t.jsonl";
    constexpr int kEvents = 40;
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&] {
            Traced t(twoCabinets());
            t.traceInto(file);
            for (int k = 0; k < kEvents; ++k)
                guarded([&] { return t.h.plugin.OnObjectPlaceAfter(kOuterBlock); });
        });
    }
    for (auto& thread : threads)
        thread.join();
    const auto records = lines(file);
    ASSERT_EQ(records.size(), 2u * kEvents);
    for (const auto& record : records)
        EXPECT_TRUE(nlohmann::json::accept(record)) << record;
}

}  // namespace
}  // namespace vpolv::testing
