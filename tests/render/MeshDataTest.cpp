// Polygons, the gathering of a mesh's vertex data and the data side of the builder: no device.
#include <gtest/gtest.h>

#include <cstring>

#include "BuildRenderMeshes.h"
#include "dxBufferColor8.h"

using namespace tr4;

namespace {

// Polygons and meshes only keep texture pointers; they never look through them.
alignas(8) char fakeStorage[2][8];
dxTexture* const kTexA = reinterpret_cast<dxTexture*>(fakeStorage[0]);
dxTexture* const kTexB = reinterpret_cast<dxTexture*>(fakeStorage[1]);

dxVertexTex VertexAt(const dxBufferColor8& mesh, int index) {
    return mesh.TexVertexData()[static_cast<size_t>(index)];
}

std::unique_ptr<dxTrianguloTex> Triangle(float marker) {
    auto t = std::make_unique<dxTrianguloTex>(0x08);
    for (int k = 0; k < 3; ++k) t->AddVertex(marker, static_cast<float>(k), 0);
    t->SetTextureMapping(kTexA, 0, 0, 1, 0, 0, 1);
    return t;
}

std::unique_ptr<dxCuadradoTex> Quad(float marker) {
    auto q = std::make_unique<dxCuadradoTex>(0x08);
    for (int k = 0; k < 4; ++k) q->AddVertex(marker, static_cast<float>(k), 0);
    q->SetTextureMapping(kTexB, 0, 0, 1, 0, 0, 1, 1, 1);
    return q;
}

TEST(Polygon, SlotsFillInOrderAndRefuseOneTooMany) {
    dxTrianguloTex t(0x08);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(t.AddVertex(k, 10.0f + k, 20.0f + k), S_OK);
    EXPECT_EQ(t.AddVertex(9, 9, 9), E_FAIL);
    EXPECT_EQ(t.GetVertexCount(), 3);
    const std::span<const dxVertexTex> v = t.TexVertices();
    EXPECT_EQ(v[2].x, 2.0f);
    EXPECT_EQ(v[2].z, 22.0f);

    dxCuadrado q(0x04);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(q.AddVertex(1, 2, 3), S_OK);
    EXPECT_EQ(q.AddVertex(1, 2, 3), E_FAIL);
    EXPECT_EQ(q.GetDrawFlags(), 0x04);
}

TEST(Polygon, TextureMappingRefusesNoTextureAndKeepsTheOldCoordinates) {
    dxCuadradoTex q(0x08);
    ASSERT_EQ(q.SetTextureMapping(kTexA, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f), S_OK);
    EXPECT_EQ(q.SetTextureMapping(nullptr, 1, 1, 1, 1, 1, 1, 1, 1), E_FAIL);
    EXPECT_EQ(q.GetTexture(), kTexA);
    const std::span<const dxVertexTex> v = q.TexVertices();
    EXPECT_EQ(v[3].tu, 0.7f);
    EXPECT_EQ(v[3].tv, 0.8f);
    // Positions and texture coordinates are separate fields of the same vertices.
    q.AddVertex(5, 6, 7);
    EXPECT_EQ(v[0].x, 5.0f);
    EXPECT_EQ(v[0].tu, 0.1f);
}

TEST(Polygon, TextureMappingTakesOneCoordinatePairPerSlot) {
    dxTrianguloTex t(0);
    const dxTexCoord two[2] = {{0.5f, 0.5f}, {0.5f, 0.5f}};
    EXPECT_EQ(t.SetTextureMapping(kTexA, two), E_FAIL);  // too few: nothing stored
    EXPECT_EQ(t.GetTexture(), nullptr);
    dxTriangulo plain(0);
    const dxTexCoord three[3] = {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}};
    EXPECT_EQ(static_cast<dxPoligono&>(plain).SetTextureMapping(kTexA, three), E_FAIL);
    EXPECT_TRUE(plain.TexVertices().empty());
    ASSERT_EQ(static_cast<dxPoligono&>(t).SetTextureMapping(kTexA, three), S_OK);
    EXPECT_EQ(t.TexVertices()[2].tv, 0.6f);
    EXPECT_TRUE(t.ColorVertices().empty());
}

