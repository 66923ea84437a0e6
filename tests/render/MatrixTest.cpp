// The matrix helpers against values worked out by hand from the D3DX formulas.
#include <gtest/gtest.h>

#include <cmath>

#include "D3DXMath.h"

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

}  // namespace
