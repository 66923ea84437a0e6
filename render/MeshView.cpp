#include "MeshView.h"

#include <algorithm>
#include <cmath>

#include "dxDevice8.h"

namespace tr4 {

float ViewAspect(int width, int height) {
    if (width <= 0 || height <= 0) return 1.0f;
    return static_cast<float>(width) / static_cast<float>(height);
}

D3DXMATRIX ViewerProjection(float aspect, float farPlane) {
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, kViewFieldOfView, aspect, kViewNear, farPlane);
    return projection;
}

void AimAtMesh(ViewCamera& camera, const tr4::MeshRecord& record) {
    const float cx = record.centreX, cy = record.centreY, cz = record.centreZ;
    camera.eye = {cx, -cy, cz + kViewEyeDistance};
    camera.target = {cx, -cy, cz};
}

D3DXMATRIX CameraView(const ViewCamera& camera) {
    const D3DXVECTOR3 up{0.0f, 1.0f, 0.0f};
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &camera.eye, &camera.target, &up);
    return view;
}

float MeshReach(const tr4::MeshRecord& record) {
    double reach2 = 0.0;
    for (const tr4::MeshVertex& v : record.vertices) {
        const double dx = static_cast<double>(v.x) - record.centreX;
        const double dy = static_cast<double>(v.y) - record.centreY;
        const double dz = static_cast<double>(v.z) - record.centreZ;
        reach2 = std::max(reach2, dx * dx + dy * dy + dz * dz);
    }
    return static_cast<float>(std::sqrt(reach2));
}

float FitZoom(const tr4::MeshRecord& record, float aspect) {
    const float reach = MeshReach(record);
    if (!(reach > 0.0f)) return kViewStartZoom;
    const double halfFov = kViewFieldOfView / 2.0;
    const double horizontal = std::atan(static_cast<double>(aspect) * std::tan(halfFov));
    const double t = std::min(halfFov, horizontal);
    const double fit = kViewFitMargin * kViewEyeDistance * std::sin(t) /
                       (static_cast<double>(kViewMeshScale) * reach);
    return static_cast<float>(std::min<double>(kViewStartZoom, fit));
}

D3DXMATRIX MeshWorld(const tr4::MeshRecord& record, const MeshView& view) {
    const float cx = record.centreX, cy = record.centreY, cz = record.centreZ;
    D3DXMATRIX world, step;
    D3DXMatrixTranslation(&world, -kViewMeshScale * cx, kViewMeshScale * cy, -kViewMeshScale * cz);
    auto then = [&](const D3DXMATRIX& m) { D3DXMatrixMultiply(&world, &world, &m); };
    then(*D3DXMatrixScaling(&step, view.zoom, view.zoom, view.zoom));
    then(*D3DXMatrixRotationX(&step, view.rotationX));
    then(*D3DXMatrixRotationY(&step, view.rotationY));
    then(*D3DXMatrixTranslation(&step, cx, -cy, cz));
    then(*D3DXMatrixTranslation(&step, view.panX, view.panY, 0.0f));
    return world;
}

D3DXMATRIX FrameTransform(const D3DXMATRIX& world, const ViewCamera& camera) {
    const D3DXMATRIX view = CameraView(camera);
    D3DXMATRIX transform;
    D3DXMatrixMultiply(&transform, &world, &view);
    D3DXMatrixMultiply(&transform, &transform, &camera.projection);
    return transform;
}

bool DrawMeshFrame(dxDevice8& device, ViewCamera& camera, const dxVertexBuffer* mesh,
                   const tr4::MeshRecord* record, const MeshView& view, std::string& error) {
    device.SetClearColor(255, 255, 255);
    device.ClearFrame(true);
    bool drawn = true;
    if (record) {
        AimAtMesh(camera, *record);
        drawn = device.DrawMesh(mesh, FrameTransform(MeshWorld(*record, view), camera), 0, error);
    }
    // Presented all the same, so a lost device is seen by the caller in either case.
    std::string notPresented;
    const bool presented = device.PresentFrame(notPresented);
    if (drawn && !presented) error = notPresented;
    return drawn && presented;
}

}  // namespace tr4
