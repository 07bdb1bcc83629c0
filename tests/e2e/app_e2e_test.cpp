// End-to-end tests of the interactive program on one virtual X server: the
// console text, the window read back from screenshots, keys and mouse sent by
// a real X client, a storm of random input, set-up failures and a leak check.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
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
// Exit status of a shell command, -1 when it did not exit.
int ExitStatus(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}
void Xdo(const std::string& args) { EXPECT_EQ(ExitStatus("xdotool " + args), 0) << "xdotool " << args; }
void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The demo with its output in files, killed at the end of the test while it
// still runs. failAlloc: "min max" byte range of allocations to fail.
struct Program {
    std::string out, err;
    pid_t pid = -1;
    int status = 0;  // wait status, once ended
    explicit Program(const std::string& name, const std::string& failAlloc = "")
        : out(gOutputDir + "/" + name + ".out"), err(gOutputDir + "/" + name + ".err") {
        const std::string preload =
            failAlloc.empty() ? "" : "LD_PRELOAD=" GRIDCULL_FAIL_ALLOC " GRIDCULL_TEST_FAIL_ALLOC='" + failAlloc + "' ";
        const std::string command = "exec env " + preload + GRIDCULL_APP " > " + out + " 2> " + err;
        if ((pid = fork()) == 0) execl("/bin/sh", "sh", "-c", command.c_str(), nullptr), _exit(127);
    }
    ~Program() {
        if (Running()) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
    bool Running() {
        if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) pid = -1;
        return pid > 0;
    }
    // Exit status, or -1000 when still running at the timeout.
    int WaitForExit() {
        for (int waited = 0; waited < kTimeoutMs && Running(); waited += 50) Sleep(50);
        return pid > 0 ? -1000 : WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    std::string Ended() const {
        return "wait status " + std::to_string(status) + "\nstdout:\n" + ReadFile(out) + "\nstderr:\n" + ReadFile(err);
    }
};

struct Pixel {
    int r, g, b;
};
using PixelTest = std::function<bool(Pixel)>;
PixelTest Rgb(int rgb) {
    return [=](Pixel p) { return (p.r << 16 | p.g << 8 | p.b) == rgb; };
}
const PixelTest IsWhite = Rgb(0xFFFFFF), IsBlack = Rgb(0), IsRed = Rgb(0xFF0000), IsGreen = Rgb(0xFF00),
                IsBlue = Rgb(0xFF), IsIdBackdrop = Rgb(0x10000);
bool IsMidGrey(Pixel p) { return p.r == p.g && p.g == p.b && p.r > 0 && p.r < 255; }
bool IsViolet(Pixel p) { return p.b > p.r + 40 && p.b > p.g + 40 && p.r > 40; }
// Colours outside the overview's own palette: the structure display.
bool IsStructure(Pixel p) { return !(IsWhite(p) || IsBlack(p) || IsRed(p) || IsGreen(p) || IsBlue(p)); }

// Screen rows count from the top of the window.
struct Region {
    int x0, y0, x1, y1;
    int Area() const { return (x1 - x0) * (y1 - y0); }
};
constexpr Region kOverview = {0, 50, 300, 350}, kView3D = {300, 50, 600, 350};
// With rendering disabled the 3D view is black apart from the word DISABLED,
// which sits at window (418, 150), screen rows about 190 to 199.
constexpr Region kDisabledText = {410, 185, 480, 202};

// Count and centroid of the matching pixels.
struct Match {
    double x = 0, y = 0;
    int n = 0;
};
// 600 x 350 pixels of RGB, rows from the top; empty when the screenshot failed.
struct Image {
    std::string rgb;
    Match Find(Region r, const PixelTest& test) const {
        Match m;
        for (int y = r.y0; y < r.y1; ++y)
            for (int x = r.x0; x < r.x1; ++x) {
                const auto* p = reinterpret_cast<const unsigned char*>(&rgb[3 * (y * 600 + x)]);
                if (test({p[0], p[1], p[2]})) m.x += x, m.y += y, ++m.n;
            }
        if (m.n) m.x /= m.n, m.y /= m.n;
        return m;
    }
    int Count(Region r, const PixelTest& test) const { return Find(r, test).n; }
};
using ImageTest = std::function<bool(const Image&)>;
// lo to hi pixels of the region match.
ImageTest Pixels(Region r, const PixelTest& test, int lo, int hi = 1 << 30) {
    return [=](const Image& im) { return im.Count(r, test) >= lo && im.Count(r, test) <= hi; };
}
const ImageTest ShowsLitSpheres = Pixels(kView3D, IsMidGrey, 20000);
bool ShowsDisabled(const Image& im) {
    const int white = im.Count(kView3D, IsWhite);
    return white > 30 && im.Count(kDisabledText, IsWhite) == white &&
           im.Count(kView3D, IsBlack) == kView3D.Area() - white;
}

const std::string kConsole =
    "gridcull - occlusion culling of a dynamic scene in a uniform grid\n"
    "Front-to-back shells, fused occluders and temporal bounding volumes\n\n"
    "Grid size: 70x70x70  Static objects: 4800  Dynamic objects: 200\n\n"
    "Keys:\nARROWS   move viewpoint\nHOME/END rotate\n1        increase field of view\n"
    "2        decrease field of view\n3        toggle structure display mode\nt        toggle occluder fusion\n"
    "h        toggle scene rendering\ne        toggle exact visibility calculation\n\nPlease wait...";

// The demo's window, screenshots of it, and input sent to it.
struct Session {
    Program app{"session"};
    std::string window;
    Image image;  // the last screenshot

