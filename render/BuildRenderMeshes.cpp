#include "BuildRenderMeshes.h"

#include "MeshView.h"
#include "dxDevice8.h"
#include "trTextura.h"

namespace tr4 {

namespace {

// The page texture of a face: none when the face has no object texture or its page does not
// exist on the device.
dxTexture* PageTexture(const trTextura* pages, int page) {
    if (pages == nullptr || page < 0) return nullptr;
    return pages->Is32Bit() ? pages->GetPage32(page) : pages->GetPage16(page);
}

}  // namespace

MeshGeometryCounts BuildMeshGeometry(const tr4::MeshRecord& record, const tr4::Level& level,
                                     const trTextura* pages, tr4::MeshFaces& faces,
                                     MeshGeometry& out) {
    tr4::BuildMeshFaces(record, level, faces);
    MeshGeometryCounts counts;
    counts.dropped = faces.dropped;
    out.vertices.clear();
    out.faces.clear();
    size_t vertices = 0;
    for (const tr4::MeshFace& f : faces.faces) vertices += 3 * tr4::TrianglesOf(f).size();
    out.vertices.reserve(vertices);
    out.faces.reserve(faces.faces.size());
    // Last face first: the order the viewer has always drawn them in, which decides depth ties.
    for (auto f = faces.faces.rbegin(); f != faces.faces.rend(); ++f) {
        dxTexture* texture = PageTexture(pages, f->page);
        if (texture == nullptr) ++counts.untextured;
        GpuVertex corners[4];
        for (int k = 0; k < f->CornerCount(); ++k) {
            const tr4::MeshVertex& v = f->corners[k];
            corners[k] = {v.x * kViewMeshScale,
                          -v.y * kViewMeshScale,
                          v.z * kViewMeshScale,
                          f->tu[k],
                          f->tv[k],
                          0};
        }
        AppendFace(out, std::span<const GpuVertex>(corners, static_cast<size_t>(f->CornerCount())),
                   texture, kDrawCullCCW);
    }
    return counts;
}

bool BuildRenderMeshes(const tr4::Lista_Mesh& list, const tr4::Level& level, const trTextura* pages,
                       dxDevice8& device, std::vector<VertexBufferPtr>& out,
                       std::vector<std::string>& warnings, std::string& error) {
    const int count = list.Count();
    std::vector<const tr4::MeshRecord*> records(static_cast<size_t>(count), nullptr);
    for (int j = 0; j < count; ++j) {
        tr4::MeshRecord* m = nullptr;
        if (list.GetRecord(j, m)) records[static_cast<size_t>(j)] = m;
    }
    std::vector<VertexBufferPtr> meshes(static_cast<size_t>(count));
    // Each mesh is made and uploaded in turn. (Making them on a second thread beside the uploads
    // no longer pays: written straight into the upload layout, they take less than the uploads.)
    tr4::MeshFaces faces;
    MeshGeometry made;
    for (int j = 0; j < count; ++j) {
        const tr4::MeshRecord* record = records[static_cast<size_t>(j)];
        if (record == nullptr) continue;
        const MeshGeometryCounts counts = BuildMeshGeometry(*record, level, pages, faces, made);
        if (counts.dropped > 0)
            warnings.push_back("mesh " + std::to_string(j) + ": " + std::to_string(counts.dropped) +
                               " face(s) name a vertex outside the mesh and are not drawn");
        if (counts.untextured > 0)
            warnings.push_back("mesh " + std::to_string(j) + ": " +
                               std::to_string(counts.untextured) +
                               " face(s) have no texture page and are drawn plain");
        std::string why;
        if (!device.UploadMesh(std::move(made), meshes[static_cast<size_t>(j)], why)) {
            error = "mesh " + std::to_string(j) + " could not be uploaded: " + why;
            return false;
        }
        made = MeshGeometry{};
    }
    out = std::move(meshes);
    return true;
}

uint64_t RenderMeshBytes(const tr4::Lista_Mesh* list) {
    if (list == nullptr) return 0;
    // A face: its entry and its vertices of 24 bytes, three a triangle, made once and kept as the
    // device's copy, and the driver's copy of the vertices.
    constexpr uint64_t kVertex = sizeof(GpuVertex);
    static_assert(kVertex == 24);
    constexpr uint64_t kQuad = sizeof(GpuFace) + 2 * 6 * kVertex;
    constexpr uint64_t kTriangle = sizeof(GpuFace) + 2 * 3 * kVertex;
    uint64_t bytes = 0;
    for (const tr4::MeshRecord& m : *list) {
        bytes += 256;  // the buffer's own records
        bytes += kQuad * m.rectangles.size() + kTriangle * m.triangles.size();
    }
    return bytes;
}

uint64_t TexturePageBytes(const tr4::Level& level, bool wide) {
    const uint64_t pages = static_cast<uint64_t>(tr4::PageCount(level));
    // The set keeps each page's texels for a device reset, and the driver holds its own copy.
    return pages * (wide ? trTextura::kPage32Bytes : trTextura::kPage16Bytes) * 2;
}

}  // namespace tr4
