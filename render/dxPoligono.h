#pragma once
// The polygons of a render mesh: triangles and quadrilaterals, with coloured or textured vertices.
// A mesh gathers a polygon by its exact class, so the class tree is part of the meaning.
//
// A quadrilateral's slots are in strip order: slots 0, 1, 2 make the first triangle and 1, 3, 2
// the second, so corners A, B, C, D around it go into slots 0, 1, 2, 3 as A, B, D, C.
// A polygon's texture belongs to the texture page set; the polygon never releases it.
#include <cstdint>

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

class dxPoligono {
  public:
    explicit dxPoligono(int flags, int lastSlot) : drawFlags(flags), lastSlot(lastSlot) {}
    virtual ~dxPoligono() = default;
    dxPoligono(const dxPoligono&) = delete;
    dxPoligono& operator=(const dxPoligono&) = delete;

    // Read-only vertices in the class's own format (dxVertexColor or dxVertexTex).
    virtual const void* GetVertices() const = 0;
    // Writes the position into the next free slot: S_OK, or E_FAIL when every slot is taken
    // (nothing changes). The colour or texture coordinates of the vertex are left as they are.
    virtual int32_t AddVertex(float x, float y, float z) = 0;

    int GetDrawFlags() const { return drawFlags; }
    int GetVertexCount() const { return vertexCount; }
    int GetLastSlot() const { return lastSlot; }

  protected:
    int drawFlags;
    int vertexCount = 0;
    int lastSlot;
};

class dxTriangulo : public dxPoligono {
  public:
    explicit dxTriangulo(int flags) : dxPoligono(flags, 2) {}
    const void* GetVertices() const override { return vertices; }
    int32_t AddVertex(float x, float y, float z) override;

  protected:
    dxVertexColor vertices[3] = {};
};

class dxCuadrado : public dxPoligono {
  public:
    explicit dxCuadrado(int flags) : dxPoligono(flags, 3) {}
    const void* GetVertices() const override { return vertices; }
    int32_t AddVertex(float x, float y, float z) override;

  protected:
    dxVertexColor vertices[4] = {};
};

class dxTrianguloTex : public dxTriangulo {
  public:
    explicit dxTrianguloTex(int flags) : dxTriangulo(flags) {}
    const void* GetVertices() const override { return texVertices; }
    int32_t AddVertex(float x, float y, float z) override;
    // Stores the texture and (tu_k, tv_k) in slot k. E_FAIL for a null texture: nothing stored.
    int32_t SetTextureMapping(dxTexture* texture, float tu0, float tv0, float tu1, float tv1,
                              float tu2, float tv2);
    dxTexture* GetTexture() const { return texture; }

  private:
    dxVertexTex texVertices[3] = {};
    dxTexture* texture = nullptr;
};

class dxCuadradoTex : public dxCuadrado {
  public:
    explicit dxCuadradoTex(int flags) : dxCuadrado(flags) {}
    const void* GetVertices() const override { return texVertices; }
    int32_t AddVertex(float x, float y, float z) override;
    int32_t SetTextureMapping(dxTexture* texture, float tu0, float tv0, float tu1, float tv1,
                              float tu2, float tv2, float tu3, float tv3);
    dxTexture* GetTexture() const { return texture; }

  private:
    dxVertexTex texVertices[4] = {};
    dxTexture* texture = nullptr;
};

}  // namespace tr4
