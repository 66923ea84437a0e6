// The graphics objects behind the device: context, program, framebuffer, textures and vertex
// buffers, and their re-creation after a loss.
#include <algorithm>
#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>
#endif

#include <QOpenGLVersionFunctionsFactory>

#include "DeviceImpl.h"

namespace tr4 {

namespace {

// Matrices arrive row-major in the row-vector convention; read column-major by GLSL they are
// transposed, so "matrix * column vector" gives the same point as "row vector * matrix". The
// depth range 0..w of that convention is moved onto GL's -w..w.
const char kVertexShader[] = R"(#version 330 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec2 texCoord;
layout(location = 2) in int layer;
uniform mat4 worldViewProjection;
out vec2 uv;
flat out int page;
void main() {
    vec4 p = worldViewProjection * vec4(position, 1.0);
    gl_Position = vec4(p.x, p.y, 2.0 * p.z - p.w, p.w);
    uv = texCoord;
    page = layer;
}
)";

// The texel's colour alone: no lighting, no vertex colour, no blending. A layer of the page array
// samples exactly as a texture of its own would. Faces without texture sample layer 0, which is
// plain grey, so every fragment takes one sample and no branch on a per-face value.
const char kArrayFragmentShader[] = R"(#version 330 core
in vec2 uv;
flat in int page;
uniform sampler2DArray pages;
uniform bool untextured;
out vec4 colour;
void main() {
    int layer = untextured ? 0 : max(page, 0);
    colour = vec4(texture(pages, vec3(uv, float(layer))).rgb, 1.0);
}
)";

// For a run of faces on a texture of its own.
const char kSingleFragmentShader[] = R"(#version 330 core
in vec2 uv;
uniform sampler2D single;
uniform bool untextured;
uniform vec4 flatColour;
out vec4 colour;
void main() {
    colour = untextured ? flatColour : vec4(texture(single, uv).rgb, 1.0);
}
)";

// Compiles one shader; on failure its log goes to log.
GLuint Compile(QOpenGLFunctions_3_3_Core* gl, GLenum type, const char* source, std::string& log) {
    const GLuint shader = gl->glCreateShader(type);
    gl->glShaderSource(shader, 1, &source, nullptr);
    gl->glCompileShader(shader);
    GLint ok = 0;
    gl->glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char text[2048] = {};
        gl->glGetShaderInfoLog(shader, sizeof text, nullptr, text);
        log = text;
        gl->glDeleteShader(shader);
        return 0;
    }
    return shader;
}

std::string GlErrorName(GLenum e) {
    switch (e) {
        case GL_INVALID_ENUM:
            return "GL_INVALID_ENUM";
        case GL_INVALID_VALUE:
            return "GL_INVALID_VALUE";
        case GL_INVALID_OPERATION:
            return "GL_INVALID_OPERATION";
        case GL_OUT_OF_MEMORY:
            return "GL_OUT_OF_MEMORY";
        case GL_INVALID_FRAMEBUFFER_OPERATION:
            return "GL_INVALID_FRAMEBUFFER_OPERATION";
        default:
            return "GL error " + std::to_string(e);
    }
}

}  // namespace

QSurfaceFormat RenderSurfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    // Ask to be told of a driver reset, so a present can report the device lost.
    format.setOption(QSurfaceFormat::ResetNotification);
    format.setDepthBufferSize(0);  // depth lives in our framebuffer object
    format.setStencilBufferSize(0);
    return format;
}

namespace {

// Level 0 only, bilinear, no mip filtering; coordinates wrap.
void SetSampling(QOpenGLFunctions_3_3_Core* gl, GLenum target) {
    gl->glTexParameteri(target, GL_TEXTURE_BASE_LEVEL, 0);
    gl->glTexParameteri(target, GL_TEXTURE_MAX_LEVEL, 0);
    gl->glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl->glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl->glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl->glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_REPEAT);
}

