#include "BenchOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "scene/Camera.h"

namespace gridcull::bench {

const char* BenchUsage() {
    return "usage: gridcull-bench [options]\n"
           "  --frames N           frames to run (default: the path's length; 100 for start and --keys)\n"
           "  --keys STRING        key STRING[k] before frame k: x X y Y z Z 0-9 t h e s, '.' for none\n"
           "  --path NAME          start | orbit | sweep | random: a scripted camera (not with --keys)\n"
           "  --seed S             seed of the random path (default 1)\n"
           "  --fusion on|off      occluder fusion at the start (default on)\n"
           "  --motion on|off      object motion at the start (default on)\n"
           "  --strict on|off      strict culling: never cull what the image shows (default off)\n"
           "  --fov DEGREES        field of view at the start, 2 to 179 (default 55)\n"
           "  --render MODE        none | pvs | vf | all | truth: what each frame draws offscreen (default none)\n"
           "  --exact              exactly visible part of the potentially visible set, by read-back\n"
           "  --truth              true visible set by read-back, and the objects the culling missed\n"
           "  --size N             pixels per side of the truth pass (default 300)\n"
           "  --compare            run the path with --render pvs, vf, all and truth; print frame-time table\n"
           "  --csv FILE           per-frame rows (FILE '-' is standard output)\n"
           "  --pvs-lists FILE     per frame, the indices of the potentially visible objects\n"
           "  --max-misses N       with --truth: exit status 3 when more objects than N are missed in all\n"
           "  --miss-lists FILE    with --truth: per frame, the truly visible objects not in the pvs\n"
           "  --plot FILE.png      per-frame counts and frame time, drawn with gnuplot\n"
           "  --dump-scene FILE    the generated objects as CSV\n"
           "  --dump-occluders FILE  static occluder cells, then per-cell object counts\n"
           "  --help               this text\n";
}

const char* RenderModeName(RenderMode mode) {
    static const char* const kNames[] = {"none", "pvs", "vf", "all", "truth"};
    return kNames[static_cast<int>(mode)];
}

const char* PathName(PathKind path) {
    static const char* const kNames[] = {"start", "orbit", "sweep", "random"};
    return kNames[static_cast<int>(path)];
}

namespace {

bool ParseOnOff(const char* value, bool& out) {
    if (std::strcmp(value, "on") == 0) return out = true, true;
    if (std::strcmp(value, "off") == 0) return out = false, true;
    return false;
}

bool ParseWhole(const char* value, long lo, long hi, long& out) {
    if (*value == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(value, &end, 10);
    if (*end != '\0' || errno == ERANGE || n < lo || n > hi) return false;
    out = n;
    return true;
}

template <typename Enum, int N>
bool ParseName(const char* value, const char* (*name)(Enum), Enum& out) {
    for (int i = 0; i < N; ++i)
        if (std::strcmp(value, name(static_cast<Enum>(i))) == 0) return out = static_cast<Enum>(i), true;
    return false;
}

bool Fail(std::string& error, const std::string& message) {
    error = message;
    return false;
}

// Options that only make sense for one run of one render mode.
bool CheckCombinations(const BenchOptions& o, std::string& error) {
    if (o.bKeysGiven && o.bPathGiven) return Fail(error, "--keys and --path both script the camera; give one");
    if (o.bCompare) {
        if (o.bRenderGiven) return Fail(error, "--compare runs every render mode; drop --render");
        if (o.bExact || o.bTruth || !o.csvPath.empty() || !o.pvsListsPath.empty() || !o.plotPath.empty())
            return Fail(error, "--compare prints a table only; drop --exact, --truth, --csv, --pvs-lists, --plot");
    }
    if (!o.missListsPath.empty() && !o.bTruth) return Fail(error, "--miss-lists needs --truth");
    if (o.iMaxMisses >= 0 && !o.bTruth) return Fail(error, "--max-misses needs --truth");
    if (!o.plotPath.empty() &&
        (o.plotPath == "-" || o.plotPath.size() < 5 || o.plotPath.compare(o.plotPath.size() - 4, 4, ".png") != 0))
        return Fail(error, "--plot needs a file name ending in .png, not '" + o.plotPath + "'");
    return true;
}

}  // namespace

bool ParseBenchOptions(int argc, char** argv, BenchOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.bHelp = true;
            continue;
        }
        if (arg == "--exact" || arg == "--truth" || arg == "--compare") {
            (arg == "--exact" ? options.bExact : arg == "--truth" ? options.bTruth : options.bCompare) = true;
            continue;
        }
        static const char* const kValued[] = {
            "--frames",    "--keys",       "--fusion",         "--motion",     "--strict",    "--csv",
            "--pvs-lists", "--dump-scene", "--dump-occluders", "--render",     "--path",      "--seed",
            "--size",      "--fov",        "--plot",           "--miss-lists", "--max-misses"};
        bool valued = false;
        for (const char* name : kValued) valued |= arg == name;
        if (!valued) return Fail(error, "unknown option '" + arg + "'");
        if (i + 1 >= argc) return Fail(error, "option " + arg + " needs a value");
        const char* value = argv[++i];
        long n = 0;
        if (arg == "--frames") {
            if (!ParseWhole(value, 0, 100000000, n))
                return Fail(error, std::string("--frames needs a whole number of frames from 0, not '") + value + "'");
            options.iFrames = static_cast<int>(n);
            options.bFramesGiven = true;
        } else if (arg == "--keys") {
            for (const char* k = value; *k; ++k)
                if (*k != '.' && (*k == 27 || !IsBoundKey(static_cast<unsigned char>(*k))))
                    return Fail(error,
                                std::string("--keys: '") + *k + "' is not a key (x X y Y z Z 0-9 t h e s or '.')");
            options.keys = value;
            options.bKeysGiven = true;
        } else if (arg == "--fusion" || arg == "--motion" || arg == "--strict") {
            if (!ParseOnOff(value, arg == "--fusion"   ? options.bFusion
                                   : arg == "--motion" ? options.bMotion
                                                       : options.bStrict))
                return Fail(error, arg + " takes on or off, not '" + value + "'");
        } else if (arg == "--render") {
            if (!ParseName<RenderMode, 5>(value, RenderModeName, options.render))
                return Fail(error, std::string("--render takes none, pvs, vf, all or truth, not '") + value + "'");
            options.bRenderGiven = true;
        } else if (arg == "--path") {
            if (!ParseName<PathKind, 4>(value, PathName, options.path))
                return Fail(error, std::string("--path takes start, orbit, sweep or random, not '") + value + "'");
            options.bPathGiven = true;
        } else if (arg == "--seed") {
            if (!ParseWhole(value, 0, 4294967295L, n))
                return Fail(error,
                            std::string("--seed needs a whole number from 0 to 4294967295, not '") + value + "'");
            options.uSeed = static_cast<unsigned>(n);
        } else if (arg == "--fov") {
            if (!ParseWhole(value, 2, 179, n))
                return Fail(error, std::string("--fov needs whole degrees from 2 to 179, not '") + value + "'");
            options.iFov = static_cast<int>(n);
        } else if (arg == "--size") {
            // Below 1 there is no image; above 4096 the read-back alone is 64 MiB per frame.
            if (!ParseWhole(value, 1, 4096, n))
                return Fail(error, std::string("--size needs pixels per side from 1 to 4096, not '") + value + "'");
            options.iTruthSize = static_cast<int>(n);
        } else if (arg == "--csv") {
            options.csvPath = value;
        } else if (arg == "--pvs-lists") {
            options.pvsListsPath = value;
        } else if (arg == "--dump-scene") {
            options.dumpScenePath = value;
        } else if (arg == "--max-misses") {
            if (!ParseWhole(value, 0, 1000000000000L, n))
                return Fail(error, std::string("--max-misses needs a whole number from 0, not '") + value + "'");
            options.iMaxMisses = n;
        } else if (arg == "--miss-lists") {
            options.missListsPath = value;
        } else if (arg == "--plot") {
            options.plotPath = value;
        } else {
            options.dumpOccludersPath = value;
        }
    }
    return CheckCombinations(options, error);
}

}  // namespace gridcull::bench
