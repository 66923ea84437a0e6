#include <gtest/gtest.h>

#include <cstring>

#include "LevelLoader.h"
#include "LevelWriter.h"

namespace {

using tr4test::Bytes;
using tr4test::LevelSpec;

struct Loaded {
    tr4::Level level;
    tr4::LoadReport report;
};

Loaded Load(const Bytes& file) {
    Loaded l;
    EXPECT_EQ(tr4::LoadLevelFromMemory(file.data(), file.size(), l.level, &l.report), 1);
    return l;
}

Loaded Load(const LevelSpec& spec) {
    return Load(tr4test::BuildLevelFile(spec));
}

bool AnyWarningHas(const tr4::LoadReport& r, const std::string& text) {
    for (const auto& w : r.warnings)
        if (w.find(text) != std::string::npos) return true;
    return false;
}

TEST(LevelLoader, ReadsEveryHeaderFieldChunkAndCount) {
    LevelSpec spec = tr4test::DemoLevel();
    spec.sampleCount = 3;
    spec.sampleData = {9, 8, 7, 6, 5};
    const Bytes file = tr4test::BuildLevelFile(spec);
    const Loaded l = Load(file);
    const tr4::Level& v = l.level;
    ASSERT_TRUE(l.report.Readable()) << l.report.error;
    EXPECT_TRUE(l.report.warnings.empty());
    EXPECT_TRUE(l.report.parseComplete);
    EXPECT_EQ(l.report.parseEnd, v.levelDataSize);

    EXPECT_EQ(v.version, 0x00345254u);
    EXPECT_EQ(v.pages32Size, spec.pages32.size());
    EXPECT_EQ(v.pages32, spec.pages32);
    EXPECT_EQ(v.pages16, spec.pages16);
    EXPECT_EQ(v.miscPages, spec.miscPages);
    EXPECT_EQ(v.levelData, tr4test::BuildLevelData(spec));
    EXPECT_EQ(v.pages32PackedSize + v.pages16PackedSize + v.miscPagesPackedSize +
                  v.levelDataPackedSize + 10 + 4 * 8 + 4 + 5,
              file.size());
    EXPECT_EQ(v.sampleCount, 3u);
    EXPECT_EQ(v.sampleData, spec.sampleData);

    ASSERT_EQ(v.roomCount, 1);
    ASSERT_EQ(v.rooms.size(), 1u);
    const tr4::RoomRecord& room = v.rooms[0];
    EXPECT_EQ(room.vertices.size(), 2u * 12);
    EXPECT_EQ(room.rectangles.size(), 10u);
    EXPECT_EQ(room.triangles.size(), 8u);
    EXPECT_TRUE(room.sprites.empty());
    EXPECT_EQ(room.portals.size(), 32u);
    EXPECT_EQ(room.sectors.size(), 2u * 3 * 8);
    EXPECT_EQ(room.lights.size(), 46u);
    EXPECT_EQ(room.statics.size(), 20u);

    EXPECT_EQ(v.floorData.size(), spec.floorDataCount);
    EXPECT_EQ(v.meshData.size(), v.meshDataWordCount);
    EXPECT_EQ(v.meshPointers.size(), spec.meshPointerCount);
    EXPECT_EQ(v.animations.size(), spec.animationCount * 40);
    EXPECT_EQ(v.stateChanges.size(), spec.stateChangeCount * 6);
    EXPECT_EQ(v.animDispatches.size(), spec.animDispatchCount * 8);
    EXPECT_EQ(v.animCommands.size(), spec.animCommandCount);
    EXPECT_EQ(v.meshTrees.size(), spec.meshTreeCount * 4);
    EXPECT_EQ(v.frames.size(), spec.frameCount);
    EXPECT_EQ(v.moveables.size(), spec.moveableCount);
    EXPECT_EQ(v.staticMeshes.size(), spec.staticMeshCount * 32);
    EXPECT_EQ(std::memcmp(v.spriteMarker.data(), "SPR", 3), 0);
    EXPECT_EQ(v.spriteTextures.size(), spec.spriteTextureCount * 16);
    EXPECT_EQ(v.spriteSequences.size(), spec.spriteSequenceCount * 8);
    EXPECT_EQ(v.cameras.size(), spec.cameraCount * 16);
    EXPECT_EQ(v.flybyCameras.size(), spec.flybyCameraCount * 40);
    EXPECT_EQ(v.soundSources.size(), spec.soundSourceCount * 16);
    EXPECT_EQ(v.boxes.size(), spec.boxCount * 8);
    EXPECT_EQ(v.overlaps.size(), spec.overlapCount);
    EXPECT_EQ(v.zones.size(), spec.boxCount * 20);
    EXPECT_EQ(v.animatedTextures.size(), spec.animatedTextureCount);
    EXPECT_EQ(std::memcmp(v.textureMarker.data(), "\0TEX", 4), 0);
    ASSERT_EQ(v.objectTextures.size(), spec.objectTextures.size());
    EXPECT_EQ(v.objectTextures[5].tile, 0x8001);
    EXPECT_EQ(v.objectTextures[1].corners[1].xPixel, 255);
    EXPECT_EQ(v.objectTextures[1].corners[2].yPixel, 127);
    EXPECT_EQ(v.items.size(), spec.itemCount * 24);
    EXPECT_EQ(v.aiObjects.size(), spec.aiObjectCount * 24);
    EXPECT_EQ(v.demoData.size(), spec.demoDataCount) << "2 bytes per unit of demoDataCount";
    EXPECT_EQ(v.soundDetails.size(), spec.soundDetailCount * 8);
    EXPECT_EQ(v.sampleIndices.size(), spec.sampleIndexCount);
}

TEST(LevelLoader, MoveablesAreReadFieldByField) {
    LevelSpec spec = tr4test::DemoLevel();
    spec.moveableCount = 2;
    const Loaded l = Load(spec);
    ASSERT_EQ(l.level.moveables.size(), 2u);
    // The writer's pattern for moveables is byte i = i * 7 + 18.
    auto byte = [](int i) { return uint32_t(uint8_t(i * 7 + 18)); };
    const tr4::MoveableRecord& second = l.level.moveables[1];
    EXPECT_EQ(second.id, byte(18) | byte(19) << 8 | byte(20) << 16 | byte(21) << 24);
    EXPECT_EQ(second.meshCount, byte(22) | byte(23) << 8);
    EXPECT_EQ(second.animation, byte(34) | byte(35) << 8);
}

TEST(LevelLoader, EmptySectionsTakeNoBytes) {
    LevelSpec spec = tr4test::DemoLevel();
    spec.rooms = {};
    spec.boxCount = 0;
    spec.objectTextures = {};
    spec.demoDataCount = 0;
    spec.floorDataCount = 0;
    spec.moveableCount = 0;
    const Loaded l = Load(spec);
    ASSERT_TRUE(l.report.parseComplete) << l.report.warnings.front();
    EXPECT_EQ(l.report.parseEnd, l.level.levelDataSize);
    EXPECT_TRUE(l.level.rooms.empty());
    EXPECT_TRUE(l.level.zones.empty());
    EXPECT_TRUE(l.level.objectTextures.empty());
    EXPECT_EQ(l.level.meshDataWordCount, tr4test::EncodeMeshes(spec.meshes).size() / 2);
}

TEST(LevelLoader, RoomGeometryCountsOfZeroOrBelowReadNothing) {
    LevelSpec spec = tr4test::DemoLevel();
    tr4test::RoomSpec odd;
    odd.vertexCount = -3;
    odd.rectangleCount = 0;
    odd.triangleCount = -1;
    odd.spriteCount = 2;
    odd.sectorCountZ = 0;
    odd.portalCount = 0;
    odd.lightCount = 0;
    odd.staticCount = 0;
    odd.dataWordCount = 12345;  // disagrees with the geometry; ignored
    spec.rooms = {odd, tr4test::RoomSpec{}};
    const Loaded l = Load(spec);
    ASSERT_TRUE(l.report.parseComplete);
    ASSERT_EQ(l.level.rooms.size(), 2u);
    EXPECT_EQ(l.level.rooms[0].vertexCount, -3);
    EXPECT_TRUE(l.level.rooms[0].vertices.empty());
    EXPECT_TRUE(l.level.rooms[0].triangles.empty());
    EXPECT_EQ(l.level.rooms[0].sprites.size(), 8u);
    EXPECT_TRUE(l.level.rooms[0].sectors.empty());
    EXPECT_EQ(l.level.rooms[1].sectors.size(), 48u);
    EXPECT_EQ(l.level.objectTextures.size(), spec.objectTextures.size());
}

TEST(LevelLoader, StatedSizeLargerThanTheStreamKeepsTheProducedSize) {
    LevelSpec spec = tr4test::DemoLevel();
    Bytes file;
    const Bytes full = tr4test::BuildLevelFile(spec);
    const tr4test::FileLayout layout = tr4test::LayoutOf(spec);
    // Rebuild with chunk 3 claiming more than it holds.
    file.assign(full.begin(), full.begin() + long(layout.chunkStart[2]));
    const Bytes chunk = tr4test::BuildChunk(spec.miscPages, uint32_t(spec.miscPages.size() + 999));
    file.insert(file.end(), chunk.begin(), chunk.end());
    file.insert(file.end(), full.begin() + long(layout.chunkStart[3]), full.end());
    const Loaded l = Load(file);
    EXPECT_TRUE(l.report.Readable());
    EXPECT_TRUE(l.report.warnings.empty());
    EXPECT_EQ(l.level.miscPagesSize, spec.miscPages.size());
    EXPECT_EQ(l.level.miscPages.size(), spec.miscPages.size());
}

TEST(LevelLoader, FileEndingAfterSampleCountHasNoSampleData) {
    LevelSpec spec = tr4test::DemoLevel();
    spec.sampleData.clear();
    const Loaded l = Load(spec);
    EXPECT_TRUE(l.report.Readable());
    EXPECT_TRUE(l.level.sampleData.empty());
}

TEST(LevelLoader, SecondLoadReplacesEverything) {
    LevelSpec first = tr4test::DemoLevel();
    first.sampleData = {1, 2, 3};
    LevelSpec second = tr4test::ManyMeshes(3);
    second.version = 0x12345678;
    second.rooms = {};
    tr4::Level level;
    const Bytes a = tr4test::BuildLevelFile(first), b = tr4test::BuildLevelFile(second);
    ASSERT_EQ(tr4::LoadLevelFromMemory(a.data(), a.size(), level), 1);
    ASSERT_EQ(tr4::LoadLevelFromMemory(b.data(), b.size(), level), 1);
    EXPECT_EQ(level.version, 0x12345678u);
    EXPECT_EQ(level.pages32Size, 262144u);
    EXPECT_TRUE(level.rooms.empty());
    EXPECT_TRUE(level.sampleData.empty());
    EXPECT_EQ(level.objectTextures.size(), 1u);
}

TEST(LevelLoader, ExtendedEngineTailStillGivesMeshesAndObjectTextures) {
    // Community engines store a larger sound map and more after the object textures: the tail
    // does not fit the standard layout, but everything before it must be kept.
    LevelSpec spec = tr4test::DemoLevel();
    spec.soundDetailCount = 0;
    spec.sampleIndexCount = 0;
    spec.demoDataCount = 0;
    Bytes data = tr4test::BuildLevelData(spec);
    // Replace soundMap onwards (740 + 4 + 4 + 6 bytes) with a twice-as-large map that makes the
    // standard reading see a nonsense count.
    data.resize(data.size() - (740 + 4 + 4 + 6));
    for (int i = 0; i < 1480; ++i) data.push_back(0xFF);
    data.insert(data.end(), {0, 0, 0, 0});
    Bytes file(tr4test::BuildLevelFile(spec));
    const tr4test::FileLayout layout = tr4test::LayoutOf(spec);
    file.resize(layout.chunkStart[3]);
    const Bytes chunk = tr4test::BuildChunk(data);
    file.insert(file.end(), chunk.begin(), chunk.end());
    file.insert(file.end(), {0, 0, 0, 0});

    const Loaded l = Load(file);
    EXPECT_TRUE(l.report.Readable());
    EXPECT_FALSE(l.report.parseComplete);
    EXPECT_TRUE(AnyWarningHas(l.report, "soundDetails")) << l.report.warnings.front();
    EXPECT_EQ(l.level.objectTextures.size(), spec.objectTextures.size());
    EXPECT_EQ(l.level.meshDataWordCount, tr4test::EncodeMeshes(spec.meshes).size() / 2);
    EXPECT_EQ(l.level.meshData.size(), l.level.meshDataWordCount);
    EXPECT_TRUE(l.level.soundDetails.empty());
}

TEST(LevelLoader, BytesAfterTheTrailerAreReportedNotFatal) {
    LevelSpec spec = tr4test::DemoLevel();
    spec.afterTrailer = {1, 2, 3};
    const Loaded l = Load(spec);
    EXPECT_TRUE(l.report.parseComplete);
    EXPECT_EQ(l.report.parseEnd + 3, l.level.levelDataSize);
    EXPECT_TRUE(AnyWarningHas(l.report, "3 bytes of level data follow the trailer"));
}

}  // namespace