GLenum PixelType(int format) {
    // 1-5-5-5 read as alpha-red-green-blue: the top bit lands in alpha, which nothing reads.
    return format == D3DFMT_A8R8G8B8 ? GL_UNSIGNED_BYTE : GL_UNSIGNED_SHORT_1_5_5_5_REV;
}

}  // namespace

void CreateLayerStorage(QOpenGLFunctions_3_3_Core* gl, int size, int layers) {
    gl->glTexImage3D(GL_TEXTURE_2D_ARRAY, 0, GL_RGBA8, size, size, layers, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, nullptr);
    gl->glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_SWIZZLE_R, GL_BLUE);
    gl->glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_SWIZZLE_B, GL_RED);
    SetSampling(gl, GL_TEXTURE_2D_ARRAY);
}

void UploadLayer(QOpenGLFunctions_3_3_Core* gl, int layer, int width, int height, int format,
                 const void* pixels) {
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl->glTexSubImage3D(GL_TEXTURE_2D_ARRAY, 0, 0, 0, layer, width, height, 1, GL_RGBA,
                        PixelType(format), pixels);
}

void UploadTextureLevel(QOpenGLFunctions_3_3_Core* gl, int width, int height, int format,
                        const void* pixels) {
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (format == D3DFMT_A8R8G8B8) {
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                         pixels);
    } else {
        // 1-5-5-5 read as alpha-red-green-blue; the RGB internal format drops the top bit.
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, width, height, 0, GL_BGRA,
                         GL_UNSIGNED_SHORT_1_5_5_5_REV, pixels);
    }
    SetSampling(gl, GL_TEXTURE_2D);
}

void KeepDriverForLeakCheck() {
#if defined(__SANITIZE_ADDRESS__)
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            // A library already loaded is found again and marked never to be unloaded; the
            // reference taken is never given back.
            if (info->dlpi_name && info->dlpi_name[0])
                dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
#endif
}

dxDevice8::Impl::~Impl() {
    if (context && MakeCurrent()) {
        for (dxTexture* t : textures)
            if (t->id) gl->glDeleteTextures(1, &t->id);
        for (dxVertexBuffer* b : buffers)
            if (b->id) gl->glDeleteBuffers(1, &b->id);
        if (pageArray) gl->glDeleteTextures(1, &pageArray);
    }
    // Resources still held by others outlive the device as plain memory.
    for (dxTexture* t : textures) {
        t->owner = nullptr;
        t->id = 0;
        t->layer = 0;
    }
    for (dxVertexBuffer* b : buffers) {
        b->owner = nullptr;
        b->id = 0;
        for (GpuFace& f : b->faces) f.texture = nullptr;
    }
    DropContext();
}

QSurface* dxDevice8::Impl::Surface() const {
    if (offscreen) return offscreen.get();
    return window.data();
}

QSize dxDevice8::Impl::TargetSize() const {
    QSize size = offscreenSize;
    if (!offscreen) {
        if (window) size = window->size() * window->devicePixelRatio();
    }
    return size.isEmpty() ? QSize(1, 1) : size;
}

