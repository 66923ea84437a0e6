#pragma once
// glTF 2.0 export of a level's meshes and objects, through tinygltf.
//
// Positions are (-x, -y, z) x scale: the level's y points down and glTF's up, and an object's
// front (+z in the level) faces glTF's +Z. That is a half turn about the vertical, so nothing is
// mirrored; the level's corners run clockwise seen from the side a face shows, so every triangle
// is written reversed to make that side glTF's (counter-clockwise) front. Faces, texture
// coordinates and pages are the viewer's (tr4::BuildMeshFaces). Meshes that store normals carry
// them as NORMAL (turned as the positions, unit length); meshes that store shades carry them as a
// grey COLOR_0 (ShadeToGrey). Within a primitive, corners equal in everything share one vertex.
// One material per page and mode: opaque, MASK (attribute 1, cut-off 0.5) or additive (attribute
// 2, or bit 0 of the face's effects: BLEND over the page with its brightness as alpha, "page N
// additive"); faces without a texture get a plain grey material. Each page used is one image (two
// when additive faces use it too). A mesh without drawable faces gets one primitive of its
// vertices as points. Every level mesh is written once, however many nodes use it.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <tiny_gltf.h>

#include "Level.h"
#include "MeshList.h"
#include "ObjectMeshes.h"
#include "PagePng.h"
#include "SafeFile.h"

namespace tr4export {

struct ModelBulk;  // GltfWriter.h

inline constexpr double kDefaultScale = 1.0 / 1024.0;  // one floor sector is one metre

struct ExportRequest {
    enum class Kind { Meshes, AllMeshes, Moveable, Static, Level };
    Kind kind = Kind::AllMeshes;
    std::vector<int> meshes;  // Kind::Meshes: level mesh indices, one node each
    uint32_t id = 0;          // Kind::Moveable / Kind::Static: the object's id
    uint32_t occurrence = 0;  // which record with that id (0: the first), when several share it
    double scale = kDefaultScale;
    // Images as PNG in the binary buffer (.glb); otherwise as data URIs (.gltf).
    bool binary = true;
    // Pages already encoded, shared by the exports of one level (every object of --objects):
    // encoding a page takes far longer than anything else. None: each export encodes its own.
    PagePngCache* pages = nullptr;
    // The level's objects and their meshes, likewise shared. None: each export finds its own.
    const ObjectMeshes* objects = nullptr;
    // Kind::Level: the name of the root node (the level file's), and what the scene leaves out.
    std::string name;
    bool items = true;
    bool lights = true;
    // Kind::Moveable: every animation that stores keyframes as a glTF animation, and the player
    // (moveable 0) with her skin and joints (MoveableAnimations.h, MoveableNodes.h).
    bool animations = false;
    // Not empty: images are files of this folder, relative to the glTF file, named by
    // PagePngName (the caller writes them), instead of data in the file.
    std::string imageFolder;
    // Binary only: when set, the buffer's data is left here in pieces (the streams moved, not
    // copied) and the accessors as records, and the model holds neither; WriteModel writes them
    // from here.
    ModelBulk* bulk = nullptr;
};

// The grey a mesh vertex's stored shade gives: shades run from 0 (brightest) to 8191 (darkest),
// and 4096, the value most vertices of unlit meshes hold, leaves the texture as it is (1.0).
// Brighter shades are clamped to 1: a glTF vertex colour can darken a texture, not brighten it.
// The result is linear, as glTF's vertex colours are (DisplayToLinear).
float ShadeToGrey(int16_t shade);

// The game darkens a texel's displayed value by a factor; glTF multiplies linear values, so the
// same darkening is the factor to the power 2.2 there.
float DisplayToLinear(float factor);

// Builds the glTF model of request. False with error set when there is nothing to build (an
// index past the last mesh, an id no object has); problems that leave a usable model (a part
// whose mesh cannot be found, say) are added to warnings.
bool BuildModel(const tr4::Level& level, const tr4::Lista_Mesh* list, const ExportRequest& request,
                tinygltf::Model& model, std::vector<std::string>& warnings, std::string& error);

// What an export costs, worked out from the level before anything is built, so that a level
// whose few kilobytes name hundreds of thousands of meshes or parts is refused within its memory
// budget instead of exhausting the machine. Both are upper bounds.
struct ExportCost {
    uint64_t memory = 0;  // the model, its vertex streams and its serialisation, at their peak
    uint64_t file = 0;    // the file written, images included unless they are files of their own
    uint64_t pages = 0;   // the page images the file uses, when they are files of their own
    bool ok = false;      // false when the request names nothing (BuildModel then says why)
    // The page images the file uses (page, additive), as far as the level's records tell.
    std::set<std::pair<int, bool>> images;
};
ExportCost EstimateExport(const tr4::Level& level, const tr4::Lista_Mesh* list,
                          const ExportRequest& request, const ObjectMeshes& objects);

// The whole level as one scene (Kind::Level; LevelExport.cpp): a root node named request.name
// holding a node "room N" per room at its position, with its faces (COLOR_0 from the room's
// vertex colours, double-sided materials for faces marked so) and, as its children, its static
// placements ("room N static K", sharing one glTF mesh per level mesh) and lights ("room N light
// K", KHR_lights_punctual); rooms that replace another when the level flips sit under a node
// "alternate rooms". Items ("item K") stand at their places with their parts posed in the first
// keyframe of their first animation that stores one; the player with her skin and joints. What
// glTF has no place for stays in each node's extras.
bool BuildLevelModel(const tr4::Level& level, const tr4::Lista_Mesh* list,
                     const ExportRequest& request, tinygltf::Model& model,
                     std::vector<std::string>& warnings, std::string& error);

// A room vertex's colour (RGB555) as a linear glTF colour: 16 in a channel leaves the texture as
// it is, less darkens it, more is kept at 1.
std::array<float, 3> RoomColour(uint16_t rgb555);

// Writes model to path whole or not at all (SafeFile): binary glTF for request.binary, else JSON
// with the buffer as a data URI. Refuses to replace the file never. With a batch, the file joins
// it and takes its name when the batch is committed.
// whileSyncing, when given, runs once the file is written, while it is made durable on another
// thread (without a batch): the caller lets go of the model there, which takes about as long.
bool WriteModel(const tinygltf::Model& model, const std::string& path, bool binary,
                std::string& error, std::optional<FileId> never = std::nullopt,
                SafeFileBatch* batch = nullptr, const ModelBulk* bulk = nullptr,
                const std::function<void()>& whileSyncing = nullptr);

// Whether path ends in .gltf (JSON), and whether in .gltf or .glb, in any letter case.
bool IsJsonPath(const std::string& path);
bool IsExportPath(const std::string& path);

}  // namespace tr4export
