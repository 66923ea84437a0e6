// The render device: frames, transforms, textures, vertex buffers and the face-by-face draw.
#include "dxDevice8.h"

#include <algorithm>
#include <cstddef>
#include <span>

#include "DeviceImpl.h"

namespace tr4 {

namespace {

// Faces without a texture are drawn in this grey, so they stay visible on the white background.
constexpr float kUntexturedGrey = 128.0f / 255.0f;

enum class Cull { None, Clockwise, CounterClockwise };

// What can change between faces. Page-array textures are chosen per vertex, so only a texture
// of its own (not the page size) needs a state change of its own.
struct FaceState {
    bool wireframe = false;
    Cull cull = Cull::None;
    const dxTexture* single = nullptr;
    bool operator==(const FaceState&) const = default;
};

FaceState StateOf(const GpuFace& face, int mode) {
    FaceState s;
    s.wireframe = (face.flags & kDrawWireframe) != 0;
    if (face.flags & kDrawCullCCW)
        s.cull = Cull::CounterClockwise;
    else if (face.flags & kDrawCullCW)
        s.cull = Cull::Clockwise;
    if (face.texture && face.texture->layer == 0) s.single = face.texture;
    if (mode == 2) {
        s.single = nullptr;
        s.wireframe = true;
    }
    return s;
}

}  // namespace

dxDevice8::dxDevice8() : impl(std::make_unique<Impl>()) {}

dxDevice8::~dxDevice8() = default;

bool dxDevice8::HasDevice() const {
    return impl->created;
}
bool dxDevice8::IsLost() const {
    return impl->created && impl->lost;
}

void dxDevice8::SetClearColor(int32_t red, int32_t green, int32_t blue) {
    clearRed = red;
    clearGreen = green;
    clearBlue = blue;
}

uint32_t dxDevice8::GetClearColorWord() const {
    return 0xFF000000u | (static_cast<uint32_t>(clearRed) & 0xFF) << 16 |
           (static_cast<uint32_t>(clearGreen) & 0xFF) << 8 |
           (static_cast<uint32_t>(clearBlue) & 0xFF);
}

void dxDevice8::ClearFrame(bool clearDepth) {
    if (!impl->MakeCurrent() || !impl->BindFramebuffer(true)) return;
    QOpenGLFunctions_3_3_Core* gl = impl->gl;
    const uint32_t word = GetClearColorWord();
    gl->glClearColor(((word >> 16) & 0xFF) / 255.0f, ((word >> 8) & 0xFF) / 255.0f,
                     (word & 0xFF) / 255.0f, 1.0f);
    GLbitfield mask = GL_COLOR_BUFFER_BIT;
    if (clearDepth) {
        gl->glDepthMask(GL_TRUE);
        gl->glClearDepth(1.0);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    gl->glDisable(GL_SCISSOR_TEST);
    gl->glClear(mask);
    impl->onlyCleared = true;
    impl->clearedTo = word;
}

bool dxDevice8::PresentFrame(std::string& error) {
    if (!impl->MakeCurrent() || !impl->BindFramebuffer()) {
        error = "the device is lost";
        return false;
    }
    QOpenGLFunctions_3_3_Core* gl = impl->gl;
    QWindow* window = impl->window.data();
    if (window && !impl->offscreen) {
        if (window->isExposed()) {
            gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, impl->context->defaultFramebufferObject());
            if (impl->onlyCleared) {
                // The same pixels as the copy would give: the frame is the window's size.
                const uint32_t word = impl->clearedTo;
                gl->glDisable(GL_SCISSOR_TEST);
                gl->glClearColor(((word >> 16) & 0xFF) / 255.0f, ((word >> 8) & 0xFF) / 255.0f,
                                 (word & 0xFF) / 255.0f, 1.0f);
                gl->glClear(GL_COLOR_BUFFER_BIT);
            } else {
                impl->CopyFrameToWindow();
            }
            impl->context->swapBuffers(window);
        }
    } else {
        // Offscreen the frame is complete when its commands are, as a present would have it.
        gl->glFinish();
    }
    // A reset seen during the frame is reported now, not at the next frame.
    if (impl->getResetStatus && impl->getResetStatus() != GL_NO_ERROR) {
        impl->lost = true;
        error = "the device was reset by the driver";
        return false;
    }
    return true;
}

bool dxDevice8::ResetDevice(std::string& error) {
    if (!impl->created) {
        error = impl->lastError.empty() ? "the device has no context" : impl->lastError;
        return false;
    }
    if (!impl->lost && impl->MakeCurrent()) return true;  // nothing was lost
    impl->DropContext();
    impl->lost = true;
    // Clears lost on success; every live resource comes back.
    if (impl->CreateContext()) return true;
    error = impl->lastError;
    return false;
}

TexturePtr dxDevice8::CreateTextureFromPixels(int width, int height, int format,
                                              const void* pixels) {
    return MakeTexture(width, height, format, pixels, true);
}

TexturePtr dxDevice8::CreateTextureOnPixels(int width, int height, int format, const void* pixels) {
    return MakeTexture(width, height, format, pixels, false);
}

TexturePtr dxDevice8::MakeTexture(int width, int height, int format, const void* pixels,
                                  bool copy) {
    if (!impl->created || pixels == nullptr || width < 1 || height < 1) return nullptr;
    if (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X1R5G5B5) return nullptr;
    const size_t bytesPerTexel = format == D3DFMT_A8R8G8B8 ? 4 : 2;
    // Held here until the device knows it, so running out of memory on the way loses nothing.
    auto made = std::make_unique<dxTexture>();
    made->owner = impl.get();
    made->width = width;
    made->height = height;
    made->format = format;
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * bytesPerTexel;
    if (copy)
        made->pixels.assign(static_cast<const uint8_t*>(pixels),
                            static_cast<const uint8_t*>(pixels) + size);
    else
        made->borrowed = static_cast<const uint8_t*>(pixels);
    impl->textures.insert(made.get());
    TexturePtr texture(made.release());
    impl->AssignLayer(texture.get());
    if (impl->MakeCurrent()) {
        impl->UploadTexture(texture.get());
        const bool ready = texture->layer > 0 ? impl->pageArray != 0 : texture->id != 0;
        if (!ready) return nullptr;  // the handle gives it up
    }
    // While the context is lost the texture is made at the next ResetDevice.
    return texture;
}

void dxDevice8::ReservePageTextures(int count) {
    if (impl->MakeCurrent()) impl->ReserveLayers(count);
}

bool dxDevice8::UploadMesh(MeshGeometry&& mesh, VertexBufferPtr& out, std::string& error) {
    if (!impl->created) {
        error = "there is no device to upload to";
        return false;
    }
    // Held here until the device knows it, so running out of memory on the way loses nothing.
    auto made = std::make_unique<dxVertexBuffer>();
    dxVertexBuffer* buffer = made.get();
    buffer->owner = impl.get();
    buffer->vertices = std::move(mesh.vertices);
    buffer->faces = std::move(mesh.faces);
    Impl::SetVertexLayers(buffer);
    impl->buffers.insert(buffer);
    VertexBufferPtr held(made.release());
    if (impl->MakeCurrent()) {
        if (impl->failUploads > 0) {
            --impl->failUploads;
            impl->lastGlError = "uploading a vertex buffer gave GL_OUT_OF_MEMORY";
        } else {
            impl->UploadBuffer(buffer);
        }
        if (buffer->id == 0 && !buffer->vertices.empty()) {
            error = impl->lastGlError;
            return false;
        }
    }
    out = std::move(held);
    return true;
}

bool dxDevice8::DrawMesh(const dxVertexBuffer* buffer, const D3DXMATRIX& transform, int mode,
                         std::string& error) {
    if (buffer == nullptr) {
        error = "there is no mesh to draw";
        return false;
    }
    if (!impl->MakeCurrent() || !impl->BindFramebuffer()) {
        error = "the device is lost";
        return false;
    }
    if (buffer->faces.empty()) return true;  // nothing to draw
    if (buffer->owner != impl.get() || buffer->id == 0) {
        error = "the mesh is not on this device";
        return false;
    }

    if (!impl->MakePrograms()) {
        error = impl->lastError;
        return false;
    }
    QOpenGLFunctions_3_3_Core* gl = impl->gl;
    impl->onlyCleared = false;
    // A stale copy is uploaded again: the buffer is the device's, the handle only the caller's.
    if (buffer->stale) impl->UploadBuffer(const_cast<dxVertexBuffer*>(buffer));
    for (const Impl::Program* p : {&impl->singleProgram, &impl->arrayProgram}) {
        gl->glUseProgram(p->id);
        gl->glUniformMatrix4fv(p->worldViewProjection, 1, GL_FALSE, &transform.m[0][0]);
        gl->glUniform1i(p->untextured, mode == 2 ? 1 : 0);
        if (p->flatColour >= 0)
            gl->glUniform4f(p->flatColour, kUntexturedGrey, kUntexturedGrey, kUntexturedGrey, 1.0f);
    }
    gl->glActiveTexture(GL_TEXTURE0);
    gl->glBindTexture(GL_TEXTURE_2D_ARRAY, impl->pageArray);
    gl->glBindVertexArray(impl->vao);
    gl->glBindBuffer(GL_ARRAY_BUFFER, buffer->id);
    gl->glEnableVertexAttribArray(0);
    gl->glEnableVertexAttribArray(1);
    gl->glEnableVertexAttribArray(2);
    gl->glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(GpuVertex), nullptr);
    gl->glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(GpuVertex),
                              reinterpret_cast<const void*>(offsetof(GpuVertex, u)));
    gl->glVertexAttribIPointer(2, 1, GL_INT, sizeof(GpuVertex),
                               reinterpret_cast<const void*>(offsetof(GpuVertex, layer)));
    gl->glEnable(GL_DEPTH_TEST);
    gl->glDepthFunc(GL_LEQUAL);
    gl->glDepthMask(GL_TRUE);
    gl->glDisable(GL_BLEND);
    // Winding is judged as the face appears in the frame: GL's window coordinates have y up, the
    // same picture the frame shows, so "counter-clockwise on screen" is GL's counter-clockwise.
    gl->glFrontFace(GL_CCW);
    gl->glActiveTexture(GL_TEXTURE1);

    auto apply = [&](const FaceState& st) {
        gl->glPolygonMode(GL_FRONT_AND_BACK, st.wireframe ? GL_LINE : GL_FILL);
        if (st.cull == Cull::None) {
            gl->glDisable(GL_CULL_FACE);
        } else {
            gl->glEnable(GL_CULL_FACE);
            gl->glCullFace(st.cull == Cull::CounterClockwise ? GL_FRONT : GL_BACK);
        }
        // A texture of its own that could not be made draws plain, as a face without texture.
        const GLuint single = st.single ? st.single->id : 0;
        if (single != 0) {
            gl->glUseProgram(impl->singleProgram.id);
            gl->glBindTexture(GL_TEXTURE_2D, single);
            gl->glUniform1i(impl->singleProgram.untextured, mode == 2 ? 1 : 0);
        } else {
            gl->glUseProgram(impl->arrayProgram.id);
            gl->glUniform1i(impl->arrayProgram.untextured, mode == 2 || st.single ? 1 : 0);
        }
    };

    // Consecutive faces with the same state go in one call; order is kept, so depth ties resolve
    // exactly as they would face by face.
    const std::vector<GpuFace>& faces = buffer->faces;
    FaceState current = StateOf(faces[0], mode);
    apply(current);
    int runFirst = faces[0].first;
    int runCount = 0;
    for (const GpuFace& face : faces) {
        const FaceState st = StateOf(face, mode);
        if (!(st == current)) {
            gl->glDrawArrays(GL_TRIANGLES, runFirst, runCount);
            current = st;
            apply(current);
            runFirst = face.first;
            runCount = 0;
        }
        runCount += face.count;
    }
    gl->glDrawArrays(GL_TRIANGLES, runFirst, runCount);
    gl->glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    gl->glBindVertexArray(0);
    return true;
}

