// End-to-end tests of the interactive program on one virtual X server: the
// console text, the window read back from screenshots, keys and mouse sent by
// a real X client, a storm of random input, set-up failures and a leak check.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "scene/World.h"

namespace {

constexpr int kTimeoutMs = 60000;       // start-up, exit
constexpr int kFrameTimeoutMs = 20000;  // a change to show on screen

std::string gOutputDir;

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::string ReadFile(const std::string& path) { return Shell("cat '" + path + "'"); }

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void Xdo(const std::string& args) {
    if (std::system(("xdotool " + args).c_str()) != 0) ADD_FAILURE() << "xdotool " << args;
}

// A launched program; killed when the test ends while it still runs.
struct Program {
    pid_t pid = -1;
    std::string out, err;
    // failAlloc: "min max" byte range of allocations to fail, or empty.
    void Launch(const std::string& name, const std::string& failAlloc = "") {
        out = gOutputDir + "/" + name + ".out", err = gOutputDir + "/" + name + ".err";
        const std::string preload =
            failAlloc.empty() ? "" : "LD_PRELOAD=" GRIDCULL_FAIL_ALLOC " GRIDCULL_TEST_FAIL_ALLOC='" + failAlloc + "' ";
        const std::string command = "exec env " + preload + GRIDCULL_APP " > " + out + " 2> " + err;
        if ((pid = fork()) == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Program() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
    // Exit status, or -1000 when still running at the timeout (then killed).
    int WaitForExit() {
        for (int waited = 0, status = 0; waited < kTimeoutMs; waited += 50, Sleep(50))
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            }
        return -1000;
    }
};

// The program's window, once it is mapped; empty when the program ended
// first (its status and standard error are reported) or at the timeout.
// Without a window manager the window sits at (-1, -1) with a one-pixel
// border; it is moved fully on screen so that screenshots hold all of it.
std::string FindWindow(Program& app) {
    for (int waited = 0, status = 0; waited < kTimeoutMs; waited += 200, Sleep(200)) {
        std::string id = Shell("xdotool search --name '^gridcull: ' 2>/dev/null");
        if (!id.empty()) {
            id = id.substr(0, id.find('\n'));
            std::system(("xdotool windowmove " + id + " 20 20").c_str());
            return id;
        }
        if (app.pid > 0 && waitpid(app.pid, &status, WNOHANG) == app.pid) {
            app.pid = -1;
            ADD_FAILURE() << "the program ended before its window appeared, status " << status << "\nstdout:\n"
                          << ReadFile(app.out) << "\nstderr:\n"
                          << ReadFile(app.err);
            return "";
        }
    }
    return "";
}

struct Pixel {
    int r, g, b;
};

// 600 x 350 pixels of RGB, rows from the top; empty when the screenshot failed.
using Image = std::string;
Pixel At(const Image& image, int x, int y) {
    const auto* p = reinterpret_cast<const unsigned char*>(&image[3 * (y * 600 + x)]);
    return {p[0], p[1], p[2]};
}

Image Screenshot(const std::string& window) {
    const std::string header = "P6\n600 350\n255\n";
    const std::string ppm = Shell("import -window " + window + " -depth 8 ppm:- 2>/dev/null");
    const bool whole = ppm.size() == header.size() + 3 * 600 * 350 && ppm.compare(0, header.size(), header) == 0;
    return whole ? ppm.substr(header.size()) : "";
}

// Screen rows count from the top of the window.
struct Region {
    int x0, y0, x1, y1;
    int Area() const { return (x1 - x0) * (y1 - y0); }
};
constexpr Region kOverview = {0, 50, 300, 350};
constexpr Region kView3D = {300, 50, 600, 350};
// With rendering disabled the 3D view is black apart from the word DISABLED,
// which sits at window (418, 150), screen rows about 190 to 199.
constexpr Region kDisabledText = {410, 185, 480, 202};

using PixelPredicate = std::function<bool(Pixel)>;
using ImagePredicate = std::function<bool(const Image&)>;
PixelPredicate Rgb(int r, int g, int b) {
    return [=](Pixel p) { return p.r == r && p.g == g && p.b == b; };
}
const PixelPredicate IsWhite = Rgb(255, 255, 255), IsBlack = Rgb(0, 0, 0), IsRed = Rgb(255, 0, 0),
                     IsGreen = Rgb(0, 255, 0), IsBlue = Rgb(0, 0, 255), IsIdBackdrop = Rgb(1, 0, 0);
bool IsMidGrey(Pixel p) { return p.r == p.g && p.g == p.b && p.r > 0 && p.r < 255; }
bool IsViolet(Pixel p) { return p.b > p.r + 40 && p.b > p.g + 40 && p.r > 40; }
// Colours outside the overview's own palette: the structure display.
bool IsStructure(Pixel p) { return !(IsWhite(p) || IsBlack(p) || IsRed(p) || IsGreen(p) || IsBlue(p)); }

// Count and centroid of the matching pixels.
struct Match {
    double x = 0, y = 0;
    int n = 0;
};
Match Find(const Image& image, Region r, const PixelPredicate& pred) {
    Match m;
    for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x < r.x1; ++x)
            if (pred(At(image, x, y))) m.x += x, m.y += y, ++m.n;
    if (m.n) m.x /= m.n, m.y /= m.n;
    return m;
}
int Count(const Image& image, Region r, const PixelPredicate& pred) { return Find(image, r, pred).n; }
ImagePredicate MoreThan(int n, Region r, const PixelPredicate& pred) {
    return [=](const Image& im) { return Count(im, r, pred) > n; };
}

const ImagePredicate ShowsLitSpheres = MoreThan(20000, kView3D, IsMidGrey);
bool ShowsDisabled(const Image& im) {
    const int white = Count(im, kView3D, IsWhite);
    return white > 30 && Count(im, kDisabledText, IsWhite) == white &&
           Count(im, kView3D, IsBlack) == kView3D.Area() - white;
}

const std::string kConsole =
    "gridcull - occlusion culling of a dynamic scene in a uniform grid\n"
    "Front-to-back shells, fused occluders and temporal bounding volumes\n\n"
    "Grid size: 70x70x70  Static objects: 4800  Dynamic objects: 200\n\n"
    "Keys:\nARROWS   move viewpoint\nHOME/END rotate\n1        increase field of view\n"
    "2        decrease field of view\n3        toggle structure display mode\nt        toggle occluder fusion\n"
    "h        toggle scene rendering\ne        toggle exact visibility calculation\n\nPlease wait...";

// One running demo shared by the session's checks, in order; each check
// starts from the state the previous one left.
struct Session {
    Program app;
    std::string window, at;  // at: a mouse move within the window, less its coordinates
    Image image;             // the last screenshot
    Match redAxis;           // the overview's x axis before any drag

