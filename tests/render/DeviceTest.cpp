// The graphics system and the device's frame operations.
#include "RenderFixture.h"

namespace rendertest {
namespace {

TEST(Device, SystemReportsWhatTheContextCanDo) {
    REQUIRE_GRAPHICS();
    EXPECT_FALSE(System()->RendererString().empty());
    EXPECT_TRUE(System()->IsTextureFormatSupported(21));
    EXPECT_TRUE(System()->IsTextureFormatSupported(24));
    EXPECT_FALSE(System()->IsTextureFormatSupported(22));
    const PresentParameters p = System()->GetPresentParameters(1);
    EXPECT_EQ(p.Windowed, 1u);
    EXPECT_EQ(p.SwapEffect, 1u);
    EXPECT_EQ(p.BackBufferCount, 1u);
    EXPECT_EQ(p.EnableAutoDepthStencil, 1u);
    EXPECT_EQ(p.AutoDepthStencilFormat, 80u);
    EXPECT_EQ(p.BackBufferFormat, System()->GetDisplayMode().Format);
    EXPECT_EQ(p.BackBufferWidth, 0u);
}

TEST(Device, RefusesToCreateADeviceBeforeTheSystem) {
    REQUIRE_GRAPHICS();
    dxMain fresh;
    std::unique_ptr<dxDevice8> device;
    EXPECT_EQ(fresh.CreateRenderDevice(nullptr, 1, device), E_FAIL);
    EXPECT_EQ(device, nullptr);
}

TEST(Device, ClearsToTheLowBytesOfTheClearColour) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(32, 24);
    ASSERT_TRUE(device && device->HasDevice());
    EXPECT_EQ(device->FrameSize(), QSize(32, 24));
    EXPECT_EQ(device->GetClearColorWord(), 0xFFFFFFFFu);
    device->ClearFrame(1);
    ASSERT_EQ(device->PresentFrame(), S_OK);
    QImage frame = device->ReadFrame();
    ASSERT_EQ(frame.size(), QSize(32, 24));
    EXPECT_EQ(Rgb(frame, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(frame, 31, 23), 0xFFFFFFu);

    device->SetClearColor(256, 511, 0x1234);  // only the low 8 bits count
    EXPECT_EQ(device->GetClearColorWord(), 0xFF00FF34u);
    device->ClearFrame(0);
    frame = device->ReadFrame();
    EXPECT_EQ(Rgb(frame, 5, 5), 0x00FF34u);
}

TEST(Device, ClearingWithoutDepthKeepsTheDepthBuffer) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(32, 32);
    ASSERT_TRUE(device);
    const Bytes red = QuadrantPage32(0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000);
    const Bytes blue = QuadrantPage32(0x0000FF, 0x0000FF, 0x0000FF, 0x0000FF);
    dxTexture* r = device->CreateTextureFromPixels(256, 256, 21, red.data());
    dxTexture* b = device->CreateTextureFromPixels(256, 256, 21, blue.data());
    dxBufferTextura nearMesh, farMesh;
    nearMesh.AddPolygon(ScreenQuad(r, -1, -1, 1, 1, 0.2f));
    farMesh.AddPolygon(ScreenQuad(b, -1, -1, 1, 1, 0.6f));
    ASSERT_EQ(device->UploadMesh(&nearMesh), S_OK);
    ASSERT_EQ(device->UploadMesh(&farMesh), S_OK);

    device->ClearFrame(1);
    device->DrawMesh(&nearMesh, 0);
    device->ClearFrame(0);  // colour only: the near quad's depth stays
    device->DrawMesh(&farMesh, 0);
    EXPECT_EQ(Rgb(device->ReadFrame(), 16, 16), 0xFFFFFFu);
    device->ClearFrame(1);
    device->DrawMesh(&farMesh, 0);
    EXPECT_EQ(Rgb(device->ReadFrame(), 16, 16), 0x0000FFu);
    ReleaseTexture(r);
    ReleaseTexture(b);
}

TEST(Device, TexturesNeedAKnownFormatAndPixels) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice();
    ASSERT_TRUE(device);
    const Bytes page = QuadrantPage32(0, 0, 0, 0);
    EXPECT_EQ(device->CreateTextureFromPixels(256, 256, 22, page.data()), nullptr);
    EXPECT_EQ(device->CreateTextureFromPixels(256, 256, 21, nullptr), nullptr);
    EXPECT_EQ(device->CreateTextureFromPixels(0, 256, 21, page.data()), nullptr);
    EXPECT_EQ(device->LiveTextureCount(), 0);
    dxTexture* t = device->CreateTextureFromPixels(256, 256, 21, page.data());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(device->LiveTextureCount(), 1);
    ReleaseTexture(t);
    EXPECT_EQ(device->LiveTextureCount(), 0);
}

TEST(Device, UploadNeedsSomethingNewAndReplacesTheOldBuffer) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->UploadMesh(nullptr), E_FAIL);
    dxBufferTextura empty;
    EXPECT_EQ(device->UploadMesh(&empty), E_FAIL);
    EXPECT_EQ(empty.GetVertexBuffer(), nullptr);
    EXPECT_EQ(DrawFrame(*device, empty).pixel(1, 1) & 0xFFFFFFu, 0xFFFFFFu);
    EXPECT_EQ(device->DrawMesh(nullptr, 0), E_FAIL);

    dxBufferTextura mesh;
    mesh.AddPolygon(ScreenQuad(nullptr, -1, -1, 1, 1));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    EXPECT_FALSE(mesh.IsDirty());
    EXPECT_EQ(device->UploadMesh(&mesh), E_FAIL);  // nothing new
    mesh.AddPolygon(ScreenQuad(nullptr, -1, -1, 0, 0));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    EXPECT_EQ(device->LiveVertexBufferCount(), 1);  // the first buffer was released
}

TEST(Device, MeshesAndTexturesMayOutliveTheDevice) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice();
    ASSERT_TRUE(device);
    const Bytes page = QuadrantPage32(0, 0, 0, 0);
    dxTexture* t = device->CreateTextureFromPixels(256, 256, 21, page.data());
    auto mesh = std::make_unique<dxBufferTextura>();
    mesh->AddPolygon(ScreenQuad(t, -1, -1, 1, 1));
    ASSERT_EQ(device->UploadMesh(mesh.get()), S_OK);
    device.reset();
    mesh.reset();  // releases its buffer without a context
    ReleaseTexture(t);
}

}  // namespace
}  // namespace rendertest