QImage dxDevice8::ReadFrame() {
    if (!impl->MakeCurrent() || !impl->BindFramebuffer()) return QImage();
    QOpenGLFunctions_3_3_Core* gl = impl->gl;
    const QSize size = impl->fboSize;
    QImage image(size, QImage::Format_RGB32);
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, impl->fbo);
    gl->glReadPixels(0, 0, size.width(), size.height(), GL_BGRA, GL_UNSIGNED_BYTE, image.bits());
    // GL's rows run bottom up; the frame's top row comes first in an image.
    return image.mirrored(false, true);
}

QSize dxDevice8::FrameSize() const {
    return impl->TargetSize();
}

void dxDevice8::SetOffscreenSize(QSize size) {
    if (impl->offscreen && !size.isEmpty()) impl->offscreenSize = size;
}

void dxDevice8::LoseContext() {
    if (!impl->created) return;
    impl->DropContext();
    impl->lost = true;
}

void dxDevice8::TrimPageStore() {
    impl->CompactLayers();
}

bool dxDevice8::PrepareToDraw(std::string& error) {
    if (!impl->MakeCurrent() || !impl->BindFramebuffer()) return true;  // the next frame says
    if (!impl->MakePrograms()) {
        error = impl->lastError;
        return false;
    }
    // Into the back buffer, which the next present overwrites whole before it is shown.
    if (!impl->presentPrepared && impl->window && !impl->offscreen && impl->window->isExposed())
        impl->CopyFrameToWindow();
    return true;
}

void dxDevice8::FailPrograms() {
    impl->failPrograms = true;
}

void dxDevice8::MakePageStore() {
    if (!impl->storeLater || !impl->MakeCurrent()) return;
    impl->storeLater = false;
    impl->EnsurePageArray(impl->StoreFloor());
}

int dxDevice8::PageStoreLayers() const {
    return impl->pageArray ? impl->arrayCapacity : 0;
}

int dxDevice8::LiveTextureCount() const {
    return static_cast<int>(impl->textures.size());
}
int dxDevice8::LiveVertexBufferCount() const {
    return static_cast<int>(impl->buffers.size());
}

void dxDevice8::FailUploads(int count) {
    impl->failUploads = count;
}

const std::string& dxDevice8::LastError() const {
    return impl->lastError;
}
const std::string& dxDevice8::LastGlError() const {
    return impl->lastGlError;
}
const std::string& dxDevice8::ShaderLog() const {
    return impl->shaderLog;
}
const std::string& dxDevice8::ProgramLog() const {
    return impl->programLog;
}

}  // namespace tr4
