// The simulator's file helpers and the escaping of echoed text.
#include "standalone/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

#include "standalone/echo.h"

namespace vpolv::standalone {
namespace {

namespace fs = std::filesystem;

TEST(Echo, KeepsUtf8AndEscapesTheRest) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"Cajón 45 ¡¡€ 𝄞", "Cajón 45 ¡¡€ 𝄞"},
        {"a\xFF"
         "b",
         "a\\xFFb"},
        {"\xC0\x80", "\\xC0\\x80"},                    // overlong
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // a surrogate
        {"\xE2\x82", "\\xE2\\x82"},                    // cut short
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // beyond U+10FFFF
        {"line\nbreak\x7F", "line\\x0Abreak\\x7F"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(echo(c.in), c.out) << c.out;
    EXPECT_EQ(echoTail("abcdef", 6), "abcdef");
    EXPECT_EQ(echoTail("abcdef", 3), "...def");
    EXPECT_EQ(echoTail("xxéé\xFF", 3), "...éé\\xFF");
}

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("vpolv_files_test_" + std::to_string(getpid()));
        fs::create_directories(root_ / "folder");
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path write(const std::string& name, const std::string& contents) const {
        std::ofstream(root_ / name, std::ios::binary) << contents;
        return root_ / name;
    }

    fs::path root_;
};

TEST_F(FilesTest, ReadsRegularFilesUpToTheirCap) {
    const fs::path fifo = root_ / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        fs::path file;
        std::uintmax_t cap;
        const char* reason;  // nullptr: read
    } cases[] = {
        {write("ini", "[Local]\n"), 8, nullptr},
        {write("large", std::string(kMiB + 1, 'x')), kMiB, "is larger than 1 MiB"},
        {root_ / "folder", kMiB, "is a folder"},
        {"/dev/zero", kMiB, "is not a regular file"},
        {fifo, kMiB, "is not a regular file"},
        {root_ / "none", kMiB, "No such file or directory"},
    };
    for (const auto& c : cases) {
        std::string reason;
        const auto contents = readRegularFile(c.file, c.cap, reason);
        if (c.reason) {
            EXPECT_FALSE(contents) << c.file;
            EXPECT_EQ(reason, c.reason) << c.file;
        } else {
            EXPECT_EQ(contents, "[Local]\n");
        }
    }
}

TEST_F(FilesTest, OutputGoesThroughLinksToARegularFile) {
    write("target.json", "old");
    fs::create_symlink("target.json", root_ / "link");
    fs::create_directories(root_ / "links");
    fs::create_symlink("../link", root_ / "links" / "chain");
    fs::create_symlink("../folder/new.json", root_ / "links" / "dangling");
    fs::create_symlink("loop", root_ / "loop");
    fs::create_symlink("/dev/null", root_ / "device");
    const struct {
        fs::path out;
        fs::path target;     // empty: refused
        const char* reason;  // when refused
    } cases[] = {
        {root_ / "target.json", root_ / "target.json", ""},
        {root_ / "links" / "chain", root_ / "links" / ".." / "target.json", ""},
        {root_ / "links" / "dangling", root_ / "links" / ".." / "folder" / "new.json", ""},
        {root_ / "folder", {}, "is a folder"},
        {root_ / "device", {}, "is not a regular file"},
        {root_ / "none" / "x.json", {}, "no folder "},
        {root_ / "loop", {}, "Too many levels of symbolic links"},
    };
    for (const auto& c : cases) {
        std::string reason;
        const auto target = outputTarget(c.out, reason);
        if (c.target.empty()) {
            EXPECT_FALSE(target) << c.out;
            EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
        } else {
            EXPECT_EQ(target, c.target) << reason;
        }
    }
}

TEST_F(FilesTest, WholeWriteKeepsPermissionsAndLeavesNothingElse) {
    const fs::path file = write("scene.json", "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(writeWhole(file, "new"), std::nullopt);
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 2);
}

// The temporary folder of an event goes when the process is interrupted: the handler removes
// what is registered and the process ends by the signal.
TEST_F(FilesTest, InterruptRemovesTheTemporaryFolder) {
    GTEST_FLAG_SET(death_test_style, "fast");  // the child must see this fixture's folder
    const fs::path temporary = root_ / "tmp";
    fs::create_directories(temporary);
    for (const int signal : {SIGTERM, SIGINT}) {
        EXPECT_EXIT(
            {
                setenv("TMPDIR", temporary.c_str(), 1);
                removeLeftoversOnInterrupt();
                TemporaryFolder folder("vpolv-sim-");
                folder.write("SPACE.INI", "[Local]\r\n");
                std::raise(signal);
            },
            ::testing::KilledBySignal(signal), "");
        EXPECT_TRUE(fs::is_empty(temporary)) << signal;
    }
}

}  // namespace
}  // namespace vpolv::standalone
