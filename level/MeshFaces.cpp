#include "MeshFaces.h"

#include <algorithm>

namespace tr4 {
namespace {

constexpr float kTexelDivisor = 255.0f;

bool IndicesValid(const MeshRecord& m, const uint16_t* indices, int count) {
    for (int k = 0; k < count; ++k)
        if (indices[k] >= m.vertices.size()) return false;
    return true;
}

// Corners, texture coordinates, page and attribute of one face.
bool Fill(const MeshRecord& m, const Level& level, const uint16_t* indices, uint16_t texture,
          uint16_t effects, bool quad, MeshFace& face) {
    face.quad = quad;
    face.effects = effects;
    for (int k = 0; k < face.CornerCount(); ++k) {
        face.vertex[k] = indices[k];
        face.corners[k] = m.vertices[indices[k]];
    }
    return FaceTexture(level, texture, face);
}

}  // namespace

bool FaceTexture(const Level& level, uint16_t texture, MeshFace& face) {
    const bool quad = face.quad;
    if (texture >= level.objectTextures.size()) return false;
    const ObjectTexture& t = level.objectTextures[texture];
    for (int c = 0; c < 4; ++c) {
        face.tu[c] = static_cast<float>(t.corners[c].xPixel) / kTexelDivisor;
        face.tv[c] = static_cast<float>(t.corners[c].yPixel) / kTexelDivisor;
    }
    // Triangles ignore the top bit of the page word; rectangles use it whole, so a rectangle
    // with that bit set names a page that does not exist.
    face.page = quad ? t.tile : (t.tile & 0x7FFF);
    face.attribute = t.attribute;
    return true;
}

int PageCount(const Level& level) {
    return static_cast<int>(level.pages32Size / kPage32Bytes);
}

void BuildMeshFaces(const MeshRecord& m, const Level& level, MeshFaces& out) {
    out.faces.clear();
    out.dropped = 0;
    out.noObjectTexture = 0;
    const int rectangles = std::min<int>(m.rectangleCount, static_cast<int>(m.rectangles.size()));
    const int triangles = std::min<int>(m.triangleCount, static_cast<int>(m.triangles.size()));
    out.faces.reserve(static_cast<size_t>(std::max(0, rectangles) + std::max(0, triangles)));
    // Rectangles first, then triangles: one pass over each stored array.
    auto gather = [&](const auto& stored, int count, bool quad) {
        for (int i = 0; i < count; ++i) {
            const auto& f = stored[static_cast<size_t>(i)];
            if (!IndicesValid(m, f.indices, quad ? 4 : 3)) {
                ++out.dropped;
                continue;
            }
            MeshFace& face = out.faces.emplace_back();
            if (!Fill(m, level, f.indices, f.texture, f.faceFlags, quad, face))
                ++out.noObjectTexture;
        }
    };
    gather(m.rectangles, rectangles, true);
    gather(m.triangles, triangles, false);
}

}  // namespace tr4
