#pragma once
// Builds level files in memory from a description, so every test has a focused fixture: the
// header, four real zlib chunks, level data with rooms, meshes, object textures and the trailing
// sections, and the raw remainder. Counts of the sections nothing interprets are filled with a
// recognisable byte pattern.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Animations.h"
#include "Level.h"
#include "MeshList.h"

namespace tr4test {

using Bytes = std::vector<uint8_t>;

struct MeshPlan {
    int16_t centre[3] = {0, 0, 0};
    uint32_t radius = 0;
    std::vector<tr4::MeshVertex> vertices;
    std::vector<tr4::MeshVertex> normals;  // written when shades is empty
    std::vector<int16_t> shades;           // when not empty, normalCount is -shades.size()
    std::vector<tr4::MeshRectangle> rectangles;
    std::vector<tr4::MeshTriangle> triangles;
    // Counts written instead of the array sizes (0 or negative counts with no array, say).
    std::optional<int16_t> vertexCount, rectangleCount, triangleCount;
    uint16_t alignmentWord = 0xA11A;  // the value written when the mesh needs one
};

struct RoomPlan {
    int16_t vertexCount = 2, rectangleCount = 1, triangleCount = 1, spriteCount = 0;
    uint16_t portalCount = 1, sectorCountZ = 2, sectorCountX = 3, lightCount = 1, staticCount = 1;
    uint32_t dataWordCount = 0;  // the parse ignores it
};

struct LevelPlan {
    uint32_t version = 0x00345254;
    uint16_t roomPageCount = 1, objectPageCount = 1, bumpPageCount = 0;
    Bytes pages32, pages16, miscPages;
    std::vector<RoomPlan> rooms{RoomPlan{}};
    std::vector<MeshPlan> meshes;
    std::optional<Bytes> meshData;  // raw mesh data instead of encoding meshes
    // Written instead of meshPointerCount, moveableCount and their patterns when given.
    std::optional<std::vector<uint32_t>> meshPointers;
    std::optional<std::vector<tr4::MoveableRecord>> moveables;
    uint32_t floorDataCount = 3, meshPointerCount = 2, animationCount = 1, stateChangeCount = 1,
             animDispatchCount = 1, animCommandCount = 2, meshTreeCount = 1, frameCount = 4,
             moveableCount = 2, staticMeshCount = 1, spriteTextureCount = 1,
             spriteSequenceCount = 1, cameraCount = 1, flybyCameraCount = 1, soundSourceCount = 1,
             boxCount = 2, overlapCount = 3, animatedTextureCount = 2, itemCount = 1,
             aiObjectCount = 1, soundDetailCount = 2, sampleIndexCount = 2;
    uint16_t demoDataCount = 1;
    std::vector<tr4::ObjectTexture> objectTextures;
    // Written instead of meshTreeCount and its pattern when given.
    std::optional<std::vector<int32_t>> meshTrees;
    // Written instead of animationCount, animCommandCount and frameCount with their patterns.
    std::optional<std::vector<tr4::AnimationRecord>> animations;
    std::optional<std::vector<uint16_t>> animCommands, frames;
    Bytes afterTrailer;  // extra level-data bytes after the trailer
    uint32_t sampleCount = 0;
    Bytes sampleData;
};

// One mesh as it stands in the mesh data, with its alignment word when it needs one.
Bytes EncodeMesh(const MeshPlan& mesh);
Bytes EncodeMeshes(const std::vector<MeshPlan>& meshes);
Bytes BuildLevelData(const LevelPlan& plan);
// One chunk: uncompressed size, compressed size, zlib stream of payload. statedSize replaces the
// true uncompressed size in the chunk header when given.
Bytes BuildChunk(const Bytes& payload, std::optional<uint32_t> statedSize = std::nullopt);
Bytes BuildLevelFile(const LevelPlan& plan);

// Byte offsets of the pieces of a built file, for tests that cut or corrupt it at known places.
struct FileLayout {
    size_t chunkStart[4] = {};  // first byte of each chunk header
    size_t sampleCountAt = 0;
    size_t fileSize = 0;
};
FileLayout LayoutOf(const LevelPlan& plan);

// A 256 x 256 page of 32-bit texels (B, G, R, A) filled with colour, and its 16-bit X1R5G5B5 twin.
Bytes SolidPage32(uint8_t r, uint8_t g, uint8_t b);
Bytes Page16From32(const Bytes& page32);

// The bundled sample: a few recognisable textured meshes on two pages.
LevelPlan DemoLevel();

// A generated level of n copies of a small textured mesh, for scaling benchmarks.
LevelPlan ManyMeshes(int n);

// A level whose mesh data is that of level, copies times over, each copy's mesh pointers moved
// onto its own meshes, with level's version, texture pages and object textures: any number of
// meshes as modders make them (their sizes, faces and textures), so that scaling and memory
// figures measure the work real meshes cause. The rest of the level is the writer's default.
// The mesh data of all copies must stay below 4 GiB, as the pointers are 32-bit. level must hold
// its mesh words, as LoadLevelFile leaves them (LoadLevel lets them go once decoded).
LevelPlan RealMeshesRepeated(const tr4::Level& level, int copies);

Bytes ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const Bytes& bytes);

}  // namespace tr4test