TEST(Mesh, FacesStandInReverseOrderOfAddition) {
    // Three triangles, then two quadrilaterals: 17 vertices of 20 bytes.
    dxBufferTextura mesh;
    EXPECT_EQ(mesh.GetFVF(), 0x102u);
    EXPECT_EQ(mesh.GetStride(), 20);
    mesh.AddPolygon(Triangle(1));
    mesh.AddPolygon(Triangle(2));
    mesh.AddPolygon(Triangle(3));
    mesh.AddPolygon(Quad(11));
    mesh.AddPolygon(Quad(12));
    EXPECT_EQ(mesh.GetVertexCount(), 17);
    EXPECT_EQ(mesh.GetFaceCount(), 5);
    ASSERT_EQ(mesh.BuildVertexData(), 340);

    const int flags[5] = {0x19, 0x19, 0x18, 0x18, 0x18};
    const float markers[5] = {12, 11, 3, 2, 1};  // Q2, Q1, T3, T2, T1
    const int first[5] = {0, 4, 8, 11, 14};
    for (int f = 0; f < 5; ++f) {
        EXPECT_EQ(mesh.GetFaceDrawFlags(f), flags[f]) << f;
        EXPECT_EQ(VertexAt(mesh, first[f]).x, markers[f]) << f;
        EXPECT_EQ(mesh.GetFaceTexture(f), f < 2 ? kTexB : kTexA) << f;
    }
    EXPECT_EQ(VertexAt(mesh, 16).y, 2.0f);  // T1's last slot closes the buffer
    EXPECT_EQ(VertexAt(mesh, 7).tu, 1.0f);  // Q1's slot 3 keeps its own coordinates
    EXPECT_EQ(VertexAt(mesh, 7).tv, 1.0f);
}

TEST(Mesh, BuildsOnlyWhenSomethingNewWasAdded) {
    dxBufferTextura mesh;
    EXPECT_EQ(mesh.BuildVertexData(), -1);  // nothing added
    mesh.AddPolygon(Triangle(1));
    EXPECT_EQ(mesh.BuildVertexData(), 60);
    EXPECT_EQ(mesh.BuildVertexData(), 60);  // still dirty until uploaded
    mesh.ClearDirty();
    EXPECT_EQ(mesh.BuildVertexData(), -1);
    mesh.AddPolygon(Quad(2));
    EXPECT_EQ(mesh.BuildVertexData(), 140);
    EXPECT_EQ(mesh.AddPolygon(static_cast<dxPoligono*>(nullptr)), E_FAIL);
}

TEST(Mesh, APolygonOfTheOtherFormatKeepsItsPlaceButNoVertices) {
    dxBufferTextura mesh;
    mesh.AddPolygon(Triangle(1));
    mesh.AddPolygon(std::make_unique<dxTriangulo>(0x08));  // coloured: not gathered
    mesh.AddPolygon(Quad(7));
    ASSERT_EQ(mesh.BuildVertexData(), 200);
    EXPECT_EQ(mesh.GetFaceDrawFlags(0), 0x19);
    EXPECT_EQ(mesh.GetFaceDrawFlags(1), 0x08);  // no texture
    EXPECT_EQ(mesh.GetFaceTexture(1), nullptr);
    EXPECT_EQ(VertexAt(mesh, 4).x, 0.0f);
    EXPECT_EQ(VertexAt(mesh, 7).x, 1.0f);  // the triangle after it is where the draw looks
}

