#include "D3DXMath.h"

#include <cmath>

namespace tr4 {

namespace {

D3DXVECTOR3 Sub(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
D3DXVECTOR3 Normalize(const D3DXVECTOR3& v) {
    const float length = std::sqrt(Dot(v, v));
    // D3DX leaves a zero vector zero rather than dividing by zero.
    if (length == 0.0f) return {0.0f, 0.0f, 0.0f};
    return {v.x / length, v.y / length, v.z / length};
}

// A turn by angle in the plane of axes a and b, from a towards b (row vectors): rows a and b
// become (cos, sin) and (-sin, cos) in columns a and b. About X that is a = y, b = z; about Y,
// a = z, b = x.
D3DXMATRIX* PlaneRotation(D3DXMATRIX* out, float angle, int a, int b) {
    const float c = std::cos(angle), s = std::sin(angle);
    *out = D3DXMATRIX{};
    for (int i = 0; i < 4; ++i) out->m[i][i] = 1.0f;
    out->m[a][a] = c;
    out->m[a][b] = s;
    out->m[b][a] = -s;
    out->m[b][b] = c;
    return out;
}

}  // namespace

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    *out = D3DXMATRIX{};
    for (int i = 0; i < 4; ++i) out->m[i][i] = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* first, const D3DXMATRIX* second) {
    // out may alias either input, so compute into a temporary.
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += first->m[i][k] * second->m[k][j];
            r.m[i][j] = sum;
        }
    }
    *out = r;
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
    D3DXMatrixIdentity(out);
    out->m[3][0] = x;
    out->m[3][1] = y;
    out->m[3][2] = z;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
    return PlaneRotation(out, angle, 1, 2);
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
    return PlaneRotation(out, angle, 2, 0);
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
    D3DXMatrixIdentity(out);
    out->m[0][0] = sx;
    out->m[1][1] = sy;
    out->m[2][2] = sz;
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn,
                                       float zf) {
    const float yScale = 1.0f / std::tan(fovy / 2.0f);
    const float xScale = yScale / aspect;
    *out = D3DXMATRIX{};
    out->m[0][0] = xScale;
    out->m[1][1] = yScale;
    out->m[2][2] = zf / (zf - zn);
    out->m[2][3] = 1.0f;
    out->m[3][2] = -zn * zf / (zf - zn);
    return out;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
    const D3DXVECTOR3 zaxis = Normalize(Sub(*at, *eye));
    const D3DXVECTOR3 xaxis = Normalize(Cross(*up, zaxis));
    const D3DXVECTOR3 yaxis = Cross(zaxis, xaxis);
    *out = D3DXMATRIX{};
    out->m[0][0] = xaxis.x;
    out->m[1][0] = xaxis.y;
    out->m[2][0] = xaxis.z;
    out->m[0][1] = yaxis.x;
    out->m[1][1] = yaxis.y;
    out->m[2][1] = yaxis.z;
    out->m[0][2] = zaxis.x;
    out->m[1][2] = zaxis.y;
    out->m[2][2] = zaxis.z;
    out->m[3][0] = -Dot(xaxis, *eye);
    out->m[3][1] = -Dot(yaxis, *eye);
    out->m[3][2] = -Dot(zaxis, *eye);
    out->m[3][3] = 1.0f;
    return out;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    float r[4];
    for (int j = 0; j < 4; ++j)
        r[j] = v->x * m->m[0][j] + v->y * m->m[1][j] + v->z * m->m[2][j] + m->m[3][j];
    const float w = r[3] != 0.0f ? r[3] : 1.0f;
    *out = {r[0] / w, r[1] / w, r[2] / w};
    return out;
}

}  // namespace tr4
