// glTF export of the real level, read back with tinygltf and held against the level itself.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "ExportSupport.h"
#include "MeshFaces.h"
#include "ObjectMeshes.h"
#include "PagePng.h"
#include "PngEncode.h"

namespace exporttest {
namespace {

using Kind = tr4export::ExportRequest::Kind;
constexpr double kScale = tr4export::kDefaultScale;

tr4export::ExportRequest Request(Kind kind, uint32_t id = 0, bool binary = true) {
    tr4export::ExportRequest r;
    r.kind = kind;
    r.id = id;
    r.binary = binary;
    return r;
}

// Faces the viewer draws, counted from the record itself: a face naming a vertex outside the
// mesh is not drawn; a rectangle is two triangles.
struct Expected {
    int triangles = 0;
    std::array<double, 3> min{1e9, 1e9, 1e9}, max{-1e9, -1e9, -1e9};
};

Expected ExpectedOf(const tr4::MeshRecord& m) {
    Expected e;
    auto take = [&](const uint16_t* indices, int n) {
        for (int k = 0; k < n; ++k)
            if (indices[k] >= m.vertices.size()) return false;
        for (int k = 0; k < n; ++k) {
            const tr4::MeshVertex& v = m.vertices[indices[k]];
            const double p[3] = {-v.x * kScale, -v.y * kScale, v.z * kScale};
            for (int c = 0; c < 3; ++c) {
                e.min[c] = std::min(e.min[c], p[c]);
                e.max[c] = std::max(e.max[c], p[c]);
            }
        }
        return true;
    };
    for (int r = 0; r < m.rectangleCount; ++r)
        if (take(m.rectangles[r].indices, 4)) e.triangles += 2;
    for (int t = 0; t < m.triangleCount; ++t)
        if (take(m.triangles[t].indices, 3)) e.triangles += 1;
    return e;
}

TEST(Export, EveryMeshOfTheRealLevelKeepsItsTrianglesAndBounds) {
    tinygltf::Model model;
    ASSERT_TRUE(ExportAndRead(Request(Kind::AllMeshes), "all.glb", model));
    const RealLevel* real = Real();
    ASSERT_EQ(model.meshes.size(), 191u);
    ASSERT_EQ(model.nodes.size(), 191u);
    int pointMeshes = 0;
    for (int i = 0; i < 191; ++i) {
        SCOPED_TRACE("mesh " + std::to_string(i));
        tr4::MeshRecord* m = nullptr;
        ASSERT_EQ(real->list->GetRecord(i, m), 1);
        const tinygltf::Mesh& mesh = model.meshes[i];
        EXPECT_EQ(mesh.name, "mesh " + std::to_string(i));
        EXPECT_EQ(model.nodes[i].mesh, i);
        Expected e = ExpectedOf(*m);
        int triangles = 0;
        std::array<double, 3> min{1e9, 1e9, 1e9}, max{-1e9, -1e9, -1e9};
        for (const tinygltf::Primitive& p : mesh.primitives) {
            const tinygltf::Accessor& pos = model.accessors[p.attributes.at("POSITION")];
            for (int c = 0; c < 3; ++c) {
                min[c] = std::min(min[c], pos.minValues[c]);
                max[c] = std::max(max[c], pos.maxValues[c]);
            }
            if (p.mode == TINYGLTF_MODE_POINTS) {
                ++pointMeshes;
                EXPECT_EQ(pos.count, m->vertices.size());
                for (const tr4::MeshVertex& v : m->vertices) {
                    const double q[3] = {-v.x * kScale, -v.y * kScale, v.z * kScale};
                    for (int c = 0; c < 3; ++c) {
                        e.min[c] = std::min(e.min[c], q[c]);
                        e.max[c] = std::max(e.max[c], q[c]);
                    }
                }
                continue;
            }
            ASSERT_EQ(p.mode, TINYGLTF_MODE_TRIANGLES);
            triangles += static_cast<int>(model.accessors[p.indices].count / 3);
        }
        EXPECT_EQ(triangles, e.triangles);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(min[c], e.min[c], 1e-7) << "axis " << c;
            EXPECT_NEAR(max[c], e.max[c], 1e-7) << "axis " << c;
        }
    }
    EXPECT_EQ(pointMeshes, 1);  // the level has one mesh without drawable faces
}

// Expected parent of each part of the human skeleton: hips, two legs of three parts, the torso,
// two arms of three parts branching from it, and the head on the torso.
constexpr int kSkeletonParent[15] = {-1, 0, 1, 2, 0, 4, 5, 0, 7, 8, 9, 7, 11, 12, 7};

struct Part {
    int node = -1;
    std::array<double, 3> world{};
    std::array<double, 3> min{}, max{};  // the part's mesh in the world
};

// The parts "moveable ID part K" of an exported object, with their world positions.
std::vector<Part> PartsOf(const tinygltf::Model& model, uint32_t id, std::vector<int>& parents) {
    std::map<int, int> parentOf;
    for (size_t n = 0; n < model.nodes.size(); ++n)
        for (int c : model.nodes[n].children) parentOf[c] = static_cast<int>(n);
    std::vector<Part> parts;
    for (size_t k = 0;; ++k) {
        const std::string name = "moveable " + std::to_string(id) + " part " + std::to_string(k);
        const auto it = std::find_if(model.nodes.begin(), model.nodes.end(),
                                     [&](const tinygltf::Node& n) { return n.name == name; });
        if (it == model.nodes.end()) break;
        Part p;
        p.node = static_cast<int>(it - model.nodes.begin());
        for (int n = p.node; n >= 0;) {
            const auto& t = model.nodes[n].translation;
            for (int c = 0; c < 3 && !t.empty(); ++c) p.world[c] += t[c];
            const auto up = parentOf.find(n);
            n = up == parentOf.end() ? -1 : up->second;
        }
        const tinygltf::Node& node = model.nodes[p.node];
        p.min = {1e9, 1e9, 1e9};
        p.max = {-1e9, -1e9, -1e9};
        for (const tinygltf::Primitive& prim : model.meshes[node.mesh].primitives) {
            const tinygltf::Accessor& a = model.accessors[prim.attributes.at("POSITION")];
            for (int c = 0; c < 3; ++c) {
                p.min[c] = std::min(p.min[c], p.world[c] + a.minValues[c]);
                p.max[c] = std::max(p.max[c], p.world[c] + a.maxValues[c]);
            }
        }
        parts.push_back(p);
    }
    parents.clear();
    for (const Part& p : parts) {
        const auto up = parentOf.find(p.node);
        const auto at = std::find_if(parts.begin(), parts.end(),
                                     [&](const Part& q) { return q.node == up->second; });
        parents.push_back(at == parts.end() ? -1 : static_cast<int>(at - parts.begin()));
    }
    return parts;
}

TEST(Export, LaraIsAssembledByHerMeshTree) {
    // Moveable 0 is Lara. In this title level every part of hers names the same small placeholder
    // mesh, written once; her visible body is moveable 8 (her skin), on the same tree.
    tinygltf::Model lara, skin;
    ASSERT_TRUE(ExportAndRead(Request(Kind::Moveable, 0), "lara.glb", lara));
    ASSERT_TRUE(ExportAndRead(Request(Kind::Moveable, 8), "skin.glb", skin));
    EXPECT_EQ(lara.nodes[lara.scenes[0].nodes[0]].name, "moveable 0");
    EXPECT_EQ(lara.meshes.size(), 1u);
    std::vector<int> laraParents, skinParents;
    const std::vector<Part> body = PartsOf(lara, 0, laraParents);
    const std::vector<Part> parts = PartsOf(skin, 8, skinParents);
    ASSERT_EQ(body.size(), 15u);
    ASSERT_EQ(parts.size(), 15u);
    EXPECT_EQ(skin.meshes.size(), 15u);
    for (int k = 0; k < 15; ++k) {
        EXPECT_EQ(laraParents[k], kSkeletonParent[k]) << "part " << k;
        EXPECT_EQ(skinParents[k], kSkeletonParent[k]) << "part " << k;
        for (int c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(body[k].world[c], parts[k].world[c]);
    }
    // Up is +y. The head sits on the torso with no more than a neck between them; each hand hangs
    // from the end of its forearm; the feet are lowest, below the shins.
    const double neck = parts[14].min[1] - parts[7].max[1];
    EXPECT_GT(neck, -0.01);
    EXPECT_LT(neck, 0.03);
    for (int hand : {10, 13}) {
        const int forearm = hand - 1;
        const double wrist = parts[forearm].min[1] - parts[hand].max[1];
        EXPECT_GT(wrist, -0.01) << "hand " << hand;
        EXPECT_LT(wrist, 0.02) << "hand " << hand;
        EXPECT_LT(std::abs(parts[hand].world[0] - parts[forearm].world[0]), 0.02);
    }
    // The two arms on opposite sides: she faces +Z, so her right arm (the level's +x) is at -X.
    EXPECT_LT(parts[10].world[0], -0.03);
    EXPECT_GT(parts[13].world[0], 0.03);
    for (int foot : {3, 6}) {
        EXPECT_LT(parts[foot].max[1], parts[foot - 1].min[1] + 0.02);
        EXPECT_LT(parts[foot].world[1], -0.35);
    }
}

// 32-bit texels of a page back from PNG, in the page's own order (blue, green, red, alpha).
std::vector<uint8_t> DecodeBgra(const std::vector<uint8_t>& png) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
    image.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return {};
    return out;
}

// Pictures that do not compress (noise), the smallest one and a wide one with padded rows all
// come back from libpng as they went in, as RGBA and as RGB (the unused byte dropped).
TEST(Export, PngOfAnyPixelsReadsBackAsThemselves) {
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    struct Size {
        uint32_t width, height, stride;
    };
    for (const Size size : {Size{256, 256, 1024}, Size{1, 1, 4}, Size{1000, 3, 4096}}) {
        std::vector<uint8_t> pixels(size_t{size.stride} * size.height);
        for (uint8_t& b : pixels) b = static_cast<uint8_t>(next() >> 24);
        for (const bool rgb : {false, true}) {
            SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) +
                         (rgb ? " RGB" : " RGBA"));
            std::vector<uint8_t> png;
            ASSERT_TRUE(tr4export::EncodePng(
                pixels.data(), size.stride, size.width, size.height,
                rgb ? tr4export::PngLayout::BgrxToRgb : tr4export::PngLayout::BgraToRgba, png));
            const std::vector<uint8_t> back = DecodeBgra(png);
            ASSERT_EQ(back.size(), size_t{size.width} * size.height * 4);
            for (uint32_t y = 0; y < size.height; ++y)
                for (uint32_t x = 0; x < size.width; ++x)
                    for (int c = 0; c < 4; ++c) {
                        const uint8_t want =
                            rgb && c == 3 ? 255 : pixels[size_t{y} * size.stride + x * 4 + c];
                        ASSERT_EQ(back[(size_t{y} * size.width + x) * 4 + c], want)
                            << x << "," << y << " channel " << c;
                    }
        }
    }
}