bool dxDevice8::Impl::CreateContext() {
    QSurface* surface = Surface();
    if (surface == nullptr) {
        lastError = "no surface to draw on";
        return false;
    }
    auto ctx = std::make_unique<QOpenGLContext>();
    ctx->setFormat(RenderSurfaceFormat());
    const bool made = ctx->create();
    KeepDriverForLeakCheck();  // loaded by now, whether or not it could make the context
    if (!made) {
        lastError = "no OpenGL context can be made on this display";
        return false;
    }
    const QSurfaceFormat got = ctx->format();
    if (got.version() < qMakePair(3, 3)) {
        lastError = "the display gives OpenGL " + std::to_string(got.majorVersion()) + "." +
                    std::to_string(got.minorVersion()) + ", and 3.3 core is needed";
        return false;
    }
    if (!ctx->makeCurrent(surface)) {
        lastError = "the OpenGL context cannot be made current";
        return false;
    }
    auto* functions = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(ctx.get());
    if (functions == nullptr) {
        lastError = "the OpenGL 3.3 core functions cannot be resolved";
        ctx->doneCurrent();
        return false;
    }
    context = std::move(ctx);
    gl = functions;
    getResetStatus = nullptr;
    if (got.testOption(QSurfaceFormat::ResetNotification)) {
        getResetStatus =
            reinterpret_cast<GLenum (*)()>(context->getProcAddress("glGetGraphicsResetStatusARB"));
        if (!getResetStatus)
            getResetStatus =
                reinterpret_cast<GLenum (*)()>(context->getProcAddress("glGetGraphicsResetStatus"));
    }
    // The programs are made by the first draw (MakePrograms): a frame that only clears, as a
    // window's first one does, does not wait for the shader compiler.
    if (!CreatePipeline()) {
        if (lastError.empty()) lastError = "the drawing pipeline cannot be set up";
        DropContext();
        return false;
    }
    GLint most = 0;
    gl->glGetIntegerv(GL_MAX_ARRAY_TEXTURE_LAYERS, &most);
    maxLayers = std::max(1, static_cast<int>(most));
    // The layers there are, and room for a level's pages to come: a device made again after a
    // loss holds what it held.
    EnsurePageArray(std::max(static_cast<int>(layers.size()) + 1, storeLater ? 1 : StoreFloor()));
    for (dxTexture* t : textures)
        if (t->layer == 0) UploadTexture(t);
    for (dxVertexBuffer* b : buffers) UploadBuffer(b);
    created = true;
    lost = false;
    return true;
}

bool dxDevice8::Impl::LinkProgram(Program& program, const char* fragmentSource) {
    const GLuint vs = Compile(gl, GL_VERTEX_SHADER, kVertexShader, shaderLog);
    const GLuint fs = Compile(gl, GL_FRAGMENT_SHADER, fragmentSource, shaderLog);
    if (!vs || !fs) {
        if (vs) gl->glDeleteShader(vs);
        if (fs) gl->glDeleteShader(fs);
        return false;
    }
    program.id = gl->glCreateProgram();
    gl->glAttachShader(program.id, vs);
    gl->glAttachShader(program.id, fs);
    gl->glLinkProgram(program.id);
    gl->glDeleteShader(vs);
    gl->glDeleteShader(fs);
    GLint ok = 0;
    gl->glGetProgramiv(program.id, GL_LINK_STATUS, &ok);
    if (!ok) {
        char text[2048] = {};
        gl->glGetProgramInfoLog(program.id, sizeof text, nullptr, text);
        programLog = text;
        return false;
    }
    program.worldViewProjection = gl->glGetUniformLocation(program.id, "worldViewProjection");
    program.untextured = gl->glGetUniformLocation(program.id, "untextured");
    program.flatColour = gl->glGetUniformLocation(program.id, "flatColour");
    gl->glUseProgram(program.id);
    // The page array on unit 0, a texture of its own on unit 1.
    gl->glUniform1i(gl->glGetUniformLocation(program.id, "pages"), 0);
    gl->glUniform1i(gl->glGetUniformLocation(program.id, "single"), 1);
    return true;
}

bool dxDevice8::Impl::MakePrograms() {
    if (arrayProgram.id && singleProgram.id) return true;
    // A fragment shader no driver takes, for the tests of this path (FailPrograms).
    const char* const refused = "#version 330 core\nthis is not a shader\n";
    const bool fail = failPrograms;
    failPrograms = false;
    shaderLog.clear();
    programLog.clear();
    if (LinkProgram(arrayProgram, fail ? refused : kArrayFragmentShader) &&
        LinkProgram(singleProgram, kSingleFragmentShader))
        return true;
    for (Program* p : {&arrayProgram, &singleProgram}) {
        if (p->id) gl->glDeleteProgram(p->id);
        *p = Program();
    }
    if (!shaderLog.empty())
        lastError = "a shader does not compile: " + shaderLog;
    else if (!programLog.empty())
        lastError = "the shader program does not link: " + programLog;
    else
        lastError = "the drawing programs cannot be made";
    return false;
}

