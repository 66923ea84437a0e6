#pragma once
// The mouse camera of the view panel. Plain C++ without Qt or graphics, so the drag arithmetic is
// tested without a window.
//
// MouseD3D accumulates five independent drag channels (turn about Y, turn about X, zoom, pan x,
// pan y). Each channel records the pointer on its first step after being idle and moves its
// accumulator by the distance from its own last position afterwards; every step is scaled by the
// spin factor. The camera holds no resources and none of its operations fail.
#include <cstdint>

namespace tr4 {

class MouseD3D {
  public:
    MouseD3D(float spinFactor, float zoom);

    void SetSpinFactor(float spinFactor) { this->spinFactor = spinFactor; }

    // One step of a channel; each returns the accumulator after the step. Moving the pointer
    // right or down lowers the accumulator.
    float DragRotateY(int32_t x);
    float DragRotateX(int32_t y);
    // Clamped after every step: a result below 0.0 becomes 0.001 (0.0 itself stays).
    float DragZoom(int32_t y);
    float DragPanX(int32_t x);
    float DragPanY(int32_t y);

    // Every channel goes idle; accumulators and last positions stay.
    void EndDrag();
    // EndDrag, then every accumulator 0.0 (the zoom too) and every last position 0. The spin
    // factor stays.
    void ResetCamera();
    // The zoom channel alone: accumulator set, last position 0, idle.
    void SetZoom(float zoom);

    float angleY = 0.0f;
    float angleX = 0.0f;
    float zoom = 0.0f;
    int32_t rotateYLast = 0;
    int32_t rotateXLast = 0;
    int32_t zoomLast = 0;
    float panX = 0.0f;
    float panY = 0.0f;
    int32_t panXLast = 0;
    int32_t panYLast = 0;
    bool rotateYActive = false;
    bool rotateXActive = false;
    bool zoomActive = false;
    bool panXActive = false;
    bool panYActive = false;
    float spinFactor = 0.0f;
};

}  // namespace tr4
