// Scene files: what loads, what is refused with which message, and what --out writes back.
#include "sim/formats/scene_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/engine/event.h"

namespace vpolv::sim {
namespace {

namespace fs = std::filesystem;

// A scratch tree: <root>/scenes/ for scene files, <root>/catalogs/ for the catalogs folder.
class SceneFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("vpolv_scene_test_" + std::to_string(getpid()));
        fs::create_directories(root_ / "scenes");
        fs::create_directories(root_ / "catalogs");
        fs::create_directories(root_ / "elsewhere" / "deeper");
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path scene(const char* name) const { return root_ / "scenes" / name; }

    fs::path root_;
};

constexpr const char* kScene = R"json({
  "session": 9,
  "callObject": 10,
  "decimalSeparator": ",",
  "catalogsFolder": "../catalogs",
  "keywords": {"@Rubrique.GénériqueChoixNom(,3)" : "Grupo 1"
}
,
  "objects": [
    {"id": 10, "note": "cabinet", "infos": {"2": "503", "49": "Vitrina\r\n#x#"}, "children": [12, 11]},
    {"id": 12, "infos": {"4": "FR_1PBVN"}},
    {"id": 11, "infos": {"-1": "odd code"}}
  ],
  "sceneObjects": [10],
  "tables": {
    "4" : {"_2_" : {"3" : "2"}, "_1_" : {"3" : "1"}}, "3" : {
        "L" : {
            "3" : "90", "4" : "0", "5" : "60"
        }
    }
}
})json";

TEST_F(SceneFileTest, ReadsEverythingAndKeepsFileOrder) {
    const SceneFile s = parseScene(kScene, scene("a.json"));
    EXPECT_EQ(s.scene.sessionId, 9);
    EXPECT_EQ(s.scene.currentObject, 10);
    EXPECT_EQ(s.numbers, NumberSymbols::forDecimal(u","));
    EXPECT_EQ(s.scene.objects.at(10).children, (std::vector<Long>{12, 11}));
    EXPECT_EQ(s.scene.objects.at(10).infos.at(49), u"Vitrina\r\n#x#");
    EXPECT_EQ(s.scene.objects.at(11).infos.at(-1), u"odd code");
    EXPECT_EQ(s.scene.keywords.at(u"@Rubrique.GénériqueChoixNom(,3)"), u"Grupo 1");
    // Lines keep the file's order: it gives their ranks.
    ASSERT_EQ(s.scene.tables.at(4).size(), 2u);
    EXPECT_EQ(s.scene.tables.at(4)[0].name, u"_2_");
    EXPECT_EQ(s.scene.tables.at(4)[1].columns.at(3), u"1");
    EXPECT_EQ(s.objectOrder, (std::vector<Long>{10, 12, 11}));
    EXPECT_EQ(*s.catalogsFolder, (root_ / "catalogs").lexically_normal());
    EXPECT_EQ(s.spaceIni.source, SpaceIni::Source::Generated);
    EXPECT_EQ(s.spaceIni.contents,
              "[Local]\r\nCatalogsDir=" + (root_ / "catalogs").string() + "/\r\n");
}

TEST_F(SceneFileTest, WrittenSceneReadsBackTheSameFromAnotherFolder) {
    SceneFile s = parseScene(kScene, scene("a.json"));
    s.scene.objects.at(12).infos[43] = u"25";
    const fs::path out = root_ / "elsewhere" / "deeper" / "b.json";
    const std::string text = sceneToJson(s, s.scene, out);
    const SceneFile back = parseScene(text, out);

    EXPECT_EQ(back.scene.sessionId, s.scene.sessionId);
    EXPECT_EQ(back.scene.currentObject, s.scene.currentObject);
    EXPECT_EQ(back.numbers, s.numbers);
    EXPECT_EQ(back.objectOrder, s.objectOrder);
    EXPECT_EQ(back.notes, s.notes);
    EXPECT_EQ(back.scene.sceneObjects, s.scene.sceneObjects);
    EXPECT_EQ(back.scene.keywords, s.scene.keywords);
    for (const auto& [id, object] : s.scene.objects) {
        EXPECT_EQ(back.scene.objects.at(id).infos, object.infos) << id;
        EXPECT_EQ(back.scene.objects.at(id).children, object.children) << id;
    }
    ASSERT_EQ(back.scene.tables.size(), 2u);
    EXPECT_EQ(back.scene.tables.at(4)[0].name, u"_2_");
    EXPECT_EQ(back.scene.tables.at(3)[0].columns, s.scene.tables.at(3)[0].columns);
    // The catalogs folder is still the same folder, now reached from the new file's folder.
    EXPECT_EQ(*back.catalogsFolder, *s.catalogsFolder);
    EXPECT_EQ(back.spaceIni.contents, s.spaceIni.contents);
}

