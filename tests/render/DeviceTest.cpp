// The graphics system and the device's frame operations.
#include "RenderFixture.h"

#include <functional>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

using namespace tr4;

namespace rendertest {
namespace {

TEST(Device, SystemReportsWhatTheContextCanDo) {
    REQUIRE_GRAPHICS();
    EXPECT_FALSE(System()->RendererString().empty());
    EXPECT_TRUE(System()->IsTextureFormatSupported(21));
    EXPECT_TRUE(System()->IsTextureFormatSupported(24));
    EXPECT_FALSE(System()->IsTextureFormatSupported(22));
}

TEST(Device, RefusesToCreateADeviceBeforeTheSystem) {
    REQUIRE_GRAPHICS();
    dxMain fresh;
    std::unique_ptr<dxDevice8> device;
    std::string why;
    EXPECT_FALSE(fresh.CreateRenderDevice(nullptr, device, why));
    EXPECT_EQ(why, "the graphics system was not created");
    EXPECT_EQ(device, nullptr);
}

TEST(Device, ClearsToTheLowBytesOfTheClearColour) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(32, 24);
    ASSERT_TRUE(device && device->HasDevice());
    EXPECT_EQ(device->FrameSize(), QSize(32, 24));
    EXPECT_EQ(device->GetClearColorWord(), 0xFFFFFFFFu);
    device->ClearFrame(true);
    std::string why;
    ASSERT_TRUE(device->PresentFrame(why)) << why;
    QImage frame = device->ReadFrame();
    ASSERT_EQ(frame.size(), QSize(32, 24));
    EXPECT_EQ(Rgb(frame, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(frame, 31, 23), 0xFFFFFFu);

    device->SetClearColor(256, 511, 0x1234);  // only the low 8 bits count
    EXPECT_EQ(device->GetClearColorWord(), 0xFF00FF34u);
    device->ClearFrame(false);
    frame = device->ReadFrame();
    EXPECT_EQ(Rgb(frame, 5, 5), 0x00FF34u);

    // A new size takes effect with the next frame; until then the last frame can be read.
    device->SetOffscreenSize(QSize(16, 8));
    EXPECT_EQ(device->ReadFrame().size(), QSize(32, 24));
    EXPECT_EQ(Rgb(device->ReadFrame(), 5, 5), 0x00FF34u);
    device->ClearFrame(true);
    EXPECT_EQ(device->ReadFrame().size(), QSize(16, 8));
}

TEST(Device, ClearingWithoutDepthKeepsTheDepthBuffer) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(32, 32);
    ASSERT_TRUE(device);
    const Bytes red = QuadrantPage32(0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000);
    const Bytes blue = QuadrantPage32(0x0000FF, 0x0000FF, 0x0000FF, 0x0000FF);
    const TexturePtr r = device->CreateTextureFromPixels(256, 256, 21, red.data());
    const TexturePtr b = device->CreateTextureFromPixels(256, 256, 21, blue.data());
    MeshGeometry nearQuad, farQuad;
    AddScreenQuad(nearQuad, r.get(), -1, -1, 1, 1, 0.2f);
    AddScreenQuad(farQuad, b.get(), -1, -1, 1, 1, 0.6f);
    const VertexBufferPtr nearMesh = Upload(*device, std::move(nearQuad));
    const VertexBufferPtr farMesh = Upload(*device, std::move(farQuad));
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    std::string why;

