// Strict culling's object rules: spheres the image sees through occlude
// nothing, occluder cells are those of the drawn polyhedron, and an object
// brought back inside a shell is not lost to cells already passed. Volumes
// and whole frames are checked by the random views.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/DrawnSpheres.h"

using namespace gridcull;

namespace {

// Tests cell (a, b, c) as the shell of its Chebyshev distance and reports
// whether it counted as an occluder (left the shell closed).
bool TestsAsOccluder(World& w, int a, int b, int c) {
    w.iDist = std::max({std::abs(a), std::abs(b), std::abs(c)});
    w.iFaceStride = 2 * w.iDist + 3;
    w.bShellOccluded = 1;
    CellTest(w, a, b, c);
    return w.bShellOccluded == 1;
}

}  // namespace

// A sphere holding the eye, or cut open by the near plane (6 cells to the side, reaching 0.5 behind to 3.5 ahead
// of the eye: through the near plane 0.1 ahead, inside its half side 11.5 at 179 degrees, far beside its half side
// 0.1 at 90), shows its inside: its cells occlude in literal mode only.
TEST(StrictObjects, SpheresTheImageSeesThroughOccludeOnlyInLiteralMode) {
    const struct {
        float fov, x, z, R;
        int a, c;
        bool seeThrough;
    } cases[] = {{55, 35, 35, 3, 1, 0, true}, {179, 41, 36.5f, 2.01f, 6, 1, true}, {90, 41, 36.5f, 2.01f, 6, 1, false}};
    for (const auto& k : cases)
        for (unsigned char strict : {0, 1}) {
            auto w = test::MakeEmptyWorld();
            w->bStrictCulling = strict;
            test::AimCamera(*w, 35, 35, 35, 0, 0, 1, k.fov);
            test::PlaceDynamic(*w, 0, k.x, 35, k.z, 0, 0, 0, k.R);
            RegisterObject(*w, 0, false, false);
            SetupSeeThroughCamera(*w);
            EXPECT_EQ(SeenThrough(*w, w->disks[0]), k.seeThrough) << k.fov;
            EXPECT_EQ(TestsAsOccluder(*w, k.a, 0, k.c), !strict || !k.seeThrough) << k.fov << " strict " << +strict;
        }
}

TEST(StrictObjects, OccluderCellsAreThoseOfTheDrawnSolid) {
    auto w = test::MakeEmptyWorld();
    w->bStrictCulling = 1;
    test::AimCamera(*w, 35, 35, 35, 0, 0, 1, 60);
    // The cell (35, 35, 40) has its far corners sqrt(0.75) from the centre
    // (35, 35, 40): inside a sphere of radius 0.8661, outside its drawn
    // solid (0.99 of that); inside both at radius 0.88.
    for (float R : {0.8661f, 0.88f}) {
        w->O.ClearAll();
        test::PlaceDynamic(*w, 1, 35, 35, 40, 0, 0, 0, R);
        RegisterObject(*w, 1, false, false);
        SetupSeeThroughCamera(*w);
        ASSERT_TRUE(w->O.Test(static_cast<unsigned>(CellIndex(35, 35, 40))));
        EXPECT_EQ(TestsAsOccluder(*w, 0, 0, 5), R > 0.87f) << R;
    }
    // A see-through sphere over the same cell, met first in I, does not take
    // the cell from the solid one; alone, it leaves the cell open.
    test::PlaceDynamic(*w, 0, 35, 35, 37, 0, 0, 0, 4);
    RegisterObject(*w, 0, false, false);
    SetupSeeThroughCamera(*w);
    ASSERT_TRUE(SeenThrough(*w, w->disks[0]));
    EXPECT_TRUE(TestsAsOccluder(*w, 0, 0, 5));
    RegisterObject(*w, 1, false, true);
    EXPECT_FALSE(TestsAsOccluder(*w, 0, 0, 5));
}

// The factor against the face planes of the lat-long sphere as drawn: bands
// of polar angle pi / stacks, slices of 2 pi / slices, vertices on the
// unit sphere, each face a planar trapezoid (a triangle at a pole).
class InradiusTest : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(InradiusTest, NeverExceedsTheNearestFacePlaneAndMeetsItForOddStacks) {
    const int slices = GetParam().first, stacks = GetParam().second;
    const double pi = std::acos(-1.0);
    auto vertex = [&](int i, int j, double v[3]) {
        const double phi = pi * i / stacks, theta = 2 * pi * j / slices;
        v[0] = std::sin(phi) * std::cos(theta), v[1] = std::sin(phi) * std::sin(theta), v[2] = std::cos(phi);
    };
    double nearest = 1;
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            double p[4][3];
            vertex(i, j, p[0]), vertex(i, j + 1, p[1]), vertex(i + 1, j + 1, p[2]), vertex(i + 1, j, p[3]);
            // Three distinct corners span the plane (the pole ones coincide).
            const double* q0 = i == 0 ? p[0] : p[1];
            const double* q1 = p[2];
            const double* q2 = i > 0 && i == stacks - 1 ? p[0] : p[3];
            const double* q3 = i == 0 || i == stacks - 1 ? nullptr : p[0];
            const double e1[3] = {q1[0] - q0[0], q1[1] - q0[1], q1[2] - q0[2]};
            const double e2[3] = {q2[0] - q0[0], q2[1] - q0[1], q2[2] - q0[2]};
            const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                 e1[0] * e2[1] - e1[1] * e2[0]};
            // Distance from the centre of the plane through q parallel to the face.
            auto dist = [&](const double* q) {
                return std::fabs(n[0] * q[0] + n[1] * q[1] + n[2] * q[2]) / std::hypot(n[0], n[1], n[2]);
            };
            ASSERT_TRUE(!q3 || std::fabs(dist(q3) - dist(q0)) <= 1e-12) << "not planar";
            nearest = std::min(nearest, dist(q0));
        }
    const double factor = TessellationInradius(slices, stacks);
    EXPECT_LE(factor, nearest);
    EXPECT_TRUE(stacks % 2 == 0 || std::fabs(factor - nearest) <= 1e-4) << factor << " vs " << nearest;
}

INSTANTIATE_TEST_SUITE_P(Tessellations, InradiusTest,
                         testing::Values(std::make_pair(25, 25), std::make_pair(24, 24), std::make_pair(8, 5),
                                         std::make_pair(3, 2), std::make_pair(40, 7)));

TEST(StrictObjects, ObjectBroughtBackIntoAPassedCellIsMarkedAtOnce) {
    for (unsigned char strict : {0, 1}) {
        auto w = test::MakeEmptyWorld();
        w->bStrictCulling = strict;
        test::AimCamera(*w, 35, 35, 35, 0, 0, 1, 90);
        // In cell (35, 35, 38), shell 3; its volume (t = 2) has a face cell
        // at (35, 35, 40), shell 5.
        test::PlaceDynamic(*w, 0, 35, 35, 38, 0.1f, 0, 0, 0.4f);
        SceneObject& o = w->disks[0];
        std::copy(o.fPosition, o.fPosition + 3, o.fTbvOrigin);
        o.iTbvStartFrame = 0, o.iTbvEndFrame = 20, w->iDist = 5;
        ASSERT_TRUE(InsertStrictTbv(*w, 0) && o.fTbvHalfSize == 2);
        o.bInTemporalVolume = 1;
        HandleVisibleCell(*w, 0, 0, 5);
        EXPECT_EQ(o.bInTemporalVolume, 0);
        EXPECT_EQ(w->PVS[0], strict) << "strict " << +strict;
    }
}
