// Pixels of drawn faces, read back: texels, formats, culling, wireframe, depth and the world
// transform of the viewer's frame.
#include <cmath>

#include "MeshView.h"
#include "RenderFixture.h"

using namespace tr4;

namespace rendertest {
namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00;
constexpr uint32_t kWhite = 0xFFFFFF, kGrey = 0x808080;

class Draw : public ::testing::Test {
  protected:
    void SetUp() override {
        if (System() == nullptr) GTEST_SKIP() << "no OpenGL display";
        device = MakeDevice(64, 64);
        ASSERT_TRUE(device && device->HasDevice());
        const Bytes quadrants = QuadrantPage32(kRed, kGreen, kBlue, kYellow);
        page = device->CreateTextureFromPixels(256, 256, 21, quadrants.data());
        ASSERT_NE(page, nullptr);
    }

    // A frame of mesh, uploaded for it.
    QImage Frame(MeshGeometry mesh, int mode = 0) {
        const VertexBufferPtr buffer = Upload(*device, std::move(mesh));
        return DrawFrame(*device, buffer.get(), mode);
    }

    std::unique_ptr<dxDevice8> device;
    TexturePtr page;
};

TEST_F(Draw, TexturedQuadrilateralShowsEachTexelWhereItBelongs) {
    MeshGeometry mesh;
    AddScreenQuad(mesh, page.get(), -1, -1, 1, 1);
    const QImage frame = Frame(std::move(mesh));
    EXPECT_EQ(Rgb(frame, 16, 16), kRed);
    EXPECT_EQ(Rgb(frame, 48, 16), kGreen);
    EXPECT_EQ(Rgb(frame, 16, 48), kBlue);
    EXPECT_EQ(Rgb(frame, 48, 48), kYellow);
    EXPECT_EQ(Rgb(frame, 0, 0), kRed);
    EXPECT_EQ(Rgb(frame, 63, 63), kYellow);
}

TEST_F(Draw, TexturedTriangleCoversOnlyItsHalf) {
    MeshGeometry mesh;
    // Top-left, top-right, bottom-left: clockwise on screen.
    AddTriangle(mesh, page.get(), -1, 1, 1, 1, -1, -1, kDrawCullCCW);
    const QImage frame = Frame(std::move(mesh));
    EXPECT_EQ(Rgb(frame, 10, 10), kRed);
    EXPECT_EQ(Rgb(frame, 40, 10), kGreen);
    EXPECT_EQ(Rgb(frame, 10, 40), kBlue);
    EXPECT_EQ(Rgb(frame, 54, 54), kWhite);
    EXPECT_EQ(Rgb(frame, 40, 40), kWhite);
}

TEST_F(Draw, ARectangleSplitsAlongItsCornersOneAndThree) {
    // Corner 2 pulled in past the diagonal from corner 1 to corner 3: split there, the first
    // triangle (corners 0, 1, 3) covers the whole upper-left half, the second lies inside it.
    // Split along 0-2 instead, the point (-0.3, 0) would be left out.
    MeshGeometry mesh;
    const GpuVertex corners[4] = {{-1, 1, 0.5f, 0, 0, 0},
                                  {1, 1, 0.5f, 1, 0, 0},
                                  {-0.5f, 0.3f, 0.5f, 1, 1, 0},
                                  {-1, -1, 0.5f, 0, 1, 0}};
    AppendFace(mesh, corners, page.get(), 0);
    ASSERT_EQ(mesh.vertices.size(), 6u);
    const QImage frame = Frame(std::move(mesh));
    EXPECT_NE(Rgb(frame, 22, 32), kWhite);  // (-0.3, 0)
    EXPECT_EQ(Rgb(frame, 48, 48), kWhite);  // below the diagonal
    EXPECT_EQ(Rgb(frame, 4, 4), kRed);
}

TEST_F(Draw, SixteenBitPagesIgnoreTheTopBit) {
    const Bytes words = QuadrantPage16(0x7FFF, 0xFFFF, 0x7C00, 0x801F);
    const TexturePtr narrow = device->CreateTextureFromPixels(256, 256, 24, words.data());
    ASSERT_NE(narrow, nullptr);
    MeshGeometry mesh;
    AddScreenQuad(mesh, narrow.get(), -1, -1, 1, 1);
    device->SetClearColor(0, 0, 0);
    const QImage frame = Frame(std::move(mesh));
    EXPECT_EQ(Rgb(frame, 16, 16), kWhite);  // 0x7FFF
    EXPECT_EQ(Rgb(frame, 48, 16), kWhite);  // 0xFFFF: the same white
    EXPECT_EQ(Rgb(frame, 16, 48), kRed);
    EXPECT_EQ(Rgb(frame, 48, 48), kBlue);  // 0x801F
}

TEST_F(Draw, CullingFollowsTheWindingOnScreen) {
    struct Case {
        bool clockwise;
        int flags;
        bool drawn;
    };
    const Case cases[] = {
        {false, 0x08, false}, {false, 0x04, true}, {false, 0x0C, false}, {false, 0x00, true},
        {true, 0x08, true},   {true, 0x04, false}, {true, 0x0C, true},   {true, 0x00, true},
    };
    for (const Case& c : cases) {
        MeshGeometry mesh;
        if (c.clockwise)
            AddTriangle(mesh, page.get(), -1, 1, 1, 1, -1, -1, c.flags);
        else
            AddTriangle(mesh, page.get(), -1, 1, -1, -1, 1, 1, c.flags);
        const QImage frame = Frame(std::move(mesh));
        EXPECT_EQ(Rgb(frame, 10, 10), c.drawn ? kRed : kWhite)
            << "clockwise " << c.clockwise << " flags " << c.flags;
    }
}

TEST_F(Draw, ModeTwoDrawsEveryFaceAsUntexturedWireframe) {
    MeshGeometry geometry;
    AddTriangle(geometry, page.get(), -1, 1, 1, 1, -1, -1, kDrawCullCCW);
    AddScreenQuad(geometry, page.get(), -0.5f, -0.5f, 0.5f, 0.5f);
    const VertexBufferPtr mesh = Upload(*device, std::move(geometry));
    const QImage frame = DrawFrame(*device, mesh.get(), 2);
    int grey = 0, other = 0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const uint32_t c = Rgb(frame, x, y);
            if (c == kGrey)
                ++grey;
            else if (c != kWhite)
                ++other;
        }
    }
    EXPECT_GT(grey, 100);                 // the outlines
    EXPECT_EQ(other, 0);                  // no texel anywhere
    EXPECT_EQ(Rgb(frame, 8, 8), kWhite);  // inside the triangle: not filled
    EXPECT_EQ(Rgb(frame, 40, 32), kWhite);

    // The same mesh in mode 0 is filled and textured again: the mode does not stick.
    EXPECT_EQ(Rgb(DrawFrame(*device, mesh.get(), 0), 8, 8), kRed);
}

