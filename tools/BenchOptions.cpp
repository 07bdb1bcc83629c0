#include "BenchOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "scene/Camera.h"

namespace gridcull::bench {

const char* BenchUsage() {
    return "usage: gridcull-bench [options]\n"
           "  --frames N           frames to run (default 100)\n"
           "  --keys STRING        key STRING[k] before frame k: x X y Y z Z 0-9 t h e, '.' for none\n"
           "  --fusion on|off      occluder fusion at the start (default on)\n"
           "  --motion on|off      object motion at the start (default on)\n"
           "  --csv FILE           per-frame rows (FILE '-' is standard output)\n"
           "  --pvs-lists FILE     per frame, the indices of the potentially visible objects\n"
           "  --dump-scene FILE    the generated objects as CSV\n"
           "  --dump-occluders FILE  static occluder cells, then per-cell object counts\n"
           "  --help               this text\n";
}

namespace {

bool ParseOnOff(const char* value, bool& out) {
    if (std::strcmp(value, "on") == 0) return out = true, true;
    if (std::strcmp(value, "off") == 0) return out = false, true;
    return false;
}

bool ParseCount(const char* value, int& out) {
    if (*value == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(value, &end, 10);
    if (*end != '\0' || errno == ERANGE || n < 0 || n > 100000000) return false;
    out = static_cast<int>(n);
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
        static const char* const kValued[] = {"--frames", "--keys",       "--fusion",     "--motion",
                                              "--csv",    "--pvs-lists", "--dump-scene", "--dump-occluders"};
        bool valued = false;
        for (const char* name : kValued) valued |= arg == name;
        if (!valued) {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (i + 1 >= argc) {
            error = "option " + arg + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        if (arg == "--frames") {
            if (!ParseCount(value, options.iFrames)) {
                error = std::string("--frames needs a whole number of frames from 0, not '") + value + "'";
                return false;
            }
        } else if (arg == "--keys") {
            for (const char* k = value; *k; ++k)
                if (*k != '.' && (*k == 27 || !IsBoundKey(static_cast<unsigned char>(*k)))) {
                    error = std::string("--keys: '") + *k + "' is not a key (x X y Y z Z 0-9 t h e or '.')";
                    return false;
                }
            options.keys = value;
        } else if (arg == "--fusion" || arg == "--motion") {
            if (!ParseOnOff(value, arg == "--fusion" ? options.bFusion : options.bMotion)) {
                error = arg + " takes on or off, not '" + value + "'";
                return false;
            }
        } else if (arg == "--csv") {
            options.csvPath = value;
        } else if (arg == "--pvs-lists") {
            options.pvsListsPath = value;
        } else if (arg == "--dump-scene") {
            options.dumpScenePath = value;
        } else {
            options.dumpOccludersPath = value;
        }
    }
    return true;
}

}  // namespace gridcull::bench
