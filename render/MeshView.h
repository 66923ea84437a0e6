#pragma once
// The viewer's frame of one mesh, the one place it is written: the camera (the projection, the eye
// and target from the mesh centre), the world matrix, the zoom that fits the mesh, the white
// background. The window, tr4tool render, the tests and the benchmarks all draw through it, so a
// picture made by one is the picture made by the others. The device keeps no camera: each draw is
// given the whole transform.
#include <cstdint>
#include <string>

#include "D3DXMath.h"
#include "MeshList.h"

namespace tr4 {

class dxDevice8;
class dxVertexBuffer;

struct MeshView {
    // The names of ViewState, whose values a frame applies; the camera's MouseD3D calls the same
    // angles angleY and angleX while it accumulates them.
    float rotationY = 0.0f;  // turn about Y, radians
    float rotationX = 0.0f;  // turn about X, radians
    float zoom = 6.0f;
    float panX = 0.0f;
    float panY = 0.0f;
};

inline constexpr float kViewNear = 0.1f;
inline constexpr float kViewFar = 1000.0f;
// After a lost device is reset the far plane lies further out.
inline constexpr float kViewFarAfterReset = 3000.0f;
inline constexpr float kViewFieldOfView = 0.78539816f;  // pi / 4, vertical
inline constexpr float kViewEyeDistance = 150.0f;
// The largest zoom a selection starts from; smaller when the mesh would not fit.
inline constexpr float kViewStartZoom = 6.0f;
// Level units to view units: the render-mesh builder scales every vertex by this.
inline constexpr float kViewMeshScale = 0.1f;
// The share of the smaller half-angle of the view that a fitted mesh's bounding sphere fills.
inline constexpr float kViewFitMargin = 0.9f;
// The panel's size: the default picture of tr4tool render.
inline constexpr int kViewPanelWidth = 321;
inline constexpr int kViewPanelHeight = 385;

// The camera of the frames of one view: the projection, set when the view is made (and again,
// the far plane further out, after its device was reset), and the eye and target, aimed at each
// mesh drawn. Held by whoever draws the frames.
struct ViewCamera {
    D3DXMATRIX projection;  // from ViewerProjection (all zero until then: nothing shows)
    D3DXVECTOR3 eye{0.0f, 0.0f, -1.0f};
    D3DXVECTOR3 target{0.0f, 0.0f, 0.0f};
};

// Width over height as a float; 1 for an empty size.
float ViewAspect(int width, int height);
// Left-handed perspective (D3DXMatrixPerspectiveFovLH) with the viewer's near plane and field of
// view.
D3DXMATRIX ViewerProjection(float aspect, float farPlane = kViewFar);
// Eye (cx, -cy, cz + 150) and target (cx, -cy, cz), from the record's unscaled centre.
void AimAtMesh(ViewCamera& camera, const tr4::MeshRecord& record);
// The view from the camera's eye towards its target, up +y (D3DXMatrixLookAtLH).
D3DXMATRIX CameraView(const ViewCamera& camera);
// The largest distance, in level units, from the record's centre to any of its vertices.
float MeshReach(const tr4::MeshRecord& record);
// The zoom a newly selected mesh starts from: min(6, fit), where the fit puts the mesh's bounding
// sphere about its centre within 90% of the smaller half-angle of the view (vertical pi/8,
// horizontal atan(aspect tan(pi/8))) seen from the eye 150 away. A mesh without vertices, or
// whose vertices all sit on its centre, gets 6.
float FitZoom(const tr4::MeshRecord& record, float aspect);
// The world matrix of the frame (row vectors): the scaled mesh's centre moved to the origin, then
// scaled by the zoom, turned about X, then about Y, then moved to the target (cx, -cy, cz) and by
// the pan. So the mesh turns about its own centre, which sits where the eye looks.
D3DXMATRIX MeshWorld(const tr4::MeshRecord& record, const MeshView& view);
// What a draw is given: the world, then the camera's view, then its projection.
D3DXMATRIX FrameTransform(const D3DXMATRIX& world, const ViewCamera& camera);
// One whole frame: clear to white with depth; with a record, the camera aimed at it (AimAtMesh)
// and its mesh drawn with MeshWorld in mode 0; present. False, with why, when the mesh could not
// be drawn (none, or not on the device) or the frame not presented (the device is lost).
bool DrawMeshFrame(dxDevice8& device, ViewCamera& camera, const dxVertexBuffer* mesh,
                   const tr4::MeshRecord* record, const MeshView& view, std::string& error);

}  // namespace tr4
