#pragma once
// Format codes and the opaque resource handles shared by the render layer's public headers. No
// graphics API header is included here or in any public header.
#include <cstdint>
#include <memory>

namespace tr4 {

// Texture formats, by their Direct3D numbers.
inline constexpr int D3DFMT_A8R8G8B8 = 21;  // 4 bytes a texel: blue, green, red, alpha
inline constexpr int D3DFMT_X1R5G5B5 =
    24;  // little-endian word, bit 15 unused, 5-5-5 red-green-blue

// A texture made by dxDevice8::CreateTextureFromPixels. Opaque: it keeps a system-memory copy of
// its pixels, so it survives the loss of the device's context. Given up when its handle goes,
// before or after the device.
class dxTexture;
struct TextureRelease {
    void operator()(dxTexture* texture) const;
};
using TexturePtr = std::unique_ptr<dxTexture, TextureRelease>;

// A vertex buffer made by dxDevice8::UploadMesh: a mesh's faces on the device. Given up when its
// handle goes, before or after the device.
class dxVertexBuffer;
struct VertexBufferRelease {
    void operator()(dxVertexBuffer* buffer) const;
};
using VertexBufferPtr = std::unique_ptr<dxVertexBuffer, VertexBufferRelease>;

}  // namespace tr4
