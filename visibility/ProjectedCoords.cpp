#include "visibility/ProjectedCoords.h"

#include <algorithm>

namespace gridcull {

ShellProjections::ShellProjections() : iFirstRow() {
    std::size_t size = 0;
    for (int D = 1; D <= kMaxShell; ++D) size += static_cast<std::size_t>(2 * (kGridSize - 1 - D) * Width(D));
    iRows.resize(size);
    int first = 0;
    for (int D = 1; D <= kMaxShell; ++D) {
        iFirstRow[D] = first;
        // Stepped exactly as a propagation steps its own coordinates.
        ProjectedCoords at;
        at.Start(0, 2 * D, static_cast<float>(D));
        const int width = Width(D);
        for (int i = 0; i < kGridSize - 1 - D; ++i) {
            at.Step();
            int* const start = &iRows[static_cast<std::size_t>(first)];
            std::copy(at.iStart, at.iStart + width, start);
            std::copy(at.iEnd, at.iEnd + width, start + width);
            start[PastLast(D)] = INT_MAX;
            first += 2 * width;
        }
    }
}

const ShellProjections& ShellProjections::Get() {
    static const ShellProjections table;
    return table;
}

}  // namespace gridcull