TEST_F(Draw, NearerFacesHideFartherOnesWhateverTheOrder) {
    const Bytes blue = QuadrantPage32(kBlue, kBlue, kBlue, kBlue);
    const TexturePtr bluePage = device->CreateTextureFromPixels(256, 256, 21, blue.data());
    MeshGeometry nearLast, nearFirst;
    AddScreenQuad(nearLast, bluePage.get(), -1, -1, 1, 1, 0.6f);
    AddScreenQuad(nearLast, page.get(), -1, -1, 1, 1, 0.2f);
    AddScreenQuad(nearFirst, page.get(), -1, -1, 1, 1, 0.2f);
    AddScreenQuad(nearFirst, bluePage.get(), -1, -1, 1, 1, 0.6f);
    EXPECT_EQ(Rgb(Frame(std::move(nearLast)), 16, 16), kRed);
    EXPECT_EQ(Rgb(Frame(std::move(nearFirst)), 16, 16), kRed);
}

TEST_F(Draw, EachFaceKeepsItsOwnTextureAndUntexturedFacesAreGrey) {
    const Bytes blue = QuadrantPage32(kBlue, kBlue, kBlue, kBlue);
    const TexturePtr bluePage = device->CreateTextureFromPixels(256, 256, 21, blue.data());
    MeshGeometry mesh;
    // Four columns: red page, blue page, blue page, none. Neighbours share state, so the draw
    // may join them; each must still show its own texture.
    AddScreenQuad(mesh, page.get(), -1, -1, -0.5f, 1);
    AddScreenQuad(mesh, bluePage.get(), -0.5f, -1, 0, 1);
    AddScreenQuad(mesh, bluePage.get(), 0, -1, 0.5f, 1);
    AddScreenQuad(mesh, nullptr, 0.5f, -1, 1, 1);
    const QImage frame = Frame(std::move(mesh));
    EXPECT_EQ(Rgb(frame, 4, 4), kRed);  // the top-left of the red page's mapping
    EXPECT_EQ(Rgb(frame, 20, 40), kBlue);
    EXPECT_EQ(Rgb(frame, 40, 40), kBlue);
    EXPECT_EQ(Rgb(frame, 60, 30), kGrey);
}

