#include "BuildRenderMeshes.h"

#include <memory>

#include "MeshView.h"
#include "dxBuffer.h"
#include "dxDevice8.h"
#include "trTextura.h"

namespace {

constexpr float kPositionScale = kViewMeshScale;
constexpr float kTexelDivisor = 255.0f;
constexpr int kPolygonFlags = kDrawCullCCW;

struct Corner {
    float tu = 0.0f;
    float tv = 0.0f;
};

struct FaceSource {
    dxTexture* texture = nullptr;
    Corner corners[4];
};

// What a face takes from its object texture; a texture index or page that does not exist leaves
// the face without texture (counted in missing).
FaceSource SourceOf(const tr4::Level& level, const trTextura* pages, uint16_t textureIndex,
                    bool triangle, int& missing) {
    FaceSource source;
    if (textureIndex >= level.objectTextures.size()) {
        ++missing;
        return source;
    }
    const tr4::ObjectTexture& t = level.objectTextures[textureIndex];
    for (int c = 0; c < 4; ++c) {
        source.corners[c].tu = static_cast<float>(t.corners[c].xPixel) / kTexelDivisor;
        source.corners[c].tv = static_cast<float>(t.corners[c].yPixel) / kTexelDivisor;
    }
    // Triangles ignore the top bit of the page word; rectangles use it whole, so a rectangle
    // with that bit set names a page that does not exist.
    const int page = triangle ? (t.tile & 0x7FFF) : t.tile;
    if (pages) source.texture = pages->Is32Bit() ? pages->GetPage32(page) : pages->GetPage16(page);
    if (source.texture == nullptr) ++missing;
    return source;
}

bool IndicesValid(const tr4::MeshRecord& m, const uint16_t* indices, int count) {
    for (int k = 0; k < count; ++k)
        if (indices[k] >= m.vertices.size()) return false;
    return true;
}

void AddPosition(dxPoligono& p, const tr4::MeshVertex& v) {
    p.AddVertex(v.x * kPositionScale, -v.y * kPositionScale, v.z * kPositionScale);
}

}  // namespace

int32_t BuildRenderMeshes(tr4::Lista_Mesh* list, dxDevice8* device, trTextura* pages,
                          const tr4::Level& level, std::vector<std::string>* warnings) {
    if (list == nullptr || list->Count() < 1) return E_FAIL;
    const int count = list->Count();
    list->MakeRenderMeshSlots();
    for (int j = 0; j < count; ++j) list->SetRenderMesh(j, std::make_unique<dxBufferTextura>());

    for (int j = 0; j < count; ++j) {
        tr4::MeshRecord* m = nullptr;
        dxBufferTextura* g = RenderMeshAt(*list, j);
        if (!list->GetRecord(j, m) || m == nullptr || g == nullptr) continue;
        int dropped = 0;
        int untextured = 0;

        const int rectangles =
            std::min<int>(m->rectangleCount, static_cast<int>(m->rectangles.size()));
        for (int r = 0; r < rectangles; ++r) {
            const tr4::MeshRectangle& rect = m->rectangles[r];
            if (!IndicesValid(*m, rect.indices, 4)) {
                ++dropped;
                continue;
            }
            auto polygon = std::make_unique<dxCuadradoTex>(kPolygonFlags);
            const FaceSource s = SourceOf(level, pages, rect.texture, false, untextured);
            const Corner* c = s.corners;
            // Strip order: corners 0, 1, 3, 2, so the quadrilateral splits along 1-3.
            polygon->SetTextureMapping(s.texture, c[0].tu, c[0].tv, c[1].tu, c[1].tv, c[3].tu,
                                       c[3].tv, c[2].tu, c[2].tv);
            for (int k : {0, 1, 3, 2}) AddPosition(*polygon, m->vertices[rect.indices[k]]);
            g->AddPolygon(std::move(polygon));
        }

        const int triangles =
            std::min<int>(m->triangleCount, static_cast<int>(m->triangles.size()));
        for (int t = 0; t < triangles; ++t) {
            const tr4::MeshTriangle& tri = m->triangles[t];
            if (!IndicesValid(*m, tri.indices, 3)) {
                ++dropped;
                continue;
            }
            auto polygon = std::make_unique<dxTrianguloTex>(kPolygonFlags);
            const FaceSource s = SourceOf(level, pages, tri.texture, true, untextured);
            const Corner* c = s.corners;
            polygon->SetTextureMapping(s.texture, c[0].tu, c[0].tv, c[1].tu, c[1].tv, c[2].tu,
                                       c[2].tv);
            for (int k = 0; k < 3; ++k) AddPosition(*polygon, m->vertices[tri.indices[k]]);
            g->AddPolygon(std::move(polygon));
        }

        if (warnings && dropped > 0)
            warnings->push_back("mesh " + std::to_string(j) + ": " + std::to_string(dropped) +
                                " face(s) name a vertex outside the mesh and are not drawn");
        if (warnings && untextured > 0)
            warnings->push_back("mesh " + std::to_string(j) + ": " + std::to_string(untextured) +
                                " face(s) have no texture page and are drawn plain");
        if (device) device->UploadMesh(g);
    }
    return S_OK;
}

uint64_t RenderMeshBytes(const tr4::Lista_Mesh* list) {
    if (list == nullptr) return 0;
    // A face: its polygon object with the heap's own overhead and the owner's pointer, its
    // gathered vertices, draw flags and texture, and up to six vertices of 24 bytes twice over
    // (the kept copy and the driver's).
    constexpr uint64_t kQuad = sizeof(dxCuadradoTex) + 16 + 16 + 4 * sizeof(dxVertexTex) +
                               sizeof(int) + sizeof(void*) + 2 * 6 * 24 + 16;
    constexpr uint64_t kTriangle = sizeof(dxTrianguloTex) + 16 + 16 + 3 * sizeof(dxVertexTex) +
                                   sizeof(int) + sizeof(void*) + 2 * 3 * 24 + 16;
    uint64_t bytes = 0;
    for (int i = 0; i < list->Count(); ++i) {
        tr4::MeshRecord* m = nullptr;
        if (!list->GetRecord(i, m) || m == nullptr) continue;
        bytes += sizeof(dxBufferTextura) + 256;
        bytes += kQuad * m->rectangles.size() + kTriangle * m->triangles.size();
    }
    return bytes;
}

uint64_t TexturePageBytes(const tr4::Level& level, bool wide) {
    const uint64_t pages = level.pages32Size >> 18;
    // The set keeps each page's texels for a device reset, and the driver holds its own copy.
    return pages * (wide ? trTextura::kPage32Bytes : trTextura::kPage16Bytes) * 2;
}