    // Takes screenshots until pred holds (frames follow continuously); false
    // when it never does.
    bool Until(const ImagePredicate& pred) {
        for (int waited = 0; waited < kFrameTimeoutMs; waited += 100, Sleep(100))
            if (!(image = Screenshot(window)).empty() && pred(image)) return true;
        return false;
    }
    void Keys(const std::string& keys) {
        Xdo("windowfocus " + window + " key --window " + window + " --delay 20 " + keys);
    }
};

void FirstLitFrame(Session& s) {
    s.app.Launch("session");
    s.window = FindWindow(s.app);
    s.at = "mousemove --window " + s.window + " ";
    ASSERT_FALSE(s.window.empty()) << "no window";
    ASSERT_TRUE(s.Until(ShowsLitSpheres)) << "no lit spheres in the 3D view";
}

void Layout(Session& s) {
    const Image& image = s.image;
    // Status panel: black with white text, white line along its lower edge.
    const Region panelInside = {0, 0, 600, 49};
    EXPECT_GT(Count(image, panelInside, IsWhite), 300);
    EXPECT_GT(Count(image, panelInside, [](Pixel p) { return IsWhite(p) || IsBlack(p); }), panelInside.Area() - 50);
    EXPECT_GE(Count(image, {0, 49, 600, 50}, IsWhite), 595);
    // Overview: white, with the three axes and the black viewpoint, and no
    // other colour while the structure display is off.
    EXPECT_GT(Count(image, kOverview, IsWhite), kOverview.Area() * 7 / 10);
    for (const PixelPredicate& axis : {IsRed, IsGreen, IsBlue}) EXPECT_GT(Count(image, kOverview, axis), 200);
    EXPECT_EQ(Count(image, kOverview, IsStructure), 0);
    // With the untouched trackball the red x axis points left.
    s.redAxis = Find(image, kOverview, IsRed);
    EXPECT_LT(s.redAxis.x, Find(image, kOverview, IsGreen).x - 40);
    // 3D view: grey materials under white lights, so every pixel is neutral,
    // shaded over many levels.
    std::vector<bool> levels(256);
    EXPECT_EQ(Count(image, kView3D, [&](Pixel p) { return levels[p.r] = true, p.r != p.g || p.g != p.b; }), 0);
    EXPECT_GT(std::count(levels.begin(), levels.end(), true), 60);
}

// h: the 3D view goes black apart from the word DISABLED; h again brings the
// scene back.
void RenderingToggle(Session& s) {
    s.Keys("h");
    ASSERT_TRUE(s.Until(ShowsDisabled)) << "rendering not disabled";
    s.Keys("h");
    ASSERT_TRUE(s.Until(ShowsLitSpheres)) << "rendering not enabled again";
}

// 3: hidden cells (violet) and occluder cells (grey) appear as shaded boxes in
// the overview, and leave with the second press. Seen from the start side the
// footprint squares on the z = 0 wall cover most cells, so the overview is
// first turned half round by a left drag from the ball's centre to its rim.
void StructureDisplayAndLeftDrag(Session& s) {
    s.Keys("3");
    ASSERT_TRUE(s.Until(MoreThan(2000, kOverview, IsStructure))) << "no structure display";
    EXPECT_GT(Count(s.image, kOverview, IsMidGrey), 50);
    Xdo(s.at + "300 150 mousedown 1 " + s.at + "400 150 sleep 0.2 " + s.at + "555 150 sleep 0.2 mouseup 1");
    ASSERT_TRUE(s.Until(MoreThan(1000, kOverview, IsViolet))) << "no hidden cells";
    s.Keys("3");
    ASSERT_TRUE(s.Until([](const Image& im) { return Count(im, kOverview, IsStructure) == 0; })) << "structure stays";
    const Match turned = Find(s.image, kOverview, IsRed);
    const double dx = turned.x - s.redAxis.x, dy = turned.y - s.redAxis.y;
    EXPECT_GT(dx * dx + dy * dy, 100) << "left drag did not turn the overview";
    // Moving without a button turns nothing.
    Xdo(s.at + "60 60 sleep 0.5");
    const Match still = Find(s.image = Screenshot(s.window), kOverview, IsRed);
    EXPECT_LE(std::max(std::abs(still.x - turned.x), std::abs(still.y - turned.y)), 0.5) << still.x << " " << still.y;
}

// The miss overlay (m) on the yaw turn from the start camera: at 180 degrees
// the view looks through the sphere around the viewpoint, whose solid cells
// make literal culling drop what the image shows, drawn in red. Strict
// culling (s) drops nothing, so the red goes. Leaves the start view, literal.
void MissOverlay(Session& s) {
    std::string turn = "m", back = "m s";
    for (int i = 0; i < 180; ++i) turn += " 7", back += " 8";
    s.Keys(turn);
    EXPECT_TRUE(s.Until(MoreThan(1000, kView3D, IsRed))) << "no red misses in literal mode";
    s.Keys("s");
    EXPECT_TRUE(s.Until([](const Image& im) { return Count(im, kView3D, IsRed) == 0; })) << "misses in strict mode";
    s.Keys(back);
}

// X: the viewpoint moves along +x, the way the red axis points in the overview
// (right, now that the overview is turned half round).
void ViewpointKeys(Session& s) {
    const Match before = Find(s.image, kOverview, IsBlack);
    ASSERT_GT(before.n, 0);
    const double xSign = Find(s.image, kOverview, IsRed).x > Find(s.image, kOverview, IsGreen).x ? 1 : -1;
    s.Keys("X X X X X");
    ASSERT_TRUE(s.Until([&](const Image& im) { return (Find(im, kOverview, IsBlack).x - before.x) * xSign > 5; }))
        << "viewpoint did not move";
    EXPECT_NEAR(Find(s.image, kOverview, IsBlack).y, before.y, 2.0);
}

// At the far z wall looking out of the grid the backdrop shows: black in
// normal drawing, and in the identifier pass a colour that decodes to no
// object, so empty pixels do not count as object 0.
void Backdrops(Session& s) {
    std::string toFarWall;
    for (int i = 0; i < 34; ++i) toFarWall += "Z ";
    s.Keys(toFarWall);
    ASSERT_TRUE(s.Until(MoreThan(kView3D.Area() / 2, kView3D, IsBlack))) << "no black backdrop";
    s.Keys("e");
    ASSERT_TRUE(s.Until(MoreThan(kView3D.Area() / 2, kView3D, IsIdBackdrop))) << "no identifier backdrop";
    EXPECT_EQ(
        Count(s.image, kView3D,
              [](Pixel p) { return !IsIdBackdrop(p) && !(p.r == 0 && p.g * 256 + p.b < gridcull::kObjectCount); }),
        0);
}

// Right drag downward: the overview moves away, and its axes shrink.
void RightDrag(Session& s) {
    auto axes = [](const Image& im) { return Count(im, kOverview, IsRed) + Count(im, kOverview, IsGreen); };
    const int axesBefore = axes(s.image);
    Xdo(s.at + "150 100 mousedown 3 " + s.at + "150 180 sleep 0.2 " + s.at + "150 250 sleep 0.2 mouseup 3");
    ASSERT_TRUE(s.Until([&](const Image& im) { return axes(im) < axesBefore * 3 / 4; })) << "right drag did not zoom";
}

// Every bound key except Esc, and keys the program ignores: ASCII ones that
// reach the keyboard callback unbound, and keys that only GLUT's special-key
// callback would see.
const char* const kStormKeys[] = {
    "x",         "X",   "y",      "Y",    "z",     "Z",  "0",    "1",    "2",   "3",  "4",      "5",     "6",
    "7",         "8",   "9",      "t",    "h",     "e",  "s",    "m",  "q",    "a",    "T",   "H",  "E",      "space", "Return",
    "BackSpace", "Tab", "Delete", "Left", "Right", "Up", "Down", "Home", "End", "F1", "Page_Up"};
// Drags with the left, the right or both buttons.
const char* const kStormButtons[][2] = {
    {"mousedown 1 ", "mouseup 1"}, {"mousedown 3 ", "mouseup 3"}, {"mousedown 1 mousedown 3 ", "mouseup 3 mouseup 1"}};

// Random keys and drags, then the program must still draw and take keys. A
// fresh storm every run; GRIDCULL_STORM_SEED replays the key sequence of a
// failed one (the timing of the events is not replayed). 20 s by default;
// GRIDCULL_STORM_SECONDS=120 gives the long run.
void Storm(Session& s) {
    const char* seedText = std::getenv("GRIDCULL_STORM_SEED");
    const unsigned long long seed =
        seedText && *seedText ? std::strtoull(seedText, nullptr, 0) : std::random_device()();
    const char* secondsText = std::getenv("GRIDCULL_STORM_SECONDS");
    const int seconds = secondsText && std::atoi(secondsText) > 0 ? std::atoi(secondsText) : 20;
    SCOPED_TRACE("storm seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    auto below = [&](std::size_t n) { return static_cast<int>(rng() % n); };
    auto point = [&] { return std::to_string(below(600)) + " " + std::to_string(below(350)) + " "; };
    int bursts = 0;
    for (const auto start = std::chrono::steady_clock::now();
         std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds); ++bursts) {
        std::string args = "windowfocus " + s.window + " key --window " + s.window + " --delay 5";
        if (below(3) != 0) {
            for (int k = 0, n = 5 + below(20); k < n; ++k)
                args += std::string(" ") + kStormKeys[below(std::size(kStormKeys))];
        } else {
            const auto& buttons = kStormButtons[below(3)];
            args = s.at + point() + buttons[0];
            for (int k = 0, n = 2 + below(6); k < n; ++k) args += s.at + point() + "sleep 0.02 ";
            args += buttons[1];
        }
        int status = std::system(("xdotool " + args + " 2>/dev/null").c_str());
        ASSERT_EQ(status, 0) << "burst " << bursts << ": xdotool " << args;
        ASSERT_EQ(waitpid(s.app.pid, &status, WNOHANG), 0)
            << "the program ended (wait status " << status << ") in burst " << bursts << ": xdotool " << args;
    }
    std::printf("storm: %d bursts in %d s (seed %llu)\n", bursts, seconds, seed);
    // h switches the drawing off or on, whichever the storm left, and back.
    ASSERT_TRUE(s.Until([](const Image&) { return true; })) << "no screenshot";
    const bool disabled = ShowsDisabled(s.image);
    for (const bool want : {!disabled, disabled}) {
        s.Keys("h");
        ASSERT_TRUE(s.Until([&](const Image& im) { return ShowsDisabled(im) == want; }))
            << "key h not taken, drawing should be " << (want ? "off" : "on");
    }
}

// Esc ends the program, so xdotool may lose the window while it returns.
void EscAndConsole(Session& s) {
    std::system(("xdotool windowfocus " + s.window + " key --window " + s.window + " Escape 2>/dev/null").c_str());
    EXPECT_EQ(s.app.WaitForExit(), 0);
    EXPECT_EQ(ReadFile(s.app.out), kConsole + std::string(13, '.') + " done!\n\n");
    EXPECT_EQ(ReadFile(s.app.err), "");
}

// A further check is one more function here, at the point of the session
// whose state it needs.
const std::pair<const char*, void (*)(Session&)> kSessionChecks[] = {
    {"first lit frame", FirstLitFrame},
    {"layout", Layout},
    {"key h", RenderingToggle},
    {"keys m and s", MissOverlay},
    {"key 3 and left drag", StructureDisplayAndLeftDrag},
    {"key X", ViewpointKeys},
    {"backdrops and key e", Backdrops},
    {"right drag", RightDrag},
    {"storm", Storm},
    {"Esc and console text", EscAndConsole},
};

TEST(App, OneSessionDrawsTheLayoutTakesKeysMouseAndAStormAndQuitsWithEsc) {
    Session s;
    for (const auto& [name, check] : kSessionChecks) {
        SCOPED_TRACE(name);
        check(s);
        if (HasFatalFailure()) return;
    }
}

TEST(App, AllocationFailuresEndWithAMessageAndStatusMinusOne) {
    auto exactly = [](std::size_t bytes) { return std::to_string(bytes) + " " + std::to_string(bytes); };
    const struct {
        std::string failAlloc;
        int dots;
        const char* message;
    } cases[] = {
        {exactly(sizeof(gridcull::World)), 0, "Not enough memory for World.\n"},
        {exactly(sizeof(int) * gridcull::kFaceMapEntries), 6, "Not enough memory for FaceMap[0].\n"},
        {exactly(sizeof(gridcull::SceneObject) * gridcull::kObjectCount), 13, "Not enough memory to disks.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Program failing;
        failing.Launch("fail-" + std::to_string(c.dots), c.failAlloc);
        EXPECT_EQ(failing.WaitForExit(), 255);
        EXPECT_EQ(ReadFile(failing.out), kConsole + std::string(c.dots, '.'));
        EXPECT_EQ(ReadFile(failing.err), c.message);
    }
}

// valgrind memcheck of a short runner run and of the demo ended with Esc, on
// this X server: no definitely-lost block of gridcull's own.
TEST(App, NoLeaksOfItsOwnUnderValgrind) {
    const std::string log = gOutputDir + "/leak-check.log";
    const int raw = std::system(("GRIDCULL_LEAK_DISPLAY=\"$DISPLAY\" bash " GRIDCULL_LEAK_CHECK " " GRIDCULL_BENCH
                                 " " GRIDCULL_APP " > " + log + " 2>&1")
                                    .c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (status == 77) GTEST_SKIP() << ReadFile(log);
    EXPECT_EQ(status, 0) << ReadFile(log);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (std::system("{ command -v Xvfb && command -v xdotool && command -v import; } > /dev/null 2>&1") != 0) {
        std::fprintf(stderr, "the end-to-end tests need Xvfb, xdotool and ImageMagick's import\n");
        return 77;  // skipped, for CTest
    }
    char dir[] = "/tmp/gridcull-e2e-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    gOutputDir = dir;
    // Xvfb picks a free display and prints its number. -noreset: an X server
    // resets when its last client leaves, and a program started during the
    // reset cannot open the display. exec keeps the shell's pid for Xvfb.
    FILE* xvfb = popen("echo $$; exec Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp -noreset 2>/dev/null", "r");
    int xvfbPid = 0, display = -1;
    if (!xvfb || std::fscanf(xvfb, "%d %d", &xvfbPid, &display) != 2) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    const int result = RUN_ALL_TESTS();
    kill(xvfbPid, SIGTERM);
    pclose(xvfb);
    std::system(("rm -rf " + gOutputDir).c_str());
    return result;
}
