// The doctor's checks that every system makes: a host folder with its SPACE.INI and catalogs,
// the decimal separator, the PE header, and the report's exit status.
#include "support/doctor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "common/fixed_locale.h"
#include "platform/native.h"
#include "support/collect.h"

namespace vpolv::support::doctor {
namespace {

namespace fs = std::filesystem;

// "name=ok" / "name=problem" for each check, in order.
std::vector<std::string> outcomes(const Report& report) {
    std::vector<std::string> lines;
    for (const auto& finding : report.findings())
        lines.push_back(finding.name + (finding.ok ? "=ok" : "=problem"));
    return lines;
}

const Finding& finding(const Report& report, const std::string& name) {
    for (const auto& each : report.findings()) {
        if (each.name == name)
            return each;
    }
    throw std::runtime_error("no check " + name);
}

class HostFolderTest : public ::testing::Test {
  public:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("vpolv_doctor_test_" + std::to_string(getpid()));
        fs::create_directories(root_ / "host");
    }
    void TearDown() override { fs::remove_all(root_); }

    void write(const std::string& relative, const std::string& contents) const {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative, std::ios::binary) << contents;
    }
    std::string catalogs() const { return (root_ / "catalogs").string(); }

    Report check(char16_t decimal = u'.') const {
        const FixedLocale locale(decimal);
        const auto files = platform::makeFileSystem((root_ / "host").u16string());
        Report report;
        checkHostFolder(report, *files, *platform::makeProfile(), locale);
        return report;
    }

    fs::path root_;
};

