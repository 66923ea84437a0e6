#pragma once
// The render meshes: dxBufferColor8 (coloured vertices) and dxBufferTextura (textured vertices).
//
// A mesh owns its polygons, its gathered vertex data and its vertex buffer; it does not own the
// textures its faces point to (those belong to the texture page set, which must outlive the
// meshes' draws). Faces are gathered newest polygon first, so they stand in the vertex buffer,
// and are drawn, in the reverse order of AddPolygon. Each mesh class gathers only the two polygon
// classes of its own vertex format (by exact class); a polygon of another class keeps its face and
// its vertex slots, left zero, so it shows nothing and the faces after it stay in place.
//
// dxBufferColor8 derives from tr4::RenderMesh so that the level's Lista_Mesh can own it.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "D3DXMath.h"
#include "MeshList.h"
#include "RenderTypes.h"
#include "dxPoligono.h"

namespace tr4 {

class dxBufferColor8 : public tr4::RenderMesh {
  public:
    dxBufferColor8();
    ~dxBufferColor8() override;  // releases the vertex buffer (safe after the device is gone)
    dxBufferColor8(const dxBufferColor8&) = delete;
    dxBufferColor8& operator=(const dxBufferColor8&) = delete;

    // Takes ownership (none is refused with E_FAIL). Marks the mesh dirty. S_OK.
    int32_t AddPolygon(dxPoligono* polygon);
    int32_t AddPolygon(std::unique_ptr<dxPoligono> polygon) {
        return AddPolygon(polygon.release());
    }
    // Room for count more polygons, when the caller knows how many follow.
    void ReservePolygons(size_t count) { polygons.reserve(polygons.size() + count); }

    // Gathers the polygons into the vertex data and the face tables. Size of the vertex data in
    // bytes (vertices times the stride of the mesh's format), or -1 when the mesh is not dirty
    // (nothing changes then).
    virtual int BuildVertexData();
    // The gathered vertices, in the mesh's own format; the other format's span is empty (and
    // both are before BuildVertexData).
    std::span<const dxVertexColor> ColorVertexData() const { return vertexData; }
    virtual std::span<const dxVertexTex> TexVertexData() const { return {}; }

    int GetVertexCount() const { return 3 * triangleCount + 4 * quadCount; }
    int GetTriangleCount() const { return triangleCount; }
    int GetQuadCount() const { return quadCount; }
    int GetFaceCount() const { return triangleCount + quadCount; }
    uint32_t GetFVF() const { return fvf; }
    int GetStride() const { return stride; }
    bool IsDirty() const { return dirty; }
    // Draw flags of face i in vertex-buffer order; 0 for a face that is not built.
    int GetFaceDrawFlags(int face) const;
    // Texture of face i (always none for coloured meshes).
    virtual dxTexture* GetFaceTexture(int face) const;

    dxVertexBuffer* GetVertexBuffer() const { return vertexBuffer; }
    // Hands the buffer to the mesh, releasing one it held.
    void SetVertexBuffer(dxVertexBuffer* buffer);
    void ClearDirty() { dirty = false; }

    // Each puts one elementary matrix in front of the world matrix (world = M x world), so the
    // setter called last acts first on the vertices.
    void Translate(float x, float y, float z);
    void RotateX(float angle);
    void RotateY(float angle);
    void Scale(float s);
    void GetWorld(D3DXMATRIX& out) const { out = world; }
    void SetWorld(const D3DXMATRIX& m) { world = m; }
    void ResetWorld();

  protected:
    std::vector<dxVertexColor> vertexData;
    dxVertexBuffer* vertexBuffer = nullptr;
    std::vector<int> faceDrawFlags;
    int triangleCount = 0;
    int quadCount = 0;
    bool dirty = false;
    std::vector<std::unique_ptr<dxPoligono>> polygons;  // in AddPolygon order
    uint32_t fvf = 0x042;
    int stride = 16;
    D3DXMATRIX world;
};

class dxBufferTextura : public dxBufferColor8 {
  public:
    dxBufferTextura();
    int BuildVertexData() override;
    std::span<const dxVertexTex> TexVertexData() const override { return texVertexData; }
    dxTexture* GetFaceTexture(int face) const override;

  private:
    std::vector<dxVertexTex> texVertexData;
    std::vector<dxTexture*> faceTextures;  // not owned
};

// The render mesh in slot index of the list, as the textured mesh the builder made; none when the
// slots are not made, the index is out of range or the slot holds another kind of mesh.
dxBufferTextura* TexturedMeshAt(const tr4::Lista_Mesh& list, int index);

}  // namespace tr4