TEST(Export, PagesAreTheLevelsTexelsWithTheirAlphaAndMaterialsFollowTheAttribute) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    int transparent = 0;
    size_t bytes = 0;
    for (int page = 0; page < 15; ++page) {
        std::vector<uint8_t> png;
        ASSERT_TRUE(tr4export::EncodePagePng(real->level, page, png));
        bytes += png.size();
        const std::vector<uint8_t> texels = DecodeBgra(png);
        ASSERT_EQ(texels.size(), tr4::kPage32Bytes);
        EXPECT_EQ(0,
                  std::memcmp(texels.data(), real->level.pages32.data() + page * tr4::kPage32Bytes,
                              texels.size()))
            << "page " << page;
        for (size_t t = 3; t < texels.size(); t += 4) transparent += texels[t] == 0;
    }
    EXPECT_GT(transparent, 0);  // the alpha is really there
    // Fast, but not at the files' expense: libpng's defaults made 1,785,618 bytes of these pages.
    EXPECT_LE(bytes, 1785618 * 115 / 100);
    std::vector<uint8_t> none;
    EXPECT_FALSE(tr4export::EncodePagePng(real->level, 15, none));

    // Every image the export holds is its page, as tinygltf decodes it (red, green, blue, alpha).
    tinygltf::Model model;
    ASSERT_TRUE(ExportAndRead(Request(Kind::AllMeshes), "all-pages.glb", model));
    // One image for each page a face of the level draws from, worked out from the faces.
    std::set<int> drawnFrom, exported;
    for (int i = 0; i < real->list->Count(); ++i) {
        tr4::MeshRecord* m = nullptr;
        ASSERT_EQ(real->list->GetRecord(i, m), 1);
        tr4::MeshFaces faces;
        tr4::BuildMeshFaces(*m, real->level, faces);
        for (const tr4::MeshFace& f : faces.faces)
            if (f.page >= 0 && f.page < 15) drawnFrom.insert(f.page);
    }
    ASSERT_FALSE(drawnFrom.empty());
    int additive = 0;
    for (const tinygltf::Image& image : model.images) {
        const int page = std::stoi(image.name.substr(5));
        // An additive face's page carries its texels' brightness as alpha, where they show.
        const bool bright = image.name.ends_with(" additive");
        additive += bright;
        if (!bright) {
            EXPECT_TRUE(exported.insert(page).second) << "page " << page << " twice";
        }
        ASSERT_EQ(image.image.size(), tr4::kPage32Bytes);
        const uint8_t* bgra = real->level.pages32.data() + page * tr4::kPage32Bytes;
        for (size_t t = 0; t < image.image.size(); t += 4 * 97) {
            EXPECT_EQ(image.image[t], bgra[t + 2]);
            EXPECT_EQ(image.image[t + 2], bgra[t]);
            const uint8_t alpha = bright && bgra[t + 3] != 0
                                      ? std::max({bgra[t], bgra[t + 1], bgra[t + 2]})
                                      : bgra[t + 3];
            EXPECT_EQ(image.image[t + 3], alpha) << image.name << " texel " << t / 4;
        }
    }
    EXPECT_GT(additive, 0);
    EXPECT_EQ(exported, drawnFrom);
    for (const tinygltf::Material& m : model.materials) {
        if (m.name == "untextured") {
            EXPECT_DOUBLE_EQ(m.pbrMetallicRoughness.baseColorFactor[0], 128.0 / 255.0);
            continue;
        }
        const bool mask = m.name.ends_with(" mask"), additive = m.name.ends_with(" additive");
        EXPECT_EQ(m.alphaMode, mask ? "MASK" : additive ? "BLEND" : "OPAQUE") << m.name;
        if (mask) {
            EXPECT_DOUBLE_EQ(m.alphaCutoff, 0.5);
        }
    }
}

