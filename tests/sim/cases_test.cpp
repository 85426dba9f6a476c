// The cases of tests/sim/cases.txt run in-process, through runSim: the exit status and output
// that the program gives under CTest, without a process of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim.h"

namespace vpolv::sim {
namespace {

namespace fs = std::filesystem;

const fs::path kScratch =
    fs::temp_directory_path() / ("vpolv_cases_test_" + std::to_string(getpid()));

struct Case {
    std::string name;
    std::string folder;
    std::vector<std::string> args;
    int exit = 0;
    std::vector<std::pair<std::string, std::string>> expected;  // golden, stdout or stderr
};

// What GoogleTest prints of a case: its name.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? ""
                                      : text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos;
         start = at + separator.size())
        parts.push_back(trim(text.substr(start, at - start)));
    parts.push_back(trim(text.substr(start)));
    return parts;
}

std::string substitute(std::string text) {
    const std::pair<std::string, std::string> places[] = {
        {"{root}", VPOLV_ROOT},
        {"{examples}", VPOLV_ROOT "/examples"},
        {"{golden}", VPOLV_ROOT "/tests/sim/golden"},
        {"{bad}", VPOLV_ROOT "/tests/sim/bad"},
        {"{cases}", VPOLV_ROOT "/tests/sim"},
        {"{scratch}", kScratch.string()},
    };
    for (const auto& [name, path] : places) {
        for (std::size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, name.size(), path);
    }
    return text;
}

std::vector<Case> readCases() {
    std::ifstream in(VPOLV_ROOT "/tests/sim/cases.txt");
    std::vector<Case> cases;
    for (std::string line; std::getline(in, line);) {
        if (trim(line).empty() || line[0] == '#')
            continue;
        const auto fields = split(substitute(line), "|");
        Case c{fields.at(0), fields.at(1), {}, std::stoi(fields.at(3)), {}};
        std::istringstream words(fields.at(2));
        for (std::string word; words >> word;)
            c.args.push_back(word);
        for (const auto& check : split(fields.at(4), " & ")) {
            const auto space = check.find(' ');
            c.expected.emplace_back(check.substr(0, space), check.substr(space + 1));
        }
        cases.push_back(std::move(c));
    }
    return cases;
}

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Cases : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override { fs::create_directories(kScratch); }
    void TearDown() override { fs::remove_all(kScratch); }
};

TEST_P(Cases, RunAsTheProgramRunsThem) {
    const Case& c = GetParam();
    // Where --out points, when nothing is there yet: a refused run leaves nothing there.
    std::vector<fs::path> outs;
    for (std::size_t i = 0; i + 1 < c.args.size(); ++i) {
        const fs::path out = fs::path(c.folder) / c.args[i + 1];
        if (c.args[i] == "--out" && !fs::exists(out))
            outs.push_back(out);
    }
    const fs::path before = fs::current_path();
    fs::current_path(c.folder);
    std::ostringstream out;
    std::ostringstream err;
    const int status = runSim(c.args, out, err);
    fs::current_path(before);
    EXPECT_EQ(status, c.exit) << err.str();
    for (const auto& [kind, expected] : c.expected) {
        if (kind == "golden") {
            EXPECT_EQ(out.str(), slurp(expected)) << expected;
        } else if (kind == "stdout") {
            EXPECT_TRUE(std::regex_search(out.str(), std::regex(expected))) << out.str();
        } else if (kind == "stderr") {
            EXPECT_TRUE(std::regex_search(err.str(), std::regex(expected))) << err.str();
        } else {
            ADD_FAILURE() << "expected " << kind;
        }
    }
    for (const auto& file : outs)
        EXPECT_TRUE(status != 2 || !fs::exists(file)) << file;
}

INSTANTIATE_TEST_SUITE_P(File, Cases, ::testing::ValuesIn(readCases()), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
});

}  // namespace
}  // namespace vpolv::sim
