#pragma once
// The view values the frames apply to the selected mesh. Plain C++ without Qt or graphics.

namespace tr4 {

// What the next frame applies to the selected mesh: its index in the loaded level's list (-1 for
// none) and the view.
struct ViewState {
    int selected = -1;
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
