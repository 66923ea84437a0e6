// The whole-level export of the real level, held against the level's own records, read here byte
// by byte from its raw blocks rather than through the exporter's readers.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>

#include "ExportSupport.h"

namespace exporttest {
namespace {

constexpr double kScale = tr4export::kDefaultScale;
using Vec = std::array<double, 3>;

template <typename T>
T At(const uint8_t* bytes, size_t offset) {
    T v;
    std::memcpy(&v, bytes + offset, sizeof v);
    return v;
}

// Level coordinates in the file's axes.
Vec Mapped(double x, double y, double z) {
    return {-x * kScale, -y * kScale, z * kScale};
}

Vec Apply(const Matrix& m, const Vec& p) {
    return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12],
            m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
            m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
}

struct Scene {
    tinygltf::Model model;
    std::map<std::string, int> byName;
    std::vector<Matrix> world;

    void Walk(int node, const Matrix& parent) {
        world[node] = Times(parent, Local(model.nodes[node]));
        for (int c : model.nodes[node].children) Walk(c, world[node]);
    }
    const tinygltf::Node* Find(const std::string& name) const {
        const auto it = byName.find(name);
        return it == byName.end() ? nullptr : &model.nodes[it->second];
    }
    Vec Where(const std::string& name) const {
        const Matrix& m = world[byName.at(name)];
        return {m[12], m[13], m[14]};
    }
    // Every triangle of the node's mesh, in world space.
    std::vector<std::array<Vec, 3>> Triangles(const std::string& name) const {
        std::vector<std::array<Vec, 3>> out;
        const int node = byName.at(name);
        if (model.nodes[node].mesh < 0) return out;
        for (const tinygltf::Primitive& p : model.meshes[model.nodes[node].mesh].primitives) {
            if (p.mode != TINYGLTF_MODE_TRIANGLES) continue;
            const std::vector<float> pos = Floats(model, p.attributes.at("POSITION"));
            const std::vector<uint32_t> idx = Indices(model, p.indices);
            for (size_t t = 0; t + 2 < idx.size(); t += 3) {
                std::array<Vec, 3> tri;
                for (int k = 0; k < 3; ++k) {
                    const uint32_t i = idx[t + k];
                    tri[k] = Apply(world[node], {pos[3 * i], pos[3 * i + 1], pos[3 * i + 2]});
                }
                out.push_back(tri);
            }
        }
        return out;
    }
};

const Scene& LevelScene() {
    static Scene scene = [] {
        Scene s;
        tr4export::ExportRequest r;
        r.kind = tr4export::ExportRequest::Kind::Level;
        r.name = "custom-title";
        EXPECT_TRUE(ExportAndRead(r, "level.glb", s.model));
        for (size_t n = 0; n < s.model.nodes.size(); ++n) s.byName[s.model.nodes[n].name] = int(n);
        s.world.resize(s.model.nodes.size());
        for (int root : s.model.scenes[0].nodes) s.Walk(root, Local(tinygltf::Node{}));
        return s;
    }();
    return scene;
}

struct RawRoom {
    int32_t x, z, yBottom, yTop;
};
RawRoom RoomAt(const tr4::RoomRecord& room) {
    return {At<int32_t>(room.info.data(), 0), At<int32_t>(room.info.data(), 4),
            At<int32_t>(room.info.data(), 8), At<int32_t>(room.info.data(), 12)};
}

TEST(LevelExport, EveryRoomKeepsItsFacesAndPlace) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const Scene& s = LevelScene();
    ASSERT_EQ(s.model.scenes[0].nodes.size(), 1u);
    EXPECT_EQ(s.model.nodes[s.model.scenes[0].nodes[0]].name, "custom-title");
    ASSERT_EQ(real->level.rooms.size(), 42u);
    int faces = 0, horizontal = 0, facingIn = 0;
    for (size_t r = 0; r < real->level.rooms.size(); ++r) {
        SCOPED_TRACE("room " + std::to_string(r));
        const tr4::RoomRecord& room = real->level.rooms[r];
        const RawRoom at = RoomAt(room);
        const std::string name = "room " + std::to_string(r);
        ASSERT_NE(s.Find(name), nullptr);
        const std::vector<std::array<Vec, 3>> triangles = s.Triangles(name);
        EXPECT_EQ(triangles.size(), 2u * room.rectangleCount + room.triangleCount);
        faces += room.rectangleCount + room.triangleCount;
        // Bounds: the room's vertices (12 bytes each), x and z from its position.
        Vec lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9}, flo = lo, fhi = hi;
        for (size_t v = 0; v + 12 <= room.vertices.size(); v += 12) {
            const Vec p = Mapped(at.x + At<int16_t>(room.vertices.data(), v),
                                 At<int16_t>(room.vertices.data(), v + 2),
                                 at.z + At<int16_t>(room.vertices.data(), v + 4));
            for (int c = 0; c < 3; ++c)
                lo[c] = std::min(lo[c], p[c]), hi[c] = std::max(hi[c], p[c]);
        }
        for (const auto& t : triangles)
            for (const Vec& p : t)
                for (int c = 0; c < 3; ++c)
                    flo[c] = std::min(flo[c], p[c]), fhi[c] = std::max(fhi[c], p[c]);
        for (int c = 0; c < 3 && !triangles.empty(); ++c) {
            EXPECT_NEAR(flo[c], lo[c], 1e-4) << "axis " << c;
            EXPECT_NEAR(fhi[c], hi[c], 1e-4) << "axis " << c;
        }
        // Floors look up, ceilings down: a horizontal face in the lower half of its room faces
        // +Y, one in the upper half -Y.
        const double middle = -(at.yTop + at.yBottom) / 2.0 * kScale;
        for (const auto& t : triangles) {
            if (std::abs(t[0][1] - t[1][1]) > 1e-6 || std::abs(t[0][1] - t[2][1]) > 1e-6) continue;
            const double ny = (t[1][2] - t[0][2]) * (t[2][0] - t[0][0]) -
                              (t[1][0] - t[0][0]) * (t[2][2] - t[0][2]);
            if (ny == 0) continue;
            ++horizontal;
            facingIn += (t[0][1] < middle) == (ny > 0);
        }
    }
    std::printf("%d room faces; %d of %d horizontal triangles face into their room\n", faces,
                facingIn, horizontal);
    EXPECT_EQ(faces, 4181);
    EXPECT_GE(facingIn, horizontal * 0.95);
}

