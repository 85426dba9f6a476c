// vpolv-sim run as a program where the system has its say: a reader that went away, an --out
// file that cannot grow, --out through a symbolic link, a failed event in every report mode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sim/formats/scene_file.h"

namespace vpolv::sim {
namespace {

namespace fs = std::filesystem;

struct Ran {
    int exit = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("vpolv_command_test_" + std::to_string(getpid()));
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    // Runs vpolv-sim in the examples folder. stdoutFd, when given, is its standard output;
    // inChild runs in the child before the program starts.
    Ran run(std::vector<std::string> args, int stdoutFd = -1,
            const std::function<void()>& inChild = {}) {
        const fs::path out = root_ / "stdout", err = root_ / "stderr";
        const pid_t child = fork();
        if (child == 0) {
            std::signal(SIGPIPE, SIG_DFL);  // as a shell would leave it
            if (inChild)
                inChild();
            const int outFd =
                stdoutFd >= 0 ? stdoutFd : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(outFd, 1);
            dup2(errFd, 2);
            if (chdir(VPOLV_EXAMPLES) != 0)
                _exit(126);
            std::vector<char*> argv{const_cast<char*>(VPOLV_SIM)};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(VPOLV_SIM, argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        Ran ran;
        ran.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        ran.out = stdoutFd >= 0 ? "" : slurp(out);
        ran.err = slurp(err);
        return ran;
    }

    fs::path root_;
};

TEST_F(CommandTest, AReaderThatWentAwayIsAWriteError) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);  // nobody will read
    const Ran ran = run({"showroom.json", "--event", "place"}, pipeFds[1]);
    close(pipeFds[1]);
    EXPECT_EQ(ran.exit, 3);
    EXPECT_NE(ran.err.find("standard output cannot be written: Broken pipe"), std::string::npos)
        << ran.err;
}

TEST_F(CommandTest, AnOutFileThatCannotBeWrittenAfterTheEventIsExitThree) {
    const fs::path out = root_ / "after.json";
    // Room for the plug-in folder's SPACE.INI and the quiet report, not for the scene.
    const Ran ran =
        run({"showroom.json", "--event", "place", "--quiet", "--out", out.string()}, -1, [] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{2048, 2048};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    EXPECT_EQ(ran.exit, 3);
    EXPECT_NE(ran.out.find("info 43: \"70\" -> \"25\""), std::string::npos) << ran.out;
    EXPECT_NE(ran.err.find("after.json: cannot be written: File too large"), std::string::npos)
        << ran.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 2)
        << "only stdout and stderr";
}

TEST_F(CommandTest, OutWritesThroughALinkToItsTarget) {
    fs::create_directories(root_ / "kept");
    fs::create_symlink("kept/after.json", root_ / "link.json");
    const Ran ran = run(
        {"showroom.json", "--event", "place", "--quiet", "--out", (root_ / "link.json").string()});
    EXPECT_EQ(ran.exit, 0) << ran.err;
    EXPECT_TRUE(fs::is_symlink(root_ / "link.json"));
    // The scene reads back from its new place, catalogs folder included.
    const SceneFile after = loadScene(root_ / "kept" / "after.json");
    EXPECT_EQ(*after.catalogsFolder, fs::path(VPOLV_EXAMPLES "/catalogs").lexically_normal());
    EXPECT_EQ(after.scene.objects.at(101).infos.at(43), u"25");
}

TEST_F(CommandTest, AFailedEventGoesToStderrInEveryMode) {
    const std::vector<std::vector<std::string>> modes{
        {}, {"--quiet"}, {"--json"}, {"--json", "--quiet"}};
    for (const auto& mode : modes) {
        std::vector<std::string> args{"bad-points.json", "--event", "place"};
        args.insert(args.end(), mode.begin(), mode.end());
        const Ran ran = run(args);
        EXPECT_EQ(ran.exit, 1);
        EXPECT_NE(
            ran.err.find("vpolv-sim: the event failed: Type mismatch: the points \"n/d\" of line "
                         "\"_3_45_60\" in catalog table 4 are not a number (0x800A000D)"),
            std::string::npos)
            << ran.err;
        if (mode.size() > 0 && mode[0] == "--json") {
            const auto report = nlohmann::json::parse(ran.out);
            EXPECT_EQ(report["format"], 1);
            EXPECT_EQ(report["result"], false);
            EXPECT_EQ(report["error"]["code"], "0x800A000D");
        }
    }
}

TEST_F(CommandTest, EchoedArgumentsShowBytesThatAreNotUtf8Escaped) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"showroom.json", "--event",
          "pl\xFF"
          "ce"},
         "--event: pl\\xFFce not in {place,finishes,scene}"},
        {{"\xFF.json", "--event", "place"}, "\\xFF.json: cannot be read: No such file"},
        {{"showroom.json", "--event", "place", "--\xC0\x80"},
         "The following argument was not expected: --\\xC0\\x80\n"},
    };
    for (const auto& c : cases) {
        const Ran ran = run(c.args);
        EXPECT_EQ(ran.exit, 2);
        EXPECT_NE(ran.err.find(c.message), std::string::npos) << ran.err;
    }
}

}  // namespace
}  // namespace vpolv::sim
