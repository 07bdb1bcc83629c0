// Command line of gridcull-bench.
#pragma once

#include <string>

namespace gridcull::bench {

struct BenchOptions {
    int iFrames = 100;
    std::string keys;  // key before frame k; '.' is no key
    bool bFusion = true;
    bool bMotion = true;
    std::string csvPath;  // "-" is standard output
    std::string pvsListsPath;
    std::string dumpScenePath;
    std::string dumpOccludersPath;
    bool bHelp = false;
};

// Parses argv; on a bad option returns false with a one-line reason.
bool ParseBenchOptions(int argc, char** argv, BenchOptions& options, std::string& error);

const char* BenchUsage();

}  // namespace gridcull::bench