TEST(Export, JsonFormEmbedsBufferAndImagesAsDataUris) {
    tr4export::ExportRequest r = Request(Kind::Meshes, 0, false);
    r.meshes = {2, 7, 2};
    tinygltf::Model model;
    ASSERT_TRUE(ExportAndRead(r, "three.gltf", model));
    ASSERT_EQ(model.nodes.size(), 3u);
    EXPECT_EQ(model.meshes.size(), 2u);  // mesh 2 once, for both of its nodes
    EXPECT_EQ(model.nodes[0].mesh, model.nodes[2].mesh);
    EXPECT_EQ(model.nodes[1].name, "mesh 7");

    // The text of the file, written again (the read-back removed it).
    const RealLevel* real = Real();
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(tr4export::BuildModel(real->level, real->list.get(), r, model, warnings, error));
    const std::string path = ::testing::TempDir() + "/" + std::to_string(getpid()) + "-three.gltf";
    ASSERT_TRUE(tr4export::WriteModel(model, path, false, error)) << error;
    std::stringstream text;
    {
        std::ifstream in(path);
        text << in.rdbuf();
    }
    std::remove(path.c_str());
    EXPECT_NE(text.str().find("\"uri\":\"data:application/octet-stream;base64,"),
              std::string::npos);
    EXPECT_NE(text.str().find("\"uri\":\"data:image/png;base64,"), std::string::npos);
    EXPECT_EQ(text.str().find("bufferView\":", text.str().find("\"images\"")), std::string::npos);
}