TEST(LevelExport, EveryPlacementAndItemStandsWhereTheLevelPutsIt) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const Scene& s = LevelScene();
    int statics = 0;
    for (size_t r = 0; r < real->level.rooms.size(); ++r) {
        const tr4::RoomRecord& room = real->level.rooms[r];
        for (size_t k = 0; k * 20 < room.statics.size(); ++k) {
            const uint8_t* p = room.statics.data() + k * 20;
            const std::string name = "room " + std::to_string(r) + " static " + std::to_string(k);
            ASSERT_NE(s.Find(name), nullptr) << name;
            const Vec want = Mapped(At<int32_t>(p, 0), At<int32_t>(p, 4), At<int32_t>(p, 8));
            const Vec got = s.Where(name);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], 1e-6) << name;
            EXPECT_GE(s.Find(name)->mesh, 0) << name;
            ++statics;
        }
    }
    EXPECT_EQ(statics, 52);
    const size_t items = real->level.items.size() / 24;
    EXPECT_EQ(items, 30u);
    for (size_t k = 0; k < items; ++k) {
        const uint8_t* p = real->level.items.data() + k * 24;
        const std::string name = "item " + std::to_string(k);
        ASSERT_NE(s.Find(name), nullptr) << name;
        const Vec want = Mapped(At<int32_t>(p, 4), At<int32_t>(p, 8), At<int32_t>(p, 12));
        const Vec got = s.Where(name);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], 1e-6) << name;
    }
}

