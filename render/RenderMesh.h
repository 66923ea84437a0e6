#pragma once
// A mesh in the layout the device uploads: triangle-list vertices and the faces they make, in
// draw order. The render-mesh builder writes a level mesh's faces straight into it; tests and
// the drawing of glTF files write faces of their own the same way.
#include <cstdint>
#include <span>
#include <vector>

#include "RenderTypes.h"

namespace tr4 {

// Draw flags of a face.
inline constexpr int kDrawWireframe = 0x02;  // wireframe; clear: solid
inline constexpr int kDrawCullCW = 0x04;     // cull faces clockwise on screen
inline constexpr int kDrawCullCCW = 0x08;  // cull faces counter-clockwise on screen; wins over 0x04

struct GpuVertex {
    float x, y, z, u, v;
    int32_t layer;  // the page layer it samples; the device sets it at upload
};

// One face, as a run of triangle-list vertices.
struct GpuFace {
    int first = 0;
    int count = 0;  // 3 for a triangle, 6 for a rectangle
    int flags = 0;
    dxTexture* texture = nullptr;  // not owned; none: plain grey (cleared when it is released)
};

struct MeshGeometry {
    std::vector<GpuVertex> vertices;
    std::vector<GpuFace> faces;
};

// Appends a face of 3 or 4 corners (positions and texture coordinates, in the face's own corner
// order) as the triangles tr4::TrianglesOf names for it.
void AppendFace(MeshGeometry& out, std::span<const GpuVertex> corners, dxTexture* texture,
                int flags);

// The faces of an uploaded mesh, in draw order; none for none.
std::span<const GpuFace> FacesOf(const dxVertexBuffer* buffer);

}  // namespace tr4
