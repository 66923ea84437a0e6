// Pixels of drawn faces, read back: texels, formats, culling, wireframe, depth and the world
// transform of the viewer's frame.
#include <cmath>

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
    void TearDown() override { ReleaseTexture(page); }

    std::unique_ptr<dxTrianguloTex> Triangle(float x0, float y0, float x1, float y1, float x2,
                                             float y2, int flags) {
        auto t = std::make_unique<dxTrianguloTex>(flags);
        t->AddVertex(x0, y0, 0.5f);
        t->AddVertex(x1, y1, 0.5f);
        t->AddVertex(x2, y2, 0.5f);
        t->SetTextureMapping(page, 0, 0, 1, 0, 0, 1);
        return t;
    }

    std::unique_ptr<dxDevice8> device;
    dxTexture* page = nullptr;
};

TEST_F(Draw, TexturedQuadrilateralShowsEachTexelWhereItBelongs) {
    dxBufferTextura mesh;
    mesh.AddPolygon(ScreenQuad(page, -1, -1, 1, 1));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    const QImage frame = DrawFrame(*device, mesh);
    EXPECT_EQ(Rgb(frame, 16, 16), kRed);
    EXPECT_EQ(Rgb(frame, 48, 16), kGreen);
    EXPECT_EQ(Rgb(frame, 16, 48), kBlue);
    EXPECT_EQ(Rgb(frame, 48, 48), kYellow);
    EXPECT_EQ(Rgb(frame, 0, 0), kRed);
    EXPECT_EQ(Rgb(frame, 63, 63), kYellow);
}

TEST_F(Draw, TexturedTriangleCoversOnlyItsHalf) {
    dxBufferTextura mesh;
    // Top-left, top-right, bottom-left: clockwise on screen.
    mesh.AddPolygon(Triangle(-1, 1, 1, 1, -1, -1, 0x08));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    const QImage frame = DrawFrame(*device, mesh);
    EXPECT_EQ(Rgb(frame, 10, 10), kRed);
    EXPECT_EQ(Rgb(frame, 40, 10), kGreen);
    EXPECT_EQ(Rgb(frame, 10, 40), kBlue);
    EXPECT_EQ(Rgb(frame, 54, 54), kWhite);
    EXPECT_EQ(Rgb(frame, 40, 40), kWhite);
}

TEST_F(Draw, AColouredMeshUploadsItsOwnVerticesAndDrawsPlain) {
    // The coloured format has no texture: its faces are grey, where their positions put them,
    // and a textured polygon in it keeps its place but shows nothing.
    dxBufferColor8 mesh;
    auto right = std::make_unique<dxCuadrado>(0);
    for (const auto& [x, y] : {std::pair{0.0f, 1.0f}, {1.0f, 1.0f}, {0.0f, -1.0f}, {1.0f, -1.0f}})
        right->AddVertex(x, y, 0.5f);
    mesh.AddPolygon(Triangle(-1, 1, 0, 1, -1, -1, 0));  // left half, not of this format
    mesh.AddPolygon(std::move(right));
    ASSERT_EQ(mesh.BuildVertexData(), 7 * 16);
    EXPECT_TRUE(mesh.TexVertexData().empty());
    ASSERT_EQ(mesh.ColorVertexData().size(), 7u);
    EXPECT_EQ(mesh.ColorVertexData()[3].x, 1.0f);  // the quadrilateral stands first
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    const QImage frame = DrawFrame(*device, mesh);
    EXPECT_EQ(Rgb(frame, 48, 32), kGrey);
    EXPECT_EQ(Rgb(frame, 10, 10), kWhite);
}

TEST_F(Draw, SixteenBitPagesIgnoreTheTopBit) {
    const Bytes words = QuadrantPage16(0x7FFF, 0xFFFF, 0x7C00, 0x801F);
    dxTexture* narrow = device->CreateTextureFromPixels(256, 256, 24, words.data());
    ASSERT_NE(narrow, nullptr);
    dxBufferTextura mesh;
    mesh.AddPolygon(ScreenQuad(narrow, -1, -1, 1, 1));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    device->SetClearColor(0, 0, 0);
    const QImage frame = DrawFrame(*device, mesh);
    EXPECT_EQ(Rgb(frame, 16, 16), kWhite);  // 0x7FFF
    EXPECT_EQ(Rgb(frame, 48, 16), kWhite);  // 0xFFFF: the same white
    EXPECT_EQ(Rgb(frame, 16, 48), kRed);
    EXPECT_EQ(Rgb(frame, 48, 48), kBlue);  // 0x801F
    ReleaseTexture(narrow);
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
        dxBufferTextura mesh;
        if (c.clockwise)
            mesh.AddPolygon(Triangle(-1, 1, 1, 1, -1, -1, c.flags));
        else
            mesh.AddPolygon(Triangle(-1, 1, -1, -1, 1, 1, c.flags));
        ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
        const QImage frame = DrawFrame(*device, mesh);
        EXPECT_EQ(Rgb(frame, 10, 10), c.drawn ? kRed : kWhite)
            << "clockwise " << c.clockwise << " flags " << c.flags;
    }
}

