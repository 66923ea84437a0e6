#pragma once
// glTF 2.0 export of a level's meshes and objects, through tinygltf.
//
// Positions are (x, -y, -z) x scale: the level's y points down and glTF's up, and the half turn
// about x keeps handedness, so nothing is mirrored and the faces the viewer draws are the front
// (counter-clockwise) faces of the file. Faces, texture coordinates and pages are the viewer's
// (tr4::BuildMeshFaces). One material per (page, blending attribute): 0 opaque, 1 MASK (cut-off
// 0.5), 2 BLEND; faces without a texture get a plain grey material. Each used page is one PNG
// image. A mesh without drawable faces gets one primitive of its vertices as points. Every level
// mesh is written once, however many nodes use it.
#include <cstdint>
#include <string>
#include <vector>

#include <tiny_gltf.h>

#include "Level.h"
#include "MeshList.h"
#include "ObjectMeshes.h"
#include "PagePng.h"

namespace tr4export {

inline constexpr double kDefaultScale = 1.0 / 1024.0;  // one floor sector is one metre

struct ExportRequest {
    enum class Kind { Meshes, AllMeshes, Moveable, Static };
    Kind kind = Kind::AllMeshes;
    std::vector<int> meshes;  // Kind::Meshes: level mesh indices, one node each
    uint32_t id = 0;          // Kind::Moveable / Kind::Static: the object's id
    double scale = kDefaultScale;
    // Images as PNG in the binary buffer (.glb); otherwise as data URIs (.gltf).
    bool binary = true;
    // Pages already encoded, shared by the exports of one level (every object of --objects):
    // encoding a page takes far longer than anything else. None: each export encodes its own.
    PagePngCache* pages = nullptr;
    // The level's objects and their meshes, likewise shared. None: each export finds its own.
    const ObjectMeshes* objects = nullptr;
};

// Builds the glTF model of request. False with error set when there is nothing to build (an
// index past the last mesh, an id no object has); problems that leave a usable model (a part
// whose mesh cannot be found, say) are added to warnings.
bool BuildModel(const tr4::Level& level, const tr4::Lista_Mesh* list, const ExportRequest& request,
                tinygltf::Model& model, std::vector<std::string>& warnings, std::string& error);

// Writes model to path: binary glTF for request.binary, else JSON with the buffer as a data URI.
bool WriteModel(const tinygltf::Model& model, const std::string& path, bool binary,
                std::string& error);

// True when path ends in .gltf (JSON), false for anything else (.glb).
bool IsJsonPath(const std::string& path);

}  // namespace tr4export
