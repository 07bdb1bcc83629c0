#include "visibility/ProjectedCoords.h"

namespace gridcull {

ShellProjections::ShellProjections() : iFirst() {
    std::size_t size = 0;
    for (int D = 1; D <= kMaxShell; ++D) size += static_cast<std::size_t>(2 * (PastLast(D) + 1) * Stride(D));
    iValues.assign(size, kPastEveryLine);
    int first = 0;
    for (int D = 1; D <= kMaxShell; ++D) {
        iFirst[D] = first;
        first += 2 * (PastLast(D) + 1) * Stride(D);
        // Stepped exactly as a propagation steps its own coordinates.
        ProjectedCoords at;
        at.Start(0, 2 * D, static_cast<float>(D));
        int* const starts = &iValues[static_cast<std::size_t>(iFirst[D])];
        int* const ends = starts + (PastLast(D) + 1) * Stride(D);
        for (int k = 0; k < Planes(D); ++k) {
            at.Step();
            for (int c = 0; c <= 2 * D; ++c) {
                starts[c * Stride(D) + k] = at.iStart[c];
                ends[c * Stride(D) + k] = at.iEnd[c];
            }
        }
    }
}

const ShellProjections& ShellProjections::Get() {
    static const ShellProjections table;
    return table;
}

}  // namespace gridcull
