// gridcull-bench: the visibility core without a window. Runs frames from a
// scripted camera, optionally draws them offscreen and measures the exactly
// and truly visible sets, and writes what each frame found, for benchmarks
// and for verification on machines without a display.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "BenchReport.h"
#include "MissDiagnosis.h"
#include "OffscreenGl.h"
#include "Paths.h"
#include "Progress.h"
#include "SceneRender.h"
#include "render/VisibleSets.h"
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

// Writes "frame: i j ..." for the objects with set[i] nonzero.
void WriteIndexList(std::FILE* f, int frame, const unsigned char* set, const unsigned char* exclude) {
    std::fprintf(f, "%d:", frame);
    for (int i = 0; i < kObjectCount; ++i)
        if (set[i] && !(exclude && exclude[i])) std::fprintf(f, " %d", i);
    std::fputc('\n', f);
}

// "frame: index/cause ..." for the truly visible objects the culling missed.
void WriteMissList(std::FILE* f, const World& w, int frame, const unsigned char* truth) {
    std::fprintf(f, "%d:", frame);
    for (int i = 0; i < kObjectCount; ++i)
        if (truth[i] && !w.PVS[i]) std::fprintf(f, " %d/%c", i, static_cast<char>(DiagnoseMiss(w, i)));
    std::fputc('\n', f);
}

struct WorldDeleter {
    void operator()(World* w) const { DeleteWorld(w); }
};
using WorldPtr = std::unique_ptr<World, WorldDeleter>;

// The generated scene with the run's starting options; null after the
// failure has been reported.
WorldPtr MakeWorld(const BenchOptions& options) {
    WorldPtr world(NewWorld());
    if (!world) {
        std::fprintf(stderr, "Not enough memory for the world record.\n");
        return world;
    }
    SetupObserver observer;
    observer.pfnFailure = [](void*, const char* message) { std::fputs(message, stderr); };
    if (!SetupScene(*world, observer)) return nullptr;
    world->bOccluderFusion = options.bFusion;
    world->bStrictCulling = options.bStrict;
    world->bObjectMotion = options.bMotion;
    if (options.iFov > 0) world->fFov = static_cast<float>(options.iFov);
    return world;
}

// The core's draw hook in pvs mode, timed: the traversal interleaves drawing
// with culling, and the two costs are reported apart.
struct TimedDraw {
    SceneRenderer* pRenderer;
    double fMs;
};
void TimedDrawHook(World& world, SceneObject& object, void* context) {
    auto* timed = static_cast<TimedDraw*>(context);
    const Clock::time_point start = Clock::now();
    SceneRenderer::DrawObjectHook(world, object, timed->pRenderer);
    timed->fMs += MillisecondsSince(start);
}

struct RunOutputs {
    std::FILE* csv = nullptr;
    std::FILE* pvsLists = nullptr;
    std::FILE* missLists = nullptr;
    PlotData* plot = nullptr;
};