TEST_F(HostFolderTest, NamesEachFaultByItsCheck) {
    const std::vector<std::string> allOk = {"SPACE.INI=ok", "CatalogsDir=ok", "catalog 503=ok",
                                            "catalog 570=ok"};
    const struct {
        const char* name;
        std::function<void(HostFolderTest&)> arrange;
        std::vector<std::string> outcomes;
    } cases[] = {
        {"healthy", [](HostFolderTest&) {}, allOk},
        {"no SPACE.INI",
         [](HostFolderTest& t) { fs::remove(t.root_ / "host/SPACE.INI"); },
         {"SPACE.INI=problem", "catalog 503=problem", "catalog 570=problem"}},
        {"no CatalogsDir",
         [](HostFolderTest& t) { t.write("host/SPACE.INI", "[Local]\r\nCatalogsDir=\r\n"); },
         {"SPACE.INI=ok", "CatalogsDir=problem", "catalog 503=problem", "catalog 570=problem"}},
        {"missing catalogs folder",
         [](HostFolderTest& t) { t.write("host/SPACE.INI", "[Remote]\nCatalogsDir=/nowhere/x\n"); },
         {"SPACE.INI=ok", "CatalogsDir=problem", "catalog 503=problem", "catalog 570=problem"}},
        {"empty catalog file",
         [](HostFolderTest& t) { t.write("catalogs/b/polvas13.cat", ""); },
         {"SPACE.INI=ok", "CatalogsDir=ok", "catalog 503=ok", "catalog 570=problem"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write("host/SPACE.INI",
              "[Local]\nCatalogsDir=\n[InSitu]\nCatalogsDir=" + catalogs() + "\n");
        write("catalogs/a/polvas10.cat", "503 old");
        write("catalogs/b/polvas10.cat", "503");
        write("catalogs/b/polvas13.cat", "570");
        c.arrange(*this);
        EXPECT_EQ(outcomes(check()), c.outcomes);
    }
}

TEST_F(HostFolderTest, SaysWhatThePluginPassesToTheHost) {
    write("host/SPACE.INI", "[InSitu]\nCatalogsDir=" + catalogs() + "\n");
    write("catalogs/a/polvas10.cat", "old");
    write("catalogs/b/polvas10.cat", "new");
    const Report report = check();
    EXPECT_NE(finding(report, "CatalogsDir").text.find("[InSitu] CatalogsDir="), std::string::npos);
    // The last subfolder in listing order wins, as in the plug-in.
    EXPECT_EQ(
        finding(report, "catalog 503").text.rfind(catalogs() + "/b/polvas10.cat (3 bytes)", 0), 0u);
    EXPECT_NE(finding(report, "catalog 570").text.find("the bare name \"polvas13\""),
              std::string::npos);
    EXPECT_EQ(report.exitCode(), kNotOk);
    const auto json = nlohmann::json::parse(jsonReport(report));
    EXPECT_EQ(json["problems"], 1);
    EXPECT_EQ(json["exitCode"], kNotOk);
    EXPECT_NE(textReport(report).find("\n  problem: catalog 570: "), std::string::npos);
}

TEST(DecimalSeparator, SaysHowLinesAreNamedAndPointsRead) {
    const struct {
        char16_t separator;
        const char* says;
    } cases[] = {
        {u',',
         "the comma: half of 45 is written \"22,5\" in catalog line names, \"12,5\" reads "
         "as 12.5 and \"12.5\" as 125 points"},
        {u'.',
         "the point: half of 45 is written \"22.5\" in catalog line names, \"12,5\" reads "
         "as 125 and \"12.5\" as 12.5 points"},
    };
    for (const auto& c : cases) {
        Report report;
        checkDecimalSeparator(report, FixedLocale(c.separator));
        ASSERT_EQ(outcomes(report), std::vector<std::string>{"decimal separator=ok"});
        EXPECT_EQ(report.findings()[0].text.rfind(c.says, 0), 0u) << report.findings()[0].text;
    }
}

// A PE header: "MZ", the PE header's offset at 0x3C, "PE\0\0", the machine, and the optional
// header's magic 20 bytes after the machine.
std::string peHeader(unsigned machine, unsigned magic, std::size_t size = 0x100) {
    std::string head(size, '\0');
    const auto put16 = [&](std::size_t at, unsigned value) {
        if (at + 1 < head.size()) {
            head[at] = static_cast<char>(value & 0xFF);
            head[at + 1] = static_cast<char>(value >> 8);
        }
    };
    head[0] = 'M';
    head[1] = 'Z';
    put16(0x3C, 0x80);
    if (0x84 <= head.size())
        head.replace(0x80, 4, std::string("PE\0\0", 4));
    put16(0x84, machine);
    put16(0x98, magic);
    return head;
}

TEST(PeKind, TellsTheBitnessOrWhyNot) {
    const struct {
        std::string head;
        int bits;
        const char* machineOrReason;
    } cases[] = {
        {peHeader(0x014C, 0x10B), 32, "x86"},
        {peHeader(0x8664, 0x20B), 64, "x64"},
        {peHeader(0xAA64, 0x20B), 64, "ARM64"},
        {peHeader(0x01C4, 0x10B), 32, "machine 0x01C4"},
        {"ELF and more bytes than an MZ header needs..............................", 0,
         "not a program file (no MZ header)"},
        {peHeader(0x8664, 0x20B, 0x90), 0,
         "not a PE file (no PE header where the MZ header points)"},
        {peHeader(0x8664, 0x0107), 0, "a PE file without a 32-bit or 64-bit optional header"},
    };
    for (const auto& c : cases) {
        std::string reason;
        const auto kind = peKind(c.head, reason);
        EXPECT_EQ(kind ? kind->bits : 0, c.bits) << c.machineOrReason;
        EXPECT_EQ(kind ? kind->machine : reason, c.machineOrReason);
    }
}

// collect's bundle takes the SPACE.INI files and each registered DLL's findings from the report
// by their kind, whichever overload named the check.
TEST(Bundle, TakesTheFindingsItNeedsByTheirKind) {
    Report report;
    report.group("64-bit view, per machine");
    report.ok("class", "registered");
    report.ok(Check::Dll, "C:\\vpolv\\vpolv.dll (1 bytes)", "C:/vpolv/vpolv.dll");
    report.ok("DLL bitness", "64-bit (x64), as the view");
    report.problem(Check::Signature, "not signed");
    report.ok(Check::SpaceIni, "read", "C:/vpolv/SPACE.INI");
    report.group("32-bit view, per user");
    report.ok("DLL", "the same", "C:/vpolv32/vpolv.dll");
    report.ok("SPACE.INI", "read", "C:/vpolv/SPACE.INI");
    report.ok("SPACE.INI", "read", "C:/vpolv32/SPACE.INI");
    report.group("user");
    report.ok("version", "not a DLL's: left out");
    EXPECT_EQ(collect::spaceIniPaths(report),
              (std::vector<std::string>{"C:/vpolv/SPACE.INI", "C:/vpolv32/SPACE.INI"}));

    collect::Collected collected;
    collected.events = 1;
    collected.trace = "{}\n";
    const auto entries = collect::bundleEntries(
        collected, report, {{"C:/vpolv/SPACE.INI", "a"}, {"C:/vpolv32/SPACE.INI", "b"}});
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.name);
    EXPECT_EQ(names, (std::vector<std::string>{"trace.jsonl", "doctor.json", "versions.txt",
                                               "SPACE.INI", "SPACE-2.INI", "README.txt"}));
    const std::string& versions = entries[2].data;
    EXPECT_NE(versions.find("\r\n64-bit view, per machine\r\n  DLL: C:\\vpolv\\vpolv.dll (1 "
                            "bytes)\r\n  DLL bitness: 64-bit (x64), as the view\r\n  signature: "
                            "not signed\r\n\r\n32-bit view, per user\r\n  DLL: the same\r\n"),
              std::string::npos)
        << versions;
    EXPECT_EQ(versions.find("version: not"), std::string::npos);
}

}  // namespace
}  // namespace vpolv::support::doctor
