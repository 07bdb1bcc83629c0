// Command line of gridcull-bench.
#pragma once

#include <string>

namespace gridcull::bench {

// What each frame draws into the offscreen 3D view.
enum class RenderMode { kNone, kPvs, kVf, kAll, kTruth };

// Scripted camera paths; see Paths.h.
enum class PathKind { kStart, kOrbit, kSweep, kRandom };

struct BenchOptions {
    int iFrames = 100;
    bool bFramesGiven = false;  // else the path's own length
    std::string keys;           // key before frame k; '.' is no key
    bool bKeysGiven = false;
    PathKind path = PathKind::kStart;
    bool bPathGiven = false;
    unsigned uSeed = 1;
    bool bFusion = true;
    bool bMotion = true;
    bool bStrict = false;
    int iFov = 0;  // --fov in degrees; 0 keeps the world's own start value
    RenderMode render = RenderMode::kNone;
    bool bRenderGiven = false;
    bool bExact = false;
    bool bTruth = false;
    int iTruthSize = 300;  // truth pass is N x N pixels
    bool bCompare = false;
    std::string csvPath;  // "-" is standard output
    std::string pvsListsPath;
    std::string dumpScenePath;
    std::string dumpOccludersPath;
    std::string plotPath;
    long long iMaxMisses = -1;  // with --truth: exit status 3 above this many misses; -1 no limit
    std::string missListsPath;  // with --truth: per frame, the objects missed
    bool bHelp = false;

    // Anything here needs an OpenGL context.
    bool NeedsGl() const { return render != RenderMode::kNone || bExact || bTruth || bCompare; }
};

// Parses argv; on a bad option returns false with a one-line reason.
bool ParseBenchOptions(int argc, char** argv, BenchOptions& options, std::string& error);

const char* BenchUsage();
const char* RenderModeName(RenderMode mode);
const char* PathName(PathKind path);

}  // namespace gridcull::bench
