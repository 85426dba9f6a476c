// The three events through IDispatch against the fake host: the calls the host receives with
// their exact automation types, the values written, errors, and fault injection.
// The system headers first: see win32.h.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>

#include "com/vpolv_h.h"
#include "common/text.h"
#include "platform/windows/win32.h"
#include "platform/windows/windows_platform_impl.h"
#include "plugin/plugin.h"
#include "sim/formats/scene_file.h"
#include "sim/sim.h"
#include "support/doctor.h"
#include "testkit/scenes.h"
#include "testkit/wine/support.h"

namespace vpolv::winetest {
namespace {

using host::SceneData;
using testing::callLines;
using testing::kInjected;
using testing::writeLines;

// The same event run by the core in this process on the in-memory host, with the Windows
// services and the test folder standing for the library's folder.
struct NativeRun {
    class Folder : public platform::windows::WindowsFileSystem {
      public:
        Text moduleFolder() const override { return win::fromWide(paths().folder); }
    };

    platform::windows::WindowsLocale locale;
    Folder files;
    platform::windows::WindowsProfile profile;
    testing::RecordingMessageBox boxes;
    platform::Services services{locale, files, profile, boxes};
    host::MemoryHost memory;

    std::optional<Error> error;

    NativeRun(SceneData scene, Event event) : memory(std::move(scene), locale) {
        Plugin plugin(memory, services);
        try {
            plugin.fire(event, 5);
        } catch (const Error& e) {
            error = e;
        }
    }
};

class Events : public ::testing::Test {
  protected:
    void SetUp() override { plugin_ = createPlugin(); }
    void TearDown() override {
        plugin_.reset();
        EXPECT_EQ(fakeHost().liveObjects(), 0);
        EXPECT_EQ(fakeHost().liveReferences(), 0);
    }

    Outcome run(SceneData scene, Event event) {
        fakeHost().reset(std::move(scene));
        Outcome out;
        fire(plugin_.get(), event, out);
        return out;
    }
    static void expectTrue(const Outcome& out) {
        ASSERT_EQ(out.hr, S_OK) << toUtf8(out.description);
        ASSERT_EQ(V_VT(out.value.get()), VT_BOOL);
        EXPECT_EQ(V_BOOL(out.value.get()), VARIANT_TRUE);
    }

