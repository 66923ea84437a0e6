#pragma once
// Building the render meshes of a level: one dxBufferTextura per decoded mesh, one textured
// polygon per face, uploaded to the device, owned by the mesh list under the same index.
#include <cstdint>
#include <string>
#include <vector>

#include "Level.h"
#include "MeshList.h"

namespace tr4 {

class dxDevice8;
class trTextura;

// E_FAIL when list is none or holds no mesh (nothing made); otherwise S_OK, with every slot of the
// list holding a dxBufferTextura (see TexturedMeshAt in dxBufferColor8.h). Positions are the vertex
// times 0.1 with y negated; texture coordinates the object texture's corner pixels / 255.
// Faces that cannot be drawn sensibly:
//   - a face naming a vertex outside its mesh is left out, and a warning says so;
//   - a texture index outside the object textures, or a page that does not exist (or pages none),
//     gives a face without texture (drawn plain grey), also with a warning.
// Without a device the meshes are built but not uploaded (they draw nothing).
int32_t BuildRenderMeshes(tr4::Lista_Mesh* list, dxDevice8* device, trTextura* pages,
                          const tr4::Level& level, std::vector<std::string>* warnings = nullptr);

// Memory that BuildRenderMeshes and the upload of its meshes will take for list (polygon objects,
// gathered vertex data, face tables, the device's copy of each vertex buffer), found from the
// face counts alone, so a caller can refuse a level before building anything.
uint64_t RenderMeshBytes(const tr4::Lista_Mesh* list);
// The same for the texture pages of level at 32 or 16 bits (the kept copy and the device's).
uint64_t TexturePageBytes(const tr4::Level& level, bool wide);

}  // namespace tr4
