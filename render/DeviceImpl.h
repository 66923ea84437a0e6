#pragma once
// Private to the render layer: the graphics objects behind dxDevice8, dxTexture and
// dxVertexBuffer. This is the only header that brings in OpenGL.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QPointer>
#include <QSize>
#include <QSurfaceFormat>
#include <QWindow>

#include "RenderMesh.h"
#include "dxDevice8.h"

namespace tr4 {

// Where a vertex's colour comes from (the layer field of GpuVertex): a layer of the page array,
// whose layer 0 is kept plain grey for faces without texture, or the face's own texture.
inline constexpr int32_t kLayerPlain = 0;
inline constexpr int32_t kLayerStandalone = -1;

// Textures of the page size live as layers of one array texture, so faces on different pages can
// be drawn in one call; any other size is a texture of its own.
inline constexpr int kArrayTextureSize = 256;
// Layers of the store a context is made with, the grey one included, and the least it is cut
// back to: room for a level of up to 63 pages (16 MiB). Drivers fill fresh storage before it is
// used, about as long as uploading into it; a store made with the context, while nothing waits
// on it, leaves a level's first build only its uploads, and the next level, built beside the
// last, fits beside it without the store growing.
inline constexpr int kPageStoreFloor = 64;

class dxTexture {
  public:
    dxDevice8::Impl* owner = nullptr;  // none once the device is gone
    int layer = 0;  // its layer of the page array (1 and up), or 0: a texture of its own
    GLuint id = 0;  // a texture of its own: 0 while the context is lost (or the upload failed)
    int width = 0;
    int height = 0;
    int format = 0;
    std::vector<uint8_t> pixels;        // the managed copy
    const uint8_t* borrowed = nullptr;  // or the caller's pixels, standing in for it
    const uint8_t* Pixels() const { return borrowed ? borrowed : pixels.data(); }
};

class dxVertexBuffer {
  public:
    dxDevice8::Impl* owner = nullptr;
    GLuint id = 0;                    // 0 while the context is lost, and for a mesh without faces
    std::vector<GpuVertex> vertices;  // the managed copy
    bool stale = false;               // the copy changed since it was uploaded
    std::vector<GpuFace> faces;
};

// The context settings every context of the render layer asks for.
QSurfaceFormat RenderSurfaceFormat();
// Called whenever a context is asked for. Builds with AddressSanitizer keep every library loaded
// by then (the OpenGL driver and what it brought in) until the process ends; other builds do
// nothing here. Unloaded at exit, the driver's globals are no longer scanned, so LeakSanitizer
// would take the blocks they hold for leaks, and name the code that made them after whatever is
// mapped where the driver was by then.
void KeepDriverForLeakCheck();
// Page layers are stored with red and blue exchanged and swizzled back when sampled. A level's
// bytes then go in as they are (red, green, blue from the lowest byte, or from the lowest bits),
// which drivers copy straight; blue-first texels into a red-first store are converted texel by
// texel, most of the cost of making a level's pages.
// Storage for the bound GL_TEXTURE_2D_ARRAY: layers of size x size, with that swizzle.
void CreateLayerStorage(QOpenGLFunctions_3_3_Core* gl, int size, int layers);
// One layer of the bound array from texels of format 21 or 24.
void UploadLayer(QOpenGLFunctions_3_3_Core* gl, int layer, int width, int height, int format,
                 const void* pixels);
// Uploads level 0 of a texture of format 21 or 24 into the bound GL_TEXTURE_2D.
void UploadTextureLevel(QOpenGLFunctions_3_3_Core* gl, int width, int height, int format,
                        const void* pixels);

struct dxDevice8::Impl {
    QPointer<QWindow> window;  // none for an offscreen device
    std::unique_ptr<QOffscreenSurface> offscreen;
    QSize offscreenSize;
    std::unique_ptr<QOpenGLContext> context;
    QPlatformSurface* currentHandle = nullptr;  // what the context was last made current on
    QOpenGLFunctions_3_3_Core* gl = nullptr;
    bool created = false;  // a context was made once
    bool lost = false;
    bool hasResetStatus = false;
    GLenum (*getResetStatus)() = nullptr;