TEST(LevelExport, ThePlayerStandsOnHerFloorPosedAsHerFirstKeyframe) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const Scene& s = LevelScene();
    int found = 0;
    for (size_t k = 0; k * 24 < real->level.items.size(); ++k) {
        const uint8_t* p = real->level.items.data() + k * 24;
        if (At<int16_t>(p, 0) != 0) continue;
        ++found;
        const tr4::RoomRecord& room = real->level.rooms[At<int16_t>(p, 2)];
        const RawRoom at = RoomAt(room);
        const int ix = (At<int32_t>(p, 4) - at.x) / 1024, iz = (At<int32_t>(p, 12) - at.z) / 1024;
        const size_t sector = (size_t(iz) + size_t(ix) * room.sectorCountZ) * 8;
        ASSERT_LT(sector + 8, room.sectors.size());
        const int floor = At<int8_t>(room.sectors.data(), sector + 5) * 256;
        EXPECT_EQ(At<int32_t>(p, 8), floor);
        ASSERT_EQ(At<uint16_t>(p, 16), 0);  // she faces +z: her object space is the level's

        // Her body (the skin's parts), posed, boxed in the level's axes about her origin...
        const std::string item = "item " + std::to_string(k);
        const Matrix& origin = s.world[s.byName.at(item)];
        Vec lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
        int parts = 0;
        for (const auto& [name, node] : s.byName) {
            if (name.rfind(item + " part ", 0) != 0) continue;
            ++parts;
            if (name.ends_with(" joint")) continue;
            for (const auto& t : s.Triangles(name))
                for (const Vec& v : t) {
                    const Vec l{-(v[0] - origin[12]) / kScale, -(v[1] - origin[13]) / kScale,
                                (v[2] - origin[14]) / kScale};
                    for (int c = 0; c < 3; ++c)
                        lo[c] = std::min(lo[c], l[c]), hi[c] = std::max(hi[c], l[c]);
                }
        }
        EXPECT_EQ(parts, 30);  // 15 parts with their skin, 15 joint pieces
        // ...is the box the level stores with the first keyframe of her first animation.
        const tr4::MoveableRecord& lara = real->level.moveables[0];
        ASSERT_EQ(lara.id, 0u);
        const uint32_t frameOffset =
            At<uint32_t>(real->level.animations.data(), lara.animation * 40);
        const uint16_t* box = real->level.frames.data() + frameOffset / 2;
        double difference = 0;
        for (int c = 0; c < 3; ++c) {
            difference +=
                std::abs(lo[c] - int16_t(box[2 * c])) + std::abs(hi[c] - int16_t(box[2 * c + 1]));
        }
        std::printf("posed box %.0f..%.0f, %.0f..%.0f, %.0f..%.0f; stored %d..%d, %d..%d, %d..%d\n",
                    lo[0], hi[0], lo[1], hi[1], lo[2], hi[2], int16_t(box[0]), int16_t(box[1]),
                    int16_t(box[2]), int16_t(box[3]), int16_t(box[4]), int16_t(box[5]));
        EXPECT_LT(difference / 6, 8.0);
    }
    EXPECT_EQ(found, 1);
}

TEST(LevelExport, LightsShineAsTheLevelPlacesThem) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const Scene& s = LevelScene();
    // 74 point lights and 30 spots; the 48 shadow lights have no glTF kind.
    size_t points = 0, spots = 0, into = 0, judged = 0;
    for (const tinygltf::Light& l : s.model.lights) (l.type == "point" ? points : spots)++;
    EXPECT_EQ(points, 74u);
    EXPECT_EQ(spots, 30u);
    for (size_t r = 0; r < real->level.rooms.size(); ++r) {
        const tr4::RoomRecord& room = real->level.rooms[r];
        const RawRoom at = RoomAt(room);
        for (size_t k = 0; k * 46 < room.lights.size(); ++k) {
            const uint8_t* p = room.lights.data() + k * 46;
            if (p[15] != 2) continue;  // spots only
            const std::string name = "room " + std::to_string(r) + " light " + std::to_string(k);
            ASSERT_NE(s.Find(name), nullptr);
            const Matrix& m = s.world[s.byName.at(name)];
            const double shineY = -m[9];  // the node's -Z, up being +Y
            // A spot in the top or bottom quarter of its room (or beyond) shines into the room.
            const int y = At<int32_t>(p, 4);
            const double quarter = (at.yBottom - at.yTop) / 4.0;
            if (std::abs(shineY) < 0.3) continue;
            if (y <= at.yTop + quarter) ++judged, into += shineY < 0;
            if (y >= at.yBottom - quarter) ++judged, into += shineY > 0;
        }
    }
    std::printf("%zu of %zu spots near a floor or ceiling shine into their room\n", into, judged);
    EXPECT_GE(judged, 8u);
    EXPECT_GE(into, judged * 8 / 10);
}

}  // namespace
}  // namespace exporttest