// An object's export starts encoding the pages it is guessed to use while the level loads, then
// keeps to those the estimate names: they must be the very images the file holds.
TEST(Export, TheEstimateNamesTheImagesOfEveryObjectsFile) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const tr4export::ObjectMeshes objects(real->level, real->list.get());
    int checked = 0;
    auto check = [&](tr4export::ExportRequest r, const std::string& who) {
        SCOPED_TRACE(who);
        r.objects = &objects;
        tinygltf::Model model;
        std::vector<std::string> warnings;
        std::string error;
        ASSERT_TRUE(
            tr4export::BuildModel(real->level, real->list.get(), r, model, warnings, error));
        std::set<std::pair<int, bool>> held;
        for (const tinygltf::Image& image : model.images) {
            const bool additive = image.name.ends_with(" additive");
            held.insert({std::stoi(image.name.substr(5)), additive});
        }
        EXPECT_EQ(tr4export::EstimateExport(real->level, real->list.get(), r, objects).images,
                  held);
        ++checked;
    };
    for (const tr4::MoveableRecord& m : real->level.moveables) {
        tr4export::ExportRequest r = Request(Kind::Moveable, m.id);
        check(r, "moveable " + std::to_string(m.id));
        r.animations = true;
        check(r, "moveable " + std::to_string(m.id) + " animated");
    }
    for (const tr4::StaticRecord& st : objects.Statics())
        check(Request(Kind::Static, st.id), "static " + std::to_string(st.id));
    check(Request(Kind::AllMeshes), "every mesh");
    EXPECT_GT(checked, 60);
}

