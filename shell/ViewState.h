#pragma once
// The view values the frames apply to the selected mesh. Plain C++ without Qt or graphics.

namespace tr4 {

class dxBufferTextura;

// What the next frame applies to the selected render mesh. The mesh is not owned: it belongs to
// the mesh list of the loaded level.
struct ViewState {
    dxBufferTextura* selected = nullptr;
    float rotationY = 0.0f;
    float rotationX = 0.0f;
    float zoom = 6.0f;
    float panX = 0.0f;
    float panY = 0.0f;

    // The values a newly selected mesh settles on after its first frame, with the zoom that fits
    // it.
    void ResetView(float startZoom = 6.0f) {
        rotationY = 0.0f;
        rotationX = 0.0f;
        zoom = startZoom;
        panX = 0.0f;
        panY = 0.0f;
    }
};

}  // namespace tr4