TEST_F(SceneFileTest, SpaceIniInlineFromAFileOrNone) {
    const std::string inlineIni = R"json({"catalogsFolder": "../catalogs",
        "spaceIni": "[InSitu]\r\nCatalogsDir=${catalogsFolder}\r\n"})json";
    const SceneFile a = parseScene(inlineIni, scene("a.json"));
    EXPECT_EQ(a.spaceIni.source, SpaceIni::Source::Inline);
    EXPECT_EQ(a.spaceIni.contents,
              "[InSitu]\r\nCatalogsDir=" + (root_ / "catalogs").string() + "/\r\n");
    // Written back as written, so that it expands again wherever the scene goes.
    const fs::path out = root_ / "elsewhere" / "b.json";
    EXPECT_EQ(parseScene(sceneToJson(a, a.scene, out), out).spaceIni.contents, a.spaceIni.contents);

    std::ofstream(root_ / "SPACE.INI") << "[Local]\nCatalogsDir=C:\\cat\\\n";
    const SceneFile b =
        parseScene(R"json({"spaceIni": {"path": "../SPACE.INI"}})json", scene("b.json"));
    EXPECT_EQ(b.spaceIni.source, SpaceIni::Source::File);
    EXPECT_EQ(b.spaceIni.contents, "[Local]\nCatalogsDir=C:\\cat\\\n");

    const SceneFile c = parseScene(R"json({"catalogsFolder": "../catalogs", "spaceIni": null})json",
                                   scene("c.json"));
    EXPECT_EQ(c.spaceIni.source, SpaceIni::Source::None);
    const SceneFile d = parseScene("{}", scene("d.json"));
    EXPECT_EQ(d.spaceIni.source, SpaceIni::Source::None);
}

// Faults the command-line tests do not reach; each message names the place.
TEST_F(SceneFileTest, RejectsFaultsWithTheirPlace) {
    const std::string longName(300, 'a');
    const std::string longToken = "{\"a\": \"" + std::string(200, 'x') + "\x01\"}";
    const struct {
        std::string json;
        std::string message;
    } cases[] = {
        {R"json({"spaceIni": "CatalogsDir=${catalogsFolder}"})json",
         "spaceIni: ${catalogsFolder} used without \"catalogsFolder\""},
        {R"json({"spaceIni": {"path": "missing.ini"}})json", "spaceIni.path: cannot read " +
                                                                 scene("missing.ini").string() +
                                                                 ": No such file or directory"},
        {R"json({"spaceIni": {"path": "/dev/zero"}})json",
         "spaceIni.path: cannot read /dev/zero: is not a regular file"},
        {R"json({"spaceIni": {"path": "../catalogs"}})json", "is a folder"},
        {"{\"catalogsFolder\": \"" + longName + "\"}", ": File name too long"},
        {R"json({"catalogsFolder": "/dev/null"})json", "/dev/null is not a folder"},
        {R"json({"objects": [{"id": 2147483648}]})json",
         "objects[0].id: number out of the 32-bit range"},
        {R"json({"objects": [{"infos": {}}]})json", "objects[0]: missing \"id\""},
        {R"json({"objects": [{"id": 1, "infos": {"x2": "a"}}]})json",
         "object 1 info x2: \"x2\" is not"},
        // Number keys have one spelling: "07" and "7" would both be information 7.
        {R"json({"objects": [{"id": 1, "infos": {"7": "a", "07": "b"}}]})json",
         "object 1 info 07: \"07\" is not written as a plain number (write \"7\")"},
        {R"json({"objects": [{"id": 1, "infos": {"-0": "a"}}]})json", "\"-0\" is not written"},
        {R"json({"tables": {"3": {}, "03": {}}})json", "tables: \"03\" is not written"},
        {R"json({"tables": {"4": {"L": {"3": "1", "+3": "2"}}}})json",
         "column +3: \"+3\" is not a valid number here"},
        {R"json({"tables": {"3": {"L": {"3": "1", "4": "2", "5": "3", "70000": "4"}}}})json",
         "table 3 line \"L\" column 70000"},
        {R"json({"tables": {"three": {}}})json", "tables: \"three\" is not a valid number here"},
        {R"json({"decimalSeparator": ""})json", "decimalSeparator: expected 1 to 3 characters"},
        {R"json({"currencySign": "1"})json", "currencySign: expected up to 12 characters and no"},
        {R"json({"session": "1"})json", "session: expected a whole number, found a text"},
        {R"json([])json", "top level: expected an object, found an array"},
        {"{\n  \"session\": 1,\n}", "s.json:3:1: invalid JSON"},
        // Every fault of the JSON reader is a scene error, with its place and no raw bytes.
        {R"json({"session": 1e400})json",
         "s.json:1:17: invalid JSON: number out of range: '1e400'"},
        {"{\"session\": \"\xFF\"}", "ill-formed UTF-8 byte; last read: '\"\\xFF'"},
        {"{\"k\\u0007\": 1}", "top level: unknown key \"k\\x07\""},
        {longToken, "last read: '..." + std::string(72, 'x') + "<U+0001>'"},
        {"", "s.json:1:1: invalid JSON: syntax error while parsing value"},
        // Host failures.
        {R"json({"failures": [{"operation": "FileLoadd", "code": "0x1"}]})json",
         "failures[0].operation: unknown operation \"FileLoadd\""},
        {R"json({"failures": [{"operation": "FileLoad", "nth": 0, "code": "0x1"}]})json",
         "failures[0].nth: must be 1 or more"},
        {R"json({"failures": [{"operation": "FileLoad", "code": "80041234"}]})json",
         "failures[0].code: expected hexadecimal text"},
        {R"json({"failures": [{"operation": "FileLoad", "code": "0x123456789"}]})json",
         "failures[0].code: expected hexadecimal text"},
        {R"json({"failures": [{"operation": "FileLoad", "code": 5}]})json",
         "failures[0].code: expected a text"},
        {R"json({"failures": [{"operation": "FileLoad"}]})json", "failures[0]: missing \"code\""},
        {R"json({"failures": [{"code": "0x1"}]})json",
         "failures[0]: needs either \"operation\" or \"create\""},
        {R"json({"failures": [{"create": "KDSDK.Scene", "operation": "FileLoad", "code": "0x1"}]})json",
         "failures[0]: needs either"},
        {R"json({"failures": [{"create": "KDSDK.Plugin", "code": "0x1"}]})json",
         "failures[0].create: unknown object \"KDSDK.Plugin\""},
        {R"json({"failures": [{"create": "KDSDK.Scene", "nth": 2, "code": "0x1"}]})json",
         "failures[0]: \"nth\" applies to an operation only"},
        {R"json({"failures": [{"operation": "EndSession", "code": "0x1"},
                              {"operation": "EndSession", "nth": 1, "code": "0x2"}]})json",
         "failures[1]: the same call fails already"},
    };
    for (const auto& c : cases) {
        try {
            parseScene(c.json, scene("s.json"));
            ADD_FAILURE() << "accepted: " << c.json;
        } catch (const SceneError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << e.what() << "\n  expected to contain: " << c.message;
        }
    }
}

