#pragma once
// Result codes, format codes, presentation records and the opaque resource handles shared by the
// render layer's public headers. No graphics API header is included here or in any public header.
#include <cstdint>

namespace tr4 {

// Result codes of the graphics side: 0 for success, E_FAIL for failure.
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);

// Texture formats, by their Direct3D numbers.
inline constexpr int D3DFMT_A8R8G8B8 = 21;  // 4 bytes a texel: blue, green, red, alpha
inline constexpr int D3DFMT_X8R8G8B8 = 22;  // display format of a 24/32-bit screen
inline constexpr int D3DFMT_X1R5G5B5 =
    24;                                   // little-endian word, bit 15 unused, 5-5-5 red-green-blue
inline constexpr int D3DFMT_R5G6B5 = 23;  // display format of a 16-bit screen
inline constexpr int D3DFMT_D16 = 80;

// The 13 presentation fields, as the device creation and a reset receive them.
struct PresentParameters {
    uint32_t BackBufferWidth = 0;
    uint32_t BackBufferHeight = 0;
    uint32_t BackBufferFormat = 0;
    uint32_t BackBufferCount = 0;
    uint32_t MultiSampleType = 0;
    uint32_t SwapEffect = 0;
    uint32_t hDeviceWindow = 0;
    uint32_t Windowed = 0;
    uint32_t EnableAutoDepthStencil = 0;
    uint32_t AutoDepthStencilFormat = 0;
    uint32_t Flags = 0;
    uint32_t FullScreen_RefreshRateInHz = 0;
    uint32_t FullScreen_PresentationInterval = 0;
};

struct DisplayMode {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t RefreshRate = 0;
    uint32_t Format = 0;
};

// A texture made by dxDevice8::CreateTextureFromPixels. Opaque: it keeps a system-memory copy of
// its pixels, so it survives the loss of the device's context. Whoever received it gives it up
// with ReleaseTexture, which is safe before and after the device is destroyed.
class dxTexture;
void ReleaseTexture(dxTexture* texture);  // none is allowed

// A vertex buffer made by dxDevice8::UploadMesh, held by the mesh it was made for (which gives it
// up with ReleaseVertexBuffer in its destructor; safe after the device is gone).
class dxVertexBuffer;
void ReleaseVertexBuffer(dxVertexBuffer* buffer);  // none is allowed

}  // namespace tr4