// Pages narrowed away while queued, and pages first asked by the narrowing, come out of the cache
// as encoding them directly gives.
TEST(Export, NarrowedPagesAreStillEveryPageWhenAsked) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    using tr4export::PageAlpha;
    tr4export::PagePngCache cache(real->level);
    for (int page = 0; page < 15; ++page) cache.Prefetch(page);
    cache.Narrow({{3, PageAlpha::Stored}, {9, PageAlpha::Brightness}, {14, PageAlpha::Stored}});
    for (int page = 14; page >= 0; --page)
        for (PageAlpha alpha : {PageAlpha::Stored, PageAlpha::Brightness}) {
            std::vector<uint8_t> direct;
            ASSERT_TRUE(tr4export::EncodePagePng(real->level, page, alpha, direct));
            EXPECT_EQ(cache.Png(page, alpha), direct) << "page " << page;
        }
    EXPECT_TRUE(cache.Png(15).empty());
}

// The caller may let go of the model while the file is made durable: the file is the one
// written without that, and what it let go of is gone once WriteModel returns.
TEST(Export, TheModelLetGoWhileTheFileIsSyncedLeavesTheSameFile) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    tinygltf::Model model;
    std::vector<std::string> warnings;
    std::string error;
    const tr4export::ExportRequest r = Request(Kind::Moveable, 0);
    ASSERT_TRUE(tr4export::BuildModel(real->level, real->list.get(), r, model, warnings, error));
    const std::string stem = ::testing::TempDir() + "/" + std::to_string(getpid());
    ASSERT_TRUE(tr4export::WriteModel(model, stem + "-kept.glb", true, error)) << error;
    int calls = 0;
    ASSERT_TRUE(tr4export::WriteModel(model, stem + "-let-go.glb", true, error, std::nullopt,
                                      nullptr, nullptr,
                                      [&] {
                                          ++calls;
                                          model = tinygltf::Model();
                                      }))
        << error;
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(model.nodes.empty());
    auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string kept = bytes(stem + "-kept.glb");
    EXPECT_GT(kept.size(), 100000u);
    EXPECT_EQ(bytes(stem + "-let-go.glb"), kept);
    std::remove((stem + "-kept.glb").c_str());
    std::remove((stem + "-let-go.glb").c_str());
}

}  // namespace
}  // namespace exporttest
