#pragma once
// The viewer's frame of one mesh, for everything that must draw a mesh exactly as the viewer does
// (tr4tool render, tests, benchmarks): the projection, the eye and target from the mesh centre,
// the world transform order, the white background.
#include <cstdint>

#include "MeshList.h"

class dxDevice8;
class dxBufferColor8;

struct MeshView {
    float yaw = 0.0f;    // turn about Y, radians
    float pitch = 0.0f;  // turn about X, radians
    float zoom = 6.0f;
    float panX = 0.0f;
    float panY = 0.0f;
};

inline constexpr float kViewNear = 0.1f;
inline constexpr float kViewFar = 1000.0f;
inline constexpr float kViewFieldOfView = 0.785398f;  // pi / 4
inline constexpr float kViewEyeDistance = 150.0f;

// SetProjection with the viewer's near, far and field of view, and the given aspect (the viewer
// uses the integer quotient of its window's width over height: 1 for 956 x 640).
void SetViewerProjection(dxDevice8& device, float aspect);
// Eye (cx, -cy, cz + 150) then target (cx, -cy, cz), from the record's unscaled centre.
void AimAtMesh(dxDevice8& device, const tr4::MeshRecord& record);
// One whole frame: clear to white with depth, world = Scale(zoom) x RotX(pitch) x RotY(yaw) x
// Translate(centre, y negated) x Translate(panX, panY, 0), DrawMesh with mode 0 (when mesh is not
// none), present. Returns PresentFrame's result.
int32_t DrawMeshFrame(dxDevice8& device, dxBufferColor8* mesh, const tr4::MeshRecord& record,
                      const MeshView& view);
