#include "BenchReport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace gridcull::bench {

const char* CsvHeader() {
    return "frame,pvs,pvsvf,dist,view_x,view_y,view_z,roll,yaw,pitch,fov,visibility_ms,cells_tested,"
           "exact,truth,misses,misses_vf,draw_ms,frame_ms\n";
}

namespace {

void WriteCount(std::FILE* f, int n) {
    if (n >= 0)
        std::fprintf(f, ",%d", n);
    else
        std::fputc(',', f);
}

}  // namespace

void WriteCsvRow(std::FILE* f, const FrameRecord& r) {
    std::fprintf(f, "%d,%d,%d,%d,%g,%g,%g,%g,%g,%g,%g,%.4f,%lld", r.iFrame, r.iPvs, r.iPvsVf, r.iDist, r.fView[0],
                 r.fView[1], r.fView[2], r.fRoll, r.fYaw, r.fPitch, r.fFov, r.fVisibilityMs, r.iCellsTested);
    WriteCount(f, r.iExact);
    WriteCount(f, r.iTruth);
    WriteCount(f, r.iMisses);
    WriteCount(f, r.iMissesVf);
    if (r.fDrawMs >= 0)
        std::fprintf(f, ",%.4f", r.fDrawMs);
    else
        std::fputc(',', f);
    std::fprintf(f, ",%.4f\n", r.fFrameMs);
}

TimeHistogram::TimeHistogram() {
    pBins = static_cast<std::uint32_t*>(std::calloc(kBins + kBlocks, sizeof(std::uint32_t)));
    if (!pBins) throw std::bad_alloc();
}

TimeHistogram::~TimeHistogram() { std::free(pBins); }

TimeHistogram::TimeHistogram(TimeHistogram&& other) noexcept
    : pBins(other.pBins), overflow(std::move(other.overflow)), iCount(other.iCount) {
    other.pBins = nullptr;
    other.iCount = 0;
}

TimeHistogram& TimeHistogram::operator=(TimeHistogram&& other) noexcept {
    std::swap(pBins, other.pBins);
    std::swap(overflow, other.overflow);
    std::swap(iCount, other.iCount);
    return *this;
}

void TimeHistogram::Add(double ms) {
    const double us = std::max(ms, 0.0) * 1000;
    if (us < kBins) {
        const int bin = static_cast<int>(us);
        ++pBins[bin];
        ++pBins[kBins + (bin >> kBlockShift)];
    } else
        overflow.push_back(ms);
    ++iCount;
}

double TimeHistogram::Percentile(double p) const {
    if (iCount == 0) return 0;
    long long rank = static_cast<long long>(p * iCount + 0.999999);
    rank = std::min(std::max(rank, 1LL), iCount);
    long long seen = 0;
    for (int block = 0; block < kBlocks; ++block) {
        const std::uint32_t inBlock = pBins[kBins + block];
        if (seen + inBlock < rank) {
            seen += inBlock;
            continue;
        }
        // The block holds the rank's bin.
        for (int bin = block << kBlockShift, end = bin + (1 << kBlockShift); bin < end; ++bin) {
            seen += pBins[bin];
            if (seen >= rank) return (bin + 0.5) / 1000;
        }
    }
    std::vector<double> longer = overflow;
    std::sort(longer.begin(), longer.end());
    return longer[static_cast<size_t>(rank - seen - 1)];
}

void RunStats::Add(const FrameRecord& r) {
    ++sums.iFrames;
    sums.iStrictFrames += r.bStrict;
    fPvsSum += r.iPvs;
    fPvsVfSum += r.iPvsVf;
    visibility.Add(r.fVisibilityMs);
    frame.Add(r.fFrameMs);
    if (r.fDrawMs >= 0) draw.Add(r.fDrawMs);
    if (r.iExact >= 0) fExactSum += r.iExact, ++iExactFrames;
    if (r.iTruth < 0) return;
    ++sums.iTruthFrames;
    sums.iMisses += r.iMisses;
    sums.iMissesVf += r.iMissesVf;
    sums.iFramesWithMisses += r.iMisses > 0;
    // A frame that truly sees nothing has no ratio to give.
    if (r.iTruth > 0) fRatioSum += static_cast<double>(r.iPvs) / r.iTruth, ++sums.iRatioFrames;
}

RunSummary RunStats::Summary() const {
    RunSummary s = sums;
    if (s.iFrames) {
        s.fMeanPvs = fPvsSum / s.iFrames;
        s.fMeanPvsVf = fPvsVfSum / s.iFrames;
    }
    s.fVisibilityMedian = visibility.Percentile(0.5);
    s.fVisibilityP95 = visibility.Percentile(0.95);
    s.fFrameMedian = frame.Percentile(0.5);
    s.fFrameP95 = frame.Percentile(0.95);
    if (draw.Count()) s.fDrawMedian = draw.Percentile(0.5);
    if (iExactFrames) s.fMeanExact = fExactSum / iExactFrames;
    if (s.iRatioFrames) s.fOverestimation = fRatioSum / s.iRatioFrames;
    return s;
}

