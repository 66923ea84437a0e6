#pragma once
// The view panel's pointer-move logic, between the camera and the view values. Plain C++ without
// Qt or graphics, so it is tested without a window.
#include <cstdint>

#include "MouseD3D.h"
#include "ViewState.h"

namespace tr4 {

// The keys and buttons held during a pointer event over the view panel.
struct ShiftState {
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
    bool left = false;
    bool right = false;
    bool middle = false;
};

// The view panel's pointer-move logic: with the right button held, Ctrl zooms, else Shift pans
// (the view holds ten times the camera's pan), else the drag turns the mesh. Only the channels of
// the chosen mode are fed; Alt and the other buttons play no part.
void FeedMouseMove(MouseD3D& camera, ViewState& view, const ShiftState& shift, int32_t x,
                   int32_t y);

}  // namespace tr4
