// Per-frame records of a run and what is made of them: CSV rows, the
// end-of-run summary, the baseline table and the plot.
#pragma once

#include <cstdio>
#include <cstdint>
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
    bool bStrict = false;  // the frame culled in strict mode
};

const char* CsvHeader();
void WriteCsvRow(std::FILE* f, const FrameRecord& r);

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
    int iStrictFrames = 0;
};
// The first line names the culling mode of the frames (strictAtStart when
// there were none): literal, strict, or both when a key switched it.
void PrintSummary(std::FILE* f, const RunSummary& s, bool strictAtStart);

// Times of a run binned at 1 microsecond: percentiles to within half a
// microsecond in fixed memory, however many frames the run has. The bins are
// allocated zeroed by the system, so only the bins in use become resident.
class TimeHistogram {
public:
    TimeHistogram();
    ~TimeHistogram();
    TimeHistogram(const TimeHistogram&) = delete;
    TimeHistogram& operator=(const TimeHistogram&) = delete;
    TimeHistogram(TimeHistogram&& other) noexcept;
    TimeHistogram& operator=(TimeHistogram&& other) noexcept;

    void Add(double ms);
    long long Count() const { return iCount; }
    // Nearest rank, p in (0, 1]; 0 for no values.
    double Percentile(double p) const;

private:
    static constexpr int kBins = 1 << 20;  // up to about one second
    // Bins are also counted a block at a time, so a percentile walks blocks,
    // then the bins of one: its cost does not grow with the times.
    static constexpr int kBlockShift = 10;
    static constexpr int kBlocks = kBins >> kBlockShift;
    std::uint32_t* pBins = nullptr;  // kBins bins, then kBlocks block counts
    std::vector<double> overflow;  // longer times, kept exactly
    long long iCount = 0;
};

// Summary statistics of a run, accumulated frame by frame.
class RunStats {
public:
    void Add(const FrameRecord& r);
    RunSummary Summary() const;

private:
    RunSummary sums;  // counts and sums until Summary() turns them into means
    double fPvsSum = 0, fPvsVfSum = 0, fExactSum = 0, fRatioSum = 0;
    int iExactFrames = 0;
    TimeHistogram visibility, frame, draw;
};

// Frame-time table of the baselines, rows pvs, vf, all, truth in that order.
constexpr int kComparedModes = 4;
void PrintComparison(std::FILE* f, PathKind path, int frames, const RunStats runs[kComparedModes]);

// Per-frame counts and frame time, written as the frames run and drawn as a
// PNG by gnuplot at the end.
class PlotData {
public:
    ~PlotData();
    bool Open(std::string& error);
    void Add(const FrameRecord& r);
    // False with a reason when gnuplot is missing or fails.
    bool Draw(const std::string& title, const std::string& pngPath, std::string& error);

private:
    char path[32] = "/tmp/gridcull-plot-XXXXXX";
    std::FILE* pFile = nullptr;
    bool bOpened = false, bExact = false, bTruth = false, bAny = false;
};

}  // namespace gridcull::bench
