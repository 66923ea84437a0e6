// The graphics system and the device's frame operations.
#include "RenderFixture.h"

using namespace tr4;

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

    // A new size takes effect with the next frame; until then the last frame can be read.
    device->SetOffscreenSize(QSize(16, 8));
    EXPECT_EQ(device->ReadFrame().size(), QSize(32, 24));
    EXPECT_EQ(Rgb(device->ReadFrame(), 5, 5), 0x00FF34u);
    device->ClearFrame(1);
    EXPECT_EQ(device->ReadFrame().size(), QSize(16, 8));
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

namespace rendertest {
namespace {

// A width x height texture of one colour, format 21.
dxTexture* SolidTexture(dxDevice8& device, uint32_t rgb, int width = 256, int height = 256) {
    Bytes pixels(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = rgb & 0xFF;
        pixels[i + 1] = (rgb >> 8) & 0xFF;
        pixels[i + 2] = (rgb >> 16) & 0xFF;
        pixels[i + 3] = 0xFF;
    }
    return device.CreateTextureFromPixels(width, height, 21, pixels.data());
}

TEST(DeviceTextures, ManyPagesAndOtherSizesEachShowTheirOwnTexels) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(64, 64);
    ASSERT_TRUE(device);
    // More pages than fit at first, so the store of pages grows while meshes exist.
    std::vector<dxTexture*> pages;
    for (uint32_t i = 0; i < 40; ++i) pages.push_back(SolidTexture(*device, 0x010203u * i));
    dxTexture* small = SolidTexture(*device, 0x123456, 8, 4);
    ASSERT_NE(small, nullptr);
    dxBufferTextura mesh;
    mesh.AddPolygon(ScreenQuad(pages[39], 0.5f, -1, 1, 1));
    mesh.AddPolygon(ScreenQuad(small, 0, -1, 0.5f, 1));
    mesh.AddPolygon(ScreenQuad(pages[20], -0.5f, -1, 0, 1));
    mesh.AddPolygon(ScreenQuad(pages[1], -1, -1, -0.5f, 1));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    for (uint32_t i = 40; i < 70; ++i) pages.push_back(SolidTexture(*device, 0x010203u * i));
    const QImage frame = DrawFrame(*device, mesh);
    EXPECT_EQ(Rgb(frame, 8, 32), 0x010203u);
    EXPECT_EQ(Rgb(frame, 24, 32), 0x010203u * 20);
    EXPECT_EQ(Rgb(frame, 40, 32), 0x123456u);
    EXPECT_EQ(Rgb(frame, 56, 32), 0x010203u * 39);
    for (dxTexture* t : pages) ReleaseTexture(t);
    ReleaseTexture(small);
}

TEST(DeviceTextures, AFaceWhoseTextureWasReleasedShowsNoOtherTexture) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(64, 64);
    ASSERT_TRUE(device);
    dxTexture* red = SolidTexture(*device, 0xFF0000);
    dxBufferTextura mesh;
    mesh.AddPolygon(ScreenQuad(red, -1, -1, 1, 1));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    ASSERT_EQ(Rgb(DrawFrame(*device, mesh), 32, 32), 0xFF0000u);
    ReleaseTexture(red);
    // The next texture may take the place the released one had; the face must not show it.
    dxTexture* blue = SolidTexture(*device, 0x0000FF);
    EXPECT_EQ(Rgb(DrawFrame(*device, mesh), 32, 32), 0x808080u);
    ReleaseTexture(blue);
}

}  // namespace
}  // namespace rendertest
