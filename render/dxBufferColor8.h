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
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
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
    // Room for count more polygons, when the caller knows how many follow. With bytes, also
    // room for that many bytes of polygons made in the mesh's own storage (MakePolygon).
    void ReservePolygons(size_t count, size_t bytes = 0);
    // Makes a polygon of class P in the mesh's own storage (one block for a mesh's polygons
    // instead of one heap object each; the heap when the reserved room is used up) and adds it
    // as AddPolygon would. The mesh owns it; the reference stays valid as long as the mesh.
    template <typename P>
    P& MakePolygon(int flags) {
        static_assert(std::is_base_of_v<dxPoligono, P> && alignof(P) <= kStorageAlign);
        void* room = TakeStorage(sizeof(P));
        if (room == nullptr) {
            auto made = std::make_unique<P>(flags);
            P& polygon = *made;
            AddPolygon(std::move(made));
            return polygon;
        }
        polygons.emplace_back(nullptr, PolygonDisposer{true});
        P* polygon = new (room) P(flags);
        polygons.back().reset(polygon);
        Count(*polygon);
        return *polygon;
    }

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
    // Every face's draw flags and texture, in vertex-buffer order (the textures empty for
    // coloured meshes): what GetFaceDrawFlags and GetFaceTexture give, without a call a face.
    std::span<const int> FaceDrawFlags() const { return faceDrawFlags; }
    virtual std::span<dxTexture* const> FaceTextures() const { return {}; }

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
    // Ends a polygon: in place when it lives in the mesh's storage, by delete otherwise.
    struct PolygonDisposer {
        bool inStorage = false;
        void operator()(dxPoligono* p) const {
            if (inStorage)
                p->~dxPoligono();
            else
                delete p;
        }
    };
    static constexpr size_t kStorageAlign = alignof(std::max_align_t);
    // size bytes of the reserved storage, or none when it has no room left.
    void* TakeStorage(size_t size);
    // Counts a polygon just listed and marks the mesh dirty.
    void Count(const dxPoligono& polygon);

    std::vector<dxVertexColor> vertexData;
    dxVertexBuffer* vertexBuffer = nullptr;
    std::vector<int> faceDrawFlags;
    int triangleCount = 0;
    int quadCount = 0;
    bool dirty = false;
    // Blocks of the polygons made in the mesh; they outlive the polygons (declared before).
    std::vector<std::unique_ptr<std::byte[]>> storage;
    size_t storageUsed = 0;  // bytes taken of the last block
    size_t storageSize = 0;  // bytes of the last block
    std::vector<std::unique_ptr<dxPoligono, PolygonDisposer>> polygons;  // in AddPolygon order
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
    std::span<dxTexture* const> FaceTextures() const override { return faceTextures; }

  private:
    std::vector<dxVertexTex> texVertexData;
    std::vector<dxTexture*> faceTextures;  // not owned
};

// The render mesh in slot index of the list, as the textured mesh the builder made; none when the
// slots are not made, the index is out of range or the slot holds another kind of mesh.
dxBufferTextura* TexturedMeshAt(const tr4::Lista_Mesh& list, int index);

}  // namespace tr4
