// Which way the exported faces and objects look, held against the level's own evidence: the
// normals its meshes store, the volume its closed meshes enclose, where a foot's toes are, which
// faces its lighting brightens, which faces it marks to glow.
#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "ExportSupport.h"
#include "MeshFaces.h"

namespace exporttest {
namespace {

using Kind = tr4export::ExportRequest::Kind;
using Vec = std::array<double, 3>;
constexpr double kScale = tr4export::kDefaultScale;

Vec Sub(const Vec& a, const Vec& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec Cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vec& a, const Vec& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// glTF's axes back to the level's: (x, y, z) -> (-x, -y, z), the half turn undone.
Vec ToLevel(const Vec& v) {
    return {-v[0], -v[1], v[2]};
}

struct Triangle {
    Vec p[3];
    Vec normal[3];  // the file's NORMAL of each corner, when it has one
    float grey[3] = {};
    std::string material;
};

// Every triangle of glTF mesh index, as the file holds it.
std::vector<Triangle> TrianglesOf(const tinygltf::Model& model, int mesh) {
    std::vector<Triangle> out;
    for (const tinygltf::Primitive& p : model.meshes[mesh].primitives) {
        if (p.mode != TINYGLTF_MODE_TRIANGLES) continue;
        const std::vector<float> pos = Floats(model, p.attributes.at("POSITION"));
        std::vector<float> normals, colours;
        if (p.attributes.count("NORMAL")) normals = Floats(model, p.attributes.at("NORMAL"));
        if (p.attributes.count("COLOR_0")) colours = Floats(model, p.attributes.at("COLOR_0"));
        const std::vector<uint32_t> idx = Indices(model, p.indices);
        for (size_t t = 0; t + 2 < idx.size(); t += 3) {
            Triangle tri;
            tri.material = model.materials[p.material].name;
            for (int k = 0; k < 3; ++k) {
                const uint32_t i = idx[t + k];
                tri.p[k] = {pos[3 * i], pos[3 * i + 1], pos[3 * i + 2]};
                if (!normals.empty())
                    tri.normal[k] = {normals[3 * i], normals[3 * i + 1], normals[3 * i + 2]};
                if (!colours.empty()) tri.grey[k] = colours[3 * i];
            }
            out.push_back(tri);
        }
    }
    return out;
}

// The counter-clockwise normal of a triangle of the file.
Vec FrontOf(const Triangle& t) {
    return Cross(Sub(t.p[1], t.p[0]), Sub(t.p[2], t.p[0]));
}

// A file position as the level's integer vertex it came from.
std::array<int, 3> LevelVertex(const Vec& p) {
    const Vec l = ToLevel(p);
    return {static_cast<int>(std::lround(l[0] / kScale)),
            static_cast<int>(std::lround(l[1] / kScale)),
            static_cast<int>(std::lround(l[2] / kScale))};
}

const tinygltf::Model& AllMeshes() {
    static tinygltf::Model model = [] {
        tinygltf::Model m;
        tr4export::ExportRequest r;
        r.kind = Kind::AllMeshes;
        EXPECT_TRUE(ExportAndRead(r, "facing-all.glb", m));
        return m;
    }();
    return model;
}

TEST(Facing, TrianglesFaceTheWayTheLevelsStoredNormalsPoint) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const tinygltf::Model& model = AllMeshes();
    ASSERT_EQ(model.meshes.size(), 191u);
    int agree = 0, total = 0, normalsChecked = 0;
    for (int i = 0; i < real->list->Count(); ++i) {
        tr4::MeshRecord* m = nullptr;
        ASSERT_EQ(real->list->GetRecord(i, m), 1);
        if (m->normals.empty() || m->normals.size() < m->vertices.size()) continue;
        // The stored normals of the level's vertices, by position (level axes).
        std::map<std::array<int, 3>, std::vector<Vec>> stored;
        for (size_t v = 0; v < m->vertices.size(); ++v) {
            const tr4::MeshVertex& p = m->vertices[v];
            const tr4::MeshVertex& n = m->normals[v];
            stored[{p.x, p.y, p.z}].push_back({double(n.x), double(n.y), double(n.z)});
        }
        for (const Triangle& t : TrianglesOf(model, i)) {
            Vec mean{};
            for (int k = 0; k < 3; ++k) {
                const auto at = stored.find(LevelVertex(t.p[k]));
                ASSERT_NE(at, stored.end()) << "mesh " << i << ": a corner the level does not hold";
                for (const Vec& n : at->second)
                    for (int c = 0; c < 3; ++c) mean[c] += n[c];
                // The file's normal is one of the level's at that corner, turned and unit.
                const Vec level = ToLevel(t.normal[k]);
                EXPECT_NEAR(Dot(level, level), 1.0, 1e-4) << "mesh " << i;
                double best = -2;
                for (const Vec& n : at->second)
                    if (Dot(n, n) > 0) best = std::max(best, Dot(level, n) / std::sqrt(Dot(n, n)));
                if (best > -2) {
                    EXPECT_GT(best, 0.9999) << "mesh " << i;
                    ++normalsChecked;
                }
            }
            ++total;
            agree += Dot(ToLevel(FrontOf(t)), mean) > 0;
        }
    }
    std::printf("%d of %d triangles face the way the stored normals point (%.1f%%)\n", agree, total,
                100.0 * agree / total);
    EXPECT_GT(total, 6000);
    EXPECT_GE(agree, total * 0.9);
    EXPECT_GT(normalsChecked, 3 * total * 0.9);
}

TEST(Facing, ClosedMeshesEncloseAPositiveVolume) {
    const tinygltf::Model& model = AllMeshes();
    int closed = 0, positive = 0;
    for (size_t i = 0; i < model.meshes.size(); ++i) {
        const std::vector<Triangle> triangles = TrianglesOf(model, static_cast<int>(i));
        // Closed: every edge, by position, is walked once each way.
        std::map<std::pair<Vec, Vec>, int> edges;
        for (const Triangle& t : triangles)
            for (int k = 0; k < 3; ++k) ++edges[{t.p[k], t.p[(k + 1) % 3]}];
        bool isClosed = !triangles.empty();
        for (const auto& [edge, n] : edges) {
            const auto back = edges.find({edge.second, edge.first});
            if (n != 1 || back == edges.end() || back->second != 1) isClosed = false;
        }
        if (!isClosed) continue;
        double volume = 0;
        for (const Triangle& t : triangles) volume += Dot(t.p[0], Cross(t.p[1], t.p[2])) / 6;
        ++closed;
        positive += volume > 0;
    }
    std::printf("%d of %d closed meshes enclose a positive volume\n", positive, closed);
    EXPECT_GT(closed, 10);
    EXPECT_GE(positive, closed * 0.9);
}

TEST(Facing, LarasToesPointToTheFront) {
    // glTF's front is +Z. Lara's skin (moveable 8): each foot reaches further forward of its ankle
    // (the part's origin) than behind it.
    tr4export::ExportRequest r;
    r.kind = Kind::Moveable;
    r.id = 8;
    tinygltf::Model model;
    ASSERT_TRUE(ExportAndRead(r, "skin-facing.glb", model));
    for (int foot : {3, 6}) {
        const std::string name = "moveable 8 part " + std::to_string(foot);
        const auto node = std::find_if(model.nodes.begin(), model.nodes.end(),
                                       [&](const tinygltf::Node& n) { return n.name == name; });
        ASSERT_NE(node, model.nodes.end());
        double front = -1e9, back = 1e9;
        for (const Triangle& t : TrianglesOf(model, node->mesh))
            for (const Vec& p : t.p) {
                front = std::max(front, p[2]);
                back = std::min(back, p[2]);
            }
        EXPECT_GT(front, 2 * -back) << name << ": toes at " << front << ", heel at " << back;
    }
}

TEST(Export, ShadedMeshesCarryTheirLightAsGreyVertexColours) {
    // Meshes that store shades instead of normals were lit when the level was built, mostly from
    // above: their faces that look up come out brighter than those that look down.
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const tinygltf::Model& model = AllMeshes();
    double up = 0, down = 0;
    int ups = 0, downs = 0, shaded = 0;
    for (int i = 0; i < real->list->Count(); ++i) {
        tr4::MeshRecord* m = nullptr;
        ASSERT_EQ(real->list->GetRecord(i, m), 1);
        if (m->shades.empty()) continue;
        ++shaded;
        for (const Triangle& t : TrianglesOf(model, i)) {
            Vec n = FrontOf(t);
            const double length = std::sqrt(Dot(n, n));
            if (length == 0) continue;
            const double grey = (t.grey[0] + t.grey[1] + t.grey[2]) / 3;
            for (float g : t.grey) {
                EXPECT_GE(g, 0.0f);
                EXPECT_LE(g, 1.0f);
            }
            if (n[1] / length > 0.7) up += grey, ++ups;
            if (n[1] / length < -0.7) down += grey, ++downs;
        }
    }
    ASSERT_GT(ups, 50);
    ASSERT_GT(downs, 20);
    std::printf("%d shaded meshes: faces looking up %.2f, down %.2f\n", shaded, up / ups,
                down / downs);
    EXPECT_EQ(shaded, 23);
    EXPECT_GT(up / ups, down / downs + 0.1);
    // 4096, the shade most of the level's vertices hold, is the texture as it is.
    EXPECT_EQ(tr4export::ShadeToGrey(4096), 1.0f);
}

TEST(Export, GlowingFacesAddTheirLightThroughTheirBrightness) {
    // Mesh 170 is a beam of light: faces whose effects say they add to what is behind them.
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    tr4::MeshRecord* m = nullptr;
    ASSERT_EQ(real->list->GetRecord(170, m), 1);
    int glowing = 0;
    for (int r = 0; r < m->rectangleCount; ++r) glowing += 2 * (m->rectangles[r].faceFlags & 1);
    for (int t = 0; t < m->triangleCount; ++t) glowing += m->triangles[t].faceFlags & 1;
    EXPECT_GE(glowing, 90);

    tr4export::ExportRequest r;
    r.kind = Kind::Meshes;
    r.meshes = {170};
    tinygltf::Model model;
    ASSERT_TRUE(ExportAndRead(r, "beam.glb", model));
    int additive = 0;
    for (const Triangle& t : TrianglesOf(model, 0)) additive += t.material.ends_with(" additive");
    EXPECT_EQ(additive, glowing);
    bool sawImage = false;
    for (const tinygltf::Material& mat : model.materials) {
        if (!mat.name.ends_with(" additive")) continue;
        EXPECT_EQ(mat.alphaMode, "BLEND");
        const int page = std::stoi(mat.name.substr(5));
        const tinygltf::Image& image =
            model.images[model.textures[mat.pbrMetallicRoughness.baseColorTexture.index].source];
        ASSERT_EQ(image.image.size(), tr4::kPage32Bytes);
        const uint8_t* bgra = real->level.pages32.data() + page * tr4::kPage32Bytes;
        int bright = 0, dark = 0;
        for (size_t t = 0; t < image.image.size(); t += 4) {
            const uint8_t brightness = std::max({bgra[t], bgra[t + 1], bgra[t + 2]});
            EXPECT_EQ(image.image[t + 3], bgra[t + 3] == 0 ? 0 : brightness);
            bright += image.image[t + 3] > 200;
            dark += bgra[t + 3] != 0 && image.image[t + 3] < 20;
        }
        EXPECT_GT(bright, 0);
        EXPECT_GT(dark, 0);
        sawImage = true;
    }
    EXPECT_TRUE(sawImage);
}

TEST(Export, FacesThatMeetShareTheirVertices) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    // Corners of the faces drawn: as many vertices as the file would hold without sharing.
    size_t corners = 0;
    for (int i = 0; i < real->list->Count(); ++i) {
        tr4::MeshRecord* m = nullptr;
        ASSERT_EQ(real->list->GetRecord(i, m), 1);
        tr4::MeshFaces faces;
        tr4::BuildMeshFaces(*m, real->level, faces);
        for (const tr4::MeshFace& f : faces.faces) corners += f.CornerCount();
    }
    const tinygltf::Model& model = AllMeshes();
    size_t vertices = 0, triangles = 0;
    for (const tinygltf::Mesh& mesh : model.meshes) {
        for (const tinygltf::Primitive& p : mesh.primitives) {
            if (p.mode != TINYGLTF_MODE_TRIANGLES) continue;
            // No two vertices of a primitive are equal in everything they carry.
            std::vector<std::vector<float>> attributes;
            for (const auto& [name, accessor] : p.attributes)
                attributes.push_back(Floats(model, accessor));
            const size_t count = model.accessors[p.attributes.at("POSITION")].count;
            std::set<std::vector<float>> seen;
            for (size_t v = 0; v < count; ++v) {
                std::vector<float> all;
                for (const std::vector<float>& a : attributes) {
                    const size_t n = a.size() / count;
                    all.insert(all.end(), a.begin() + v * n, a.begin() + (v + 1) * n);
                }
                EXPECT_TRUE(seen.insert(all).second) << mesh.name << " vertex " << v;
            }
            vertices += count;
            triangles += model.accessors[p.indices].count / 3;
        }
    }
    std::printf("%zu vertices for %zu triangles (%.2f a triangle; %.2f unshared)\n", vertices,
                triangles, double(vertices) / triangles, double(corners) / triangles);
    // Faces mostly keep texture coordinates of their own, so seams stay; positions, normals and
    // shades alone are shared far more.
    EXPECT_LT(vertices * 10, corners * 9);
}

}  // namespace
}  // namespace exporttest
