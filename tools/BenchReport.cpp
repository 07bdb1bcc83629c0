#include "BenchReport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

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

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t rank = static_cast<size_t>(p * values.size() + 0.999999);
    rank = std::min(std::max<size_t>(rank, 1), values.size());
    return values[rank - 1];
}

RunSummary Summarise(const std::vector<FrameRecord>& records) {
    RunSummary s;
    s.iFrames = static_cast<int>(records.size());
    std::vector<double> visibility, frame, draw;
    double pvs = 0, pvsVf = 0, exact = 0, ratio = 0;
    int exactFrames = 0;
    for (const FrameRecord& r : records) {
        pvs += r.iPvs;
        pvsVf += r.iPvsVf;
        visibility.push_back(r.fVisibilityMs);
        frame.push_back(r.fFrameMs);
        if (r.fDrawMs >= 0) draw.push_back(r.fDrawMs);
        if (r.iExact >= 0) exact += r.iExact, ++exactFrames;
        if (r.iTruth < 0) continue;
        ++s.iTruthFrames;
        s.iMisses += r.iMisses;
        s.iMissesVf += r.iMissesVf;
        s.iFramesWithMisses += r.iMisses > 0;
        // A frame that truly sees nothing has no ratio to give.
        if (r.iTruth > 0) ratio += static_cast<double>(r.iPvs) / r.iTruth, ++s.iRatioFrames;
    }
    if (s.iFrames) {
        s.fMeanPvs = pvs / s.iFrames;
        s.fMeanPvsVf = pvsVf / s.iFrames;
    }
    s.fVisibilityMedian = Percentile(visibility, 0.5);
    s.fVisibilityP95 = Percentile(visibility, 0.95);
    s.fFrameMedian = Percentile(frame, 0.5);
    s.fFrameP95 = Percentile(frame, 0.95);
    if (!draw.empty()) s.fDrawMedian = Percentile(draw, 0.5);
    if (exactFrames) s.fMeanExact = exact / exactFrames;
    if (s.iRatioFrames) s.fOverestimation = ratio / s.iRatioFrames;
    return s;
}

void PrintSummary(std::FILE* f, const RunSummary& s) {
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

void PrintComparison(std::FILE* f, PathKind path, const std::vector<std::vector<FrameRecord>>& runs) {
    static const char* const kModes[] = {"pvs", "vf", "all"};
    double median[3] = {0, 0, 0};
    std::fprintf(f, "path %s, %d frames\n", PathName(path), runs.empty() ? 0 : static_cast<int>(runs[0].size()));
    std::fprintf(f, "%-6s %14s %14s %10s\n", "render", "median_ms", "p95_ms", "mean_pvs");
    for (size_t m = 0; m < runs.size() && m < 3; ++m) {
        const RunSummary s = Summarise(runs[m]);
        median[m] = s.fFrameMedian;
        std::fprintf(f, "%-6s %14.3f %14.3f %10.1f\n", kModes[m], s.fFrameMedian, s.fFrameP95, s.fMeanPvs);
    }
    if (median[0] > 0)
        std::fprintf(f, "all/pvs %.2f  vf/pvs %.2f\n", median[2] / median[0], median[1] / median[0]);
}

bool PlotRun(const std::vector<FrameRecord>& records, const std::string& title, const std::string& pngPath,
             std::string& error) {
    char dataPath[] = "/tmp/gridcull-plot-XXXXXX";
    const int fd = mkstemp(dataPath);
    if (fd < 0) return error = "cannot make a temporary file for the plot", false;
    std::FILE* data = fdopen(fd, "w");
    for (const FrameRecord& r : records)
        std::fprintf(data, "%d %d %d %s %s %.4f\n", r.iFrame, r.iPvs, r.iPvsVf,
                     r.iExact >= 0 ? std::to_string(r.iExact).c_str() : "NaN",
                     r.iTruth >= 0 ? std::to_string(r.iTruth).c_str() : "NaN", r.fFrameMs);
    std::fclose(data);

    const bool exact = !records.empty() && records[0].iExact >= 0;
    const bool truth = !records.empty() && records[0].iTruth >= 0;
    std::string script =
        "set terminal pngcairo size 1200,600\n"
        "set output '" + pngPath + "'\n"
        "set title '" + title + "' noenhanced\n"
        "set xlabel 'frame'\nset ylabel 'objects'\nset y2label 'frame ms'\n"
        "set ytics nomirror\nset y2tics\nset key outside right top\nset grid\n"
        "plot '" + std::string(dataPath) + "' using 1:2 with lines title 'pvs', "
        "'' using 1:3 with lines title 'pvsvf', ";
    if (exact) script += "'' using 1:4 with lines title 'exact', ";
    if (truth) script += "'' using 1:5 with lines title 'truth', ";
    script += "'' using 1:6 axes x1y2 with lines title 'frame_ms'\n";
    bool ok = false;
    if (std::FILE* gp = popen("gnuplot 1>&2", "w")) {
        std::fputs(script.c_str(), gp);
        const int status = pclose(gp);
        ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::remove(dataPath);
    if (!ok) error = "gnuplot failed to draw '" + pngPath + "' (is gnuplot installed? scripts/install-deps.sh)";
    return ok;
}

}  // namespace gridcull::bench
