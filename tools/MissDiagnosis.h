// Why the culling missed a truly visible object: a diagnosis made from the
// frame's grid state (H, O, PVSVF) before the end-of-frame reset.
#pragma once

#include "scene/World.h"

namespace gridcull::bench {

enum class MissCause : char {
    kUnscanned = 'f',   // no scan reached a cell of it: not in PVSVF
    kUncovered = 'p',   // a hidden cell of it is seen from the eye past every occluder cell
    kBehindOccluders = 'o',  // its hidden cells lie behind occluder cells along every sample ray
    kEyeInsideOccluder = 'e',  // ... but only behind cells of spheres that hold the eye (seen through)
    kNearPlaneCut = 'n',       // ... or of spheres the near plane at 0.1 cuts open
    kVolume = 't',      // a moving object left to its temporal volume
};

// The eye is the viewpoint itself; rays go to 27 points spread over each
// hidden cell of the object's registration cube and are walked in small
// steps through the grid. A cell is covered when every ray meets an
// occluder cell (other than the viewpoint cell and the cell itself).
MissCause DiagnoseMiss(const World& world, int object);

}  // namespace gridcull::bench
