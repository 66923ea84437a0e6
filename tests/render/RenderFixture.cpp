#include "RenderFixture.h"

namespace rendertest {

namespace {
dxMain* gSystem = nullptr;
}

void SetSystem(dxMain* system) {
    gSystem = system;
}
dxMain* System() {
    return gSystem;
}

std::unique_ptr<dxDevice8> MakeDevice(int width, int height) {
    std::unique_ptr<dxDevice8> device;
    if (gSystem == nullptr) return device;
    std::string why;
    EXPECT_TRUE(gSystem->CreateRenderDevice(nullptr, device, why, QSize(width, height))) << why;
    if (device) device->SetClearColor(255, 255, 255);
    return device;
}

Bytes QuadrantPage32(uint32_t tl, uint32_t tr, uint32_t bl, uint32_t br) {
    Bytes page(256 * 256 * 4);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const uint32_t c = y < 128 ? (x < 128 ? tl : tr) : (x < 128 ? bl : br);
            uint8_t* t = &page[(y * 256 + x) * 4];
            t[0] = c & 0xFF;  // blue, green, red, alpha in memory
            t[1] = (c >> 8) & 0xFF;
            t[2] = (c >> 16) & 0xFF;
            t[3] = 0xFF;
        }
    }
    return page;
}

Bytes QuadrantPage16(uint16_t tl, uint16_t tr, uint16_t bl, uint16_t br) {
    Bytes page(256 * 256 * 2);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const uint16_t c = y < 128 ? (x < 128 ? tl : tr) : (x < 128 ? bl : br);
            page[(y * 256 + x) * 2] = c & 0xFF;  // little-endian word
            page[(y * 256 + x) * 2 + 1] = c >> 8;
        }
    }
    return page;
}

uint32_t Rgb(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFFu;
}

int CountNonWhite(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (Rgb(image, x, y) != 0xFFFFFFu) ++n;
    return n;
}

void AddScreenQuad(MeshGeometry& mesh, dxTexture* texture, float x0, float y0, float x1, float y1,
                   float z, int flags) {
    // Top-left, top-right, bottom-right, bottom-left.
    const GpuVertex corners[4] = {
        {x0, y1, z, 0, 0, 0}, {x1, y1, z, 1, 0, 0}, {x1, y0, z, 1, 1, 0}, {x0, y0, z, 0, 1, 0}};
    AppendFace(mesh, corners, texture, flags);
}

void AddTriangle(MeshGeometry& mesh, dxTexture* texture, float x0, float y0, float x1, float y1,
                 float x2, float y2, int flags) {
    const GpuVertex corners[3] = {
        {x0, y0, 0.5f, 0, 0, 0}, {x1, y1, 0.5f, 1, 0, 0}, {x2, y2, 0.5f, 0, 1, 0}};
    AppendFace(mesh, corners, texture, flags);
}

VertexBufferPtr Upload(dxDevice8& device, MeshGeometry mesh) {
    VertexBufferPtr buffer;
    std::string why;
    EXPECT_TRUE(device.UploadMesh(std::move(mesh), buffer, why)) << why;
    return buffer;
}

QImage DrawFrame(dxDevice8& device, const dxVertexBuffer* mesh, int mode) {
    device.ClearFrame(true);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    std::string why;
    EXPECT_TRUE(device.DrawMesh(mesh, identity, mode, why)) << why;
    EXPECT_TRUE(device.PresentFrame(why)) << why;
    return device.ReadFrame();
}

OneRectangleLevel::OneRectangleLevel(int16_t size) : list(std::make_unique<tr4::Lista_Mesh>()) {
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
    const int16_t s = size;
    r->vertices = {{static_cast<int16_t>(-s), static_cast<int16_t>(-s), 5},
                   {s, static_cast<int16_t>(-s), 5},
                   {s, s, 5},
                   {static_cast<int16_t>(-s), s, 5}};
    r->vertexCount = 4;
    r->rectangles = {{{0, 1, 2, 3}, 0, 0}};
    r->rectangleCount = 1;
    list->Add(std::move(r));
}

}  // namespace rendertest