    device->ClearFrame(true);
    EXPECT_TRUE(device->DrawMesh(nearMesh.get(), identity, 0, why));
    device->ClearFrame(false);  // colour only: the near quad's depth stays
    EXPECT_TRUE(device->DrawMesh(farMesh.get(), identity, 0, why));
    EXPECT_EQ(Rgb(device->ReadFrame(), 16, 16), 0xFFFFFFu);
    device->ClearFrame(true);
    EXPECT_TRUE(device->DrawMesh(farMesh.get(), identity, 0, why));
    EXPECT_EQ(Rgb(device->ReadFrame(), 16, 16), 0x0000FFu);
}

// Whether the condition holds within a few seconds, the display's events handled meanwhile.
bool Eventually(const std::function<bool()>& condition) {
    const QDeadlineTimer deadline(5000);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// What the display holds of the window.
QImage OnScreen(const QWindow& window) {
    return window.screen()
        ->grabWindow(window.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// A frame of the clear colour alone is shown without being copied (the window is cleared to
// it), any other is copied; either way the display holds what ReadFrame gives, and a copy
// prepared ahead (PrepareToDraw) shows nothing.
TEST(Device, AWindowShowsTheFramesItPresents) {
    REQUIRE_GRAPHICS();
    QWindow window;
    window.setSurfaceType(QSurface::OpenGLSurface);
    window.resize(48, 40);
    window.show();
    ASSERT_TRUE(Eventually([&] { return window.isExposed(); }));
    std::unique_ptr<dxDevice8> device;
    std::string why;
    ASSERT_TRUE(System()->CreateRenderDevice(&window, device, why)) << why;
    ASSERT_EQ(device->FrameSize(), QSize(48, 40) * window.devicePixelRatio());
    QImage blue(device->FrameSize(), QImage::Format_RGB32);
    blue.fill(0xFF2080C0u);

    device->SetClearColor(0x20, 0x80, 0xC0);
    device->ClearFrame(true);
    ASSERT_TRUE(device->PresentFrame(why)) << why;
    EXPECT_EQ(device->ReadFrame(), blue);
    EXPECT_TRUE(Eventually([&] { return OnScreen(window) == blue; }));

    // Drawn but not yet presented: a copy prepared ahead leaves the display as it was.
    MeshGeometry leftHalf;
    AddScreenQuad(leftHalf, nullptr, -1, -1, 0, 1);
    const VertexBufferPtr mesh = Upload(*device, std::move(leftHalf));
    device->ClearFrame(true);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    ASSERT_TRUE(device->DrawMesh(mesh.get(), identity, 0, why)) << why;
    ASSERT_TRUE(device->PrepareToDraw(why)) << why;
    QCoreApplication::processEvents();
    EXPECT_EQ(OnScreen(window), blue);

    ASSERT_TRUE(device->PresentFrame(why)) << why;
    const QImage drawn = device->ReadFrame();
    EXPECT_EQ(Rgb(drawn, 4, 20), 0x808080u);
    EXPECT_EQ(Rgb(drawn, 44, 20), 0x2080C0u);
    EXPECT_TRUE(Eventually([&] { return OnScreen(window) == drawn; }));

    device->ClearFrame(true);
    ASSERT_TRUE(device->PresentFrame(why)) << why;
    EXPECT_TRUE(Eventually([&] { return OnScreen(window) == blue; }));
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
    TexturePtr t = device->CreateTextureFromPixels(256, 256, 21, page.data());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(device->LiveTextureCount(), 1);
    t.reset();
    EXPECT_EQ(device->LiveTextureCount(), 0);
}

TEST(Device, AnUploadTheDriverRefusesIsAFailureAndDrawsNothing) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice();
    ASSERT_TRUE(device);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    std::string why;
    EXPECT_FALSE(device->DrawMesh(nullptr, identity, 0, why));
    EXPECT_EQ(why, "there is no mesh to draw");

    // A mesh without faces is on the device all the same, and draws nothing.
    const VertexBufferPtr empty = Upload(*device, MeshGeometry{});
    ASSERT_TRUE(empty);
    EXPECT_EQ(CountNonWhite(DrawFrame(*device, empty.get())), 0);

    MeshGeometry quad;
    AddScreenQuad(quad, nullptr, -1, -1, 1, 1);
    device->FailUploads(1);
    VertexBufferPtr refused;
    why.clear();
    EXPECT_FALSE(device->UploadMesh(MeshGeometry(quad), refused, why));
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(why, "uploading a vertex buffer gave GL_OUT_OF_MEMORY");
    EXPECT_EQ(device->LiveVertexBufferCount(), 1);  // only the empty one
    // The next upload of the same mesh is taken, and draws it grey.
    const VertexBufferPtr taken = Upload(*device, std::move(quad));
    ASSERT_TRUE(taken);
    EXPECT_EQ(Rgb(DrawFrame(*device, taken.get()), 32, 32), 0x808080u);
    EXPECT_EQ(device->LiveVertexBufferCount(), 2);
}

// The programs are made by the first draw: a driver refusing them fails that draw, and only
// that, with the compiler's reason; frames that only clear need none.
TEST(Device, RefusedProgramsFailTheDrawThatNeedsThem) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(32, 32);
    ASSERT_TRUE(device);
    MeshGeometry quad;
    AddScreenQuad(quad, nullptr, -1, -1, 1, 1);
    const VertexBufferPtr mesh = Upload(*device, std::move(quad));
    device->FailPrograms();
    device->ClearFrame(true);
    std::string why;
    ASSERT_TRUE(device->PresentFrame(why)) << why;
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    EXPECT_FALSE(device->DrawMesh(mesh.get(), identity, 0, why));
    EXPECT_EQ(why.rfind("a shader does not compile: ", 0), 0u) << why;
    EXPECT_FALSE(device->ShaderLog().empty());
    EXPECT_EQ(CountNonWhite(device->ReadFrame()), 0);
    EXPECT_EQ(Rgb(DrawFrame(*device, mesh.get()), 16, 16), 0x808080u);
}

TEST(Device, MeshesAndTexturesMayOutliveTheDevice) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice();
    ASSERT_TRUE(device);
    const Bytes page = QuadrantPage32(0, 0, 0, 0);
    TexturePtr t = device->CreateTextureFromPixels(256, 256, 21, page.data());
    MeshGeometry quad;
    AddScreenQuad(quad, t.get(), -1, -1, 1, 1);
    VertexBufferPtr mesh = Upload(*device, std::move(quad));
    ASSERT_TRUE(mesh);
    device.reset();
    mesh.reset();  // releases its buffer without a context
    t.reset();
}

}  // namespace
}  // namespace rendertest

