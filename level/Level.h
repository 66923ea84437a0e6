#pragma once
// Everything read from one level file. The container fields come from the file's header and its
// four zlib chunks; the rest from parsing the decompressed level data, in file order. The Level
// owns every buffer and array it holds; one instance is refilled by each load. Of the five raw
// blocks (the four chunks and sampleData) a load keeps only those its caller reads (RawBlocks in
// LevelLoader.h); the size fields are filled all the same.
#include <array>
#include <cstdint>
#include <vector>

namespace tr4 {

using Bytes = std::vector<uint8_t>;

struct RoomRecord {
    std::array<uint8_t, 16> info{};
    uint32_t dataWordCount = 0;  // kept; the geometry is read by its own four counts
    int16_t vertexCount = 0;
    int16_t rectangleCount = 0;
    int16_t triangleCount = 0;
    int16_t spriteCount = 0;
    Bytes vertices;    // 12 bytes each
    Bytes rectangles;  // 10 bytes each
    Bytes triangles;   // 8 bytes each
    Bytes sprites;     // 4 bytes each
    uint16_t portalCount = 0;
    uint16_t sectorCountZ = 0;
    uint16_t sectorCountX = 0;
    uint16_t lightCount = 0;
    uint16_t staticCount = 0;
    uint16_t extraWord2 = 0;
    std::array<uint16_t, 2> colour{};  // the two 16-bit halves in file order
    uint16_t extraWord1 = 0;
    Bytes portals;  // 32 bytes each
    Bytes sectors;  // sectorCountZ x sectorCountX entries of 8 bytes
    Bytes lights;   // 46 bytes each
    Bytes statics;  // 20 bytes each
    std::array<uint8_t, 3> extraBytes{};
};

struct MoveableRecord {
    uint32_t id = 0;
    uint16_t meshCount = 0;
    uint16_t firstMesh = 0;
    uint32_t meshTree = 0;
    uint32_t frameOffset = 0;
    uint16_t animation = 0;
};

struct ObjectTextureCorner {
    uint8_t xCoordinate = 0;
    uint8_t xPixel = 0;
    uint8_t yCoordinate = 0;
    uint8_t yPixel = 0;
};

struct ObjectTexture {
    uint16_t attribute = 0;
    uint16_t tile = 0;  // texture page word
    uint16_t flags = 0;
    std::array<ObjectTextureCorner, 4> corners{};
    uint32_t baseU = 0;
    uint32_t baseV = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

inline constexpr int kSoundMapEntries = 370;

struct Level {
    // Header and container (filled by the loader).
    uint32_t version = 0;
    uint16_t roomPageCount = 0;
    uint16_t objectPageCount = 0;
    uint16_t bumpPageCount = 0;
    uint32_t pages32Size = 0;  // bytes actually decompressed
    uint32_t pages32PackedSize = 0;
    uint32_t pages16Size = 0;
    uint32_t pages16PackedSize = 0;
    uint32_t miscPagesSize = 0;
    uint32_t miscPagesPackedSize = 0;
    uint32_t levelDataSize = 0;  // bounds the level-data parse
    uint32_t levelDataPackedSize = 0;
    uint32_t sampleCount = 0;
    Bytes pages32;
    Bytes pages16;
    Bytes miscPages;
    Bytes levelData;   // the parse's input
    Bytes sampleData;  // raw remainder of the file; nothing reads it

    // Level data (filled by ParseLevelData).
    uint32_t reservedWord = 0;
    uint16_t roomCount = 0;
    std::vector<RoomRecord> rooms;
    uint32_t floorDataCount = 0;
    std::vector<uint16_t> floorData;
    uint32_t meshDataWordCount = 0;
    uint32_t meshPointerCount = 0;
    uint32_t animationCount = 0;
    uint32_t stateChangeCount = 0;
    uint32_t animDispatchCount = 0;
    uint32_t animCommandCount = 0;
    uint32_t meshTreeCount = 0;
    uint32_t frameCount = 0;
    uint32_t moveableCount = 0;
    uint32_t staticMeshCount = 0;
    uint32_t spriteTextureCount = 0;
    uint32_t objectTextureCount = 0;
    uint32_t spriteSequenceCount = 0;
    uint32_t cameraCount = 0;
    uint32_t flybyCameraCount = 0;
    uint32_t soundSourceCount = 0;
    uint32_t boxCount = 0;
    uint32_t overlapCount = 0;
    uint32_t animatedTextureCount = 0;
    uint32_t itemCount = 0;
    uint32_t aiObjectCount = 0;
    uint32_t soundDetailCount = 0;
    uint32_t sampleIndexCount = 0;
    uint16_t demoDataCount = 0;
    std::array<uint8_t, 3> spriteMarker{};
    std::array<uint8_t, 4> textureMarker{};
    std::array<uint8_t, 6> trailer{};
    std::vector<uint16_t> meshData;
    std::vector<uint32_t> meshPointers;
    Bytes animations;      // 40-byte records
    Bytes stateChanges;    // 6-byte records
    Bytes animDispatches;  // 8-byte records
    std::vector<uint16_t> animCommands;
    Bytes meshTrees;  // 4-byte records
    std::vector<uint16_t> frames;
    std::vector<MoveableRecord> moveables;
    Bytes staticMeshes;     // 32-byte records
    Bytes spriteTextures;   // 16-byte records
    Bytes spriteSequences;  // 8-byte records
    Bytes cameras;          // 16-byte records
    Bytes flybyCameras;     // 40-byte records
    Bytes soundSources;     // 16-byte records
    Bytes boxes;            // 8-byte records
    std::vector<uint16_t> overlaps;
    Bytes zones;  // 20-byte records, boxCount of them
    std::vector<uint16_t> animatedTextures;
    std::vector<ObjectTexture> objectTextures;
    Bytes items;      // 24-byte records
    Bytes aiObjects;  // 24-byte records
    std::vector<uint16_t> demoData;
    std::array<uint16_t, kSoundMapEntries> soundMap{};
    Bytes soundDetails;  // 8-byte records
    std::vector<uint32_t> sampleIndices;
};

}  // namespace tr4
