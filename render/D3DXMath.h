#pragma once
// The matrix helpers of the render layer, with the numbers of the D3DX functions of the same names.
//
// Conventions: row vectors (a point p becomes p x M), the translation in the fourth row,
// left-handed view and projection, depth mapped to 0..1. Plain C++, no graphics API, so the
// arithmetic can be tested without a display. Every function writes its result into out and
// returns out, as D3DX does.

namespace tr4 {

struct D3DXVECTOR3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// 4 x 4 floats, row-major: m[row][column]; m[3][0..2] is the translation.
struct D3DXMATRIX {
    float m[4][4] = {};

    float& operator()(int row, int column) { return m[row][column]; }
    float operator()(int row, int column) const { return m[row][column]; }
};

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
// out = first x second (first acts first on a row vector).
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* first, const D3DXMATRIX* second);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);
// Left-handed perspective: fovy vertical field of view in radians, aspect width over height;
// view-space z = zn maps to depth 0 and z = zf to depth 1.
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn,
                                       float zf);
// Left-handed look-at: the view's +z runs from eye towards at, up gives +y.
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);

// (x, y, z, 1) x m, divided by the resulting w (D3DXVec3TransformCoord).
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);

}  // namespace tr4
