#include "MeshView.h"

#include <algorithm>
#include <cmath>

#include "dxDevice8.h"

namespace tr4 {

float ViewAspect(int width, int height) {
    if (width <= 0 || height <= 0) return 1.0f;
    return static_cast<float>(width) / static_cast<float>(height);
}

void SetViewerProjection(dxDevice8& device, float aspect, float farPlane) {
    device.SetProjection(kViewNear, farPlane, aspect, kViewFieldOfView);
}

void AimAtMesh(dxDevice8& device, const tr4::MeshRecord& record) {
    const float cx = record.centreX, cy = record.centreY, cz = record.centreZ;
    device.SetEye(cx, -cy, cz + kViewEyeDistance);
    device.SetTarget(cx, -cy, cz);
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

bool DrawMeshFrame(dxDevice8& device, const dxVertexBuffer* mesh, const tr4::MeshRecord* record,
                   const MeshView& view, std::string& error) {
    device.SetClearColor(255, 255, 255);
    device.ClearFrame(true);
    bool drawn = true;
    if (record) {
        AimAtMesh(device, *record);
        drawn = device.DrawMesh(mesh, MeshWorld(*record, view), 0, error);
    }
    // Presented all the same, so a lost device is seen by the caller in either case.
    std::string notPresented;
    const bool presented = device.PresentFrame(notPresented);
    if (drawn && !presented) error = notPresented;
    return drawn && presented;
}

}  // namespace tr4
