#include "dxPoligono.h"

namespace tr4 {

namespace {

template <typename Vertex>
int32_t Append(Vertex* vertices, int& count, int lastSlot, float x, float y, float z) {
    if (count > lastSlot) return E_FAIL;
    vertices[count].x = x;
    vertices[count].y = y;
    vertices[count].z = z;
    ++count;
    return S_OK;
}

}  // namespace

int32_t dxTriangulo::AddVertex(float x, float y, float z) {
    return Append(vertices, vertexCount, lastSlot, x, y, z);
}

int32_t dxCuadrado::AddVertex(float x, float y, float z) {
    return Append(vertices, vertexCount, lastSlot, x, y, z);
}

int32_t dxTrianguloTex::AddVertex(float x, float y, float z) {
    return Append(texVertices, vertexCount, lastSlot, x, y, z);
}

int32_t dxCuadradoTex::AddVertex(float x, float y, float z) {
    return Append(texVertices, vertexCount, lastSlot, x, y, z);
}

int32_t dxTrianguloTex::SetTextureMapping(dxTexture* tex, float tu0, float tv0, float tu1,
                                          float tv1, float tu2, float tv2) {
    if (tex == nullptr) return E_FAIL;
    texture = tex;
    const float uv[3][2] = {{tu0, tv0}, {tu1, tv1}, {tu2, tv2}};
    for (int k = 0; k < 3; ++k) {
        texVertices[k].tu = uv[k][0];
        texVertices[k].tv = uv[k][1];
    }
    return S_OK;
}

int32_t dxCuadradoTex::SetTextureMapping(dxTexture* tex, float tu0, float tv0, float tu1, float tv1,
                                         float tu2, float tv2, float tu3, float tv3) {
    if (tex == nullptr) return E_FAIL;
    texture = tex;
    const float uv[4][2] = {{tu0, tv0}, {tu1, tv1}, {tu2, tv2}, {tu3, tv3}};
    for (int k = 0; k < 4; ++k) {
        texVertices[k].tu = uv[k][0];
        texVertices[k].tv = uv[k][1];
    }
    return S_OK;
}

}  // namespace tr4
