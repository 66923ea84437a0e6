// Losing the context under a device, and the window path drawing what the offscreen path draws.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWindow>

#include "LevelScene.h"
#include "RenderFixture.h"

using namespace tr4;

namespace rendertest {
namespace {

// The one-rectangle level built on device.
std::unique_ptr<LevelScene> BuiltOn(dxDevice8& device) {
    OneRectangleLevel made;
    tr4::LoadedLevel loaded;
    loaded.level = std::make_unique<tr4::Level>(std::move(made.level));
    loaded.meshes = std::move(made.list);
    auto scene = std::make_unique<LevelScene>();
    scene->Adopt(std::move(loaded));
    std::string why;
    EXPECT_TRUE(scene->Reserve(PageDepth::Bits32, why) && scene->Build(device, why)) << why;
    return scene;
}

TEST(DeviceLoss, TheNextFrameAfterAResetDrawsTheSameMeshWithItsTextures) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(64, 64);
    ASSERT_TRUE(device);
    const std::unique_ptr<LevelScene> scene = BuiltOn(*device);
    const dxVertexBuffer* mesh = scene->RenderMesh(0);
    ASSERT_NE(mesh, nullptr);
    const QImage before = DrawFrame(*device, mesh);
    ASSERT_EQ(Rgb(before, 16, 16), 0xFF0000u);
    ASSERT_EQ(Rgb(before, 2, 2), 0xFFFFFFu);  // the rectangle covers 0.8 of the frame

    device->LoseContext();
    EXPECT_TRUE(device->IsLost());
    device->ClearFrame(true);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    std::string why;
    EXPECT_FALSE(device->DrawMesh(mesh, identity, 0, why));
    EXPECT_EQ(why, "the device is lost");
    EXPECT_FALSE(device->PresentFrame(why));  // the caller's signal to reset
    EXPECT_TRUE(device->ReadFrame().isNull());
    // A resource made while the context is away is made at the reset.
    const Bytes green = QuadrantPage32(0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00);
    const TexturePtr late = device->CreateTextureFromPixels(256, 256, 21, green.data());
    ASSERT_NE(late, nullptr);

    // A mesh uploaded meanwhile too.
    MeshGeometry quad;
    AddScreenQuad(quad, late.get(), -1, -1, 1, 1);
    const VertexBufferPtr other = Upload(*device, std::move(quad));

    ASSERT_TRUE(device->ResetDevice(why)) << why;
    EXPECT_FALSE(device->IsLost());
    const QImage after = DrawFrame(*device, mesh);
    EXPECT_EQ(after, before);
    EXPECT_EQ(Rgb(DrawFrame(*device, other.get()), 32, 32), 0x00FF00u);
}

TEST(DeviceLoss, AResetOfAHealthyDeviceChangesNothing) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(64, 64);
    ASSERT_TRUE(device);
    const std::unique_ptr<LevelScene> scene = BuiltOn(*device);
    const QImage before = DrawFrame(*device, scene->RenderMesh(0));
    std::string why;
    EXPECT_TRUE(device->ResetDevice(why)) << why;
    EXPECT_EQ(DrawFrame(*device, scene->RenderMesh(0)), before);
}

TEST(DeviceLoss, AResetThatCannotMakeAContextSaysSo) {
    REQUIRE_GRAPHICS();
    // A window device whose window is gone has nothing to make a context on.
    auto window = std::make_unique<QWindow>();
    window->resize(16, 16);
    std::unique_ptr<dxDevice8> device;
    std::string why;
    ASSERT_TRUE(System()->CreateRenderDevice(window.get(), device, why)) << why;
    window.reset();
    device->LoseContext();
    EXPECT_FALSE(device->ResetDevice(why));
    EXPECT_EQ(why, "no surface to draw on");
    EXPECT_TRUE(device->IsLost());
}

TEST(WindowDevice, DrawsWhatTheOffscreenDeviceDraws) {
    REQUIRE_GRAPHICS();
    QWindow window;
    window.resize(64, 64);
    std::unique_ptr<dxDevice8> device;
    std::string why;
    ASSERT_TRUE(System()->CreateRenderDevice(&window, device, why)) << why;
    ASSERT_TRUE(device && device->HasDevice());
    window.show();
    QElapsedTimer timer;
    timer.start();
    while (!window.isExposed() && timer.elapsed() < 5000) QCoreApplication::processEvents();
    device->SetClearColor(255, 255, 255);
    const std::unique_ptr<LevelScene> scene = BuiltOn(*device);
    const QImage onWindow = DrawFrame(*device, scene->RenderMesh(0));
    EXPECT_EQ(onWindow.size(), window.size() * window.devicePixelRatio());

    auto offscreen = MakeDevice(onWindow.width(), onWindow.height());
    ASSERT_TRUE(offscreen);
    const std::unique_ptr<LevelScene> again = BuiltOn(*offscreen);
    EXPECT_EQ(DrawFrame(*offscreen, again->RenderMesh(0)), onWindow);
}

}  // namespace
}  // namespace rendertest
