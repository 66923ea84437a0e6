#pragma once
// Drawing a glTF file with the project's own device, under glTF's conventions: counter-clockwise
// front faces in a right-handed space, the file's positions, texture coordinates and images.
// The device keeps the viewer's left-handed conventions, so a position (x, y, z) of the file is
// drawn at (x, y, -z) x toView; the mirror turns the file's counter-clockwise front faces into the
// clockwise ones the device keeps (it culls counter-clockwise faces on screen).
#include <memory>
#include <vector>

#include <tiny_gltf.h>

#include "dxBufferColor8.h"
#include "dxDevice8.h"

namespace exporttest {

// The helpers speak the render layer's names.
using namespace tr4;

// One texture per image of the model (its RGBA texels as format 21), owned by the caller
// (ReleaseTexture). An image that is not 8-bit RGBA gives none.
std::vector<dxTexture*> TexturesOf(dxDevice8& device, const tinygltf::Model& model);

// Adds the triangles of glTF mesh index, moved by offset (file units), to out: one textured
// triangle per glTF triangle, its texture the image of its material's base colour (none for a
// material without one: plain grey). Points primitives add nothing.
void AddMesh(const tinygltf::Model& model, int mesh, const double offset[3], double toView,
             const std::vector<dxTexture*>& textures, dxBufferTextura& out);

// The whole default scene, every node at its place in the hierarchy (translations only).
void AddScene(const tinygltf::Model& model, double toView, const std::vector<dxTexture*>& textures,
              dxBufferTextura& out);

}  // namespace exporttest
