#pragma once
// Drawing a glTF file with the project's own device, under glTF's own conventions, never the
// export's: a right-handed space whose front faces run counter-clockwise on screen, and the
// file's positions, texture coordinates and images. The device's space is left-handed and its
// camera looks along +z; a position (x, y, z) of the file is drawn at (-x, y, z) x toView, which
// shows the file as a right-handed camera behind its origin, looking toward +Z, sees it (the
// level's view, since the file's +Z is the level's +z). The mirror and the device's handedness
// cancel, so faces keep their turn on screen: the counter-clockwise ones are drawn and the
// clockwise ones culled, as any glTF viewer does. A face written inside out disappears.
#include <array>
#include <memory>
#include <vector>

#include <tiny_gltf.h>

#include "RenderMesh.h"
#include "dxDevice8.h"

namespace exporttest {

// The helpers speak the render layer's names.
using namespace tr4;

// One texture per image of the model (its RGBA texels as format 21). An image that is not 8-bit
// RGBA gives none.
std::vector<TexturePtr> TexturesOf(dxDevice8& device, const tinygltf::Model& model);

// Adds the triangles of glTF mesh index, moved by offset (file units), to out: one textured
// triangle per glTF triangle, its texture the image of its material's base colour (none for a
// material without one: plain grey). Points primitives add nothing.
void AddMesh(const tinygltf::Model& model, int mesh, const double offset[3], double toView,
             const std::vector<TexturePtr>& textures, MeshGeometry& out);

// The same, placed by a column-major 4 x 4 transform of the file's space.
void AddMesh(const tinygltf::Model& model, int mesh, const std::array<double, 16>& world,
             double toView, const std::vector<TexturePtr>& textures, MeshGeometry& out);

// The faces of mesh in reverse order, as the viewer draws a level mesh's faces (last first), so
// faces at equal depth settle as they do there.
void ReverseFaces(MeshGeometry& mesh);

// model with its animation named animation posed at keyframe k: each channel's node takes that
// key's translation or rotation.
tinygltf::Model Posed(const tinygltf::Model& model, const std::string& animation, size_t k);

// The whole default scene, every node placed as its hierarchy's translations and rotations say.
void AddScene(const tinygltf::Model& model, double toView, const std::vector<TexturePtr>& textures,
              MeshGeometry& out);

}  // namespace exporttest
