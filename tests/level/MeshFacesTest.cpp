// The device-free face building that the render meshes and the glTF export share, and the rest
// pose of a moveable from its mesh tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "MeshFaces.h"
#include "MeshTree.h"

namespace {

tr4::ObjectTexture Texture(uint16_t tile, uint16_t attribute, uint8_t firstPixel) {
    tr4::ObjectTexture t;
    t.tile = tile;
    t.attribute = attribute;
    for (int c = 0; c < 4; ++c) {
        t.corners[c].xPixel = static_cast<uint8_t>(firstPixel + c);
        t.corners[c].yPixel = static_cast<uint8_t>(255 - c);
        t.corners[c].xCoordinate = 0xEE;  // never read
    }
    return t;
}

TEST(MeshFaces, KeepTheViewersCornersPagesAndDropFacesOutsideTheMesh) {
    tr4::Level level;
    level.objectTextures = {Texture(0x8003, 1, 0), Texture(0x0002, 2, 128)};
    tr4::MeshRecord m;
    m.vertices = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
    m.vertexCount = 4;
    m.rectangles = {{{0, 1, 2, 3}, 0, 0}, {{0, 1, 2, 4}, 1, 0}, {{3, 2, 1, 0}, 9, 0}};
    m.rectangleCount = 3;
    m.triangles = {{{2, 1, 0}, 0, 0}, {{0, 1, 2}, 1, 0}};
    m.triangleCount = 5;  // more than stored: bounded by the array

    tr4::MeshFaces out;
    tr4::BuildMeshFaces(m, level, out);
    ASSERT_EQ(out.faces.size(), 4u);  // the rectangle naming vertex 4 is left out
    EXPECT_EQ(out.dropped, 1);
    EXPECT_EQ(out.noObjectTexture, 1);

    const tr4::MeshFace& rect = out.faces[0];
    EXPECT_TRUE(rect.quad);
    EXPECT_EQ(rect.page, 0x8003);  // a rectangle uses its page word whole
    EXPECT_EQ(rect.attribute, 1);
    EXPECT_EQ(rect.corners[3].z, 12);
    EXPECT_FLOAT_EQ(rect.tu[2], 2.0f / 255.0f);
    EXPECT_FLOAT_EQ(rect.tv[0], 1.0f);

    const tr4::MeshFace& unknown = out.faces[1];  // texture 9 does not exist
    EXPECT_EQ(unknown.page, -1);
    EXPECT_EQ(unknown.corners[0].x, 10);

    const tr4::MeshFace& tri = out.faces[2];
    EXPECT_FALSE(tri.quad);
    EXPECT_EQ(tri.page, 3);  // a triangle drops bit 15
    EXPECT_EQ(tri.corners[0].x, 7);
    EXPECT_EQ(out.faces[3].attribute, 2);
    EXPECT_FLOAT_EQ(out.faces[3].tu[0], 128.0f / 255.0f);
}

void PutTreeEntry(tr4::Level& level, int32_t flags, int32_t x, int32_t y, int32_t z) {
    const int32_t entry[4] = {flags, x, y, z};
    const size_t at = level.meshTrees.size();
    level.meshTrees.resize(at + sizeof entry);
    std::memcpy(level.meshTrees.data() + at, entry, sizeof entry);
}

TEST(MeshFaces, ARectanglesTwoTrianglesCoverItOnceWoundAsItIs) {
    // Corners of an uneven outline, so a wrong split or a reversed triangle changes
    // the areas: twice the signed area of each triangle, against the rectangle's shoelace.
    const int x[4] = {0, 4, 5, -1}, y[4] = {0, 0, 3, 2};
    auto twiceArea = [&](const tr4::CornerTriangle& t) {
        return (x[t[1]] - x[t[0]]) * (y[t[2]] - y[t[0]]) -
               (x[t[2]] - x[t[0]]) * (y[t[1]] - y[t[0]]);
    };
    int outline = 0;
    for (int k = 0; k < 4; ++k) outline += x[k] * y[(k + 1) % 4] - x[(k + 1) % 4] * y[k];
    tr4::MeshFace rectangle;
    rectangle.quad = true;
    ASSERT_EQ(tr4::TrianglesOf(rectangle).size(), 2u);
    int sum = 0;
    for (const tr4::CornerTriangle& t : tr4::TrianglesOf(rectangle)) {
        EXPECT_GT(twiceArea(t) * outline, 0) << "wound against the rectangle";
        sum += twiceArea(t);
    }
    EXPECT_EQ(sum, outline);
    // Split along corners 1-3: both triangles hold them.
    for (const tr4::CornerTriangle& t : tr4::TrianglesOf(rectangle))
        EXPECT_TRUE(std::count(t.begin(), t.end(), 1) && std::count(t.begin(), t.end(), 3));
    const tr4::MeshFace triangle;
    ASSERT_EQ(tr4::TrianglesOf(triangle).size(), 1u);
    EXPECT_EQ(tr4::TrianglesOf(triangle)[0], (tr4::CornerTriangle{0, 1, 2}));
}

TEST(MeshTree, StackPopsAndPushesGiveTheHierarchy) {
    tr4::Level level;
    PutTreeEntry(level, 0, 99, 99, 99);  // another moveable's entry before ours
    // Torso (0); head on it, pushing the torso; left arm of two parts from the torso (pop, push);
    // right arm from the torso again (pop).
    PutTreeEntry(level, 2, 0, -100, 0);  // part 1, the head
    PutTreeEntry(level, 3, 50, 0, 0);    // part 2: pop the torso, push it again
    PutTreeEntry(level, 0, 0, 80, 0);    // part 3 on part 2
    PutTreeEntry(level, 1, -50, 0, 0);   // part 4: pop the torso
    tr4::MoveableRecord m;
    m.id = 7;
    m.meshCount = 5;
    m.meshTree = 4;  // 4-byte records: our entries start after the first 16 bytes
    std::vector<std::string> warnings;
    const std::vector<tr4::MeshTreePart> parts = tr4::MeshTreeParts(level, m, &warnings);
    ASSERT_EQ(parts.size(), 5u);
    const int parents[5] = {-1, 0, 0, 2, 0};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(parts[k].parent, parents[k]) << "part " << k;
    EXPECT_EQ(parts[1].offset[1], -100);
    EXPECT_EQ(parts[3].offset[1], 80);
    EXPECT_EQ(parts[4].offset[0], -50);
    EXPECT_TRUE(warnings.empty());

    // One part more than the tree holds, and a tree that pops an empty stack.
    m.meshCount = 6;
    m.meshTree = 8;  // from part 2's entry: its pop finds nothing pushed
    const std::vector<tr4::MeshTreePart> odd = tr4::MeshTreeParts(level, m, &warnings);
    ASSERT_EQ(odd.size(), 6u);
    EXPECT_EQ(odd[1].parent, 0);
    EXPECT_EQ(odd[5].parent, 4);  // no entry: on the part before, not moved
    EXPECT_EQ(odd[5].offset[0], 0);
    EXPECT_EQ(warnings.size(), 2u);
}

}  // namespace
