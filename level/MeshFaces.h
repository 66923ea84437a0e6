#pragma once
// The device-free half of building a mesh for drawing: which faces of a decoded mesh are drawn,
// with which corners, texture coordinates, texture page and blending attribute. The render-mesh
// builder turns these faces into polygons on the device; the glTF export writes the same faces,
// so what a file holds is exactly what the viewer draws.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "Level.h"
#include "MeshList.h"

namespace tr4 {

// A page of 256 x 256 texels at 4 bytes each in the level's 32-bit block.
inline constexpr uint32_t kPage32Bytes = 256u * 256u * 4u;

// Whole 32-bit pages of the level: pages32Size / 262,144, a trailing partial page left out.
int PageCount(const Level& level);

struct MeshFace {
    bool quad = false;        // a rectangle (4 corners), else a triangle (3)
    MeshVertex corners[4];    // the face's vertices in its own corner order 0..3
    uint16_t vertex[4] = {};  // index of each corner in the mesh's vertices (and normals, shades)
    float tu[4] = {};         // xPixel / 255 of the object texture's corner k
    float tv[4] = {};         // yPixel / 255
    // Texture page: the object texture's tile word, whole for rectangles and with bit 15 cleared
    // for triangles; -1 when the face's texture index names no object texture. A page at or past
    // the level's page count is kept as it is; each user decides what it has for it.
    int page = -1;
    uint16_t attribute = 0;  // blending attribute of the object texture (0 when there is none)
    uint16_t effects = 0;    // the face's own effects word: bit 0 adds it to what is behind
    int CornerCount() const { return quad ? 4 : 3; }
};

// The triangles a face is drawn as, by corner, each wound as the level winds the face (clockwise
// seen from the side it shows): a triangle as it is, a rectangle split along its corners 1-3.
// The viewer draws these; the glTF export writes each reversed, glTF's front being
// counter-clockwise.
using CornerTriangle = std::array<int, 3>;
inline constexpr std::array<CornerTriangle, 2> kRectangleTriangles{{{0, 1, 3}, {1, 2, 3}}};
inline constexpr std::array<CornerTriangle, 1> kTriangleCorners{{{0, 1, 2}}};
inline std::span<const CornerTriangle> TrianglesOf(const MeshFace& face) {
    if (face.quad) return kRectangleTriangles;
    return kTriangleCorners;
}

struct MeshFaces {
    std::vector<MeshFace> faces;  // rectangles first, then triangles, each in stored order
    int dropped = 0;              // faces naming a vertex outside the mesh, left out
    int noObjectTexture = 0;      // faces whose texture index names no object texture
};

// Texture coordinates, page and attribute of face (its quad flag set) from object texture
// texture. False, leaving them as they are, when there is no such object texture.
bool FaceTexture(const Level& level, uint16_t texture, MeshFace& face);

// The drawable faces of record, with texture coordinates and pages from level's object textures.
// Counts beyond the stored arrays are bounded by the arrays.
void BuildMeshFaces(const MeshRecord& record, const Level& level, MeshFaces& out);

}  // namespace tr4