// Runs the keys' frames on a world. frame_ms spans the whole frame's work in
// every mode: the dynamic refresh, the visibility pass and, when drawing,
// the drawing of the mode's set up to a finished pipeline. The exact and
// truth passes are not timed; render truth draws the true set as a perfect
// culler would, its truth pass taken out of frame_ms.
RunStats RunFrames(World& w, const BenchOptions& options, RenderMode mode, const std::string& keys, int frames,
                   SceneRenderer* renderer, const RunOutputs& out, const std::string& label) {
    // Nothing per frame is kept: rows are written as they come and the
    // statistics take fixed memory, so long runs stay flat.
    RunStats stats;
    std::vector<unsigned char> truth(kObjectCount);
    long long cellsTested = 0;
    SetCellTestCounter(&cellsTested);
    TimedDraw timed{renderer, 0};
    if (mode == RenderMode::kPvs) {
        w.pfnDrawObject = TimedDrawHook;
        w.pDrawContext = &timed;
    } else {
        w.pfnDrawObject = nullptr;
    }
    Progress progress(label, frames);
    for (int k = 0; k < frames; ++k) {
        if (k < static_cast<int>(keys.size()) && keys[k] != '.') ApplyKey(w, static_cast<unsigned char>(keys[k]));
        FrameRecord r;
        r.iFrame = w.iFrame;
        r.bStrict = w.bStrictCulling != 0;
        cellsTested = 0;
        timed.fMs = 0;
        const Clock::time_point start = Clock::now();
        BeginFrame(w);
        const bool truthFirst = mode == RenderMode::kTruth;
        if (mode != RenderMode::kNone && !truthFirst) renderer->BeginView(w);
        RunVisibilityPass(w);
        r.fVisibilityMs = MillisecondsSince(start) - timed.fMs;
        double untimedMs = 0;
        if (truthFirst) {
            const Clock::time_point truthStart = Clock::now();
            r.iTruth = renderer->RunTruthPass(w, options.iTruthSize, truth.data());
            untimedMs = MillisecondsSince(truthStart);
        }
        if (mode != RenderMode::kNone) {
            const Clock::time_point drawStart = Clock::now();
            if (truthFirst) renderer->BeginView(w);
            if (mode == RenderMode::kVf) renderer->DrawObjects(w, w.PVSVF);
            if (mode == RenderMode::kAll) renderer->DrawObjects(w, nullptr);
            if (mode == RenderMode::kTruth) renderer->DrawObjects(w, truth.data());
            renderer->EndView();
            renderer->Finish();
            r.fDrawMs = timed.fMs + MillisecondsSince(drawStart);
        }
        r.fFrameMs = MillisecondsSince(start) - untimedMs;

        if (out.pvsLists) WriteIndexList(out.pvsLists, r.iFrame, w.PVS, nullptr);
        if (options.bExact) r.iExact = renderer->RunExactPass(w, mode == RenderMode::kNone);
        if (options.bTruth || truthFirst) {
            if (!truthFirst) r.iTruth = renderer->RunTruthPass(w, options.iTruthSize, truth.data());
            r.iMisses = CountMisses(truth.data(), w.PVS);
            r.iMissesVf = CountMisses(truth.data(), w.PVSVF);
            if (out.missLists) WriteMissList(out.missLists, w, r.iFrame, truth.data());
        }
        const FrameCounts counts = ResetGridAndCount(w, 0);
        r.iPvs = counts.iPvs;
        r.iPvsVf = counts.iPvsVf;
        r.iDist = w.iDist;
        r.fView[0] = w.fViewX;
        r.fView[1] = w.fViewY;
        r.fView[2] = w.fViewZ;
        r.fRoll = w.fRoll;
        r.fYaw = w.fYaw;
        r.fPitch = w.fPitch;
        r.fFov = w.fFov;
        r.iCellsTested = cellsTested;
        if (out.csv) WriteCsvRow(out.csv, r);
        AdvanceFrame(w);
        stats.Add(r);
        if (out.plot) out.plot->Add(r);
        progress.Update(k + 1);
    }
    SetCellTestCounter(nullptr);
    w.pfnDrawObject = nullptr;
    return stats;
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions options;
    std::string error;
    if (!ParseBenchOptions(argc, argv, options, error)) return UsageError(error);
    if (options.bHelp) {
        std::fputs(BenchUsage(), stdout);
        return 0;
    }
    File csv, pvsLists, missLists, sceneDump, occluderDump;
    if (!OpenOutput(options.csvPath, true, csv, error) || !OpenOutput(options.pvsListsPath, true, pvsLists, error) ||
        !OpenOutput(options.missListsPath, true, missLists, error) ||
        !OpenOutput(options.dumpScenePath, true, sceneDump, error) ||
        !OpenOutput(options.dumpOccludersPath, true, occluderDump, error))
        return UsageError(error);

    const int frames = options.bFramesGiven || options.bKeysGiven ? options.iFrames : PathLength(options.path);
    const std::string keys = options.bKeysGiven ? options.keys : PathKeys(options.path, frames, options.uSeed);

    const Clock::time_point setupStart = Clock::now();
    WorldPtr world = MakeWorld(options);
    if (!world) return -1;
    std::fprintf(stderr, "set-up: %.1f ms\n", MillisecondsSince(setupStart));

    if (sceneDump) DumpScene(*world, sceneDump.get());
    if (occluderDump) DumpOccluders(*world, occluderDump.get());

    // The context and framebuffer are made only when something is drawn, so
    // counting runs need no GL at all.
    std::unique_ptr<OffscreenGl> gl;
    std::unique_ptr<SceneRenderer> renderer;
    if (options.NeedsGl()) {
        gl = std::make_unique<OffscreenGl>();
        const int size = std::max(kReadBackSide, options.bTruth ? options.iTruthSize : 0);
        if (!gl->Create(size, error)) {
            std::fprintf(stderr, "gridcull-bench: cannot draw offscreen: %s\n", error.c_str());
            return 2;
        }
        std::fprintf(stderr, "renderer: %s\n", gl->Renderer().c_str());
        renderer = std::make_unique<SceneRenderer>(size);
        renderer->Prepare(*world);
    }

    bool ok = true;
    bool missesOver = false;
    if (options.bCompare) {
        RunStats runs[kComparedModes];
        const RenderMode modes[kComparedModes] = {RenderMode::kPvs, RenderMode::kVf, RenderMode::kAll,
                                                  RenderMode::kTruth};
        for (int m = 0; m < kComparedModes; ++m) {
            // Each baseline starts from the same generated scene.
            if (m > 0) world = MakeWorld(options);
            if (!world) return -1;
            runs[m] = RunFrames(*world, options, modes[m], keys, frames, renderer.get(), {}, RenderModeName(modes[m]));
        }
        PrintComparison(stdout, options.path, frames, runs);
    } else {
        RunOutputs out;
        out.csv = csv.get();
        out.pvsLists = pvsLists.get();
        out.missLists = missLists.get();
        PlotData plot;
        if (!options.plotPath.empty()) {
            if (!plot.Open(error)) {
                std::fprintf(stderr, "gridcull-bench: %s\n", error.c_str());
                return 1;
            }
            out.plot = &plot;
        }
        if (csv) std::fputs(CsvHeader(), csv.get());
        const RunSummary summary =
            RunFrames(*world, options, options.render, keys, frames, renderer.get(), out, "frames").Summary();
        PrintSummary(stderr, summary, options.bStrict);
        if (options.iMaxMisses >= 0 && summary.iMisses > options.iMaxMisses) {
            std::fprintf(stderr, "gridcull-bench: %lld misses, more than the %lld allowed\n", summary.iMisses,
                         options.iMaxMisses);
            missesOver = true;
        }
        if (!options.plotPath.empty()) {
            const std::string title = std::string("gridcull-bench: path ") +
                                      (options.bKeysGiven ? "keys" : PathName(options.path)) + ", render " +
                                      RenderModeName(options.render) + ", fusion " + (options.bFusion ? "on" : "off") +
                                      (options.bStrict ? ", strict" : "");
            if (!plot.Draw(title, options.plotPath, error)) {
                std::fprintf(stderr, "gridcull-bench: %s\n", error.c_str());
                ok = false;
            }
        }
    }

    ok = CloseOutput(csv, options.csvPath) && ok;
    ok = CloseOutput(pvsLists, options.pvsListsPath) && ok;
    ok = CloseOutput(missLists, options.missListsPath) && ok;
    ok = CloseOutput(sceneDump, options.dumpScenePath) && ok;
    ok = CloseOutput(occluderDump, options.dumpOccludersPath) && ok;
    if (!ok) return 1;
    return missesOver ? 3 : 0;
}
