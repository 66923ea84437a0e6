// The graphics system: a probe of what OpenGL the machine offers, and creation of the device.
#include "dxMain.h"

#include <QGuiApplication>
#include <QOpenGLVersionFunctionsFactory>

#include "DeviceImpl.h"

namespace tr4 {

namespace {

// Makes a 2 x 2 texture of the format, both as a texture of its own and as a layer of an array
// (where pages live), and reads it back: the format counts as supported only when the context
// takes it without error and gives back the texels it was given.
bool ProbeFormat(QOpenGLFunctions_3_3_Core* gl, int format) {
    // 32-bit texels in memory order blue, green, red, alpha.
    const uint8_t wide[16] = {0x10, 0x20, 0x30, 0xFF, 0x40, 0x50, 0x60, 0xFF,
                              0x70, 0x80, 0x90, 0xFF, 0xA0, 0xB0, 0xC0, 0xFF};
    // 16-bit red, green, blue and white (top bit set, which must not matter).
    const uint16_t narrow[4] = {0x7C00, 0x03E0, 0x001F, 0xFFFF};
    const uint8_t narrowRgb[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    const bool is32 = format == D3DFMT_A8R8G8B8;
    const void* pixels = is32 ? static_cast<const void*>(wide) : narrow;
    while (gl->glGetError() != GL_NO_ERROR) {
    }
    bool ok = true;
    for (const GLenum target : {GL_TEXTURE_2D, GL_TEXTURE_2D_ARRAY}) {
        GLuint id = 0;
        gl->glGenTextures(1, &id);
        gl->glBindTexture(target, id);
        if (target == GL_TEXTURE_2D) {
            UploadTextureLevel(gl, 2, 2, format, pixels);
        } else {
            CreateLayerStorage(gl, 2, 1);
            UploadLayer(gl, 0, 2, 2, format, pixels);
        }
        // Read back as sampled: the array's red and blue are exchanged in store and swizzled
        // back on sampling, which a read-back does not do.
        uint8_t back[16] = {};
        gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
        gl->glGetTexImage(target, 0, target == GL_TEXTURE_2D ? GL_RGBA : GL_BGRA, GL_UNSIGNED_BYTE,
                          back);
        ok = ok && gl->glGetError() == GL_NO_ERROR;
        for (int i = 0; i < 4 && ok; ++i) {
            for (int c = 0; c < 3; ++c) {
                const uint8_t want = is32 ? wide[i * 4 + 2 - c] : narrowRgb[i][c];
                ok = ok && back[i * 4 + c] == want;
            }
        }
        gl->glDeleteTextures(1, &id);
    }
    return ok;
}

}  // namespace

bool dxMain::ProbeOpenGL(std::string& error) {
    auto fail = [&error](std::string why) {
        error = std::move(why);
        return false;
    };
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return fail("no GUI application is running");
    QOffscreenSurface surface;
    surface.setFormat(RenderSurfaceFormat());
    surface.create();
    if (!surface.isValid()) return fail("no offscreen surface can be made on this display");
    QOpenGLContext context;
    context.setFormat(RenderSurfaceFormat());
    const bool made = context.create();
    KeepDriverForLeakCheck();  // loaded by now, whether or not it could make the context
    if (!made) return fail("no OpenGL context can be made on this display");
    const QSurfaceFormat got = context.format();
    if (got.version() < qMakePair(3, 3))
        return fail("the display gives OpenGL " + std::to_string(got.majorVersion()) + "." +
                    std::to_string(got.minorVersion()) + ", and 3.3 core is needed");
    if (!context.makeCurrent(&surface)) return fail("the OpenGL context cannot be made current");
    auto* gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(&context);
    if (gl == nullptr) {
        context.doneCurrent();
        return fail("the OpenGL 3.3 core functions cannot be resolved");
    }
    const auto text = [gl](GLenum name) {
        const auto* s = reinterpret_cast<const char*>(gl->glGetString(name));
        return std::string(s ? s : "");
    };
    renderer = text(GL_RENDERER);
    version = text(GL_VERSION);
    supportsA8R8G8B8 = ProbeFormat(gl, D3DFMT_A8R8G8B8);
    supportsX1R5G5B5 = ProbeFormat(gl, D3DFMT_X1R5G5B5);
    context.doneCurrent();
    created = true;
    return true;
}

bool dxMain::CreateRenderDevice(QWindow* window, std::unique_ptr<dxDevice8>& out,
                                std::string& error, QSize offscreenSize, bool pageStoreLater) {
    if (!created) {
        error = "the graphics system was not created";
        return false;
    }
    out.reset(new dxDevice8());
    dxDevice8::Impl& impl = *out->impl;
    impl.storeLater = pageStoreLater;
    if (window) {
        impl.window = window;
        if (window->surfaceType() != QSurface::OpenGLSurface) {
            const bool hadPlatformWindow = window->handle() != nullptr;
            window->setSurfaceType(QSurface::OpenGLSurface);
            if (hadPlatformWindow) {
                window->destroy();
                window->create();
            }
        }
        window->setFormat(RenderSurfaceFormat());
        if (!window->handle()) window->create();
    } else {
        impl.offscreenSize = offscreenSize.isEmpty() ? QSize(321, 385) : offscreenSize;
        impl.offscreen = std::make_unique<QOffscreenSurface>();
        impl.offscreen->setFormat(RenderSurfaceFormat());
        impl.offscreen->create();
        if (!impl.offscreen->isValid()) {
            error = impl.lastError = "no offscreen surface can be made on this display";
            return false;
        }
    }
    if (impl.CreateContext()) return true;
    error = impl.lastError;
    return false;
}

bool dxMain::IsTextureFormatSupported(int format) const {
    if (!created) return false;
    if (format == D3DFMT_A8R8G8B8) return supportsA8R8G8B8;
    if (format == D3DFMT_X1R5G5B5) return supportsX1R5G5B5;
    return false;
}

}  // namespace tr4
