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
    EXPECT_EQ(gSystem->CreateRenderDevice(nullptr, 1, device, QSize(width, height)), S_OK);
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

std::unique_ptr<dxCuadradoTex> ScreenQuad(dxTexture* texture, float x0, float y0, float x1,
                                          float y1, float z, int flags) {
    // Corners A (top-left), B (top-right), C (bottom-right), D (bottom-left) go into the strip
    // slots as A, B, D, C.
    auto q = std::make_unique<dxCuadradoTex>(flags);
    q->AddVertex(x0, y1, z);
    q->AddVertex(x1, y1, z);
    q->AddVertex(x0, y0, z);
    q->AddVertex(x1, y0, z);
    q->SetTextureMapping(texture, 0, 0, 1, 0, 0, 1, 1, 1);
    return q;
}

QImage DrawFrame(dxDevice8& device, dxBufferColor8& mesh, int mode) {
    device.ClearFrame(1);
    EXPECT_EQ(device.DrawMesh(&mesh, mode), S_OK);
    EXPECT_EQ(device.PresentFrame(), S_OK);
    return device.ReadFrame();
}

}  // namespace rendertest
