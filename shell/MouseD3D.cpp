#include "MouseD3D.h"

namespace tr4 {

namespace {

// One step of a channel. The distance is an integer converted to float before scaling, and the
// sum is stored as a 32-bit float, so long drags accumulate exactly as small ones do.
float Step(float& accumulator, int32_t& last, bool& active, int32_t position, float spinFactor) {
    if (active) {
        // 64-bit difference: positions far apart (a pointer grabbed outside the panel) must not
        // overflow.
        const int64_t d = int64_t{position} - int64_t{last};
        if (d > 0) {
            accumulator = accumulator - static_cast<float>(d) * spinFactor;
        } else if (d < 0) {
            accumulator = accumulator + static_cast<float>(-d) * spinFactor;
        }
    }
    last = position;
    active = true;
    return accumulator;
}

}  // namespace

MouseD3D::MouseD3D(float spinFactor, float zoom) : zoom(zoom), spinFactor(spinFactor) {}

float MouseD3D::DragRotateY(int32_t x) {
    return Step(angleY, rotateYLast, rotateYActive, x, spinFactor);
}

float MouseD3D::DragRotateX(int32_t y) {
    return Step(angleX, rotateXLast, rotateXActive, y, spinFactor);
}

float MouseD3D::DragZoom(int32_t y) {
    Step(zoom, zoomLast, zoomActive, y, spinFactor);
    // A negative scale would turn the mesh inside out; exactly zero is left alone.
    if (zoom < 0.0f) zoom = 0.001f;
    return zoom;
}

float MouseD3D::DragPanX(int32_t x) {
    return Step(panX, panXLast, panXActive, x, spinFactor);
}

float MouseD3D::DragPanY(int32_t y) {
    return Step(panY, panYLast, panYActive, y, spinFactor);
}

void MouseD3D::EndDrag() {
    rotateYActive = false;
    rotateXActive = false;
    zoomActive = false;
    panXActive = false;
    panYActive = false;
}

void MouseD3D::ResetCamera() {
    EndDrag();
    zoom = 0.0f;
    angleY = 0.0f;
    angleX = 0.0f;
    panX = 0.0f;
    panY = 0.0f;
    rotateYLast = 0;
    rotateXLast = 0;
    zoomLast = 0;
    panXLast = 0;
    panYLast = 0;
}

void MouseD3D::SetZoom(float zoom) {
    this->zoom = zoom;
    zoomActive = false;
    zoomLast = 0;
}

}  // namespace tr4
