// Losing the context under a device, and the window path drawing what the offscreen path draws.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWindow>

#include "BuildRenderMeshes.h"
#include "RenderFixture.h"
#include "trTextura.h"

using namespace tr4;

namespace rendertest {
namespace {

// A level of one rectangle over the frame on a page of four colours.
struct LevelScene {
    tr4::Level level;
    tr4::Lista_Mesh list;

    LevelScene() {
        level.pages32 = QuadrantPage32(0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00);
        level.pages32Size = static_cast<uint32_t>(level.pages32.size());
        tr4::ObjectTexture t;
        const uint8_t px[4][2] = {{0, 0}, {255, 0}, {255, 255}, {0, 255}};
        for (int c = 0; c < 4; ++c) {
            t.corners[c].xPixel = px[c][0];
            t.corners[c].yPixel = px[c][1];
        }
        level.objectTextures.push_back(t);
        auto r = std::make_unique<tr4::MeshRecord>();
        r->vertices = {{-8, -8, 5}, {8, -8, 5}, {8, 8, 5}, {-8, 8, 5}};
        r->vertexCount = 4;
        r->rectangles = {{{0, 1, 2, 3}, 0, 0}};
        r->rectangleCount = 1;
        list.Add(std::move(r));
    }
};

TEST(DeviceLoss, TheNextFrameAfterAResetDrawsTheSameMeshWithItsTextures) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(64, 64);
    ASSERT_TRUE(device);
    LevelScene scene;
    trTextura pages(scene.level);
    ASSERT_EQ(pages.CreatePages32(device.get()), S_OK);
    ASSERT_EQ(BuildRenderMeshes(&scene.list, device.get(), &pages, scene.level), S_OK);
    dxBufferTextura* mesh = TexturedMeshAt(scene.list, 0);
    ASSERT_NE(mesh, nullptr);
    const QImage before = DrawFrame(*device, *mesh);
    ASSERT_EQ(Rgb(before, 16, 16), 0xFF0000u);
    ASSERT_EQ(Rgb(before, 2, 2), 0xFFFFFFu);  // the rectangle covers 0.8 of the frame

    device->LoseContext();
    EXPECT_TRUE(device->IsLost());
    device->ClearFrame(1);
    EXPECT_EQ(device->DrawMesh(mesh, 0), E_FAIL);
    EXPECT_EQ(device->PresentFrame(), E_FAIL);  // the caller's signal to reset
    EXPECT_TRUE(device->ReadFrame().isNull());
    // A resource made while the context is away is made at the reset.
    const Bytes green = QuadrantPage32(0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00);
    dxTexture* late = device->CreateTextureFromPixels(256, 256, 21, green.data());
    ASSERT_NE(late, nullptr);

    EXPECT_EQ(device->ResetDevice(), S_OK);
    EXPECT_FALSE(device->IsLost());
    const QImage after = DrawFrame(*device, *mesh);
    EXPECT_EQ(after, before);
    dxBufferTextura other;
    other.AddPolygon(ScreenQuad(late, -1, -1, 1, 1));
    ASSERT_EQ(device->UploadMesh(&other), S_OK);
    EXPECT_EQ(Rgb(DrawFrame(*device, other), 32, 32), 0x00FF00u);
    ReleaseTexture(late);
}

TEST(DeviceLoss, AResetOfAHealthyDeviceChangesNothing) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(64, 64);
    ASSERT_TRUE(device);
    LevelScene scene;
    trTextura pages(scene.level);
    pages.CreatePages32(device.get());
    BuildRenderMeshes(&scene.list, device.get(), &pages, scene.level);
    const QImage before = DrawFrame(*device, *TexturedMeshAt(scene.list, 0));
    EXPECT_EQ(device->ResetDevice(), S_OK);
    EXPECT_EQ(DrawFrame(*device, *TexturedMeshAt(scene.list, 0)), before);
}

TEST(WindowDevice, DrawsWhatTheOffscreenDeviceDraws) {
    REQUIRE_GRAPHICS();
    QWindow window;
    window.resize(64, 64);
    std::unique_ptr<dxDevice8> device;
    ASSERT_EQ(System()->CreateRenderDevice(&window, 1, device), S_OK);
    ASSERT_TRUE(device && device->HasDevice());
    window.show();
    QElapsedTimer timer;
    timer.start();
    while (!window.isExposed() && timer.elapsed() < 5000) QCoreApplication::processEvents();
    device->SetClearColor(255, 255, 255);
    LevelScene scene;
    trTextura pages(scene.level);
    pages.CreatePages32(device.get());
    BuildRenderMeshes(&scene.list, device.get(), &pages, scene.level);
    const QImage onWindow = DrawFrame(*device, *TexturedMeshAt(scene.list, 0));
    EXPECT_EQ(onWindow.size(), window.size() * window.devicePixelRatio());

    auto offscreen = MakeDevice(onWindow.width(), onWindow.height());
    ASSERT_TRUE(offscreen);
    LevelScene again;
    trTextura pages2(again.level);
    pages2.CreatePages32(offscreen.get());
    BuildRenderMeshes(&again.list, offscreen.get(), &pages2, again.level);
    EXPECT_EQ(DrawFrame(*offscreen, *TexturedMeshAt(again.list, 0)), onWindow);
}

}  // namespace
}  // namespace rendertest
