#include "BuildRenderMeshes.h"

#include <atomic>
#include <exception>
#include <stop_token>
#include <system_error>
#include <thread>

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
    std::vector<MeshGeometry> made(static_cast<size_t>(count));
    std::vector<MeshGeometryCounts> counts(static_cast<size_t>(count));
    std::vector<VertexBufferPtr> meshes(static_cast<size_t>(count));

    // Making the geometry is plain memory work; uploading it is the device's, on this thread. A
    // second thread makes the meshes in order while this one uploads each as soon as it is made,
    // so the two halves of the work overlap. ready counts the meshes made, or is kMakerFailed
    // when the maker stopped on an exception.
    constexpr int kMakerFailed = -1;
    std::atomic<int> ready{0};
    std::exception_ptr makerFailure;
    const auto makeAll = [&](std::stop_token stop) {
        try {
            tr4::MeshFaces faces;
            for (int j = 0; j < count && !stop.stop_requested(); ++j) {
                const size_t i = static_cast<size_t>(j);
                if (records[i])
                    counts[i] = BuildMeshGeometry(*records[i], level, pages, faces, made[i]);
                ready.store(j + 1, std::memory_order_release);
                ready.notify_one();
            }
        } catch (...) {
            makerFailure = std::current_exception();
            ready.store(kMakerFailed, std::memory_order_release);
            ready.notify_one();
        }
    };
    bool uploaded = true;
    {
        std::jthread maker;
        try {
            maker = std::jthread(makeAll);
        } catch (const std::system_error&) {
            makeAll(std::stop_token());  // no thread to be had: the geometry first, here
        }
        // Leaving this block early (an exception here) stops the maker and waits for it, before
        // anything it works on goes.
        for (int j = 0; j < count && uploaded; ++j) {
            int r = ready.load(std::memory_order_acquire);
            while (r != kMakerFailed && r <= j) {
                ready.wait(r, std::memory_order_acquire);
                r = ready.load(std::memory_order_acquire);
            }
            if (r == kMakerFailed) break;
            const size_t i = static_cast<size_t>(j);
            if (records[i] == nullptr) continue;
            if (counts[i].dropped > 0)
                warnings.push_back("mesh " + std::to_string(j) + ": " +
                                   std::to_string(counts[i].dropped) +
                                   " face(s) name a vertex outside the mesh and are not drawn");
            if (counts[i].untextured > 0)
                warnings.push_back("mesh " + std::to_string(j) + ": " +
                                   std::to_string(counts[i].untextured) +
                                   " face(s) have no texture page and are drawn plain");
            std::string why;
            if (!device.UploadMesh(std::move(made[i]), meshes[i], why)) {
                error = "mesh " + std::to_string(j) + " could not be uploaded: " + why;
                uploaded = false;
            }
        }
        if (!uploaded) maker.request_stop();
    }
    if (makerFailure) std::rethrow_exception(makerFailure);
    if (!uploaded) return false;
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
