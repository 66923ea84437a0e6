#include "MeshView.h"

#include "dxBuffer.h"
#include "dxDevice8.h"

void SetViewerProjection(dxDevice8& device, float aspect) {
    device.SetProjection(kViewNear, kViewFar, aspect, kViewFieldOfView);
}

void AimAtMesh(dxDevice8& device, const tr4::MeshRecord& record) {
    const float cx = record.centreX, cy = record.centreY, cz = record.centreZ;
    device.SetEye(cx, -cy, cz + kViewEyeDistance);
    device.SetTarget(cx, -cy, cz);
}

int32_t DrawMeshFrame(dxDevice8& device, dxBufferColor8* mesh, const tr4::MeshRecord& record,
                      const MeshView& view) {
    device.SetClearColor(255, 255, 255);
    device.ClearFrame(1);
    if (mesh) {
        // The setter called last acts first: the vertex is scaled, turned about X, then about Y,
        // then moved to the centre and by the pan.
        mesh->Translate(view.panX, view.panY, 0.0f);
        mesh->Translate(record.centreX, -static_cast<float>(record.centreY), record.centreZ);
        mesh->RotateY(view.yaw);
        mesh->RotateX(view.pitch);
        mesh->Scale(view.zoom);
        device.DrawMesh(mesh, 0);
    }
    return device.PresentFrame();
}
