// gridcull-bench: the culling mode on the command line and in the summary,
// and the perfect culler's frame (--render truth) beside the baselines.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct BenchRun {
    int status;
    std::string out, err;
};

BenchRun Bench(const std::string& args) {
    const std::string base = testing::TempDir() + "gridcull-modes-" + std::to_string(getpid());
    const int raw = std::system((GRIDCULL_BENCH " " + args + " >" + base + ".out 2>" + base + ".err").c_str());
    auto take = [](const std::string& path) {
        std::stringstream s;
        s << std::ifstream(path).rdbuf();
        std::remove(path.c_str());
        return s.str();
    };
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, take(base + ".out"), take(base + ".err")};
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::stringstream s(text);
    for (std::string part; std::getline(s, part, sep);) parts.push_back(part);
    return parts;
}

TEST(BenchModes, StrictOptionAndTheSummaryNamesTheMode) {
    for (const char* bad : {"--strict", "--strict yes", "--strict ON", "--keys xm"}) {
        const BenchRun r = Bench(bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.err.rfind("gridcull-bench: ", 0), 0u) << bad << ": " << r.err;
    }
    const struct {
        const char* args;
        const char* mode;
    } cases[] = {{"--frames 2", "literal"},
                 {"--frames 2 --strict off", "literal"},
                 {"--frames 2 --strict on", "strict"},
                 {"--frames 0 --strict on", "strict"},
                 {"--strict on --frames 3 --keys ..s", "literal and strict (2 of 3 frames strict)"}};
    for (const auto& c : cases) {
        const BenchRun r = Bench(c.args);
        ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(std::string("\nculling: ") + c.mode + "\n"), std::string::npos) << c.args << ": " << r.err;
    }
}

// Render truth draws the true set: its frame is timed without the truth
// pass, and the truth columns are filled without --truth.
TEST(BenchModes, RenderTruthDrawsTheTrueSetAndComparesAsARow) {
    const BenchRun r = Bench("--frames 3 --render truth --csv -");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Split(r.out, '\n');
    ASSERT_EQ(lines.size(), 4u);
    for (size_t k = 1; k < lines.size(); ++k) {
        const std::vector<std::string> f = Split(lines[k], ',');
        ASSERT_EQ(f.size(), 19u) << lines[k];
        EXPECT_GT(std::stoi(f[14]), 0) << lines[k];
        EXPECT_LE(std::stoi(f[14]), std::stoi(f[2])) << lines[k];  // all seen within the frustum
        EXPECT_EQ(f[15], "0") << lines[k];                           // no misses from the start camera
        EXPECT_TRUE(std::stod(f[17]) >= 0 && std::stod(f[18]) >= std::stod(f[17])) << lines[k];
    }

    const BenchRun c = Bench("--frames 2 --compare");
    ASSERT_EQ(c.status, 0) << c.err;
    const std::vector<std::string> table = Split(c.out, '\n');
    ASSERT_EQ(table.size(), 7u) << c.out;
    EXPECT_EQ(table[5].rfind("truth ", 0), 0u) << c.out;
    EXPECT_EQ(table[6].rfind("all/pvs ", 0), 0u) << c.out;
    EXPECT_NE(table[6].find("  pvs/truth "), std::string::npos) << c.out;
}

}  // namespace