TEST(Mesh, PolygonsMadeInItsStorageGatherAsHeapOnesDo) {
    // The same five faces, once as heap objects and once made in the mesh: room reserved for
    // two, so the third spills to the heap, and a heap one added among them. ASan checks that
    // each is ended the way it was made.
    dxBufferTextura heap, made;
    heap.AddPolygon(Triangle(1));
    heap.AddPolygon(Quad(2));
    heap.AddPolygon(Triangle(3));
    heap.AddPolygon(Quad(4));
    heap.AddPolygon(std::make_unique<dxTriangulo>(0x08));
    made.ReservePolygons(5, sizeof(dxTrianguloTex) + sizeof(dxCuadradoTex));
    auto fill = [](dxPoligono& p, float marker, int slots, bool quad) {
        for (int k = 0; k < slots; ++k) p.AddVertex(marker, static_cast<float>(k), 0);
        const dxTexCoord uv[4] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
        p.SetTextureMapping(quad ? kTexB : kTexA, std::span<const dxTexCoord>(uv, slots));
    };
    fill(made.MakePolygon<dxTrianguloTex>(0x08), 1, 3, false);
    fill(made.MakePolygon<dxCuadradoTex>(0x08), 2, 4, true);
    made.AddPolygon(Triangle(3));
    fill(made.MakePolygon<dxCuadradoTex>(0x08), 4, 4, true);  // no room left: on the heap
    made.MakePolygon<dxTriangulo>(0x08);
    ASSERT_EQ(made.GetFaceCount(), 5);
    ASSERT_EQ(made.BuildVertexData(), heap.BuildVertexData());
    ASSERT_EQ(made.GetTriangleCount(), 3);
    for (int f = 0; f < 5; ++f) {
        EXPECT_EQ(made.GetFaceDrawFlags(f), heap.GetFaceDrawFlags(f)) << f;
        EXPECT_EQ(made.GetFaceTexture(f), heap.GetFaceTexture(f)) << f;
    }
    ASSERT_EQ(made.TexVertexData().size(), heap.TexVertexData().size());
    EXPECT_EQ(std::memcmp(made.TexVertexData().data(), heap.TexVertexData().data(),
                          made.TexVertexData().size_bytes()),
              0);
}

TEST(Mesh, WorldSettersActLastFirst) {
    dxBufferColor8 mesh;
    D3DXMATRIX w;
    mesh.Translate(1, 0, 0);
    mesh.Scale(2);
    mesh.GetWorld(w);
    D3DXVECTOR3 p{1, 0, 0}, out;
    D3DXVec3TransformCoord(&out, &p, &w);
    EXPECT_NEAR(out.x, 3.0f, 1e-6f);  // scaled first, then moved

    // The frame's order: pan, centre, turn about Y, turn about X, scale.
    mesh.ResetWorld();
    mesh.Translate(3, 4, 0);
    mesh.Translate(0, 0, 0);
    mesh.RotateY(1.57079633f);
    mesh.RotateX(1.57079633f);
    mesh.Scale(2);
    mesh.GetWorld(w);
    p = {0, 10, 0};
    D3DXVec3TransformCoord(&out, &p, &w);
    // (0, 20, 0) scaled; about X to (0, 0, 20); about Y to (20, 0, 0); moved to (23, 4, 0).
    EXPECT_NEAR(out.x, 23.0f, 1e-4f);
    EXPECT_NEAR(out.y, 4.0f, 1e-4f);
    EXPECT_NEAR(out.z, 0.0f, 1e-4f);

    mesh.ResetWorld();
    mesh.GetWorld(w);
    EXPECT_EQ(w(0, 0), 1.0f);
    EXPECT_EQ(w(3, 0), 0.0f);
}

tr4::MeshVertex V(int16_t x, int16_t y, int16_t z) {
    return {x, y, z};
}

std::unique_ptr<tr4::MeshRecord> RecordWith(std::vector<tr4::MeshRectangle> rects,
                                            std::vector<tr4::MeshTriangle> tris, int vertices) {
    auto r = std::make_unique<tr4::MeshRecord>();
    for (int i = 0; i < vertices; ++i)
        r->vertices.push_back(V(static_cast<int16_t>(10 * i), static_cast<int16_t>(20 * i), -30));
    r->vertexCount = static_cast<int16_t>(vertices);
    r->rectangles.assign(rects.begin(), rects.end());
    r->rectangleCount = static_cast<int16_t>(r->rectangles.size());
    r->triangles.assign(tris.begin(), tris.end());
    r->triangleCount = static_cast<int16_t>(r->triangles.size());
    return r;
}