TEST_F(Draw, TheTransformIsTheDrawsOwn) {
    MeshGeometry quad;
    AddScreenQuad(quad, page.get(), -0.25f, -0.25f, 0.25f, 0.25f);
    const VertexBufferPtr mesh = Upload(*device, std::move(quad));
    D3DXMATRIX moved;
    D3DXMatrixTranslation(&moved, 0.5f, 0.5f, 0);  // up and to the right
    std::string why;
    device->ClearFrame(true);
    ASSERT_TRUE(device->DrawMesh(mesh.get(), moved, 0, why)) << why;
    QImage frame = device->ReadFrame();
    EXPECT_EQ(Rgb(frame, 32, 32), kWhite);
    EXPECT_NE(Rgb(frame, 48, 16), kWhite);
    // Nothing of it stays with the mesh: the next draw, with the identity, is centred.
    frame = DrawFrame(*device, mesh.get());
    EXPECT_NE(Rgb(frame, 32, 32), kWhite);
    EXPECT_EQ(Rgb(frame, 48, 16), kWhite);
}

TEST(ViewerFrame, WorldTransformOrderPutsTheVertexWhereTheNumbersSay) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(321, 385);
    ASSERT_TRUE(device);
    const float pi = 3.14159265f;
    ViewCamera camera{ViewerProjection(1.0f), {0, 0, 150}, {0, 0, 0}};
    // An untextured square in the plane x = 0 around (0, 10, 0), side 2.
    MeshGeometry square;
    const GpuVertex corners[4] = {
        {0, 11, -1, 0, 0, 0}, {0, 11, 1, 0, 0, 0}, {0, 9, 1, 0, 0, 0}, {0, 9, -1, 0, 0, 0}};
    AppendFace(square, corners, nullptr, 0);
    const VertexBufferPtr mesh = Upload(*device, std::move(square));

    device->ClearFrame(true);
    // The frame's order, as MeshWorld composes it: scale, turn about X, about Y, move to the
    // mesh centre (the origin here), pan.
    D3DXMATRIX world, step;
    D3DXMatrixScaling(&world, 2, 2, 2);
    D3DXMatrixMultiply(&world, &world, D3DXMatrixRotationX(&step, pi / 2));
    D3DXMatrixMultiply(&world, &world, D3DXMatrixRotationY(&step, pi / 2));
    D3DXMatrixMultiply(&world, &world, D3DXMatrixTranslation(&step, 3, 4, 0));
    std::string why;
    ASSERT_TRUE(device->DrawMesh(mesh.get(), FrameTransform(world, camera), 0, why)) << why;
    const QImage frame = device->ReadFrame();
    // Scaled to (0, 20, 0), turned about X to (0, 0, 20), about Y to (20, 0, 0), moved to
    // (23, 4, 0): a square of side 4 facing the eye. Seen from (0, 0, 150) towards the origin,
    // world +x is on the left: x = -23 * 2.4142 / 150 = -0.3702, y = 4 * 2.4142 / 150 = 0.0644,
    // so its centre is at pixel (101.1, 180.1).
    int minX = 1000, maxX = -1, minY = 1000, maxY = -1;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            if (Rgb(frame, x, y) != kGrey) continue;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    ASSERT_GE(maxX, 0) << "nothing drawn";
    EXPECT_NEAR((minX + maxX + 1) / 2.0, 101.1, 1.0);
    EXPECT_NEAR((minY + maxY + 1) / 2.0, 180.1, 1.0);
    EXPECT_NEAR(maxX + 1 - minX, 4 * 2.4142 / 150 * 160.5, 1.5);  // about 10 pixels wide
}

}  // namespace
}  // namespace rendertest
