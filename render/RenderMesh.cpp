#include "RenderMesh.h"

#include "DeviceImpl.h"
#include "MeshFaces.h"

namespace tr4 {

void AppendFace(MeshGeometry& out, std::span<const GpuVertex> corners, dxTexture* texture,
                int flags) {
    tr4::MeshFace shape;
    shape.quad = corners.size() == 4;
    const std::span<const tr4::CornerTriangle> triangles = tr4::TrianglesOf(shape);
    GpuFace& face = out.faces.emplace_back();
    face.first = static_cast<int>(out.vertices.size());
    face.count = static_cast<int>(3 * triangles.size());
    face.flags = flags;
    face.texture = texture;
    for (const tr4::CornerTriangle& t : triangles)
        for (int k : t) out.vertices.push_back(corners[static_cast<size_t>(k)]);
}

std::span<const GpuFace> FacesOf(const dxVertexBuffer* buffer) {
    if (buffer == nullptr) return {};
    return buffer->faces;
}

}  // namespace tr4
