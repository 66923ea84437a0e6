#include "BuildRenderMeshes.h"

#include <atomic>
#include <exception>
#include <memory>
#include <span>
#include <stop_token>
#include <system_error>
#include <thread>

#include "MeshFaces.h"
#include "MeshView.h"
#include "dxBufferColor8.h"
#include "dxDevice8.h"
#include "trTextura.h"

namespace tr4 {

namespace {

constexpr float kPositionScale = kViewMeshScale;
constexpr int kPolygonFlags = kDrawCullCCW;

void AddPosition(dxPoligono& p, const tr4::MeshVertex& v) {
    p.AddVertex(v.x * kPositionScale, -v.y * kPositionScale, v.z * kPositionScale);
}

// The page texture of a face: none when the face has no object texture or its page does not
// exist on the device.
dxTexture* PageTexture(const trTextura* pages, int page) {
    if (pages == nullptr || page < 0) return nullptr;
    return pages->Is32Bit() ? pages->GetPage32(page) : pages->GetPage16(page);
}

// What making a mesh's polygons counted for its warnings.
struct MadeMesh {
    int dropped = 0;     // faces left out: a corner outside the mesh
    int untextured = 0;  // faces drawn plain: no such page
};

// Makes the polygons of mesh m into g, one a face (faces is scratch room, reused from mesh to
// mesh). Touches nothing but g, faces and out, so it may run beside the uploads.
void MakePolygons(const tr4::MeshRecord& m, const tr4::Level& level, const trTextura* pages,
                  tr4::MeshFaces& faces, dxBufferTextura& g, MadeMesh& out) {
    tr4::BuildMeshFaces(m, level, faces);
    out.dropped = faces.dropped;
    // The mesh's polygons in one block of its own rather than a heap object each.
    size_t bytes = 0;
    for (const tr4::MeshFace& f : faces.faces)
        bytes += f.quad ? sizeof(dxCuadradoTex) : sizeof(dxTrianguloTex);
    g.ReservePolygons(faces.faces.size(), bytes);
    for (const tr4::MeshFace& f : faces.faces) {
        dxTexture* texture = PageTexture(pages, f.page);
        if (texture == nullptr) ++out.untextured;
        // The face's corner for each slot of the polygon: a quadrilateral's slots are in strip
        // order, corners 0, 1, 3, 2, so it splits along 1-3; a triangle's are its corners.
        static constexpr int kQuadSlots[4] = {0, 1, 3, 2};
        static constexpr int kTriangleSlots[3] = {0, 1, 2};
        const std::span<const int> order =
            f.quad ? std::span<const int>(kQuadSlots) : std::span<const int>(kTriangleSlots);
        dxPoligono& polygon =
            f.quad ? static_cast<dxPoligono&>(g.MakePolygon<dxCuadradoTex>(kPolygonFlags))
                   : g.MakePolygon<dxTrianguloTex>(kPolygonFlags);
        dxTexCoord uv[4];
        for (size_t k = 0; k < order.size(); ++k) {
            uv[k] = {f.tu[order[k]], f.tv[order[k]]};
            AddPosition(polygon, f.corners[order[k]]);
        }
        polygon.SetTextureMapping(texture, std::span<const dxTexCoord>(uv, order.size()));
    }
}

}  // namespace

int32_t BuildRenderMeshes(tr4::Lista_Mesh* list, dxDevice8* device, trTextura* pages,
                          const tr4::Level& level, std::vector<std::string>* warnings) {
    if (list == nullptr || list->Count() < 1) return E_FAIL;
    const int count = list->Count();
    list->MakeRenderMeshSlots();
    std::vector<dxBufferTextura*> meshes(static_cast<size_t>(count), nullptr);
    std::vector<const tr4::MeshRecord*> records(static_cast<size_t>(count), nullptr);
    for (int j = 0; j < count; ++j) {
        list->SetRenderMesh(j, std::make_unique<dxBufferTextura>());
        tr4::MeshRecord* m = nullptr;
        if (list->GetRecord(j, m)) records[static_cast<size_t>(j)] = m;
        meshes[static_cast<size_t>(j)] = TexturedMeshAt(*list, j);
    }
    std::vector<MadeMesh> made(static_cast<size_t>(count));

    // Making the polygons is plain memory work; gathering and uploading them is the device's,
    // on this thread. A second thread makes the meshes' polygons in order while this one uploads
    // each as soon as it is made, so the two halves of the work overlap. ready counts the meshes
    // made, or is kMakerFailed when the maker stopped on an exception.
    constexpr int kMakerFailed = -1;
    std::atomic<int> ready{0};
    std::exception_ptr makerFailure;
    const auto makeAll = [&](std::stop_token stop) {
        try {
            tr4::MeshFaces faces;
            for (int j = 0; j < count && !stop.stop_requested(); ++j) {
                const size_t i = static_cast<size_t>(j);
                if (records[i] && meshes[i])
                    MakePolygons(*records[i], level, pages, faces, *meshes[i], made[i]);
                ready.store(j + 1, std::memory_order_release);
                ready.notify_one();
            }
        } catch (...) {
            makerFailure = std::current_exception();
            ready.store(kMakerFailed, std::memory_order_release);
            ready.notify_one();
        }
    };
    {
        std::jthread maker;
        try {
            maker = std::jthread(makeAll);
        } catch (const std::system_error&) {
            makeAll(std::stop_token());  // no thread to be had: the polygons first, here
        }
        // Leaving this block early (an exception here) stops the maker and waits for it, before
        // anything it works on goes.
        for (int j = 0; j < count; ++j) {
            int r = ready.load(std::memory_order_acquire);
            while (r != kMakerFailed && r <= j) {
                ready.wait(r, std::memory_order_acquire);
                r = ready.load(std::memory_order_acquire);
            }
            if (r == kMakerFailed) break;
            const size_t i = static_cast<size_t>(j);
            if (records[i] == nullptr || meshes[i] == nullptr) continue;
            if (warnings && made[i].dropped > 0)
                warnings->push_back("mesh " + std::to_string(j) + ": " +
                                    std::to_string(made[i].dropped) +
                                    " face(s) name a vertex outside the mesh and are not drawn");
            if (warnings && made[i].untextured > 0)
                warnings->push_back("mesh " + std::to_string(j) + ": " +
                                    std::to_string(made[i].untextured) +
                                    " face(s) have no texture page and are drawn plain");
            if (device) device->UploadMesh(meshes[i]);
        }
    }
    if (makerFailure) std::rethrow_exception(makerFailure);
    return S_OK;
}

uint64_t RenderMeshBytes(const tr4::Lista_Mesh* list) {
    if (list == nullptr) return 0;
    // A face: its polygon object with room for a heap's own overhead and the owner's pointer, its
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
    const uint64_t pages = static_cast<uint64_t>(tr4::PageCount(level));
    // The set keeps each page's texels for a device reset, and the driver holds its own copy.
    return pages * (wide ? trTextura::kPage32Bytes : trTextura::kPage16Bytes) * 2;
}

}  // namespace tr4