    Image Screenshot() const {
        const std::string rgb = Shell("import -window " + window + " -depth 8 rgb:- 2>/dev/null");
        return {rgb.size() == 3 * 600 * 350 ? rgb : ""};
    }
    // Takes screenshots until test holds (frames follow continuously).
    bool Until(const ImageTest& test) {
        for (int waited = 0; waited < kFrameTimeoutMs; waited += 100, Sleep(100))
            if (!(image = Screenshot()).rgb.empty() && test(image)) return true;
        return false;
    }
    std::string KeyArgs(int delayMs) const {
        return "windowfocus " + window + " key --window " + window + " --delay " + std::to_string(delayMs) + " ";
    }
    void Keys(const std::string& keys) { Xdo(KeyArgs(20) + keys); }
    bool Press(const std::string& keys, const ImageTest& test) { return Keys(keys), Until(test); }
    // Presses the buttons at the first point, passes the others, releases.
    std::string DragArgs(const std::string& buttons, const std::vector<std::string>& points, const char* pause) const {
        std::string args = "mousemove --window " + window + " " + points[0];
        for (char b : buttons) args += std::string(" mousedown ") + b;
        for (size_t k = 1; k < points.size(); ++k)
            args += " mousemove --window " + window + " " + points[k] + " sleep " + pause;
        for (auto b = buttons.rbegin(); b != buttons.rend(); ++b) args += std::string(" mouseup ") + *b;
        return args;
    }
};

// Random keys and drags (left, right or both buttons), then the program must
// still draw and take keys. The keys: every bound one except Esc, and keys the
// program ignores: ASCII ones that reach the keyboard callback unbound, and
// keys that only GLUT's special-key callback would see. A fresh storm every
// run; GRIDCULL_STORM_SEED replays the key sequence of a failed one (the
// timing of the events is not replayed). 20 s by default;
// GRIDCULL_STORM_SECONDS=120 gives the long run.
void Storm(Session& s) {
    const char* const keys[] = {"x", "X", "y", "Y", "z", "Z", "0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
                                "t", "h", "e", "s", "m", "q", "a", "T", "H", "E", "space", "Return", "BackSpace",
                                "Tab", "Delete", "Left", "Right", "Up", "Down", "Home", "End", "F1", "Page_Up"};
    const char *seedText = std::getenv("GRIDCULL_STORM_SEED"), *secondsText = std::getenv("GRIDCULL_STORM_SECONDS");
    const unsigned long long seed = seedText ? std::strtoull(seedText, nullptr, 0) : std::random_device()();
    const int seconds = secondsText ? std::atoi(secondsText) : 20;
    SCOPED_TRACE("storm seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    auto below = [&](std::size_t n) { return static_cast<int>(rng() % n); };
    int bursts = 0;
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
         std::chrono::steady_clock::now() < end; ++bursts) {
        std::string args = s.KeyArgs(5);
        std::vector<std::string> points(3 + below(6));
        if (below(3) != 0) {
            for (int k = 5 + below(20); k > 0; --k) args += std::string(" ") + keys[below(std::size(keys))];
        } else {
            for (std::string& p : points) p = std::to_string(below(600)) + " " + std::to_string(below(350));
            args = s.DragArgs(std::vector<std::string>{"1", "3", "13"}[below(3)], points, "0.02");
        }
        ASSERT_EQ(ExitStatus("xdotool " + args + " 2>/dev/null"), 0) << "burst " << bursts << ": xdotool " << args;
        ASSERT_TRUE(s.app.Running()) << "ended in burst " << bursts << ": xdotool " << args << "\n" << s.app.Ended();
    }
    std::printf("storm: %d bursts in %d s (seed %llu)\n", bursts, seconds, seed);
    // The storm's last keys, h among them, may still wait in the program's
    // queue, to be taken together with the next h: all are taken before the
    // frame after the one being drawn, so two new frames (the status panel's
    // frame number changes with each) show the state the storm left.
    ASSERT_TRUE(s.Until([](const Image&) { return true; })) << "no screenshot";
    auto panel = [](const Image& im) { return im.rgb.substr(0, 3 * 600 * kOverview.y0); };
    for (int frame = 0; frame < 2; ++frame) {
        const std::string before = panel(s.image);
        ASSERT_TRUE(s.Until([&](const Image& im) { return panel(im) != before; })) << "no frame after the storm";
    }
    // h switches the drawing off or on, whichever the storm left, and back.
    const bool disabled = ShowsDisabled(s.image);
    for (const bool want : {!disabled, disabled}) {
        ASSERT_TRUE(s.Press("h", [&](const Image& im) { return ShowsDisabled(im) == want; }))
            << "key h not taken, drawing should be " << (want ? "off" : "on");
    }
}

// One running demo through all the checks, in order; each starts from the
// state the previous one left.
TEST(App, OneSessionDrawsTheLayoutTakesKeysMouseAndAStormAndQuitsWithEsc) {
    Session s;
    for (int waited = 0; s.window.empty() && waited < kTimeoutMs; waited += 200, Sleep(200)) {
        ASSERT_TRUE(s.app.Running()) << "the program ended before its window appeared, " << s.app.Ended();
        const std::string id = Shell("xdotool search --name '^gridcull: ' 2>/dev/null");
        s.window = id.substr(0, id.find('\n'));
    }
    ASSERT_FALSE(s.window.empty()) << "no window";
    // Without a window manager the window sits at (-1, -1) with a one-pixel
    // border: moved fully on screen, screenshots hold all of it.
    Xdo("windowmove " + s.window + " 20 20");
    ASSERT_TRUE(s.Until(ShowsLitSpheres)) << "no lit spheres in the 3D view";

    // Layout. Status panel: black with white text, white line along its lower edge.
    const Image im = s.image;
    const Region panelInside = {0, 0, 600, 49};
    EXPECT_GT(im.Count(panelInside, IsWhite), 300);
    EXPECT_GT(im.Count(panelInside, [](Pixel p) { return IsWhite(p) || IsBlack(p); }), panelInside.Area() - 50);
    EXPECT_GE(im.Count({0, 49, 600, 50}, IsWhite), 595);
    // Overview: white, with the three axes and the black viewpoint, and no
    // other colour while the structure display is off.
    EXPECT_GT(im.Count(kOverview, IsWhite), kOverview.Area() * 7 / 10);
    for (const PixelTest& axis : {IsRed, IsGreen, IsBlue}) EXPECT_GT(im.Count(kOverview, axis), 200);
    EXPECT_EQ(im.Count(kOverview, IsStructure), 0);
    // With the untouched trackball the red x axis points left.
    const Match redAxis = im.Find(kOverview, IsRed);
    EXPECT_LT(redAxis.x, im.Find(kOverview, IsGreen).x - 40);
    // 3D view: grey materials under white lights, so every pixel is neutral,
    // shaded over many levels.
    std::vector<bool> levels(256);
    EXPECT_EQ(im.Count(kView3D, [&](Pixel p) { return levels[p.r] = true, p.r != p.g || p.g != p.b; }), 0);
    EXPECT_GT(std::count(levels.begin(), levels.end(), true), 60);

    // h: the 3D view goes black apart from the word DISABLED; h again brings
    // the scene back.
    ASSERT_TRUE(s.Press("h", ShowsDisabled)) << "rendering not disabled";
    ASSERT_TRUE(s.Press("h", ShowsLitSpheres)) << "rendering not enabled again";

    // The miss overlay (m) on the yaw turn from the start camera: at 180
    // degrees the view looks through the sphere around the viewpoint, whose
    // solid cells make literal culling drop what the image shows, drawn in
    // red. Strict culling (s) drops nothing, so the red goes. Then back to the
    // start view, literal.
    std::string turn = "m", back = "m s";
    for (int i = 0; i < 180; ++i) turn += " 7", back += " 8";
    EXPECT_TRUE(s.Press(turn, Pixels(kView3D, IsRed, 1000))) << "no red misses in literal mode";
    EXPECT_TRUE(s.Press("s", Pixels(kView3D, IsRed, 0, 0))) << "misses in strict mode";
    s.Keys(back);

    // 3: hidden cells (violet) and occluder cells (grey) appear as shaded
    // boxes in the overview, and leave with the second press. Seen from the
    // start side the footprint squares on the z = 0 wall cover most cells, so
    // the overview is first turned half round by a left drag from the ball's
    // centre to its rim.
    ASSERT_TRUE(s.Press("3", Pixels(kOverview, IsStructure, 2000))) << "no structure display";
    EXPECT_GT(s.image.Count(kOverview, IsMidGrey), 50);
    Xdo(s.DragArgs("1", {"300 150", "400 150", "555 150"}, "0.2"));
    ASSERT_TRUE(s.Until(Pixels(kOverview, IsViolet, 1000))) << "no hidden cells";
    ASSERT_TRUE(s.Press("3", Pixels(kOverview, IsStructure, 0, 0))) << "structure stays";
    const Match turned = s.image.Find(kOverview, IsRed);
    EXPECT_GT(std::hypot(turned.x - redAxis.x, turned.y - redAxis.y), 10) << "left drag did not turn the overview";
    // Moving without a button turns nothing.
    Xdo("mousemove --window " + s.window + " 60 60 sleep 0.5");
    const Match still = s.Screenshot().Find(kOverview, IsRed);
    EXPECT_LE(std::max(std::abs(still.x - turned.x), std::abs(still.y - turned.y)), 0.5) << still.x << " " << still.y;

    // X: the viewpoint moves along +x, the way the red axis points in the
    // overview (right, now that the overview is turned half round).
    const Match before = s.image.Find(kOverview, IsBlack);
    const double xSign = s.image.Find(kOverview, IsRed).x > s.image.Find(kOverview, IsGreen).x ? 1 : -1;
    ASSERT_GT(before.n, 0);
    ASSERT_TRUE(s.Press("X X X X X", [&](const Image& i) {
        return (i.Find(kOverview, IsBlack).x - before.x) * xSign > 5;
    })) << "viewpoint did not move";
    EXPECT_NEAR(s.image.Find(kOverview, IsBlack).y, before.y, 2.0);

    // At the far z wall looking out of the grid the backdrop shows: black in
    // normal drawing, and in the identifier pass (e) a colour that decodes to
    // no object, so empty pixels do not count as object 0.
    std::string toFarWall;
    for (int i = 0; i < 34; ++i) toFarWall += "Z ";
    ASSERT_TRUE(s.Press(toFarWall, Pixels(kView3D, IsBlack, kView3D.Area() / 2))) << "no black backdrop";
    ASSERT_TRUE(s.Press("e", Pixels(kView3D, IsIdBackdrop, kView3D.Area() / 2))) << "no identifier backdrop";
    EXPECT_EQ(0, s.image.Count(kView3D, [](Pixel p) {
        return !IsIdBackdrop(p) && (p.r || p.g * 256 + p.b >= gridcull::kObjectCount);
    }));

    // Right drag downward: the overview moves away, and its axes shrink.
    auto axes = [](const Image& i) { return i.Count(kOverview, IsRed) + i.Count(kOverview, IsGreen); };
    const int axesBefore = axes(s.image);
    Xdo(s.DragArgs("3", {"150 100", "150 180", "150 250"}, "0.2"));
    ASSERT_TRUE(s.Until([&](const Image& i) { return axes(i) < axesBefore * 3 / 4; })) << "right drag did not zoom";

    ASSERT_NO_FATAL_FAILURE(Storm(s));

    // Esc ends the program, so xdotool may lose the window while it returns.
    ExitStatus("xdotool " + s.KeyArgs(0) + "Escape 2>/dev/null");
    EXPECT_EQ(s.app.WaitForExit(), 0);
    EXPECT_EQ(ReadFile(s.app.out), kConsole + std::string(13, '.') + " done!\n\n");
    EXPECT_EQ(ReadFile(s.app.err), "");
}

TEST(App, AllocationFailuresEndWithAMessageAndStatusMinusOne) {
    const std::tuple<std::size_t, int, std::string> cases[] = {
        {sizeof(gridcull::World), 0, "Not enough memory for World.\n"},
        {sizeof(int) * gridcull::kFaceMapEntries, 6, "Not enough memory for FaceMap[0].\n"},
        {sizeof(gridcull::SceneObject) * gridcull::kObjectCount, 13, "Not enough memory to disks.\n"}};
    for (const auto& [bytes, dots, message] : cases) {
        SCOPED_TRACE(message);
        Program failing("fail-" + std::to_string(dots), std::to_string(bytes) + " " + std::to_string(bytes));
        EXPECT_EQ(failing.WaitForExit(), 255);
        EXPECT_EQ(ReadFile(failing.out), kConsole + std::string(dots, '.'));
        EXPECT_EQ(ReadFile(failing.err), message);
    }
}

// valgrind memcheck of a short runner run and of the demo ended with Esc, on
// this X server: no definitely-lost block of gridcull's own.
TEST(App, NoLeaksOfItsOwnUnderValgrind) {
    const std::string log = gOutputDir + "/leak-check.log";
    const int status = ExitStatus("GRIDCULL_LEAK_DISPLAY=\"$DISPLAY\" bash " GRIDCULL_LEAK_CHECK " " GRIDCULL_BENCH
                                  " " GRIDCULL_APP " > " +
                                  log + " 2>&1");
    if (status == 77) GTEST_SKIP() << ReadFile(log);
    EXPECT_EQ(status, 0) << ReadFile(log);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (ExitStatus("{ command -v Xvfb && command -v xdotool && command -v import; } > /dev/null 2>&1") != 0)
        return std::fprintf(stderr, "the end-to-end tests need Xvfb, xdotool and ImageMagick's import\n"), 77;
    char dir[] = "/tmp/gridcull-e2e-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    gOutputDir = dir;
    // Xvfb picks a free display and prints its number. -noreset: an X server
    // resets when its last client leaves, and a program started during the
    // reset cannot open the display. exec keeps the shell's pid for Xvfb.
    FILE* xvfb = popen("echo $$; exec Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp -noreset 2>/dev/null", "r");
    int xvfbPid = 0, display = -1;
    if (!xvfb || std::fscanf(xvfb, "%d %d", &xvfbPid, &display) != 2) return std::fprintf(stderr, "no Xvfb\n"), 1;
    setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    const int result = RUN_ALL_TESTS();
    kill(xvfbPid, SIGTERM), pclose(xvfb);
    ExitStatus("rm -rf " + gOutputDir);
    return result;
}