TEST_F(Draw, ModeTwoDrawsEveryFaceAsUntexturedWireframe) {
    dxBufferTextura mesh;
    mesh.AddPolygon(ScreenQuad(page, -0.5f, -0.5f, 0.5f, 0.5f));
    mesh.AddPolygon(Triangle(-1, 1, 1, 1, -1, -1, 0x08));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    const QImage frame = DrawFrame(*device, mesh, 2);
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
    EXPECT_EQ(Rgb(DrawFrame(*device, mesh, 0), 8, 8), kRed);
}

TEST_F(Draw, NearerFacesHideFartherOnesWhateverTheOrder) {
    const Bytes blue = QuadrantPage32(kBlue, kBlue, kBlue, kBlue);
    dxTexture* bluePage = device->CreateTextureFromPixels(256, 256, 21, blue.data());
    dxBufferTextura nearLast, nearFirst;
    nearLast.AddPolygon(ScreenQuad(page, -1, -1, 1, 1, 0.2f));      // drawn second
    nearLast.AddPolygon(ScreenQuad(bluePage, -1, -1, 1, 1, 0.6f));  // drawn first
    nearFirst.AddPolygon(ScreenQuad(bluePage, -1, -1, 1, 1, 0.6f));
    nearFirst.AddPolygon(ScreenQuad(page, -1, -1, 1, 1, 0.2f));
    ASSERT_EQ(device->UploadMesh(&nearLast), S_OK);
    ASSERT_EQ(device->UploadMesh(&nearFirst), S_OK);
    EXPECT_EQ(Rgb(DrawFrame(*device, nearLast), 16, 16), kRed);
    EXPECT_EQ(Rgb(DrawFrame(*device, nearFirst), 16, 16), kRed);
    ReleaseTexture(bluePage);
}

TEST_F(Draw, EachFaceKeepsItsOwnTextureAndUntexturedFacesAreGrey) {
    const Bytes blue = QuadrantPage32(kBlue, kBlue, kBlue, kBlue);
    dxTexture* bluePage = device->CreateTextureFromPixels(256, 256, 21, blue.data());
    dxBufferTextura mesh;
    // Four columns: red page, blue page, blue page, none. Neighbours share state, so the draw
    // may join them; each must still show its own texture.
    mesh.AddPolygon(ScreenQuad(nullptr, 0.5f, -1, 1, 1));
    mesh.AddPolygon(ScreenQuad(bluePage, 0, -1, 0.5f, 1));
    mesh.AddPolygon(ScreenQuad(bluePage, -0.5f, -1, 0, 1));
    mesh.AddPolygon(ScreenQuad(page, -1, -1, -0.5f, 1));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    const QImage frame = DrawFrame(*device, mesh);
    EXPECT_EQ(Rgb(frame, 4, 4), kRed);  // the top-left of the red page's mapping
    EXPECT_EQ(Rgb(frame, 20, 40), kBlue);
    EXPECT_EQ(Rgb(frame, 40, 40), kBlue);
    EXPECT_EQ(Rgb(frame, 60, 30), kGrey);
    ReleaseTexture(bluePage);
}

TEST_F(Draw, TheWorldMatrixIsUsedOnceAndThenReset) {
    dxBufferTextura mesh;
    mesh.AddPolygon(ScreenQuad(page, -0.25f, -0.25f, 0.25f, 0.25f));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    device->ClearFrame(1);
    mesh.Translate(0.5f, 0.5f, 0);  // up and to the right
    device->DrawMesh(&mesh, 0);
    QImage frame = device->ReadFrame();
    EXPECT_EQ(Rgb(frame, 32, 32), kWhite);
    EXPECT_NE(Rgb(frame, 48, 16), kWhite);
    // The next draw without setters uses the identity world.
    frame = DrawFrame(*device, mesh);
    EXPECT_NE(Rgb(frame, 32, 32), kWhite);
    EXPECT_EQ(Rgb(frame, 48, 16), kWhite);
}

TEST(ViewerFrame, WorldTransformOrderPutsTheVertexWhereTheNumbersSay) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(321, 385);
    ASSERT_TRUE(device);
    const float pi = 3.14159265f;
    device->SetProjection(0.1f, 1000.0f, 1.0f, pi / 4);
    device->SetEye(0, 0, 150);
    device->SetTarget(0, 0, 0);
    // An untextured square in the plane x = 0 around (0, 10, 0), side 2.
    dxBufferTextura mesh;
    auto q = std::make_unique<dxCuadradoTex>(0);
    q->AddVertex(0, 11, -1);
    q->AddVertex(0, 11, 1);
    q->AddVertex(0, 9, -1);
    q->AddVertex(0, 9, 1);
    mesh.AddPolygon(std::move(q));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);

    device->ClearFrame(1);
    mesh.Translate(3, 4, 0);  // pan
    mesh.Translate(0, 0, 0);  // mesh centre
    mesh.RotateY(pi / 2);
    mesh.RotateX(pi / 2);
    mesh.Scale(2);
    ASSERT_EQ(device->DrawMesh(&mesh, 0), S_OK);
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
