// Per-frame records of a run and what is made of them: CSV rows, the
// end-of-run summary, the baseline table and the plot.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "BenchOptions.h"

namespace gridcull::bench {

// One frame. Counts of -1 and times below 0 were not measured.
struct FrameRecord {
    int iFrame = 0;
    int iPvs = 0, iPvsVf = 0, iDist = 0;
    float fView[3] = {0, 0, 0};
    float fRoll = 0, fYaw = 0, fPitch = 0, fFov = 0;
    double fVisibilityMs = 0;
    long long iCellsTested = 0;
    int iExact = -1, iTruth = -1, iMisses = -1, iMissesVf = -1;
    double fDrawMs = -1;
    double fFrameMs = 0;
};

const char* CsvHeader();
void WriteCsvRow(std::FILE* f, const FrameRecord& r);

// Nearest-rank percentile, p in (0, 1]; 0 for no values.
double Percentile(std::vector<double> values, double p);

struct RunSummary {
    int iFrames = 0;
    double fMeanPvs = 0, fMeanPvsVf = 0;
    double fVisibilityMedian = 0, fVisibilityP95 = 0;
    double fFrameMedian = 0, fFrameP95 = 0;
    double fDrawMedian = -1;       // -1: nothing drawn
    double fMeanExact = -1;        // -1: not measured
    int iTruthFrames = 0;          // frames with a truth pass
    double fOverestimation = -1;   // mean pvs/truth over frames with truth > 0
    int iRatioFrames = 0;          // frames that entered that mean
    long long iMisses = 0, iMissesVf = 0;
    int iFramesWithMisses = 0;
};
RunSummary Summarise(const std::vector<FrameRecord>& records);
void PrintSummary(std::FILE* f, const RunSummary& s);

// Frame-time table of the baselines, rows pvs, vf, all in that order.
void PrintComparison(std::FILE* f, PathKind path, const std::vector<std::vector<FrameRecord>>& runs);

// Counts and frame time over the frames, as a PNG drawn by gnuplot. Returns
// false with a reason when gnuplot is missing or fails.
bool PlotRun(const std::vector<FrameRecord>& records, const std::string& title, const std::string& pngPath,
             std::string& error);

}  // namespace gridcull::bench