namespace rendertest {
namespace {

// A width x height texture of one colour, format 21.
TexturePtr SolidTexture(dxDevice8& device, uint32_t rgb, int width = 256, int height = 256) {
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
    std::vector<TexturePtr> pages;
    for (uint32_t i = 0; i < 40; ++i) pages.push_back(SolidTexture(*device, 0x010203u * i));
    const TexturePtr small = SolidTexture(*device, 0x123456, 8, 4);
    ASSERT_NE(small, nullptr);
    MeshGeometry columns;
    AddScreenQuad(columns, pages[39].get(), 0.5f, -1, 1, 1);
    AddScreenQuad(columns, small.get(), 0, -1, 0.5f, 1);
    AddScreenQuad(columns, pages[20].get(), -0.5f, -1, 0, 1);
    AddScreenQuad(columns, pages[1].get(), -1, -1, -0.5f, 1);
    const VertexBufferPtr mesh = Upload(*device, std::move(columns));
    for (uint32_t i = 40; i < 70; ++i) pages.push_back(SolidTexture(*device, 0x010203u * i));
    const QImage frame = DrawFrame(*device, mesh.get());
    EXPECT_EQ(Rgb(frame, 8, 32), 0x010203u);
    EXPECT_EQ(Rgb(frame, 24, 32), 0x010203u * 20);
    EXPECT_EQ(Rgb(frame, 40, 32), 0x123456u);
    EXPECT_EQ(Rgb(frame, 56, 32), 0x010203u * 39);
}

TEST(DeviceTextures, AFaceWhoseTextureWasReleasedShowsNoOtherTexture) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(64, 64);
    ASSERT_TRUE(device);
    TexturePtr red = SolidTexture(*device, 0xFF0000);
    MeshGeometry quad;
    AddScreenQuad(quad, red.get(), -1, -1, 1, 1);
    const VertexBufferPtr mesh = Upload(*device, std::move(quad));
    ASSERT_EQ(Rgb(DrawFrame(*device, mesh.get()), 32, 32), 0xFF0000u);
    red.reset();
    // The next texture may take the place the released one had; the face must not show it.
    const TexturePtr blue = SolidTexture(*device, 0x0000FF);
    EXPECT_EQ(Rgb(DrawFrame(*device, mesh.get()), 32, 32), 0x808080u);
}

}  // namespace
}  // namespace rendertest
