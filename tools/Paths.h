// Scripted camera paths: the key, if any, applied before each frame.
#pragma once

#include <string>

#include "BenchOptions.h"

namespace gridcull::bench {

// Frames of one pass of a path from the start camera (35, 35, 35), angles 0:
// start 100 frames without keys; orbit 360 frames, yaw 0..359;
// sweep 415 frames, walking +x to the face, to the -x face and back to the
// centre, then likewise along y and z; random 1000 frames.
int PathLength(PathKind path);

// Keys before frames 0 .. frames-1, '.' for none. Longer runs repeat the
// path; an orbit or sweep comes back to its start, so repeats are seamless.
// The random path draws each key from the moves, turns and field-of-view
// keys with a fixed generator, so a seed gives the same keys everywhere.
std::string PathKeys(PathKind path, int frames, unsigned seed);

}  // namespace gridcull::bench
