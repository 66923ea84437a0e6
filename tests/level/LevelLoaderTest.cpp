#include <gtest/gtest.h>

#include <cstring>

#include "LevelLoader.h"
#include "LevelWriter.h"

namespace {

using tr4test::Bytes;
using tr4test::LevelPlan;

struct Loaded {
    tr4::Level level;
    tr4::LoadReport report;
};

Loaded Load(const Bytes& file) {
    Loaded l;
    EXPECT_EQ(tr4::LoadLevelFromMemory(file.data(), file.size(), l.level, &l.report), 1);
    return l;
}

Loaded Load(const LevelPlan& plan) {
    return Load(tr4test::BuildLevelFile(plan));
}

bool AnyWarningHas(const tr4::LoadReport& r, const std::string& text) {
    for (const auto& w : r.warnings)
        if (w.find(text) != std::string::npos) return true;
    return false;
}

TEST(LevelLoader, ReadsEveryHeaderFieldChunkAndCount) {
    LevelPlan plan = tr4test::DemoLevel();
    plan.sampleCount = 3;
    plan.sampleData = {9, 8, 7, 6, 5};
    const Bytes file = tr4test::BuildLevelFile(plan);
    const Loaded l = Load(file);
    const tr4::Level& v = l.level;
    ASSERT_TRUE(l.report.Readable()) << l.report.error;
    EXPECT_TRUE(l.report.warnings.empty());
    EXPECT_TRUE(l.report.parseComplete);
    EXPECT_EQ(l.report.parseEnd, v.levelDataSize);

    EXPECT_EQ(v.version, 0x00345254u);
    EXPECT_EQ(v.pages32Size, plan.pages32.size());
    EXPECT_EQ(v.pages32, plan.pages32);
    EXPECT_EQ(v.pages16, plan.pages16);
    EXPECT_EQ(v.miscPages, plan.miscPages);
    EXPECT_EQ(v.levelData, tr4test::BuildLevelData(plan));
    EXPECT_EQ(v.pages32PackedSize + v.pages16PackedSize + v.miscPagesPackedSize +
                  v.levelDataPackedSize + 10 + 4 * 8 + 4 + 5,
              file.size());
    EXPECT_EQ(v.sampleCount, 3u);
    EXPECT_EQ(v.sampleData, plan.sampleData);

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

    EXPECT_EQ(v.floorData.size(), plan.floorDataCount);
    EXPECT_EQ(v.meshData.size(), v.meshDataWordCount);
    EXPECT_EQ(v.meshPointers.size(), plan.meshPointerCount);
    EXPECT_EQ(v.animations.size(), plan.animationCount * 40);
    EXPECT_EQ(v.stateChanges.size(), plan.stateChangeCount * 6);
    EXPECT_EQ(v.animDispatches.size(), plan.animDispatchCount * 8);
    EXPECT_EQ(v.animCommands.size(), plan.animCommandCount);
    EXPECT_EQ(v.meshTrees.size(), plan.meshTreeCount * 4);
    EXPECT_EQ(v.frames.size(), plan.frameCount);
    EXPECT_EQ(v.moveables.size(), plan.moveableCount);
    EXPECT_EQ(v.staticMeshes.size(), plan.staticMeshCount * 32);
    EXPECT_EQ(std::memcmp(v.spriteMarker.data(), "SPR", 3), 0);
    EXPECT_EQ(v.spriteTextures.size(), plan.spriteTextureCount * 16);
    EXPECT_EQ(v.spriteSequences.size(), plan.spriteSequenceCount * 8);
    EXPECT_EQ(v.cameras.size(), plan.cameraCount * 16);
    EXPECT_EQ(v.flybyCameras.size(), plan.flybyCameraCount * 40);
    EXPECT_EQ(v.soundSources.size(), plan.soundSourceCount * 16);
    EXPECT_EQ(v.boxes.size(), plan.boxCount * 8);
    EXPECT_EQ(v.overlaps.size(), plan.overlapCount);
    EXPECT_EQ(v.zones.size(), plan.boxCount * 20);
    EXPECT_EQ(v.animatedTextures.size(), plan.animatedTextureCount);
    EXPECT_EQ(std::memcmp(v.textureMarker.data(), "\0TEX", 4), 0);
    ASSERT_EQ(v.objectTextures.size(), plan.objectTextures.size());
    EXPECT_EQ(v.objectTextures[5].tile, 0x8001);
    EXPECT_EQ(v.objectTextures[1].corners[1].xPixel, 255);
    EXPECT_EQ(v.objectTextures[1].corners[2].yPixel, 127);
    EXPECT_EQ(v.items.size(), plan.itemCount * 24);
    EXPECT_EQ(v.aiObjects.size(), plan.aiObjectCount * 24);
    EXPECT_EQ(v.demoData.size(), plan.demoDataCount) << "2 bytes per unit of demoDataCount";
    EXPECT_EQ(v.soundDetails.size(), plan.soundDetailCount * 8);
    EXPECT_EQ(v.sampleIndices.size(), plan.sampleIndexCount);
}

TEST(LevelLoader, MoveablesAreReadFieldByField) {
    LevelPlan plan = tr4test::DemoLevel();
    plan.moveableCount = 2;
    const Loaded l = Load(plan);
    ASSERT_EQ(l.level.moveables.size(), 2u);
    // The writer's pattern for moveables is byte i = i * 7 + 18.
    auto byte = [](int i) { return uint32_t(uint8_t(i * 7 + 18)); };
    const tr4::MoveableRecord& second = l.level.moveables[1];
    EXPECT_EQ(second.id, byte(18) | byte(19) << 8 | byte(20) << 16 | byte(21) << 24);
    EXPECT_EQ(second.meshCount, byte(22) | byte(23) << 8);
    EXPECT_EQ(second.animation, byte(34) | byte(35) << 8);
}

TEST(LevelLoader, EmptySectionsTakeNoBytes) {
    LevelPlan plan = tr4test::DemoLevel();
    plan.rooms = {};
    plan.boxCount = 0;
    plan.objectTextures = {};
    plan.demoDataCount = 0;
    plan.floorDataCount = 0;
    plan.moveableCount = 0;
    const Loaded l = Load(plan);
    ASSERT_TRUE(l.report.parseComplete) << l.report.warnings.front();
    EXPECT_EQ(l.report.parseEnd, l.level.levelDataSize);
    EXPECT_TRUE(l.level.rooms.empty());
    EXPECT_TRUE(l.level.zones.empty());
    EXPECT_TRUE(l.level.objectTextures.empty());
    EXPECT_EQ(l.level.meshDataWordCount, tr4test::EncodeMeshes(plan.meshes).size() / 2);
}

TEST(LevelLoader, RoomGeometryCountsOfZeroOrBelowReadNothing) {
    LevelPlan plan = tr4test::DemoLevel();
    tr4test::RoomPlan odd;
    odd.vertexCount = -3;
    odd.rectangleCount = 0;
    odd.triangleCount = -1;
    odd.spriteCount = 2;
    odd.sectorCountZ = 0;
    odd.portalCount = 0;
    odd.lightCount = 0;
    odd.staticCount = 0;
    odd.dataWordCount = 12345;  // disagrees with the geometry; ignored
    plan.rooms = {odd, tr4test::RoomPlan{}};
    const Loaded l = Load(plan);
    ASSERT_TRUE(l.report.parseComplete);
    ASSERT_EQ(l.level.rooms.size(), 2u);
    EXPECT_EQ(l.level.rooms[0].vertexCount, -3);
    EXPECT_TRUE(l.level.rooms[0].vertices.empty());
    EXPECT_TRUE(l.level.rooms[0].triangles.empty());
    EXPECT_EQ(l.level.rooms[0].sprites.size(), 8u);
    EXPECT_TRUE(l.level.rooms[0].sectors.empty());
    EXPECT_EQ(l.level.rooms[1].sectors.size(), 48u);
    EXPECT_EQ(l.level.objectTextures.size(), plan.objectTextures.size());
}

TEST(LevelLoader, StatedSizeLargerThanTheStreamKeepsTheProducedSize) {
    LevelPlan plan = tr4test::DemoLevel();
    Bytes file;
    const Bytes full = tr4test::BuildLevelFile(plan);
    const tr4test::FileLayout layout = tr4test::LayoutOf(plan);
    // Rebuild with chunk 3 claiming more than it holds.
    file.assign(full.begin(), full.begin() + long(layout.chunkStart[2]));
    const Bytes chunk = tr4test::BuildChunk(plan.miscPages, uint32_t(plan.miscPages.size() + 999));
    file.insert(file.end(), chunk.begin(), chunk.end());
    file.insert(file.end(), full.begin() + long(layout.chunkStart[3]), full.end());
    const Loaded l = Load(file);
    EXPECT_TRUE(l.report.Readable());
    EXPECT_TRUE(l.report.warnings.empty());
    EXPECT_EQ(l.level.miscPagesSize, plan.miscPages.size());
    EXPECT_EQ(l.level.miscPages.size(), plan.miscPages.size());
}

TEST(LevelLoader, FileEndingAfterSampleCountHasNoSampleData) {
    LevelPlan plan = tr4test::DemoLevel();
    plan.sampleData.clear();
    const Loaded l = Load(plan);
    EXPECT_TRUE(l.report.Readable());
    EXPECT_TRUE(l.level.sampleData.empty());
}

TEST(LevelLoader, SecondLoadReplacesEverything) {
    LevelPlan first = tr4test::DemoLevel();
    first.sampleData = {1, 2, 3};
    LevelPlan second = tr4test::ManyMeshes(3);
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
    LevelPlan plan = tr4test::DemoLevel();
    plan.soundDetailCount = 0;
    plan.sampleIndexCount = 0;
    plan.demoDataCount = 0;
    Bytes data = tr4test::BuildLevelData(plan);
    // Replace soundMap onwards (740 + 4 + 4 + 6 bytes) with a twice-as-large map that makes the
    // standard reading see a nonsense count.
    data.resize(data.size() - (740 + 4 + 4 + 6));
    for (int i = 0; i < 1480; ++i) data.push_back(0xFF);
    data.insert(data.end(), {0, 0, 0, 0});
    Bytes file(tr4test::BuildLevelFile(plan));
    const tr4test::FileLayout layout = tr4test::LayoutOf(plan);
    file.resize(layout.chunkStart[3]);
    const Bytes chunk = tr4test::BuildChunk(data);
    file.insert(file.end(), chunk.begin(), chunk.end());
    file.insert(file.end(), {0, 0, 0, 0});

    const Loaded l = Load(file);
    EXPECT_TRUE(l.report.Readable());
    EXPECT_FALSE(l.report.parseComplete);
    EXPECT_TRUE(AnyWarningHas(l.report, "soundDetails")) << l.report.warnings.front();
    EXPECT_EQ(l.level.objectTextures.size(), plan.objectTextures.size());
    EXPECT_EQ(l.level.meshDataWordCount, tr4test::EncodeMeshes(plan.meshes).size() / 2);
    EXPECT_EQ(l.level.meshData.size(), l.level.meshDataWordCount);
    EXPECT_TRUE(l.level.soundDetails.empty());
}

TEST(LevelLoader, BytesAfterTheTrailerAreReportedNotFatal) {
    LevelPlan plan = tr4test::DemoLevel();
    plan.afterTrailer = {1, 2, 3};
    const Loaded l = Load(plan);
    EXPECT_TRUE(l.report.parseComplete);
    EXPECT_EQ(l.report.parseEnd + 3, l.level.levelDataSize);
    EXPECT_TRUE(AnyWarningHas(l.report, "3 bytes of level data follow the trailer"));
}

// A loader told of a watcher (the export, which works on the pages meanwhile) and keeping no
// 16-bit pages reads the chunks after the 32-bit pages on a thread of their own, beside those:
// the level, the report and the budget come out as reading every chunk in turn gives them, a
// damaged chunk's warning in its place among the others, and on loads that fail too.
TEST(LevelLoader, ChunksReadAsideGiveWhatReadingInTurnGives) {
    struct Watcher : tr4::PagesWatcher {
        void Ready(const tr4::Level&) override {}
        void Gone() override {}
    } watcher;
    const LevelPlan plan = tr4test::DemoLevel();
    const Bytes whole = tr4test::BuildLevelFile(plan);
    const tr4test::FileLayout layout = tr4test::LayoutOf(plan);
    // Both page chunks damaged mid-stream, the misc pages stating less than they hold.
    Bytes damaged(whole.begin(), whole.begin() + long(layout.chunkStart[2]));
    for (int c : {0, 1})
        damaged[layout.chunkStart[c] + (layout.chunkStart[c + 1] - layout.chunkStart[c]) / 2] ^=
            0x5A;
    const Bytes misc = tr4test::BuildChunk(plan.miscPages, uint32_t(plan.miscPages.size() - 7));
    damaged.insert(damaged.end(), misc.begin(), misc.end());
    damaged.insert(damaged.end(), whole.begin() + long(layout.chunkStart[3]), whole.end());
    // And with the level data cut short too, or damaged: the load fails.
    const Bytes cut(damaged.begin(), damaged.end() - long(whole.size() - layout.chunkStart[3]) / 2);
    Bytes broken = damaged;
    broken[layout.chunkStart[3] + 8 + (layout.sampleCountAt - layout.chunkStart[3] - 8) / 2] ^=
        0x5A;

    for (const Bytes* file : std::initializer_list<const Bytes*>{&whole, &damaged, &cut, &broken}) {
        for (unsigned keep : {unsigned{tr4::kPages32Block},
                              tr4::kPages32Block | tr4::kMiscPagesBlock | tr4::kLevelDataBlock}) {
            tr4::Level inTurn, aside;
            tr4::LoadReport inTurnReport, asideReport;
            tr4::MemoryBudget inTurnBudget = tr4::MemoryBudget::ForFile(file->size());
            tr4::MemoryBudget asideBudget = inTurnBudget;
            tr4::LoadLevelFromMemory(file->data(), file->size(), inTurn, &inTurnReport,
                                     &inTurnBudget, keep);
            tr4::LoadLevelFromMemory(file->data(), file->size(), aside, &asideReport, &asideBudget,
                                     keep, &watcher);
            EXPECT_EQ(asideReport.error, inTurnReport.error);
            EXPECT_EQ(asideReport.warnings, inTurnReport.warnings);
            EXPECT_EQ(asideBudget.Used(), inTurnBudget.Used());
            EXPECT_EQ(aside.pages16Size, inTurn.pages16Size);
            EXPECT_EQ(aside.pages16PackedSize, inTurn.pages16PackedSize);
            EXPECT_TRUE(aside.pages16.empty());
            EXPECT_EQ(aside.pages32, inTurn.pages32);
            EXPECT_EQ(aside.miscPagesSize, inTurn.miscPagesSize);
            EXPECT_EQ(aside.miscPages, inTurn.miscPages);
            EXPECT_EQ(aside.levelDataSize, inTurn.levelDataSize);
            EXPECT_EQ(aside.levelData, inTurn.levelData);
            EXPECT_EQ(aside.rooms.size(), inTurn.rooms.size());
            EXPECT_EQ(aside.objectTextures.size(), inTurn.objectTextures.size());
            EXPECT_EQ(aside.meshData, inTurn.meshData);
            if (file == &whole) {
                EXPECT_TRUE(asideReport.warnings.empty());
                EXPECT_EQ(aside.pages16Size, plan.pages16.size());
                continue;
            }
            ASSERT_GE(asideReport.warnings.size(), 3u);
            EXPECT_NE(asideReport.warnings[0].find("chunk 1 (pages32) does not decompress"),
                      std::string::npos);
            EXPECT_NE(asideReport.warnings[1].find("chunk 2 (pages16) does not decompress"),
                      std::string::npos);
            EXPECT_NE(asideReport.warnings[2].find("chunk 3 (miscPages) states"),
                      std::string::npos);
            EXPECT_EQ(aside.pages16Size, 0u);
            EXPECT_EQ(asideReport.Readable(), file == &damaged);
            if (file == &broken) {
                EXPECT_NE(asideReport.error.find("chunk 4 (levelData) does not decompress"),
                          std::string::npos);
            }
        }
    }
}

}  // namespace
