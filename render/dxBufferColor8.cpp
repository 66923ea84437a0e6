#include "dxBufferColor8.h"

#include <algorithm>
#include <typeinfo>

namespace tr4 {

namespace {

bool IsTriangleClass(const dxPoligono& p) {
    // The slot count rules out the quadrilaterals without comparing type names, which unequal
    // types do character by character.
    if (p.GetLastSlot() != 2) return false;
    return typeid(p) == typeid(dxTrianguloTex) || typeid(p) == typeid(dxTriangulo);
}

std::span<const dxVertexColor> VerticesOf(const dxPoligono& p, const dxVertexColor*) {
    return p.ColorVertices();
}
std::span<const dxVertexTex> VerticesOf(const dxPoligono& p, const dxVertexTex*) {
    return p.TexVertices();
}

// Gathers the polygons, newest first, into vertices of type Vertex. Polygons of exactly
// OwnTriangle / OwnQuad are copied; any other polygon keeps its face and its vertex slots, left
// zero, so later faces stay where the draw expects them.
template <typename Vertex, typename OwnTriangle, typename OwnQuad, typename Owned>
void Gather(const std::vector<Owned>& polygons, int vertexCount, std::vector<Vertex>& data,
            std::vector<int>& flags, std::vector<dxTexture*>* textures, int ownFlag) {
    data.assign(static_cast<size_t>(vertexCount), Vertex{});
    flags.assign(polygons.size(), 0);
    if (textures) textures->assign(polygons.size(), nullptr);
    size_t face = 0;
    auto out = data.begin();
    for (auto it = polygons.rbegin(); it != polygons.rend(); ++it, ++face) {
        const dxPoligono& p = **it;
        const bool triangle = IsTriangleClass(p);
        const int quadBit = triangle ? 0 : kDrawQuad;
        const bool own = triangle ? typeid(p) == typeid(OwnTriangle) : typeid(p) == typeid(OwnQuad);
        if (own) {
            const std::span<const Vertex> vertices = VerticesOf(p, static_cast<Vertex*>(nullptr));
            std::copy(vertices.begin(), vertices.end(), out);
            flags[face] = p.GetDrawFlags() | quadBit | ownFlag;
            if (textures) {
                if (triangle)
                    (*textures)[face] = static_cast<const dxTrianguloTex&>(p).GetTexture();
                else
                    (*textures)[face] = static_cast<const dxCuadradoTex&>(p).GetTexture();
            }
        } else {
            flags[face] = (p.GetDrawFlags() & ~kDrawTextured) | quadBit;
        }
        out += triangle ? 3 : 4;
    }
}

}  // namespace

dxBufferColor8::dxBufferColor8() {
    D3DXMatrixIdentity(&world);
}

dxBufferColor8::~dxBufferColor8() {
    ReleaseVertexBuffer(vertexBuffer);
}

int32_t dxBufferColor8::AddPolygon(dxPoligono* polygon) {
    if (polygon == nullptr) return E_FAIL;
    // Owned from here, even when there is no room to list it.
    std::unique_ptr<dxPoligono> owned(polygon);
    polygons.emplace_back(nullptr, PolygonDisposer{false});
    polygons.back().reset(owned.release());
    Count(*polygon);
    return S_OK;
}

void dxBufferColor8::Count(const dxPoligono& polygon) {
    const bool triangle = IsTriangleClass(polygon);
    dirty = true;
    if (triangle)
        ++triangleCount;
    else
        ++quadCount;
}

void dxBufferColor8::ReservePolygons(size_t count, size_t bytes) {
    polygons.reserve(polygons.size() + count);
    if (bytes <= storageSize - storageUsed) return;
    bytes = (bytes + kStorageAlign - 1) / kStorageAlign * kStorageAlign;
    // operator new[] of bytes aligns to the default new alignment, which covers kStorageAlign.
    storage.reserve(storage.size() + 1);
    storage.push_back(std::make_unique_for_overwrite<std::byte[]>(bytes));
    storageUsed = 0;
    storageSize = bytes;
}

void* dxBufferColor8::TakeStorage(size_t size) {
    size = (size + kStorageAlign - 1) / kStorageAlign * kStorageAlign;
    if (storage.empty() || size > storageSize - storageUsed) return nullptr;
    std::byte* room = storage.back().get() + storageUsed;
    storageUsed += size;
    return room;
}

int dxBufferColor8::BuildVertexData() {
    if (!dirty) return -1;
    Gather<dxVertexColor, dxTriangulo, dxCuadrado>(polygons, GetVertexCount(), vertexData,
                                                   faceDrawFlags, nullptr, 0);
    return GetVertexCount() * static_cast<int>(sizeof(dxVertexColor));
}

int dxBufferColor8::GetFaceDrawFlags(int face) const {
    if (face < 0 || face >= static_cast<int>(faceDrawFlags.size())) return 0;
    return faceDrawFlags[face];
}

dxTexture* dxBufferColor8::GetFaceTexture(int) const {
    return nullptr;
}

void dxBufferColor8::SetVertexBuffer(dxVertexBuffer* buffer) {
    if (buffer == vertexBuffer) return;
    ReleaseVertexBuffer(vertexBuffer);
    vertexBuffer = buffer;
}

void dxBufferColor8::Translate(float x, float y, float z) {
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, x, y, z);
    D3DXMatrixMultiply(&world, &m, &world);
}

void dxBufferColor8::RotateX(float angle) {
    D3DXMATRIX m;
    D3DXMatrixRotationX(&m, angle);
    D3DXMatrixMultiply(&world, &m, &world);
}

void dxBufferColor8::RotateY(float angle) {
    D3DXMATRIX m;
    D3DXMatrixRotationY(&m, angle);
    D3DXMatrixMultiply(&world, &m, &world);
}

void dxBufferColor8::Scale(float s) {
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, s, s, s);
    D3DXMatrixMultiply(&world, &m, &world);
}

void dxBufferColor8::ResetWorld() {
    D3DXMatrixIdentity(&world);
}

dxBufferTextura::dxBufferTextura() {
    fvf = 0x102;
    stride = 20;
}

int dxBufferTextura::BuildVertexData() {
    if (!dirty) return -1;
    Gather<dxVertexTex, dxTrianguloTex, dxCuadradoTex>(polygons, GetVertexCount(), texVertexData,
                                                       faceDrawFlags, &faceTextures, kDrawTextured);
    return GetVertexCount() * static_cast<int>(sizeof(dxVertexTex));
}

dxTexture* dxBufferTextura::GetFaceTexture(int face) const {
    if (face < 0 || face >= static_cast<int>(faceTextures.size())) return nullptr;
    return faceTextures[face];
}

dxBufferTextura* TexturedMeshAt(const tr4::Lista_Mesh& list, int index) {
    return dynamic_cast<dxBufferTextura*>(list.RenderMeshAt(index));
}

}  // namespace tr4
