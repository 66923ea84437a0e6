#include "FeedMouseMove.h"

namespace tr4 {

void FeedMouseMove(MouseD3D& camera, ViewState& view, const ShiftState& shift, int32_t x,
                   int32_t y) {
    if (!shift.right) return;
    if (shift.ctrl) {
        view.zoom = camera.DragZoom(y);
    } else if (shift.shift) {
        view.panX = 10.0f * camera.DragPanX(x);
        view.panY = 10.0f * camera.DragPanY(y);
    } else {
        view.rotationY = camera.DragRotateY(x);
        view.rotationX = camera.DragRotateX(y);
    }
}

}  // namespace tr4
