// The data side of the builder, no device: a decoded mesh's faces straight into the layout the
// device uploads.
#include <gtest/gtest.h>

#include "BuildRenderMeshes.h"

using namespace tr4;

namespace {

tr4::MeshVertex V(int16_t x, int16_t y, int16_t z) {
    return {x, y, z};
}

tr4::MeshRecord RecordWith(std::vector<tr4::MeshRectangle> rects,
                           std::vector<tr4::MeshTriangle> tris, int vertices) {
    tr4::MeshRecord r;
    for (int i = 0; i < vertices; ++i)
        r.vertices.push_back(V(static_cast<int16_t>(10 * i), static_cast<int16_t>(20 * i), -30));
    r.vertexCount = static_cast<int16_t>(vertices);
    r.rectangles.assign(rects.begin(), rects.end());
    r.rectangleCount = static_cast<int16_t>(r.rectangles.size());
    r.triangles.assign(tris.begin(), tris.end());
    r.triangleCount = static_cast<int16_t>(r.triangles.size());
    return r;
}

TEST(Builder, RectanglesThenTrianglesEachAFaceInReverse) {
    tr4::Level level;
    level.objectTextures.resize(1);
    // R1 (4, 5, 6, 7), R2 (0, 1, 2, 3), T1 (8, 9, 10)
    const tr4::MeshRecord record =
        RecordWith({{{4, 5, 6, 7}, 0, 0}, {{0, 1, 2, 3}, 0, 0}}, {{{8, 9, 10}, 0, 0}}, 11);
    tr4::MeshFaces scratch;
    MeshGeometry g;
    const MeshGeometryCounts counts = BuildMeshGeometry(record, level, nullptr, scratch, g);
    EXPECT_EQ(counts.dropped, 0);
    EXPECT_EQ(counts.untextured, 3);  // no pages at all
    // T1, R2, R1: 3 + 6 + 6 triangle-list vertices.
    ASSERT_EQ(g.faces.size(), 3u);
    ASSERT_EQ(g.vertices.size(), 15u);
    const int first[3] = {0, 3, 9}, count[3] = {3, 6, 6};
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(g.faces[f].first, first[f]) << f;
        EXPECT_EQ(g.faces[f].count, count[f]) << f;
        EXPECT_EQ(g.faces[f].flags, kDrawCullCCW) << f;
        EXPECT_EQ(g.faces[f].texture, nullptr) << f;
    }
    // T1's vertices 8, 9, 10 scaled by 0.1 with y negated: vertex 8 is (80, 160, -30).
    EXPECT_NEAR(g.vertices[0].x, 8.0f, 1e-5f);
    EXPECT_NEAR(g.vertices[0].y, -16.0f, 1e-5f);
    EXPECT_NEAR(g.vertices[0].z, -3.0f, 1e-5f);
    // R1 is the triangles of corners 0, 1, 3 and 1, 2, 3: vertices 4, 5, 7 and 5, 6, 7.
    const float expectedX[6] = {4.0f, 5.0f, 7.0f, 5.0f, 6.0f, 7.0f};
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(g.vertices[9 + k].x, expectedX[k], 1e-5f) << k;
}

TEST(Builder, FacesOutsideTheMeshAreLeftOutAndCounted) {
    tr4::Level level;
    tr4::MeshFaces scratch;
    MeshGeometry g;
    EXPECT_EQ(BuildMeshGeometry(RecordWith({}, {}, 0), level, nullptr, scratch, g).dropped, 0);
    EXPECT_TRUE(g.vertices.empty() && g.faces.empty());  // no faces at all

    const tr4::MeshRecord record =
        RecordWith({{{0, 1, 2, 4}, 0, 0}}, {{{0, 1, 2}, 7, 0}, {{0, 9, 2}, 0, 0}}, 4);
    const MeshGeometryCounts counts = BuildMeshGeometry(record, level, nullptr, scratch, g);
    // The rectangle naming vertex 4 and the triangle naming vertex 9 are left out; the triangle
    // whose object texture 7 does not exist stays, without texture.
    EXPECT_EQ(counts.dropped, 2);
    EXPECT_EQ(counts.untextured, 1);
    ASSERT_EQ(g.faces.size(), 1u);
    EXPECT_EQ(g.vertices.size(), 3u);
    EXPECT_EQ(g.faces[0].texture, nullptr);
}

}  // namespace
