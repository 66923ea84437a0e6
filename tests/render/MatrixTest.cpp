// The matrix helpers against values worked out by hand from the D3DX formulas.
#include <gtest/gtest.h>

#include <cmath>

#include "D3DXMath.h"
#include "MeshView.h"

using namespace tr4;

namespace {

constexpr float kPi = 3.14159265358979f;

D3DXVECTOR3 Apply(const D3DXMATRIX& m, D3DXVECTOR3 v) {
    D3DXVECTOR3 out;
    D3DXVec3TransformCoord(&out, &v, &m);
    return out;
}

void ExpectNear(const D3DXVECTOR3& v, float x, float y, float z, float eps = 1e-4f) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

TEST(Matrix, ElementaryMatricesFollowTheRowVectorLayout) {
    D3DXMATRIX t;
    D3DXMatrixTranslation(&t, 1.0f, 2.0f, 3.0f);
    EXPECT_EQ(t(3, 0), 1.0f);  // translation in the fourth row
    EXPECT_EQ(t(3, 1), 2.0f);
    EXPECT_EQ(t(3, 2), 3.0f);
    EXPECT_EQ(t(0, 3), 0.0f);
    ExpectNear(Apply(t, {1, 1, 1}), 2, 3, 4);

    D3DXMATRIX rx;
    D3DXMatrixRotationX(&rx, kPi / 2);  // y turns towards z
    ExpectNear(Apply(rx, {0, 1, 0}), 0, 0, 1);
    ExpectNear(Apply(rx, {0, 0, 1}), 0, -1, 0);

    D3DXMATRIX ry;
    D3DXMatrixRotationY(&ry, kPi / 2);  // z turns towards x
    ExpectNear(Apply(ry, {0, 0, 1}), 1, 0, 0);
    ExpectNear(Apply(ry, {1, 0, 0}), 0, 0, -1);
    EXPECT_NEAR(ry(0, 2), -1.0f, 1e-6f);
    EXPECT_NEAR(ry(2, 0), 1.0f, 1e-6f);

    D3DXMATRIX s;
    D3DXMatrixScaling(&s, 2, 3, 4);
    ExpectNear(Apply(s, {1, 1, 1}), 2, 3, 4);
}

TEST(Matrix, MultiplyAppliesTheFirstMatrixFirst) {
    D3DXMATRIX translate, scale, both;
    D3DXMatrixTranslation(&translate, 1, 0, 0);
    D3DXMatrixScaling(&scale, 2, 2, 2);
    D3DXMatrixMultiply(&both, &translate, &scale);  // move, then scale
    ExpectNear(Apply(both, {1, 0, 0}), 4, 0, 0);
    D3DXMatrixMultiply(&both, &scale, &translate);  // scale, then move
    ExpectNear(Apply(both, {1, 0, 0}), 3, 0, 0);
    // The output may be one of the inputs.
    D3DXMatrixMultiply(&translate, &scale, &translate);
    ExpectNear(Apply(translate, {1, 0, 0}), 3, 0, 0);
}

TEST(Matrix, PerspectiveFovLHMapsNearAndFarOntoZeroAndOne) {
    D3DXMATRIX p;
    D3DXMatrixPerspectiveFovLH(&p, kPi / 4, 1.0f, 0.1f, 1000.0f);
    const float yScale = 1.0f / std::tan(kPi / 8);  // 2.414214
    EXPECT_NEAR(p(0, 0), yScale, 1e-5f);
    EXPECT_NEAR(p(1, 1), yScale, 1e-5f);
    EXPECT_NEAR(p(2, 2), 1000.0f / 999.9f, 1e-6f);
    EXPECT_EQ(p(2, 3), 1.0f);
    EXPECT_NEAR(p(3, 2), -0.1f * 1000.0f / 999.9f, 1e-6f);
    EXPECT_EQ(p(3, 3), 0.0f);
    EXPECT_NEAR(Apply(p, {0, 0, 0.1f}).z, 0.0f, 1e-5f);
    EXPECT_NEAR(Apply(p, {0, 0, 1000.0f}).z, 1.0f, 1e-5f);
    // A point on the top edge of the field of view lands on y = 1.
    EXPECT_NEAR(Apply(p, {0, std::tan(kPi / 8) * 10.0f, 10.0f}).y, 1.0f, 1e-5f);

    D3DXMATRIX wide;
    D3DXMatrixPerspectiveFovLH(&wide, kPi / 4, 2.0f, 0.1f, 1000.0f);
    EXPECT_NEAR(wide(0, 0), yScale / 2.0f, 1e-5f);  // x scale = y scale / aspect
}

TEST(Matrix, LookAtLHLooksFromTheEyeToTheTargetWithYUp) {
    // The viewer's eye: 150 units along +z from the centre, looking back at it.
    const D3DXVECTOR3 eye{10, -20, 180}, at{10, -20, 30}, up{0, 1, 0};
    D3DXMATRIX v;
    D3DXMatrixLookAtLH(&v, &eye, &at, &up);
    ExpectNear(Apply(v, at), 0, 0, 150);  // the target straight ahead, 150 away
    ExpectNear(Apply(v, eye), 0, 0, 0);
    // Left-handed, looking down -z: world +x shows on the left, +y stays up.
    ExpectNear(Apply(v, {11, -20, 30}), -1, 0, 150);
    ExpectNear(Apply(v, {10, -19, 30}), 0, 1, 150);
    // Rows 0..2 of columns 0..2 are the camera axes (x = (-1, 0, 0), y = (0, 1, 0), z = (0, 0,
    // -1)).
    EXPECT_NEAR(v(0, 0), -1.0f, 1e-6f);
    EXPECT_NEAR(v(1, 1), 1.0f, 1e-6f);
    EXPECT_NEAR(v(2, 2), -1.0f, 1e-6f);
    EXPECT_NEAR(v(3, 0), 10.0f, 1e-5f);   // -dot(x, eye)
    EXPECT_NEAR(v(3, 1), 20.0f, 1e-5f);   // -dot(y, eye)
    EXPECT_NEAR(v(3, 2), 180.0f, 1e-4f);  // -dot(z, eye)
}

// The whole view of a mesh as a frame draws it: the camera aimed at the mesh, and the transform
// a draw is given.
D3DXVECTOR3 ToScreen(const tr4::MeshRecord& r, const MeshView& view, float aspect,
                     D3DXVECTOR3 levelPoint) {
    ViewCamera camera{ViewerProjection(aspect)};
    AimAtMesh(camera, r);
    const D3DXMATRIX all = FrameTransform(MeshWorld(r, view), camera);
    // As the builder stores it: a tenth, y upwards.
    return Apply(all, {0.1f * levelPoint.x, -0.1f * levelPoint.y, 0.1f * levelPoint.z});
}

tr4::MeshRecord Record(int16_t cx, int16_t cy, int16_t cz, std::vector<tr4::MeshVertex> vertices) {
    tr4::MeshRecord r;
    r.centreX = cx, r.centreY = cy, r.centreZ = cz;
    r.vertexCount = int16_t(vertices.size());
    r.vertices.assign(vertices.begin(), vertices.end());
    return r;
}

TEST(MeshFrame, TheCentreSitsInTheMiddleWhateverTheTurnAndZoom) {
    const tr4::MeshRecord far = Record(3000, -800, 2000, {{3100, -800, 2000}});
    for (const MeshView view :
         {MeshView{}, MeshView{1.1f, -0.7f, 2.5f, 0, 0}, MeshView{-3.0f, 0.3f, 0.2f, 0, 0}}) {
        const D3DXVECTOR3 centre = ToScreen(far, view, 0.8f, {3000, -800, 2000});
        EXPECT_NEAR(centre.x, 0.0f, 1e-4f);
        EXPECT_NEAR(centre.y, 0.0f, 1e-4f);
    }
    // The pan moves it by as much at the target's depth: 10 units along x, 150 away. (The eye
    // looks down -z in a left-handed view, so +x is drawn to the left.)
    const D3DXVECTOR3 panned = ToScreen(far, MeshView{0, 0, 6, 10, 0}, 1.0f, {3000, -800, 2000});
    EXPECT_NEAR(panned.x, -10.0f / (150.0f * std::tan(kPi / 8)), 1e-4f);
    // Level y runs downwards: a vertex below the centre is drawn below it.
    EXPECT_LT(ToScreen(far, MeshView{}, 1.0f, {3000, -700, 2000}).y, 0.0f);
}

TEST(MeshFrame, TheStartZoomFitsTheMeshInTheNarrowerDirection) {
    // Reach 500 along x: too large for zoom 6 (at 150 the view is about 124 tall).
    const tr4::MeshRecord wide = Record(100, 0, 0, {{600, 0, 0}, {100, 20, 0}});
    const float tall = 321.0f / 385.0f;
    const float zoom = FitZoom(wide, tall);
    ASSERT_LT(zoom, 6.0f);
    MeshView view;
    view.zoom = zoom;
    // The farthest vertex lands inside the edge, at 90% of the sine over the tangent: about 0.85.
    const float x = std::abs(ToScreen(wide, view, tall, {600, 0, 0}).x);
    EXPECT_GT(x, 0.8f);
    EXPECT_LT(x, 0.9f);
    // In a wide picture the height is the narrower direction.
    const tr4::MeshRecord upright = Record(100, 0, 0, {{100, 500, 0}});
    view.zoom = FitZoom(upright, 2.0f);
    const float y = ToScreen(upright, view, 2.0f, {100, 500, 0}).y;
    EXPECT_LT(y, -0.8f);
    EXPECT_GT(y, -0.9f);

    // Small meshes keep 6, as do meshes without vertices or with all of them on the centre.
    EXPECT_EQ(FitZoom(Record(5, 5, 5, {{10, 10, 10}}), tall), 6.0f);
    EXPECT_EQ(FitZoom(Record(5, 5, 5, {}), tall), 6.0f);
    EXPECT_EQ(FitZoom(Record(5, 5, 5, {{5, 5, 5}}), tall), 6.0f);
    EXPECT_EQ(ViewAspect(321, 385), 321.0f / 385.0f);
    EXPECT_EQ(ViewAspect(100, 0), 1.0f);
}

}  // namespace