    // Two programs: one samples the page array (every face of the page size or without texture),
    // the other a texture of its own for the runs that have one.
    struct Program {
        GLuint id = 0;
        GLint worldViewProjection = -1;
        GLint untextured = -1;
        GLint flatColour = -1;
    };
    Program arrayProgram;
    Program singleProgram;
    GLuint vao = 0;
    GLuint fbo = 0;
    GLuint colourBuffer = 0;
    GLuint depthBuffer = 0;
    QSize fboSize;
    // The frame holds nothing but the clear colour: it is shown by clearing the window to that
    // colour rather than by copying it. Software drivers prepare a program for the copy on its
    // first use, which would otherwise hold up the window's first frame.
    bool onlyCleared = false;
    uint32_t clearedTo = 0;        // that colour, as GetClearColorWord gives it
    bool presentPrepared = false;  // a frame was copied to the window once

    // The page array: layer i + 1 holds layers[i] (none for a free layer); layer 0 is grey.
    std::vector<dxTexture*> layers;
    GLuint pageArray = 0;
    int arrayCapacity = 0;  // layers allocated on the card
    int maxLayers = 256;
    bool storeLater = false;  // a context is made with the grey layer only (MakePageStore)

    std::set<dxTexture*> textures;
    std::set<dxVertexBuffer*> buffers;
    int failUploads = 0;        // uploads still to refuse (FailUploads)
    bool failPrograms = false;  // the next MakePrograms fails (FailPrograms)

    // Why the last context could not be made, the last GL error met, and the last shader and
    // program logs.
    std::string lastError;
    std::string lastGlError;
    std::string shaderLog;
    std::string programLog;

    ~Impl();
    QSurface* Surface() const;
    QSize TargetSize() const;
    // Makes a context and everything on it: program, framebuffer, every live resource.
    bool CreateContext();
    // Drops the context and every graphics object on it; the copies stay.
    void DropContext();
    // Current and not reset; marks the device lost otherwise.
    bool MakeCurrent();
    // The framebuffer object exists and is bound, with the viewport on it. With followTarget it is
    // first brought to the target's size (a frame starts so); without, the last frame is kept.
    bool BindFramebuffer(bool followTarget = false);
    // Copies the frame into the window's back buffer (the framebuffer object is bound).
    void CopyFrameToWindow();
    // Both programs exist, made now if they were not (the context is current); false, with
    // lastError and the logs saying why, when the driver refuses them.
    bool MakePrograms();
    void UploadTexture(dxTexture* texture);
    // Gives a texture of the page size a free layer (none when the array is full).
    void AssignLayer(dxTexture* texture);
    // The array on the card holds every assigned layer, all uploaded, and at least atLeast
    // layers (the grey one included); grown by doubling when atLeast is 0.
    bool EnsurePageArray(int atLeast = 0);
    // Room for count more page-size textures, made at once rather than by doubling.
    void ReserveLayers(int count);
    // Live page textures renumbered from layer 1 up, the store remade at their number, the
    // meshes' vertices following; nothing when no layer is free.
    void CompactLayers();
    // The layers a store is never made with fewer of, within what the driver allows.
    int StoreFloor() const { return std::min(kPageStoreFloor, maxLayers); }
    // The layer a face's vertices carry: its page's, plain grey, or a texture of its own.
    static int32_t FaceLayer(const GpuFace& f);
    // The layer each vertex of b samples, from its faces' textures.
    static void SetVertexLayers(dxVertexBuffer* b);
    void UploadBuffer(dxVertexBuffer* buffer);
    // Delete the resource's graphics object and forget it (its handle then frees the resource
    // itself).
    void DropTexture(dxTexture* texture);
    void DropBuffer(dxVertexBuffer* buffer);

  private:
    bool CreatePipeline();
    bool LinkProgram(Program& program, const char* fragmentSource);
};

}  // namespace tr4