constexpr const char* kFailingScene = R"json({
  "objects": [{"id": 1, "infos": {"2": "503", "4": "VITRINA"}}],
  "callObject": 1,
  "failures": [
    {"create": "KDSDK.Catalog", "code": "0x800401f3", "description": "Invalid class string"},
    {"operation": "ObjectGetInfo", "nth": 2, "code": "0x80041234", "description": "Busy"}
  ]
})json";

TEST_F(SceneFileTest, FailuresAreKeptByOut) {
    const SceneFile s = parseScene(kFailingScene, scene("f.json"));
    const fs::path out = root_ / "elsewhere" / "f.json";
    const SceneFile back = parseScene(sceneToJson(s, s.scene, out), out);
    ASSERT_EQ(back.failures.size(), 2u);
    EXPECT_EQ(back.failures[0].create, host::ObjectKind::Catalog);
    EXPECT_EQ(back.failures[0].code, static_cast<std::int32_t>(0x800401F3));
    EXPECT_EQ(back.failures[0].description, "Invalid class string");
    EXPECT_EQ(back.failures[1].operation, host::Operation::ObjectGetInfo);
    EXPECT_EQ(back.failures[1].nth, 2);
}

TEST_F(SceneFileTest, FailuresMakeTheHostFail) {
    SceneFile s = parseScene(kFailingScene, scene("f.json"));
    RunResult run = runEvent(s, Event::Place);
    ASSERT_TRUE(run.outcome.error);
    EXPECT_EQ(run.outcome.error->code(), static_cast<std::int32_t>(0x800401F3));
    EXPECT_EQ(run.outcome.error->description(), u"Invalid class string");

    s.failures.erase(s.failures.begin());
    run = runEvent(s, Event::Place);
    ASSERT_TRUE(run.outcome.error);
    EXPECT_EQ(run.outcome.error->code(), static_cast<std::int32_t>(0x80041234));
    // The second ObjectGetInfo failed, after the first answered.
    std::size_t reads = 0;
    for (const auto& call : run.log) {
        if (call.operation == host::Operation::ObjectGetInfo && ++reads == 2) {
            EXPECT_TRUE(call.answer.error);
        }
    }
    EXPECT_EQ(reads, 2u);
}

}  // namespace
}  // namespace vpolv::sim