bool dxDevice8::Impl::CreatePipeline() {
    gl->glGenVertexArrays(1, &vao);
    fboSize = QSize();
    const GLenum e = gl->glGetError();
    if (e != GL_NO_ERROR)
        lastError = lastGlError = "setting up the pipeline gave " + GlErrorName(e);
    return e == GL_NO_ERROR;
}

void dxDevice8::Impl::DropContext() {
    // Deleting the context takes every object on it along; only the names need forgetting.
    if (context) {
        if (QOpenGLContext::currentContext() == context.get()) context->doneCurrent();
        context.reset();
    }
    gl = nullptr;
    currentHandle = nullptr;
    getResetStatus = nullptr;
    arrayProgram = Program();
    singleProgram = Program();
    vao = fbo = colourBuffer = depthBuffer = pageArray = 0;
    arrayCapacity = 0;
    fboSize = QSize();
    onlyCleared = false;
    presentPrepared = false;
    for (dxTexture* t : textures) t->id = 0;
    for (dxVertexBuffer* b : buffers) b->id = 0;
}

bool dxDevice8::Impl::MakeCurrent() {
    if (!context || lost) return false;
    QSurface* surface = Surface();
    // Already current on this thread with this surface and the same native window or buffer
    // behind it (as for each mesh of a level's build): asking the platform again costs more
    // than uploading a small mesh.
    const bool current = surface && QOpenGLContext::currentContext() == context.get() &&
                         context->surface() == surface && surface->surfaceHandle() == currentHandle;
    if (surface == nullptr || !context->isValid() || (!current && !context->makeCurrent(surface))) {
        lost = true;
        return false;
    }
    currentHandle = surface->surfaceHandle();
    if (getResetStatus && getResetStatus() != GL_NO_ERROR) {
        lost = true;
        return false;
    }
    return true;
}

bool dxDevice8::Impl::BindFramebuffer(bool followTarget) {
    const QSize size = TargetSize();
    if (fbo == 0 || (followTarget && size != fboSize)) {
        if (fbo) gl->glDeleteFramebuffers(1, &fbo);
        if (colourBuffer) gl->glDeleteRenderbuffers(1, &colourBuffer);
        if (depthBuffer) gl->glDeleteRenderbuffers(1, &depthBuffer);
        gl->glGenFramebuffers(1, &fbo);
        gl->glGenRenderbuffers(1, &colourBuffer);
        gl->glGenRenderbuffers(1, &depthBuffer);
        gl->glBindRenderbuffer(GL_RENDERBUFFER, colourBuffer);
        gl->glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, size.width(), size.height());
        gl->glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer);
        // A 16-bit depth buffer, as the device was always given.
        gl->glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, size.width(),
                                  size.height());
        gl->glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                      colourBuffer);
        gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                      depthBuffer);
        if (gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            gl->glDeleteFramebuffers(1, &fbo);
            fbo = 0;
            return false;
        }
        fboSize = size;
        // A new buffer starts white-cleared and at the far depth rather than undefined.
        gl->glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        gl->glClearDepth(1.0);
        gl->glDepthMask(GL_TRUE);
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    gl->glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    gl->glViewport(0, 0, fboSize.width(), fboSize.height());
    return true;
}

void dxDevice8::Impl::CopyFrameToWindow() {
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
    gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, context->defaultFramebufferObject());
    gl->glBlitFramebuffer(0, 0, fboSize.width(), fboSize.height(), 0, 0, fboSize.width(),
                          fboSize.height(), GL_COLOR_BUFFER_BIT, GL_NEAREST);
    presentPrepared = true;
}

