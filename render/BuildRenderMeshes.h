#pragma once
// Building the render meshes of a level: each decoded mesh's drawable faces written straight into
// the layout the device uploads, and uploaded; one vertex buffer per mesh, indexed like the list.
#include <cstdint>
#include <string>
#include <vector>

#include "Level.h"
#include "MeshFaces.h"
#include "MeshList.h"
#include "RenderMesh.h"
#include "RenderTypes.h"

namespace tr4 {

class dxDevice8;
class trTextura;

// What building a mesh's geometry counted for its warnings.
struct MeshGeometryCounts {
    int dropped = 0;     // faces left out: a corner outside the mesh
    int untextured = 0;  // faces drawn plain: no such page
};

// The geometry of record as the viewer draws it (out is replaced; faces is scratch room, reused
// from mesh to mesh): its faces last first, positions the vertex times 0.1 with y negated,
// texture coordinates the object texture's corner pixels / 255, each face culled when it turns
// counter-clockwise on screen. A face naming a vertex outside the mesh is left out; one whose
// texture index names no object texture, or whose page pages lacks (or pages is none), is drawn
// without texture (plain grey).
MeshGeometryCounts BuildMeshGeometry(const tr4::MeshRecord& record, const tr4::Level& level,
                                     const trTextura* pages, tr4::MeshFaces& faces,
                                     MeshGeometry& out);

// Every mesh of list built and uploaded to device: out holds one vertex buffer per mesh, under
// the mesh's index. Meshes with faces left out or drawn plain add a warning each. False, with
// why, when a mesh could not be uploaded (out is then empty).
bool BuildRenderMeshes(const tr4::Lista_Mesh& list, const tr4::Level& level, const trTextura* pages,
                       dxDevice8& device, std::vector<VertexBufferPtr>& out,
                       std::vector<std::string>& warnings, std::string& error);

// Memory that BuildRenderMeshes will take for list (the vertices and faces made, the device's
// copy of each vertex buffer and the driver's), found from the face counts alone, so a caller
// can refuse a level before building anything.
uint64_t RenderMeshBytes(const tr4::Lista_Mesh* list);
// The same for the texture pages of level at 32 or 16 bits (the kept copy and the device's).
uint64_t TexturePageBytes(const tr4::Level& level, bool wide);

}  // namespace tr4
