#pragma once
// Shared pieces of the device tests: the one graphics system of the test process, offscreen
// devices, test pages and pixel look-ups.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include <QImage>

#include "Level.h"
#include "MeshList.h"
#include "RenderMesh.h"
#include "dxDevice8.h"
#include "dxMain.h"

namespace rendertest {

// The helpers speak the render layer's names.
using namespace tr4;

// Made in main() after the QGuiApplication; null when no display could be had.
dxMain* System();

// An offscreen device of the given size with white clear colour.
std::unique_ptr<dxDevice8> MakeDevice(int width = 64, int height = 64);

// Skips the test with the reason when the graphics system is unavailable.
#define REQUIRE_GRAPHICS()                                                    \
    if (rendertest::System() == nullptr) GTEST_SKIP() << "no OpenGL display"; \
    static_assert(true)

using Bytes = std::vector<uint8_t>;

// 256 x 256 pages whose quadrants are four colours (0xRRGGBB): top-left, top-right,
// bottom-left, bottom-right.
Bytes QuadrantPage32(uint32_t tl, uint32_t tr, uint32_t bl, uint32_t br);
// The same from 16-bit words as they lie in the page.
Bytes QuadrantPage16(uint16_t tl, uint16_t tr, uint16_t bl, uint16_t br);

// 0xRRGGBB of the pixel (top row first).
uint32_t Rgb(const QImage& image, int x, int y);
// Pixels of the image whose colour is not white.
int CountNonWhite(const QImage& image);

// Appends a textured rectangle over (x0, y0)-(x1, y1) at depth z, wound clockwise on screen,
// mapping the whole texture (top-left of the texture at the top-left corner).
void AddScreenQuad(MeshGeometry& mesh, dxTexture* texture, float x0, float y0, float x1, float y1,
                   float z = 0.5f, int flags = kDrawCullCCW);
// Appends a triangle at depth 0.5 mapping the texture's top-left, top-right and bottom-left.
void AddTriangle(MeshGeometry& mesh, dxTexture* texture, float x0, float y0, float x1, float y1,
                 float x2, float y2, int flags);

// The mesh on the device (a failed upload fails the test and gives none).
VertexBufferPtr Upload(dxDevice8& device, MeshGeometry mesh);

// One clear, one draw with mode and the identity transform, so positions are clip coordinates
// (x, y in -1..1, y up; depth z in 0..1), one present; returns the frame.
QImage DrawFrame(dxDevice8& device, const dxVertexBuffer* mesh, int mode = 0);

// A level of one rectangle on a page of four colours (red, green, blue, yellow quadrants), its
// corners at level (-size, -size) .. (size, size), depth 5 (0.5 in view units), mapping the whole
// page; the same for the tests of pages, meshes, the scene and a lost device.
struct OneRectangleLevel {
    explicit OneRectangleLevel(int16_t size = 8);
    tr4::Level level;
    std::unique_ptr<tr4::Lista_Mesh> list;
};

}  // namespace rendertest