void dxDevice8::Impl::AssignLayer(dxTexture* t) {
    if (t->width != kArrayTextureSize || t->height != kArrayTextureSize) return;
    for (size_t i = 0; i < layers.size(); ++i) {
        if (layers[i] == nullptr) {
            layers[i] = t;
            t->layer = static_cast<int>(i) + 1;
            return;
        }
    }
    if (static_cast<int>(layers.size()) + 1 >= maxLayers) return;  // full: a texture of its own
    layers.push_back(t);
    t->layer = static_cast<int>(layers.size());
}

bool dxDevice8::Impl::EnsurePageArray(int atLeast) {
    if (!gl) return false;
    const int needed = std::max(static_cast<int>(layers.size()) + 1, atLeast);  // with grey
    if (pageArray && arrayCapacity >= needed) return true;
    // Made to the size asked for when it is known (a level's pages come together); otherwise
    // grown by doubling. Either way every layer is uploaded again from its copy.
    int capacity = needed;
    if (atLeast == 0) {
        capacity = std::max(16, arrayCapacity * 2);
        while (capacity < needed) capacity *= 2;
    }
    capacity = std::min(capacity, maxLayers);
    while (gl->glGetError() != GL_NO_ERROR) {
    }
    if (pageArray) gl->glDeleteTextures(1, &pageArray);
    gl->glGenTextures(1, &pageArray);
    gl->glActiveTexture(GL_TEXTURE0);
    gl->glBindTexture(GL_TEXTURE_2D_ARRAY, pageArray);
    CreateLayerStorage(gl, kArrayTextureSize, capacity);
    // Layer 0: the plain grey of faces without texture (128 of 255, opaque), the same after
    // filtering wherever it is sampled.
    static const std::vector<uint8_t> grey(kArrayTextureSize * kArrayTextureSize * 4, 0x80);
    UploadLayer(gl, 0, kArrayTextureSize, kArrayTextureSize, D3DFMT_A8R8G8B8, grey.data());
    for (dxTexture* t : layers) {
        if (t == nullptr) continue;
        UploadLayer(gl, t->layer, t->width, t->height, t->format, t->Pixels());
    }
    if (const GLenum e = gl->glGetError(); e != GL_NO_ERROR) {
        lastGlError = "making the page array gave " + GlErrorName(e);
        gl->glDeleteTextures(1, &pageArray);
        pageArray = 0;
        arrayCapacity = 0;
        return false;
    }
    arrayCapacity = capacity;
    return true;
}

void dxDevice8::Impl::ReserveLayers(int count) {
    if (!gl || count < 0) return;
    int free = 0;
    for (const dxTexture* t : layers) free += t == nullptr;
    if (free == static_cast<int>(layers.size())) {
        // No page lives (the last level's were released): the store is made anew at this
        // level's size, so a small level after a large one does not keep the large store.
        layers.clear();
        const int wanted = std::max(std::min(count + 1, maxLayers), StoreFloor());
        if (pageArray && arrayCapacity != wanted) {
            gl->glDeleteTextures(1, &pageArray);
            pageArray = 0;
            arrayCapacity = 0;
        }
        EnsurePageArray(wanted);
        return;
    }
    const int more = std::max(0, count - free);
    EnsurePageArray(static_cast<int>(layers.size()) + more + 1);
}

void dxDevice8::Impl::CompactLayers() {
    std::vector<dxTexture*> live;
    for (dxTexture* t : layers)
        if (t) live.push_back(t);
    const bool holes = live.size() != layers.size();
    const int wanted = std::max(static_cast<int>(live.size()) + 1, StoreFloor());
    // A store already of that size has nothing to give back: its free layers take the next
    // level's pages where they are.
    if (pageArray ? arrayCapacity == wanted : !holes) return;
    layers = std::move(live);
    for (size_t i = 0; i < layers.size(); ++i) layers[i]->layer = static_cast<int>(i) + 1;
    if (holes) {
        for (dxVertexBuffer* b : buffers) {
            SetVertexLayers(b);
            b->stale = true;  // uploaded again before its next draw
        }
    }
    if (!gl || !MakeCurrent()) return;  // a context made later sizes the store from layers
    if (pageArray) gl->glDeleteTextures(1, &pageArray);
    pageArray = 0;
    arrayCapacity = 0;
    EnsurePageArray(wanted);
}