    ComPtr<IDispatch> plugin_;
};

TEST_F(Events, PlacingACabinetSendsExactlyTheseCalls) {
    const Outcome out = run(cabinetScene(), Event::Place);
    expectTrue(out);
    const std::string code = toUtf8(fakeHost().memory().loads().at(0).catalogCode);
    const std::vector<std::string> expected = {
        "Appli.StartSessionFromCallParams(I4& 5)",
        "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 2)",
        "Catalog.FileLoad(I4& 7, BSTR& \"" + toUtf8(win::fromWide(paths().catalogsDir)) +
            "B\\polvas10.cat\", BSTR& \"" + code + "\")",
        "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 7)",
        "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 4)",
        "Scene.ObjectGetInfo(I4& 7, I2 -2, I4 65)",
        "Catalog.TableGetLineRankFromName(I4& 7, I2 3, I2 0, I2 1, BSTR& \"LINEA_V\", BOOL False)",
        "Catalog.TableGetLineInfo(I4& 7, I2 3, I2 0, I4& 1, I2 3)",
        "Catalog.TableGetLineInfo(I4& 7, I2 3, I2 0, I4& 1, I2 4)",
        "Catalog.TableGetLineInfo(I4& 7, I2 3, I2 0, I4& 1, I2 5)",
        "Scene.ObjectGetChildrenNb(I4& 7, I2 -2, I2 0)",
        "Scene.ObjectGetChildId(I4& 7, I2 -2, I4& 1, I2 0)",
        "Scene.ObjectGetInfo(I4& 7, I4& 11, I4 4)",
        "Scene.ObjectGetInfo(I4& 7, I4& 11, I4 49)",
        "Scene.SceneGetKeywordInfo(I4& 7, BSTR \"@Rubrique.GénériqueChoixNom(,5)\")",
        "Scene.SceneGetKeywordInfo(I4& 7, BSTR \"@Rubrique.GénériqueChoixNom(,6)\")",
        "Catalog.TableGetLineRankFromName(I4& 7, I2 4, I2 0, I2 1, BSTR& \"_2_H_90\", BOOL False)",
        "Catalog.TableGetLineInfo(I4& 7, I2 4, I2 0, I4& 2, I2 3)",
        "Scene.ObjectSetInfo(I4& 7, I4& 11, BSTR \"40\", I4 43)",
        "Scene.ObjectSetInfo(I4& 7, I4& 11, BSTR \"40\", I4 173)",
        "Scene.ObjectSetInfo(I4& 7, I4& 11, BSTR& \"Puerta\r\n#Incremento por cristal Grupo 2 "
        "(Claro) de 40 puntos.#\", I4 49)",
        "Scene.ObjectGetChildId(I4& 7, I2 -2, I4& 2, I2 0)",
        "Scene.ObjectGetInfo(I4& 7, I4& 12, I4 4)",
        "Scene.ObjectGetChildId(I4& 7, I2 -2, I4& 3, I2 0)",
        "Scene.ObjectGetInfo(I4& 7, I4& 13, I4 4)",
        "Scene.ObjectGetInfo(I4& 7, I4& 13, I4 49)",
        "Scene.SceneGetKeywordInfo(I4& 7, BSTR \"@Rubrique.GénériqueChoixNom(,5)\")",
        "Scene.SceneGetKeywordInfo(I4& 7, BSTR \"@Rubrique.GénériqueChoixNom(,6)\")",
        "Catalog.TableGetLineRankFromName(I4& 7, I2 4, I2 0, I2 1, BSTR& \"_2_H_90\", BOOL False)",
        "Catalog.TableGetLineInfo(I4& 7, I2 4, I2 0, I4& 2, I2 3)",
        "Scene.ObjectSetInfo(I4& 7, I4& 13, BSTR \"40\", I4 43)",
        "Scene.ObjectSetInfo(I4& 7, I4& 13, BSTR \"40\", I4 173)",
        "Scene.ObjectSetInfo(I4& 7, I4& 13, BSTR& \"Puerta gola\r\n#Incremento por cristal "
        "Grupo 2 (Claro) de 40 puntos.#\", I4 49)",
        "Appli.EndSession(I4& 7)",
    };
    EXPECT_EQ(fakeHost().calls(), expected);
    EXPECT_EQ(fakeHost().memory().scene().objects[11].infos[49],
              u"Puerta\r\n#Incremento por cristal Grupo 2 (Claro) de 40 puntos.#");
}

// Each event on each scene gives the host the same calls, with the same automation types,
// and writes the same values as the core does in-process.
TEST_F(Events, MatchTheCoreRunInProcess) {
    struct Case {
        const char* name;
        SceneData scene;
        Event event;
    };
    SceneData finishes = cabinetScene();
    finishes.objects[10].infos[87] = u"Grupo 1";
    finishes.objects[10].infos[88] = u"Mate";
    finishes.tables[4].push_back({u"_1_H_90", {{3, u"-10"}}});
    SceneData noSession = cabinetScene();
    noSession.sessionId = 0;
    SceneData front = mixedScene();
    front.currentObject = 30;
    const Case cases[] = {
        {"cabinet placed", cabinetScene(), Event::Place},
        {"cabinet finishes", finishes, Event::Finishes},
        {"glass front placed", front, Event::Place},
        {"scene generic finishes", mixedScene(), Event::Scene},
        {"no session", noSession, Event::Place},
        {"other catalog", cabinetlessScene(u"7"), Event::Finishes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NativeRun native(c.scene, c.event);
        expectTrue(run(c.scene, c.event));
        EXPECT_EQ(fakeHost().calls(), callLines(native.memory));
        EXPECT_EQ(callLines(fakeHost().memory()), callLines(native.memory));
        EXPECT_EQ(writeLines(fakeHost().memory()), writeLines(native.memory));
        EXPECT_FALSE(fakeHost().calls().empty());
    }
}

TEST_F(Events, EachNameIsLookedUpOncePerHostObject) {
    expectTrue(run(mixedScene(), Event::Scene));
    const auto lookups = fakeHost().lookups();
    ASSERT_FALSE(lookups.empty());
    for (const auto& [who, count] : lookups)
        EXPECT_EQ(count, 1) << who;
    std::size_t objectGetInfo = 0;
    for (const auto& [who, count] : lookups) {
        objectGetInfo += who.find(".ObjectGetInfo") != std::string::npos;
    }
    EXPECT_EQ(objectGetInfo, 1u);
}

TEST_F(Events, AHostErrorComesBackWithItsCodeAndDescription) {
    SceneData scene = cabinetScene();
    fakeHost().reset(scene);
    fakeHost().memory().failOperation(host::Operation::TableGetLineInfo, kInjected, 2);
    Outcome out;
    fire(plugin_.get(), Event::Place, out);
    ASSERT_EQ(out.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(out.scode, kInjected.code());
    EXPECT_EQ(out.description, kInjected.description());
    EXPECT_EQ(fakeHost().calls().back(), "Appli.EndSession(I4& 7)");

    // The same through the function table: the HRESULT, False, and the error information.
    fakeHost().reset(scene);
    fakeHost().memory().failOperation(host::Operation::TableGetLineInfo, kInjected, 2);
    ComPtr<_Plugin> direct;
    ASSERT_EQ(plugin_->QueryInterface(IID__Plugin, direct.putVoid()), S_OK);
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_EQ(direct->OnObjectPlaceAfter(5, &result), kInjected.code());
    EXPECT_EQ(result, VARIANT_FALSE);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    BSTR rawDescription = nullptr;
    info->GetDescription(&rawDescription);
    const win::Bstr description(rawDescription);
    EXPECT_EQ(win::fromBstr(description.get()), kInjected.description());
    GUID guid{};
    info->GetGUID(&guid);
    EXPECT_EQ(guid, IID__Plugin);
}

TEST_F(Events, ANullPointerThroughTheFunctionTableIsRefusedBeforeAnythingRuns) {
    fakeHost().reset(cabinetScene());
    ComPtr<_Plugin> direct;
    ASSERT_EQ(plugin_->QueryInterface(IID__Plugin, direct.putVoid()), S_OK);
    LONG n = 3, d = 4;
    VARIANT_BOOL result = VARIANT_TRUE;
    BSTR text = nullptr;
    EXPECT_EQ(direct->OnObjectPlaceAfter(5, nullptr), E_POINTER);
    EXPECT_EQ(direct->casoPolvast(5, nullptr, &result), E_POINTER);
    EXPECT_EQ(direct->casoPolvastAG(5, &d, nullptr, &result), E_POINTER);
    EXPECT_EQ(direct->casoPolvastAG(5, &d, &n, nullptr), E_POINTER);
    EXPECT_EQ(direct->formateaDescripcion(nullptr, &text), E_POINTER);
    EXPECT_EQ(direct->vitrina2(&n, nullptr), E_POINTER);
    EXPECT_EQ(direct->vitrina3AG(nullptr, &d, &n), E_POINTER);
    EXPECT_EQ(result, VARIANT_TRUE);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(d, 4);
    EXPECT_TRUE(fakeHost().calls().empty());
}

TEST_F(Events, AnswersThatDoNotConvertAndBareFailures) {
    // A count answered as text converts under the user locale; a non-number is a type mismatch.
    SceneData scene = mixedScene();
    fakeHost().reset(scene);
    fakeHost().answerWithText(2, L" 0 ");
    Outcome out;
    fire(plugin_.get(), Event::Scene, out);
    expectTrue(out);
    EXPECT_EQ(fakeHost().calls().size(), 3u);

    fakeHost().reset(scene);
    fakeHost().answerWithText(2, L"tres");
    fire(plugin_.get(), Event::Scene, out);
    ASSERT_EQ(out.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(out.scode, static_cast<HRESULT>(0x800A000D));
    EXPECT_EQ(out.description, u"Type mismatch");

    // A failing Invoke without exception information passes its own code on.
    fakeHost().reset(scene);
    fakeHost().failWithHresult(2, E_ACCESSDENIED);
    fire(plugin_.get(), Event::Scene, out);
    ASSERT_EQ(out.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(out.scode, E_ACCESSDENIED);
    EXPECT_FALSE(out.description.empty());
}

TEST_F(Events, AHostObjectThatCannotBeCreatedFailsTheEvent) {
    fakeHost().reset(cabinetScene());
    fakeHost().memory().failCreate(u"KDSDK.Catalog", kInjected);
    Outcome out;
    fire(plugin_.get(), Event::Place, out);
    ASSERT_EQ(out.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(out.scode, static_cast<HRESULT>(0x800A01AD));
    EXPECT_TRUE(fakeHost().calls().empty());
}

// Every host call of a cabinet placement fails once in turn.
TEST_F(Events, EveryFailingHostCallFailsThePlacementAndEndsTheSession) {
    fakeHost().reset(cabinetScene());
    Outcome out;
    fire(plugin_.get(), Event::Place, out);
    expectTrue(out);
    const std::size_t total = fakeHost().calls().size();
    ASSERT_GT(total, 30u);

    for (std::size_t n = 1; n <= total; ++n) {
        SCOPED_TRACE("failing call " + std::to_string(n));
        fakeHost().reset(cabinetScene());
        const auto code = static_cast<std::int32_t>(0x80040200 + n);
        const Text description = u"Fallo inyectado " + longToText(static_cast<Long>(n));
        fakeHost().memory().failCall(n, Error(code, description, u"KDSDK"));
        fire(plugin_.get(), Event::Place, out);
        ASSERT_EQ(out.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(out.scode, code);
        EXPECT_EQ(out.description, description);
        EXPECT_EQ(V_VT(out.value.get()) == VT_BOOL ? V_BOOL(out.value.get()) : VARIANT_FALSE,
                  VARIANT_FALSE);
        const auto calls = fakeHost().calls();
        ASSERT_GE(calls.size(), n);
        if (n > 1) {
            EXPECT_EQ(calls.back().rfind("Appli.EndSession(", 0), 0u) << calls.back();
        }
        EXPECT_EQ(fakeHost().memory().liveObjects(), 0);
        EXPECT_EQ(fakeHost().liveObjects(), 0);
        EXPECT_EQ(fakeHost().liveReferences(), 0);
    }
}

// The example scenes, every object placed and changed and the scene's finishes changed: the
// library gives the host the same calls and writes, and fails the same way, as the core does.
TEST_F(Events, ExampleScenesRunAsInTheCore) {
    const std::wstring spaceIni = paths().folder + L"\\SPACE.INI";
    const std::wstring saved = paths().folder + L"\\SPACE.INI.saved";
    ASSERT_TRUE(CopyFileW(spaceIni.c_str(), saved.c_str(), FALSE));
    const bool display = std::getenv("DISPLAY") != nullptr;
    for (const char* name : {"showroom.json", "halves.json", "bad-points.json"}) {
        SCOPED_TRACE(name);
        const sim::SceneFile file = sim::loadScene(windowsPath(VPOLV_EXAMPLES_DIR) + L"\\" +
                                                   std::wstring(name, name + std::strlen(name)));
        DeleteFileW(spaceIni.c_str());
        if (file.spaceIni.source != sim::SpaceIni::Source::None) {
            std::ofstream(std::filesystem::path(spaceIni), std::ios::binary)
                << file.spaceIni.contents;
        }
        std::vector<std::pair<Long, Event>> runs = {{0, Event::Scene}};
        for (Long id : file.scene.sceneObjects) {
            runs.push_back({id, Event::Place});
            runs.push_back({id, Event::Finishes});
        }
        for (const auto& [id, event] : runs) {
            SCOPED_TRACE(std::to_string(id) + " " + std::string(eventMethodName(event)));
            SceneData scene = file.scene;
            if (id)
                scene.currentObject = id;
            const NativeRun native(scene, event);
            BoxCloser boxes;
            const Outcome out = run(scene, event);
            if (native.error) {
                ASSERT_EQ(out.hr, DISP_E_EXCEPTION);
                EXPECT_EQ(out.scode, native.error->code());
                EXPECT_EQ(out.description, native.error->description());
            } else {
                expectTrue(out);
            }
            EXPECT_EQ(fakeHost().calls(), callLines(native.memory));
            EXPECT_EQ(writeLines(fakeHost().memory()), writeLines(native.memory));
            if (display) {
                EXPECT_EQ(static_cast<std::size_t>(boxes.closed()), native.boxes.shown.size());
            }
        }
    }
    ASSERT_TRUE(MoveFileExW(saved.c_str(), spaceIni.c_str(), MOVEFILE_REPLACE_EXISTING));
}

TEST_F(Events, FormateaDescripcionShortensTheCallersTextInPlace) {
    BSTR desc = SysAllocString(L"Puerta\r\n#Incremento#");
    Outcome out;
    invoke(plugin_.get(), L"formateaDescripcion", {bstrRef(&desc)}, out);
    const win::Bstr owned(desc);
    ASSERT_EQ(out.hr, S_OK);
    EXPECT_EQ(win::fromBstr(desc), u"Puerta");
    ASSERT_EQ(V_VT(out.value.get()), VT_BSTR);
    EXPECT_EQ(win::fromBstr(V_BSTR(out.value.get())), u"Puerta");
}

TEST_F(Events, RulesCalledByThemselvesWorkOnTheirByReferenceArguments) {
    // Outside an event there are no host objects: the rule fails and leaves its arguments.
    LONG children = 2, origin = 1;
    Outcome out;
    invoke(plugin_.get(), L"vitrina", {i4Ref(&children), i4Ref(&origin)}, out);
    ASSERT_EQ(out.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(out.scode, static_cast<HRESULT>(0x800A005B));
    EXPECT_EQ(children, 2);
    EXPECT_EQ(origin, 1);

    // With no children to walk it needs no host at all.
    children = 0;
    invoke(plugin_.get(), L"vitrina", {i4Ref(&children), i4Ref(&origin)}, out);
    EXPECT_EQ(out.hr, S_OK);
}

}  // namespace
}  // namespace vpolv::winetest

namespace vpolv::winetest {
namespace {

// The value TraceFile in a root's registry view: none (type 0), or a value of that type.
struct SwitchValue {
    DWORD type = 0;
    std::wstring text;
};
void setSwitch(HKEY root, REGSAM view, const SwitchValue& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, L"Software\\vpolv", 0, nullptr, 0, KEY_SET_VALUE | view,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const win::UniqueKey owned(key);
    if (value.type == 0) {
        RegDeleteValueW(key, L"TraceFile");
        return;
    }
    const DWORD number = 1;
    const bool text = value.type != REG_DWORD;
    ASSERT_EQ(RegSetValueExW(key, L"TraceFile", 0, value.type,
                             text ? reinterpret_cast<const BYTE*>(value.text.c_str())
                                  : reinterpret_cast<const BYTE*>(&number),
                             text ? static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t))
                                  : sizeof number),
              ERROR_SUCCESS);
}

// The file the text names after `lead` up to " (", or "" when it does not start with lead.
std::string fileAfter(const std::string& text, const std::string& lead) {
    if (!text.starts_with(lead))
        return "";
    return text.substr(lead.size(), text.find(" (", lead.size()) - lead.size());
}

// What the doctor's trace check of this DLL's registry view says the plug-in traces into.
std::string doctorsTraceFile() {
    support::doctor::Report report;
    support::doctor::systemMachine()->examine(report);
    const std::string view = std::to_string(sizeof(void*) * 8) + "-bit view";
    for (const auto& finding : report.findings()) {
        if (finding.group == view && finding.name == "trace")
            return fileAfter(finding.text, "on, into ");
    }
    ADD_FAILURE() << "no trace check for the " << view;
    return "?";
}

// What `vpolv-sim trace status` says the plug-in of this DLL's bitness traces into.
std::string statusTraceFile() {
    const std::vector<std::string> args{"trace", "status"};
    std::ostringstream out, err;
    EXPECT_EQ(sim::runSim(args, out, err), 0) << err.str();
    std::string line = out.str();
    line = line.substr(line.find("the plug-in:"));
    line = line.substr(line.find("traces"), line.find('\n') - line.find("traces"));
    if (const auto split = line.find("; of 32-bit hosts "); split != std::string::npos)
        line = sizeof(void*) == 8 ? line.substr(0, split) : line.substr(split + 18);
    return fileAfter(line, "traces into ");
}

// The trace switch in each state the registry can hold it: the doctor and `vpolv-sim trace
// status` name the very file the plug-in then traces into, or none when it traces nothing.
TEST_F(Events, TheDoctorAndTraceStatusNameTheFileThePluginTracesInto) {
    const std::wstring folder = paths().folder;
    const std::wstring user = folder + L"\\user.jsonl";
    const std::wstring machine64 = folder + L"\\machine64.jsonl";
    const std::wstring machine32 = folder + L"\\machine32.jsonl";
    SetEnvironmentVariableW(L"VPOLV_TRACE_FOLDER", folder.c_str());
    const SwitchValue none, inUser{REG_SZ, user}, in64{REG_SZ, machine64}, in32{REG_SZ, machine32};
    constexpr bool k64 = sizeof(void*) == 8;
    const struct {
        const char* state;
        SwitchValue user, machine64, machine32;
        std::wstring traced;
    } cases[] = {
        {"none", none, none, none, L""},
        {"the user's", inUser, none, none, user},
        {"the machine's, 64-bit view", none, in64, none, k64 ? machine64 : L""},
        {"the machine's, 32-bit view", none, none, in32, k64 ? L"" : machine32},
        {"both", inUser, in64, in32, user},
        {"the user's not a string", {REG_DWORD, L""}, in64, in32, L""},
        {"the user's empty", {REG_SZ, L""}, in64, in32, L""},
        {"the user's REG_EXPAND_SZ",
         {REG_EXPAND_SZ, L"%VPOLV_TRACE_FOLDER%\\user.jsonl"},
         none,
         none,
         user},
        {"the machine's only again", none, in64, in32, k64 ? machine64 : machine32},
    };
    // Every other case starts with a new object after DllCanUnloadNow allowed an unload.
    const auto canUnload =
        exportOf<EntryPoint>(GetModuleHandleW(paths().vpolvDll.c_str()), "DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.state);
        if (i % 2) {
            plugin_.reset();
            EXPECT_EQ(canUnload(), S_OK);
            plugin_ = createPlugin();
        }
        for (const std::wstring& file : {user, machine64, machine32})
            DeleteFileW(file.c_str());
        setSwitch(HKEY_CURRENT_USER, 0, c.user);
        setSwitch(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, c.machine64);
        setSwitch(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, c.machine32);
        const std::string traced = toUtf8(win::fromWide(c.traced));
        EXPECT_EQ(doctorsTraceFile(), traced);
        EXPECT_EQ(statusTraceFile(), traced);
        expectTrue(run(cabinetScene(), Event::Place));
        for (const std::wstring& file : {user, machine64, machine32}) {
            EXPECT_EQ(GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES, file == c.traced)
                << toUtf8(win::fromWide(file));
        }
    }
    setSwitch(HKEY_CURRENT_USER, 0, none);
    setSwitch(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, none);
    setSwitch(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, none);
}

// The record a DLL placement writes. With VPOLV_DLL_TRACE set, it also goes there, for the
// simulator to replay.
TEST_F(Events, TheTraceRecordOfAPlacement) {
    const std::wstring file = paths().folder + L"\\trace.jsonl";
    const auto set = [](const wchar_t* value) {
        setSwitch(HKEY_CURRENT_USER, 0, value ? SwitchValue{REG_SZ, value} : SwitchValue{});
    };
    std::wstring kept = file;
    if (const char* wanted = std::getenv("VPOLV_DLL_TRACE")) {
        kept = windowsPath(wanted);
        DeleteFileW(kept.c_str());
    }
    set(kept.c_str());
    expectTrue(run(cabinetScene(), Event::Place));
    set(nullptr);
    std::ifstream in{std::filesystem::path(kept)};
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    const auto record = nlohmann::json::parse(line);
    EXPECT_EQ(record["event"], "place");
    EXPECT_EQ(record["result"], true);
    // The user locale's signs, whole (the test runs under US English).
    EXPECT_EQ(record["decimalSeparator"], ".");
    EXPECT_EQ(record["thousandsSeparator"], ",");
    EXPECT_EQ(record["currencySign"], "$");
    EXPECT_EQ(record["pathSeparator"], "\\");
    // The three creations, then every operation the host received.
    EXPECT_EQ(record["calls"].size(), 3 + fakeHost().calls().size());
    EXPECT_EQ(record["catalogFile"],
              toUtf8(win::fromWide(paths().catalogsDir)) + "B\\polvas10.cat");
}

// Each change of the switch is seen by the very next event, however soon it starts: of events
// that each follow a change to the other of two files, every one is traced into the file named
// just before it.
TEST_F(Events, TheTraceSwitchTakesEffectWithTheVeryNextEvent) {
    const std::wstring files[] = {paths().folder + L"\\even.jsonl",
                                  paths().folder + L"\\odd.jsonl"};
    for (const auto& file : files)
        DeleteFileW(file.c_str());
    SceneData sessionless = cabinetScene();
    sessionless.sessionId = 0;  // the event ends at once: its record is what counts
    fakeHost().reset(std::move(sessionless));
    constexpr LONG kChanges = 500;
    for (LONG block = 1; block <= kChanges; ++block) {
        const std::wstring& file = files[block % 2];
        ASSERT_EQ(
            RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\vpolv", L"TraceFile", REG_SZ,
                            file.c_str(), static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
        Outcome out;
        fire(plugin_.get(), Event::Place, out, block);
        ASSERT_EQ(out.hr, S_OK);
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\vpolv", L"TraceFile");
    for (LONG parity = 0; parity < 2; ++parity) {
        std::vector<LONG> blocks, expected;
        std::ifstream in{std::filesystem::path(files[parity])};
        for (std::string line; std::getline(in, line);)
            blocks.push_back(nlohmann::json::parse(line)["callParams"].get<LONG>());
        for (LONG block = 2 - parity; block <= kChanges; block += 2)
            expected.push_back(block);
        EXPECT_EQ(blocks, expected) << "into " << toUtf8(win::fromWide(files[parity]));
    }
}

LSTATUS WINAPI registryOutOfMemory(HKEY, LPCWSTR, LPCWSTR, DWORD, LPDWORD, PVOID, LPDWORD) {
    return ERROR_NOT_ENOUGH_MEMORY;
}

// A read of the switch that fails leaves this one event untraced: the next one reads the switch
// again, although nothing changed in between.
TEST_F(Events, AFailedReadOfTheSwitchIsNotKept) {
    const std::wstring file = paths().folder + L"\\unread.jsonl";
    DeleteFileW(file.c_str());
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\vpolv", L"TraceFile", REG_SZ, file.c_str(),
                        static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t))),
        ERROR_SUCCESS);
    {
        const ImportPatch failing(GetModuleHandleW(paths().vpolvDll.c_str()), "advapi32.dll",
                                  "RegGetValueW", reinterpret_cast<void*>(&registryOutOfMemory));
        ASSERT_TRUE(failing.found());
        expectTrue(run(cabinetScene(), Event::Place));
    }
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    expectTrue(run(cabinetScene(), Event::Place));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\vpolv", L"TraceFile");
    EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(file.c_str());
}

// The delivery of a change to a wait the DLL registers, held up until the DLL has been freed.
struct HeldDelivery {
    WAITORTIMERCALLBACK callback;
    void* context;
};
HANDLE gStarted;  // a delivery is held
HANDLE gFreed;    // the DLL has been freed: deliver
HANDLE gDone;     // the held delivery was made

VOID CALLBACK deliverLate(PVOID held, BOOLEAN timedOut) {
    const auto* delivery = static_cast<const HeldDelivery*>(held);
    SetEvent(gStarted);
    // A wait the DLL ends properly at unload waits for this delivery, and FreeLibrary with it:
    // then it is made with the DLL still there.
    WaitForSingleObject(gFreed, 2000);
    delivery->callback(delivery->context, timedOut);
    SetEvent(gDone);
}

BOOL WINAPI heldRegisterWait(PHANDLE wait, HANDLE object, WAITORTIMERCALLBACK callback,
                             PVOID context, ULONG milliseconds, ULONG flags) {
    static HeldDelivery held[8];
    static LONG count = 0;
    HeldDelivery* delivery = &held[InterlockedIncrement(&count) % 8];
    *delivery = {callback, context};
    return RegisterWaitForSingleObject(wait, object, &deliverLate, delivery, milliseconds,
                                       flags | WT_EXECUTEONLYONCE);
}

// COM may free a library at CoUninitialize without asking DllCanUnloadNow, while the system is
// delivering a registry change to it. A copy of the DLL places a cabinet (watching the trace
// switch), the registry changes, and every delivery of that change to a wait the DLL asked for
// is held up until FreeLibrary has returned: nothing of the DLL may be waiting for it then.
TEST(Unload, AChangeDeliveredWhileTheLibraryIsFreedFindsNothingOfIt) {
    const std::wstring copy = paths().folder + L"\\vpolv-unloaded.dll";
    ASSERT_TRUE(CopyFileW(paths().vpolvDll.c_str(), copy.c_str(), FALSE));
    const win::UniqueHandle started(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    const win::UniqueHandle freed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const win::UniqueHandle done(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    gStarted = started.get();
    gFreed = freed.get();
    gDone = done.get();
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    std::thread([&] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        const HMODULE dll = LoadLibraryW(copy.c_str());
        ASSERT_NE(dll, nullptr);
        {
            // Only while the DLL is there: the patch writes into it.
            const ImportPatch held(dll, "kernel32.dll", "RegisterWaitForSingleObject",
                                   reinterpret_cast<void*>(&heldRegisterWait));
            ComPtr<IClassFactory> factory;
            ASSERT_EQ(exportOf<GetClassObject>(dll, "DllGetClassObject")(
                          CLSID_Plugin, IID_IClassFactory, factory.putVoid()),
                      S_OK);
            ComPtr<IDispatch> plugin;
            ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, plugin.putVoid()), S_OK);
            fakeHost().reset(cabinetScene());
            Outcome out;
            fire(plugin.get(), Event::Place, out);
            EXPECT_EQ(out.hr, S_OK);
        }
        const DWORD n = 1;
        RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\vpolv-unload-test", L"n", REG_DWORD, &n,
                        sizeof n);
        const bool delivering = WaitForSingleObject(started.get(), 1000) == WAIT_OBJECT_0;
        std::printf("a change %s on its way to the DLL at unload\n",
                    delivering ? "was" : "was not");
        CoUninitialize();
        FreeLibrary(dll);
        SetEvent(freed.get());
        if (delivering)
            WaitForSingleObject(done.get(), 5000);
    }).join();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\vpolv-unload-test");
    DeleteFileW(copy.c_str());
}

}  // namespace
}  // namespace vpolv::winetest
