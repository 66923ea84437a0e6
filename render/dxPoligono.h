#pragma once
// The polygons of a render mesh: triangles and quadrilaterals, with coloured or textured vertices.
// A mesh gathers a polygon by its exact class, so the class tree is part of the meaning.
//
// A quadrilateral's slots are in strip order: slots 0, 1, 2 make the first triangle and 1, 3, 2
// the second, so corners A, B, C, D around it go into slots 0, 1, 2, 3 as A, B, D, C.
// A polygon's texture belongs to the texture page set; the polygon never releases it.
#include <cstdint>
#include <span>

#include "RenderTypes.h"

namespace tr4 {

// Draw flags of a polygon (given to its constructor) and of a built face.
inline constexpr int kDrawQuad = 0x01;       // set by the mesh: 4 vertices, a strip of two
inline constexpr int kDrawWireframe = 0x02;  // wireframe; clear: solid
inline constexpr int kDrawCullCW = 0x04;     // cull faces clockwise on screen
inline constexpr int kDrawCullCCW = 0x08;  // cull faces counter-clockwise on screen; wins over 0x04
inline constexpr int kDrawTextured = 0x10;  // set by the textured mesh: the face has a texture

// 16 bytes: position and a diffuse colour (A8R8G8B8).
struct dxVertexColor {
    float x, y, z;
    uint32_t diffuse;
};
// 20 bytes: position and texture coordinates.
struct dxVertexTex {
    float x, y, z;
    float tu, tv;
};
static_assert(sizeof(dxVertexColor) == 16 && sizeof(dxVertexTex) == 20);
// One corner's texture coordinates.
struct dxTexCoord {
    float tu = 0.0f;
    float tv = 0.0f;
};

class dxPoligono {
  public:
    explicit dxPoligono(int flags, int lastSlot) : drawFlags(flags), lastSlot(lastSlot) {}
    virtual ~dxPoligono() = default;
    dxPoligono(const dxPoligono&) = delete;
    dxPoligono& operator=(const dxPoligono&) = delete;

    // Read-only vertices of the class's own format; the other format's span is empty.
    virtual std::span<const dxVertexColor> ColorVertices() const { return {}; }
    virtual std::span<const dxVertexTex> TexVertices() const { return {}; }
    // Writes the position into the next free slot: S_OK, or E_FAIL when every slot is taken
    // (nothing changes). The colour or texture coordinates of the vertex are left as they are.
    virtual int32_t AddVertex(float x, float y, float z) = 0;
    // Stores the texture and the coordinates of slot k in slot k (as many as the polygon has
    // slots). E_FAIL for a null texture or a polygon without texture: nothing stored.
    virtual int32_t SetTextureMapping(dxTexture*, std::span<const dxTexCoord>) { return E_FAIL; }

    int GetDrawFlags() const { return drawFlags; }
    int GetVertexCount() const { return vertexCount; }
    int GetLastSlot() const { return lastSlot; }

  protected:
    // Positions go into the next free slot of vertices, as AddVertex describes.
    template <typename Vertex>
    int32_t AppendPosition(std::span<Vertex> vertices, float x, float y, float z) {
        if (vertexCount > lastSlot || vertexCount >= static_cast<int>(vertices.size()))
            return E_FAIL;
        Vertex& v = vertices[static_cast<size_t>(vertexCount++)];
        v.x = x;
        v.y = y;
        v.z = z;
        return S_OK;
    }

    int drawFlags;
    int vertexCount = 0;
    int lastSlot;
};

// A polygon of N coloured vertices: dxTriangulo (3) and dxCuadrado (4).
template <int N>
class dxColorPolygon : public dxPoligono {
  public:
    explicit dxColorPolygon(int flags) : dxPoligono(flags, N - 1) {}
    std::span<const dxVertexColor> ColorVertices() const override { return vertices; }
    int32_t AddVertex(float x, float y, float z) override {
        return AppendPosition(std::span<dxVertexColor>(vertices), x, y, z);
    }

  protected:
    dxVertexColor vertices[N] = {};
};

class dxTriangulo : public dxColorPolygon<3> {
  public:
    using dxColorPolygon::dxColorPolygon;
};

class dxCuadrado : public dxColorPolygon<4> {
  public:
    using dxColorPolygon::dxColorPolygon;
};

// The textured form of a coloured polygon class Plain with N vertices: dxTrianguloTex derives from
// dxTriangulo and dxCuadradoTex from dxCuadrado, with textured vertices of their own.
template <typename Plain, int N>
class dxTexturedPolygon : public Plain {
  public:
    explicit dxTexturedPolygon(int flags) : Plain(flags) {}
    std::span<const dxVertexColor> ColorVertices() const override { return {}; }
    std::span<const dxVertexTex> TexVertices() const override { return texVertices; }
    int32_t AddVertex(float x, float y, float z) override {
        return this->AppendPosition(std::span<dxVertexTex>(texVertices), x, y, z);
    }
    int32_t SetTextureMapping(dxTexture* tex, std::span<const dxTexCoord> uv) override {
        if (tex == nullptr || uv.size() < N) return E_FAIL;
        texture = tex;
        for (int k = 0; k < N; ++k) {
            texVertices[k].tu = uv[static_cast<size_t>(k)].tu;
            texVertices[k].tv = uv[static_cast<size_t>(k)].tv;
        }
        return S_OK;
    }
    dxTexture* GetTexture() const { return texture; }

  private:
    dxVertexTex texVertices[N] = {};
    dxTexture* texture = nullptr;
};

class dxTrianguloTex : public dxTexturedPolygon<dxTriangulo, 3> {
  public:
    using dxTexturedPolygon::dxTexturedPolygon;
    using dxTexturedPolygon::SetTextureMapping;
    int32_t SetTextureMapping(dxTexture* texture, float tu0, float tv0, float tu1, float tv1,
                              float tu2, float tv2) {
        const dxTexCoord uv[3] = {{tu0, tv0}, {tu1, tv1}, {tu2, tv2}};
        return SetTextureMapping(texture, uv);
    }
};

class dxCuadradoTex : public dxTexturedPolygon<dxCuadrado, 4> {
  public:
    using dxTexturedPolygon::dxTexturedPolygon;
    using dxTexturedPolygon::SetTextureMapping;
    int32_t SetTextureMapping(dxTexture* texture, float tu0, float tv0, float tu1, float tv1,
                              float tu2, float tv2, float tu3, float tv3) {
        const dxTexCoord uv[4] = {{tu0, tv0}, {tu1, tv1}, {tu2, tv2}, {tu3, tv3}};
        return SetTextureMapping(texture, uv);
    }
};

}  // namespace tr4