TEST(Builder, RectanglesThenTrianglesEachAFaceInReverse) {
    tr4::Level level;
    level.objectTextures.resize(1);
    tr4::Lista_Mesh list;
    // R1 (4, 5, 6, 7), R2 (0, 1, 2, 3), T1 (8, 9, 10)
    list.Add(RecordWith({{{4, 5, 6, 7}, 0, 0}, {{0, 1, 2, 3}, 0, 0}}, {{{8, 9, 10}, 0, 0}}, 11));
    ASSERT_EQ(BuildRenderMeshes(&list, nullptr, nullptr, level), S_OK);
    dxBufferTextura* g = TexturedMeshAt(list, 0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetVertexCount(), 11);
    ASSERT_EQ(g->BuildVertexData(), 220);     // not uploaded without a device, so still dirty
    EXPECT_EQ(g->GetFaceDrawFlags(0), 0x18);  // T1
    EXPECT_EQ(g->GetFaceDrawFlags(1), 0x19);  // R2
    EXPECT_EQ(g->GetFaceDrawFlags(2), 0x19);  // R1
    // T1's vertices 8, 9, 10 scaled by 0.1 with y negated: vertex 8 is (80, 160, -30).
    EXPECT_NEAR(VertexAt(*g, 0).x, 8.0f, 1e-5f);
    EXPECT_NEAR(VertexAt(*g, 0).y, -16.0f, 1e-5f);
    EXPECT_NEAR(VertexAt(*g, 0).z, -3.0f, 1e-5f);
    // R1 at 7..10 holds vertices 4, 5, 7, 6 in that order.
    const float expectedX[4] = {4.0f, 5.0f, 7.0f, 6.0f};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(VertexAt(*g, 7 + k).x, expectedX[k], 1e-5f) << k;
}

TEST(Builder, RefusesAnEmptyListAndDropsFacesOutsideTheMesh) {
    tr4::Level level;
    tr4::Lista_Mesh empty;
    EXPECT_EQ(BuildRenderMeshes(&empty, nullptr, nullptr, level), E_FAIL);
    EXPECT_FALSE(empty.HasRenderMeshes());
    EXPECT_EQ(BuildRenderMeshes(nullptr, nullptr, nullptr, level), E_FAIL);

    tr4::Lista_Mesh list;
    list.Add(RecordWith({}, {}, 0));  // no faces at all
    list.Add(RecordWith({{{0, 1, 2, 4}, 0, 0}}, {{{0, 1, 2}, 7, 0}, {{0, 9, 2}, 0, 0}}, 4));
    std::vector<std::string> warnings;
    ASSERT_EQ(BuildRenderMeshes(&list, nullptr, nullptr, level, &warnings), S_OK);
    ASSERT_NE(TexturedMeshAt(list, 0), nullptr);
    EXPECT_EQ(TexturedMeshAt(list, 0)->BuildVertexData(), -1);
    dxBufferTextura* g = TexturedMeshAt(list, 1);
    ASSERT_NE(g, nullptr);
    // The rectangle naming vertex 4 and the triangle naming vertex 9 are left out; the triangle
    // whose object texture 7 does not exist stays, without texture.
    EXPECT_EQ(g->GetFaceCount(), 1);
    ASSERT_EQ(g->BuildVertexData(), 60);
    EXPECT_EQ(g->GetFaceTexture(0), nullptr);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("mesh 1: 2 face(s) name a vertex outside"), std::string::npos);
    EXPECT_NE(warnings[1].find("mesh 1: 1 face(s) have no texture"), std::string::npos);
    EXPECT_EQ(TexturedMeshAt(list, 2), nullptr);
}

}  // namespace
