// gridcull-bench: the visibility core without a window. Runs frames from a
// scripted camera and writes what each frame found, for benchmarks and for
// verification on machines without a display.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "scan/Scan.h"
#include "scene/Camera.h"
#include "scene/World.h"
#include "visibility/Frame.h"

using namespace gridcull;
using namespace gridcull::bench;

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "gridcull-bench: %s\n%s", message.c_str(), BenchUsage());
    return 2;
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f && f != stdout) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens an output file; "-" is standard output where allowed.
bool OpenOutput(const std::string& path, bool allowStdout, File& out, std::string& error) {
    if (path.empty()) return true;
    if (allowStdout && path == "-") {
        out.reset(stdout);
        return true;
    }
    out.reset(std::fopen(path.c_str(), "w"));
    if (!out) error = "cannot write '" + path + "'";
    return static_cast<bool>(out);
}

// Closing reports a full disk or other late write error.
bool CloseOutput(File& out, const std::string& path) {
    if (!out) return true;
    std::FILE* f = out.release();
    bool ok = !std::ferror(f);
    ok = (f == stdout ? std::fflush(f) == 0 : std::fclose(f) == 0) && ok;
    if (!ok) std::fprintf(stderr, "gridcull-bench: error writing '%s'\n", path.c_str());
    return ok;
}

void DumpScene(const World& w, std::FILE* f) {
    std::fprintf(f, "index,px,py,pz,vx,vy,vz,ax,ay,az,wx,wy,wz,radius,bound_radius,grey,id_r,id_g,id_b,tbv_end\n");
    for (int i = 0; i < kObjectCount; ++i) {
        const SceneObject& o = w.disks[i];
        std::fprintf(f, "%d", i);
        const float* triples[4] = {o.fPosition, o.fVelocity, o.fAngle, o.fAngularVelocity};
        for (const float* t : triples)
            for (int k = 0; k < 3; ++k) std::fprintf(f, ",%.9g", t[k]);
        std::fprintf(f, ",%.9g,%.9g,%.9g,%d,%d,%d,%d\n", o.fRadius, o.fBoundRadius, o.fColor[0], o.ucIdColor[0],
                     o.ucIdColor[1], o.ucIdColor[2], o.iTbvEndFrame);
    }
}

void DumpOccluders(const World& w, std::FILE* f) {
    for (int c = 0; c < kCellCount; ++c)
        if (w.Os.Test(static_cast<unsigned>(c))) std::fprintf(f, "%d\n", c);
    std::fprintf(f, "---\n");
    for (int c = 0; c < kCellCount; ++c)
        if (!w.I[c].empty()) std::fprintf(f, "%d,%d\n", c, w.I[c].size());
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    // Nearest rank.
    size_t rank = static_cast<size_t>(p * values.size() + 0.999999);
    rank = std::min(std::max<size_t>(rank, 1), values.size());
    return values[rank - 1];
}

void CountCellTest(World&, int, int, int, void* context) { ++*static_cast<long long*>(context); }

struct WorldDeleter {
    void operator()(World* w) const { DeleteWorld(w); }
};

}  // namespace

int main(int argc, char** argv) {
    BenchOptions options;
    std::string error;
    if (!ParseBenchOptions(argc, argv, options, error)) return UsageError(error);
    if (options.bHelp) {
        std::fputs(BenchUsage(), stdout);
        return 0;
    }
    File csv, pvsLists, sceneDump, occluderDump;
    if (!OpenOutput(options.csvPath, true, csv, error) || !OpenOutput(options.pvsListsPath, true, pvsLists, error) ||
        !OpenOutput(options.dumpScenePath, true, sceneDump, error) ||
        !OpenOutput(options.dumpOccludersPath, true, occluderDump, error))
        return UsageError(error);

    const Clock::time_point setupStart = Clock::now();
    std::unique_ptr<World, WorldDeleter> world(NewWorld());
    if (!world) {
        std::fprintf(stderr, "Not enough memory for the world record.\n");
        return -1;
    }
    SetupObserver observer;
    observer.pfnFailure = [](void*, const char* message) { std::fputs(message, stderr); };
    if (!SetupScene(*world, observer)) return -1;
    World& w = *world;
    w.bOccluderFusion = options.bFusion;
    w.bObjectMotion = options.bMotion;
    std::fprintf(stderr, "set-up: %.1f ms\n", MillisecondsSince(setupStart));

    if (sceneDump) DumpScene(w, sceneDump.get());
    if (occluderDump) DumpOccluders(w, occluderDump.get());

    long long cellsTested = 0;
    SetCellTestObserver(CountCellTest, &cellsTested);
    if (csv)
        std::fprintf(csv.get(),
                     "frame,pvs,pvsvf,dist,view_x,view_y,view_z,roll,yaw,pitch,fov,visibility_ms,cells_tested\n");

    std::vector<double> visibilityMs;
    visibilityMs.reserve(options.iFrames);
    double pvsSum = 0, pvsVfSum = 0;
    std::vector<int> pvsIndices;
    for (int k = 0; k < options.iFrames; ++k) {
        if (k < static_cast<int>(options.keys.size()) && options.keys[k] != '.')
            ApplyKey(w, static_cast<unsigned char>(options.keys[k]));
        const int frame = w.iFrame;
        cellsTested = 0;
        const Clock::time_point start = Clock::now();
        BeginFrame(w);
        RunVisibilityPass(w);
        const double ms = MillisecondsSince(start);
        if (pvsLists) {
            std::fprintf(pvsLists.get(), "%d:", frame);
            for (int i = 0; i < kObjectCount; ++i)
                if (w.PVS[i]) std::fprintf(pvsLists.get(), " %d", i);
            std::fputc('\n', pvsLists.get());
        }
        const FrameCounts counts = ResetGridAndCount(w, 0);
        if (csv)
            std::fprintf(csv.get(), "%d,%d,%d,%d,%g,%g,%g,%g,%g,%g,%g,%.4f,%lld\n", frame, counts.iPvs, counts.iPvsVf,
                         w.iDist, w.fViewX, w.fViewY, w.fViewZ, w.fRoll, w.fYaw, w.fPitch, w.fFov, ms, cellsTested);
        AdvanceFrame(w);
        visibilityMs.push_back(ms);
        pvsSum += counts.iPvs;
        pvsVfSum += counts.iPvsVf;
    }
    SetCellTestObserver(nullptr, nullptr);

    const int n = options.iFrames;
    std::fprintf(stderr, "frames: %d  visibility_ms median %.3f p95 %.3f  mean pvs %.1f  mean pvsvf %.1f\n", n,
                 Percentile(visibilityMs, 0.5), Percentile(visibilityMs, 0.95), n ? pvsSum / n : 0.0,
                 n ? pvsVfSum / n : 0.0);

    bool ok = CloseOutput(csv, options.csvPath) && CloseOutput(pvsLists, options.pvsListsPath);
    ok = CloseOutput(sceneDump, options.dumpScenePath) && ok;
    ok = CloseOutput(occluderDump, options.dumpOccludersPath) && ok;
    return ok ? 0 : 1;
}
