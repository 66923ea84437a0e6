#pragma once
// dxDevice8: the render device. Keeps the clear colour; clears, draws meshes and presents; makes
// textures and vertex buffers. It keeps no camera: each draw is given its whole transform (the
// viewer's frame composes it, see MeshView.h).
//
// Made only by dxMain::CreateRenderDevice. Drawing happens into a framebuffer object of the
// target's size; PresentFrame shows it in the window (when there is one) and ReadFrame reads it
// back, so offscreen pictures are the viewer's pictures.
//
// Resources are "managed": every texture and vertex buffer keeps a system-memory copy, so after
// the context is lost, ResetDevice recreates the context and every live resource on it without
// their owners doing anything.
//
// Lifetime: a texture or vertex buffer released after the device is gone only frees its memory.
// Single thread (the GUI thread).
#include <cstdint>
#include <memory>
#include <string>

#include <QImage>
#include <QSize>

#include "D3DXMath.h"
#include "RenderMesh.h"
#include "RenderTypes.h"

class QWindow;

namespace tr4 {

struct MeshGeometry;

class dxDevice8 {
  public:
    ~dxDevice8();
    dxDevice8(const dxDevice8&) = delete;
    dxDevice8& operator=(const dxDevice8&) = delete;

    // True when the device has a context (it may still be lost; see IsLost).
    bool HasDevice() const;
    // Why the device has no context (empty when it has one) or could not make its programs, and
    // the last shader compile and program link logs, for the person told that 3-D display is
    // unavailable.
    const std::string& LastError() const;
    // The last OpenGL error met while making or uploading something, with what was being done.
    const std::string& LastGlError() const;
    const std::string& ShaderLog() const;
    const std::string& ProgramLog() const;
    // True after a loss was seen (or forced) and until a ResetDevice succeeds.
    bool IsLost() const;

    // Only the low 8 bits of each component count.
    void SetClearColor(int32_t red, int32_t green, int32_t blue);
    // Clears the frame to the clear colour, opaque; with clearDepth also the depth to 1.0.
    // Follows the window's size first. Nothing happens without a usable context.
    void ClearFrame(bool clearDepth);
    // Shows the frame in the window (offscreen: finishes it). False, with why, when the context
    // is lost: it cannot be made current, or it reports a reset. The caller then resets the
    // device.
    bool PresentFrame(std::string& error);
    // The drawing programs are made by the first draw, and a frame of the clear colour alone is
    // shown by clearing the window, any other by copying it, which a software driver prepares
    // for at its first use (tens of milliseconds each). This makes the programs and, drawing
    // into a window, does that first copy without showing anything: for when nobody waits on
    // the device, such as right after a window's first frame. False, with why, when the driver
    // refuses the programs (then every draw fails the same way); a lost device is left to the
    // next frame.
    bool PrepareToDraw(std::string& error);
    // Makes the device usable again after a loss: a new context on the same surface, with every
    // live texture and vertex buffer recreated from its copy. True when the device is usable
    // (also when nothing was lost); false, with why, when it is still lost.
    bool ResetDevice(std::string& error);

    // A width x height texture of format 21 (4 bytes a texel) or 24 (2 bytes a texel) from
    // height rows of tightly packed texels; level 0 only, sampled bilinearly. None for another
    // format, a size below 1, null pixels or no device; while the context is lost the texture is
    // made from its copy at the next ResetDevice.
    TexturePtr CreateTextureFromPixels(int width, int height, int format, const void* pixels);
    // The same without a copy of the pixels: they serve as the texture's system-memory copy, so
    // they must stay alive and unchanged for as long as the texture does (a level's page block,
    // which outlives its pages).
    TexturePtr CreateTextureOnPixels(int width, int height, int format, const void* pixels);
    // Says that count textures of the page size (256 x 256) follow, as a level's pages do, so
    // room for them all is made at once instead of growing as they come. Makes nothing else.
    void ReservePageTextures(int count);

    // Puts the mesh on the device: out holds its vertex buffer (a mesh without faces gets one
    // that draws nothing). False, with why and out untouched, without a device or when the
    // driver refuses the buffer; while the context is lost the buffer is made at the next
    // ResetDevice.
    bool UploadMesh(MeshGeometry&& mesh, VertexBufferPtr& out, std::string& error);
    // Draws the mesh face by face in its order, each vertex carried by transform (row vectors:
    // the world, then the view, then the projection, already multiplied). mode 2: every face as
    // untextured wireframe. False, with why, for no mesh, a mesh not on the device or an
    // unusable context.
    bool DrawMesh(const dxVertexBuffer* mesh, const D3DXMATRIX& transform, int mode,
                  std::string& error);

    // The last drawn frame, top row first (QImage::Format_RGB32). Null image without a context.
    QImage ReadFrame();
    // Size of the frame in pixels (the window's in device pixels, or the offscreen size).
    QSize FrameSize() const;
    // Offscreen devices only: a new frame size (the window follows its own size).
    void SetOffscreenSize(QSize size);

    uint32_t GetClearColorWord() const;

    // Destroys the context as a driver reset would, with every graphics object on it; the
    // system-memory copies stay. For tests of the loss path (and the viewer's).
    void LoseContext();

    // Packs the page-size textures still alive into a store of just their number (but never
    // less than the store a device is made with), when that is smaller than the store: after a
    // level's pages have replaced another's, which were made beside them. Faces keep their
    // textures; what they sample moves with them.
    void TrimPageStore();
    // Makes the store a device otherwise starts with (64 layers) when its creation left it for
    // later, unless one at least as large is there already; later calls do nothing.
    void MakePageStore();
    // Layers the store of page-size textures holds on the card (one is the grey of faces without
    // texture); 0 without a usable context.
    int PageStoreLayers() const;

    // Number of live textures and vertex buffers made by this device.
    int LiveTextureCount() const;
    int LiveVertexBufferCount() const;

    // The next count uploads fail as a driver that refuses them would: for tests of that path.
    void FailUploads(int count);
    // The next making of the programs (PrepareToDraw or a draw) fails as a driver that refuses
    // a shader would: for tests of that path.
    void FailPrograms();

    struct Impl;  // graphics objects; defined where the graphics API is used

  private:
    friend class dxMain;
    dxDevice8();
    TexturePtr MakeTexture(int width, int height, int format, const void* pixels, bool copy);

    std::unique_ptr<Impl> impl;
    int32_t clearRed = 0, clearGreen = 0, clearBlue = 0;
};

}  // namespace tr4