void dxDevice8::Impl::UploadTexture(dxTexture* t) {
    if (!gl) return;
    if (t->layer > 0) {
        if (pageArray && arrayCapacity > t->layer) {
            gl->glActiveTexture(GL_TEXTURE0);
            gl->glBindTexture(GL_TEXTURE_2D_ARRAY, pageArray);
            UploadLayer(gl, t->layer, t->width, t->height, t->format, t->Pixels());
        } else {
            EnsurePageArray();  // uploads every layer, this one included
        }
        return;
    }
    gl->glGetError();  // start from a clean error state
    gl->glGenTextures(1, &t->id);
    gl->glActiveTexture(GL_TEXTURE1);
    gl->glBindTexture(GL_TEXTURE_2D, t->id);
    UploadTextureLevel(gl, t->width, t->height, t->format, t->Pixels());
    if (const GLenum e = gl->glGetError(); e != GL_NO_ERROR) {
        lastGlError = "uploading a texture gave " + GlErrorName(e);
        gl->glDeleteTextures(1, &t->id);
        t->id = 0;
    }
}

int32_t dxDevice8::Impl::FaceLayer(const GpuFace& f) {
    if (f.texture == nullptr) return kLayerPlain;
    return f.texture->layer > 0 ? f.texture->layer : kLayerStandalone;
}

void dxDevice8::Impl::SetVertexLayers(dxVertexBuffer* b) {
    for (const GpuFace& f : b->faces) {
        const int32_t layer = FaceLayer(f);
        for (int k = 0; k < f.count; ++k)
            b->vertices[static_cast<size_t>(f.first + k)].layer = layer;
    }
}

void dxDevice8::Impl::UploadBuffer(dxVertexBuffer* b) {
    if (!gl) return;
    b->stale = false;
    if (b->vertices.empty()) return;  // nothing to draw, nothing on the card
    gl->glGetError();
    if (b->id == 0) gl->glGenBuffers(1, &b->id);
    gl->glBindBuffer(GL_ARRAY_BUFFER, b->id);
    gl->glBufferData(GL_ARRAY_BUFFER,
                     static_cast<GLsizeiptr>(b->vertices.size() * sizeof(GpuVertex)),
                     b->vertices.data(), GL_STATIC_DRAW);
    if (const GLenum e = gl->glGetError(); e != GL_NO_ERROR) {
        lastGlError = "uploading a vertex buffer gave " + GlErrorName(e);
        gl->glDeleteBuffers(1, &b->id);
        b->id = 0;
    }
}

void dxDevice8::Impl::DropTexture(dxTexture* t) {
    if (t->id && MakeCurrent()) gl->glDeleteTextures(1, &t->id);
    if (t->layer > 0 && t->layer <= static_cast<int>(layers.size())) layers[t->layer - 1] = nullptr;
    textures.erase(t);
    // No face may keep pointing at a texture that is gone, nor sample the layer it held (which
    // the next texture may take).
    for (dxVertexBuffer* b : buffers) {
        bool changed = false;
        for (GpuFace& f : b->faces) {
            if (f.texture != t) continue;
            f.texture = nullptr;
            changed = true;
        }
        if (changed) {
            SetVertexLayers(b);
            b->stale = true;
        }
    }
}

void dxDevice8::Impl::DropBuffer(dxVertexBuffer* b) {
    if (b->id && MakeCurrent()) gl->glDeleteBuffers(1, &b->id);
    buffers.erase(b);
}

void TextureRelease::operator()(dxTexture* texture) const {
    if (texture == nullptr) return;
    if (texture->owner) texture->owner->DropTexture(texture);
    delete texture;
}

void VertexBufferRelease::operator()(dxVertexBuffer* buffer) const {
    if (buffer == nullptr) return;
    if (buffer->owner) buffer->owner->DropBuffer(buffer);
    delete buffer;
}

}  // namespace tr4