void PrintSummary(std::FILE* f, const RunSummary& s, bool strictAtStart) {
    if (s.iStrictFrames == 0 || s.iStrictFrames == s.iFrames)
        std::fprintf(f, "culling: %s\n", (s.iFrames ? s.iStrictFrames > 0 : strictAtStart) ? "strict" : "literal");
    else
        std::fprintf(f, "culling: literal and strict (%d of %d frames strict)\n", s.iStrictFrames, s.iFrames);
    std::fprintf(f, "frames: %d  visibility_ms median %.3f p95 %.3f  mean pvs %.1f  mean pvsvf %.1f\n", s.iFrames,
                 s.fVisibilityMedian, s.fVisibilityP95, s.fMeanPvs, s.fMeanPvsVf);
    std::fprintf(f, "frame_ms median %.3f p95 %.3f", s.fFrameMedian, s.fFrameP95);
    if (s.fDrawMedian >= 0) std::fprintf(f, "  draw_ms median %.3f", s.fDrawMedian);
    std::fputc('\n', f);
    if (s.fMeanExact >= 0) std::fprintf(f, "mean exact %.1f\n", s.fMeanExact);
    if (s.iTruthFrames) {
        std::fprintf(f, "truth: mean pvs/truth %.3f over %d frames  misses %lld in %d frames  misses_vf %lld\n",
                     s.fOverestimation, s.iRatioFrames, s.iMisses, s.iFramesWithMisses, s.iMissesVf);
    }
}

void PrintComparison(std::FILE* f, PathKind path, int frames, const RunStats runs[kComparedModes]) {
    static const char* const kModes[kComparedModes] = {"pvs", "vf", "all", "truth"};
    double median[kComparedModes] = {0, 0, 0, 0};
    std::fprintf(f, "path %s, %d frames\n", PathName(path), frames);
    std::fprintf(f, "%-6s %14s %14s %10s\n", "render", "median_ms", "p95_ms", "mean_pvs");
    for (int m = 0; m < kComparedModes; ++m) {
        const RunSummary s = runs[m].Summary();
        median[m] = s.fFrameMedian;
        std::fprintf(f, "%-6s %14.3f %14.3f %10.1f\n", kModes[m], s.fFrameMedian, s.fFrameP95, s.fMeanPvs);
    }
    // pvs/truth: what the culled frame costs beyond a perfect culler's.
    if (median[0] > 0 && median[3] > 0)
        std::fprintf(f, "all/pvs %.2f  vf/pvs %.2f  pvs/truth %.2f\n", median[2] / median[0], median[1] / median[0],
                     median[0] / median[3]);
}

namespace {

// A string inside single quotes of a gnuplot script: a quote is doubled.
std::string GnuplotQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

PlotData::~PlotData() {
    if (pFile) std::fclose(pFile);
    if (bOpened) std::remove(path);
}

bool PlotData::Open(std::string& error) {
    const int fd = mkstemp(path);
    if (fd < 0) return error = "cannot make a temporary file for the plot", false;
    bOpened = true;
    pFile = fdopen(fd, "w");
    if (!pFile) return error = "cannot write the plot's data", false;
    return true;
}

void PlotData::Add(const FrameRecord& r) {
    if (!pFile) return;
    if (!bAny) bExact = r.iExact >= 0, bTruth = r.iTruth >= 0, bAny = true;
    auto count = [](int n) { return n >= 0 ? std::to_string(n) : std::string("NaN"); };
    std::fprintf(pFile, "%d %d %d %s %s %.4f %s\n", r.iFrame, r.iPvs, r.iPvsVf, count(r.iExact).c_str(),
                 count(r.iTruth).c_str(), r.fFrameMs, count(r.iMisses).c_str());
}

bool PlotData::Draw(const std::string& title, const std::string& pngPath, std::string& error) {
    if (!pFile || std::fclose(pFile) != 0) {
        pFile = nullptr;
        return error = "cannot write the plot's data", false;
    }
    pFile = nullptr;
    std::string script =
        "set terminal pngcairo size 1200,600\n"
        "set output " + GnuplotQuoted(pngPath) + "\n"
        "set title " + GnuplotQuoted(title) + " noenhanced\n"
        "set xlabel 'frame'\nset ylabel 'objects'\nset y2label 'frame ms'\n"
        "set ytics nomirror\nset y2tics\nset key outside right top noenhanced\nset grid\n"
        // The first frame finds every object marked by the generation and
        // would set the scale for all the others: plot from the second.
        "plot " + GnuplotQuoted(path) + " every ::1 using 1:2 with lines title 'pvs', "
        "'' every ::1 using 1:3 with lines title 'pvsvf', ";
    if (bExact) script += "'' every ::1 using 1:4 with lines title 'exact', ";
    if (bTruth) script += "'' every ::1 using 1:5 with lines title 'truth', '' every ::1 using 1:7 with impulses title 'misses', ";
    script += "'' every ::1 using 1:6 axes x1y2 with lines title 'frame_ms'\n";
    bool ok = false;
    if (std::FILE* gp = popen("gnuplot 1>&2", "w")) {
        std::fputs(script.c_str(), gp);
        const int status = pclose(gp);
        ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (!ok) error = "gnuplot failed to draw '" + pngPath + "' (is gnuplot installed? scripts/install-deps.sh)";
    return ok;
}

}  // namespace gridcull::bench
