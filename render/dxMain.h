#pragma once
// dxMain: the graphics system. One process-wide instance (the viewer keeps it static) that checks
// an OpenGL 3.3 core context can be had, records what that context can do, and creates the render
// device on a window or offscreen.
//
// Needs a QGuiApplication (and so a display; the tests run under xvfb-run). Without one every
// operation fails cleanly instead of crashing. The instance holds no graphics objects, so its
// static destruction after the application has gone is safe.
#include <memory>
#include <string>

#include <QSize>

#include "RenderTypes.h"

class QWindow;

namespace tr4 {

class dxDevice8;

class dxMain {
  public:
    dxMain() = default;
    dxMain(const dxMain&) = delete;
    dxMain& operator=(const dxMain&) = delete;

    // Opens a probe context (OpenGL 3.3 core) on an offscreen surface, reads its renderer string
    // and which texture formats it really takes, then lets it go. False, with why, when there is
    // no QGuiApplication or no such context could be made (then HasOpenGL() stays false).
    bool ProbeOpenGL(std::string& error);
    bool HasOpenGL() const { return created; }

    // Creates the device. With a window: draws into it (the window's surface type is made
    // OpenGLSurface; give a window that is not yet shown, or one already of that type). Without:
    // draws into an offscreen framebuffer of offscreenSize pixels. Either way the frame is drawn
    // into a framebuffer object first, so ReadFrame shows exactly what the window shows.
    // True with a working device in out (which owns it); false, with why, when there was no
    // ProbeOpenGL before (out untouched) or the context could not be made (out holds a
    // dxDevice8 without a device: HasDevice() false, every operation on it fails or does
    // nothing, none crashes). With pageStoreLater the page store a device starts with is left
    // to dxDevice8::MakePageStore (or to the first level's pages): a window's first frame then
    // does not wait for the driver to zero-fill it.
    bool CreateRenderDevice(QWindow* window, std::unique_ptr<dxDevice8>& out, std::string& error,
                            QSize offscreenSize = QSize(321, 385), bool pageStoreLater = false);

    // Whether textures of that format (21 or 24) can be made and sampled, as found by the probe
    // context of ProbeOpenGL. False for every other code and before ProbeOpenGL.
    bool IsTextureFormatSupported(int format) const;

    // GL_RENDERER and GL_VERSION of the probe context (empty before ProbeOpenGL).
    const std::string& RendererString() const { return renderer; }
    const std::string& VersionString() const { return version; }

  private:
    bool created = false;
    bool supportsA8R8G8B8 = false;
    bool supportsX1R5G5B5 = false;
    std::string renderer;
    std::string version;
};

}  // namespace tr4
