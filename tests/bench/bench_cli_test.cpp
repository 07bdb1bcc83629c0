// gridcull-bench end to end: options, errors, dumps and per-frame output.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct BenchRun {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/gridcull-bench-test-" + std::to_string(getpid()) + "-" + name;
}

BenchRun Bench(const std::string& args) {
    const std::string out = TempPath("stdout"), err = TempPath("stderr");
    const std::string cmd = std::string(GRIDCULL_BENCH) + " " + args + " >" + out + " 2>" + err;
    int raw = std::system(cmd.c_str());
    BenchRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string f; std::getline(s, f, ',');) fields.push_back(f);
    return fields;
}

int FirstLineCount(const std::string& err) { return static_cast<int>(Lines(err).size()); }

}  // namespace

TEST(BenchCli, HelpAndBadOptions) {
    BenchRun help = Bench("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--frames"), std::string::npos);

    const char* bad[] = {"--bogus", "--frames", "--frames -3", "--frames 12x", "--fusion maybe",
                         "--motion 1",  "--keys xq", "--csv /nonexistent-dir/x.csv"};
    for (const char* args : bad) {
        BenchRun r = Bench(args);
        EXPECT_EQ(r.status, 2) << args;
        ASSERT_GT(FirstLineCount(r.err), 1) << args;
        EXPECT_EQ(r.err.rfind("gridcull-bench: ", 0), 0u) << args << ": " << r.err;
        EXPECT_NE(r.err.find("usage: gridcull-bench"), std::string::npos) << args;
    }
}

TEST(BenchCli, SceneDumpHasEveryObjectWithItsFields) {
    BenchRun r = Bench("--frames 0 --dump-scene -");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5001u);
    EXPECT_EQ(lines[0],
              "index,px,py,pz,vx,vy,vz,ax,ay,az,wx,wy,wz,radius,bound_radius,grey,id_r,id_g,id_b,tbv_end");
    std::vector<std::string> first = Fields(lines[1]);
    ASSERT_EQ(first.size(), 20u);
    EXPECT_EQ(first[0], "0");
    EXPECT_NEAR(std::stod(first[1]), 12.187567, 1e-5);
    EXPECT_NEAR(std::stod(first[3]), 58.4851, 1e-5);
    EXPECT_EQ(first[7], "131");
    EXPECT_EQ(first[19], "36");
    std::vector<std::string> last = Fields(lines[5000]);
    EXPECT_EQ(last[0], "4999");
    EXPECT_EQ(last[16] + "," + last[17] + "," + last[18], "0,19,135");
    EXPECT_NE(r.err.find("set-up:"), std::string::npos);
}

TEST(BenchCli, OccluderDumpListsAscendingCellsThenCounts) {
    const std::string path = TempPath("occluders");
    BenchRun r = Bench("--frames 0 --dump-occluders " + path);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(Slurp(path));
    std::remove(path.c_str());
    size_t split = 0;
    while (split < lines.size() && lines[split] != "---") ++split;
    ASSERT_LT(split, lines.size());
    ASSERT_GT(split, 1000u);  // the static spheres fill many cells
    long previous = -1;
    for (size_t k = 0; k < split; ++k) {
        long cell = std::stol(lines[k]);
        ASSERT_GT(cell, previous);
        ASSERT_LT(cell, 343000);
        previous = cell;
    }
    previous = -1;
    for (size_t k = split + 1; k < lines.size(); ++k) {
        std::vector<std::string> f = Fields(lines[k]);
        ASSERT_EQ(f.size(), 2u) << lines[k];
        long cell = std::stol(f[0]);
        ASSERT_GT(cell, previous);
        ASSERT_GT(std::stoi(f[1]), 0);
        previous = cell;
    }
}

TEST(BenchCli, FramesFollowTheKeysAndRepeatExactly) {
    const std::string lists = TempPath("lists");
    BenchRun r = Bench("--frames 6 --keys X.Xt9 --csv - --pvs-lists " + lists);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "frame,pvs,pvsvf,dist,view_x,view_y,view_z,roll,yaw,pitch,fov,visibility_ms,cells_tested");
    const char* viewX[] = {"36", "36", "37", "37", "37", "37"};
    const char* pitch[] = {"0", "0", "0", "0", "1", "1"};
    std::vector<std::string> listLines = Lines(Slurp(lists));
    std::remove(lists.c_str());
    ASSERT_EQ(listLines.size(), 6u);
    for (int k = 0; k < 6; ++k) {
        std::vector<std::string> f = Fields(lines[k + 1]);
        ASSERT_EQ(f.size(), 13u);
        EXPECT_EQ(f[0], std::to_string(k));
        EXPECT_EQ(f[4], viewX[k]) << "frame " << k;
        EXPECT_EQ(f[9], pitch[k]) << "frame " << k;
        EXPECT_GT(std::stoi(f[12]), 0);
        // The list holds exactly the pvs count, ascending, after "k:".
        std::stringstream s(listLines[k]);
        std::string head;
        s >> head;
        EXPECT_EQ(head, std::to_string(k) + ":");
        int count = 0, previous = -1;
        for (int index; s >> index; ++count) {
            EXPECT_GT(index, previous);
            previous = index;
        }
        EXPECT_EQ(count, std::stoi(f[1])) << "frame " << k;
        EXPECT_LE(std::stoi(f[1]), std::stoi(f[2])) << "frame " << k;
    }

    // Same input, same counts: only the timing column may differ.
    BenchRun again = Bench("--frames 6 --keys X.Xt9 --csv -");
    std::vector<std::string> second = Lines(again.out);
    ASSERT_EQ(second.size(), lines.size());
    for (size_t k = 1; k < lines.size(); ++k) {
        std::vector<std::string> a = Fields(lines[k]), b = Fields(second[k]);
        a.erase(a.begin() + 11);
        b.erase(b.begin() + 11);
        EXPECT_EQ(a, b) << "frame " << k - 1;
    }
    EXPECT_NE(r.err.find("frames: 6"), std::string::npos);
}
