// The one load entry point: its success flag, error and warnings, and what it spends of the
// file's memory budget, counted by the budget itself against sizes worked out here.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "HostileLevels.h"
#include "LevelWriter.h"
#include "LoadLevel.h"
#include "MemoryBudget.h"
#include "MeshFaces.h"

namespace {

using tr4test::Bytes;

TEST(LoadLevel, AStatedSizeBoundsTheOutputButIsNoAllocation) {
    // The texture chunk says 256 MiB; its stream gives 1.6 MB of texels that do not compress.
    const tr4test::LevelPlan demo = tr4test::DemoLevel();
    Bytes texels(1600000);
    std::mt19937 random(8);
    for (uint8_t& b : texels) b = uint8_t(random());
    Bytes chunk = tr4test::BuildChunk(texels, 256u << 20);
    const Bytes file = tr4test::FileOfChunks(chunk, tr4test::BuildChunk(demo.pages16),
                                             tr4test::BuildChunk(demo.miscPages),
                                             tr4test::BuildChunk(tr4test::BuildLevelData(demo)));
    tr4::LoadedLevel loaded;
    ASSERT_TRUE(tr4::LoadLevelImage(file.data(), file.size(), loaded)) << loaded.error;
    EXPECT_TRUE(loaded.warnings.empty());
    EXPECT_EQ(loaded.level->pages32, texels);
    EXPECT_EQ(loaded.level->pages32Size, texels.size());
    // While growing, the old and the new block are both held: at most twice what the stream
    // gives, plus what the rest of this small level takes.
    EXPECT_LT(loaded.budget.Peak(), 2 * texels.size() + 200000);
    EXPECT_EQ(loaded.meshes->Count(), int(demo.meshes.size()));
}

TEST(LoadLevel, DamagedSizeFieldsOfTheLevelData) {
    const tr4test::LevelPlan demo = tr4test::DemoLevel();
    const Bytes levelData = tr4test::BuildLevelData(demo);
    const Bytes pages32 = tr4test::BuildChunk(demo.pages32);
    const Bytes pages16 = tr4test::BuildChunk(demo.pages16);
    const Bytes misc = tr4test::BuildChunk(demo.miscPages);
    {
        // Stated ten times too large: the level opens whole, without a word.
        const Bytes file =
            tr4test::FileOfChunks(pages32, pages16, misc,
                                  tr4test::BuildChunk(levelData, uint32_t(levelData.size() * 10)));
        tr4::LoadedLevel loaded;
        ASSERT_TRUE(tr4::LoadLevelImage(file.data(), file.size(), loaded, tr4::kLevelDataBlock))
            << loaded.error;
        EXPECT_TRUE(loaded.parseComplete);
        EXPECT_TRUE(loaded.warnings.empty());
        EXPECT_EQ(loaded.level->levelData, levelData);
        EXPECT_EQ(loaded.level->levelDataSize, levelData.size());
    }
    {
        // Stated 100 bytes short: those bytes are kept, the parse goes as far as they reach,
        // and every mesh before the cut is there.
        const Bytes file =
            tr4test::FileOfChunks(pages32, pages16, misc,
                                  tr4test::BuildChunk(levelData, uint32_t(levelData.size() - 100)));
        tr4::LoadedLevel loaded;
        ASSERT_TRUE(tr4::LoadLevelImage(file.data(), file.size(), loaded, tr4::kLevelDataBlock))
            << loaded.error;
        ASSERT_FALSE(loaded.warnings.empty());
        EXPECT_NE(loaded.warnings[0].find("chunk 4 (levelData) states"), std::string::npos);
        EXPECT_NE(loaded.warnings[0].find("its stream holds more"), std::string::npos);
        EXPECT_EQ(loaded.level->levelData, Bytes(levelData.begin(), levelData.end() - 100));
        EXPECT_FALSE(loaded.parseComplete);
        EXPECT_EQ(loaded.meshes->Count(), int(demo.meshes.size()));
    }
}

// Each raw block goes as soon as nothing of the load needs it, unless the caller keeps it: what
// was read from it (sizes, counts, warnings, meshes) does not depend on that, and the budget
// gets back exactly what the released blocks held.
TEST(LoadLevel, KeepsOnlyTheRawBlocksItsCallerReads) {
    const tr4test::LevelPlan plan = tr4test::DemoLevel();
    // The 16-bit pages understated by 16 bytes: a warning whether they are kept or not.
    const Bytes pages16(plan.pages16.begin(), plan.pages16.end() - 16);
    const Bytes levelData = tr4test::BuildLevelData(plan);
    Bytes file = tr4test::FileOfChunks(
        tr4test::BuildChunk(plan.pages32), tr4test::BuildChunk(plan.pages16, pages16.size()),
        tr4test::BuildChunk(plan.miscPages), tr4test::BuildChunk(levelData));
    const Bytes samples(3000, 0x5A);
    file.insert(file.end(), samples.begin(), samples.end());

    tr4::LoadedLevel every;
    ASSERT_TRUE(tr4::LoadLevelImage(file.data(), file.size(), every, tr4::kEveryRawBlock));
    const tr4::Level& all = *every.level;
    ASSERT_EQ(every.warnings.size(), 1u);
    EXPECT_NE(every.warnings[0].find("chunk 2 (pages16) states"), std::string::npos)
        << every.warnings[0];
    EXPECT_EQ(all.pages32, plan.pages32);
    EXPECT_EQ(all.pages16, pages16);
    EXPECT_EQ(all.miscPages, plan.miscPages);
    EXPECT_EQ(all.levelData, levelData);
    EXPECT_EQ(all.sampleData, samples);
    // The decoded meshes hold the geometry: the parsed words are gone whatever is kept.
    EXPECT_TRUE(all.meshData.empty());
    EXPECT_GT(all.meshDataWordCount, 0u);

    const auto held = [](const tr4::Level& l, unsigned keep) {
        uint64_t bytes = 0;
        if (keep & tr4::kPages32Block) bytes += l.pages32.capacity();
        if (keep & tr4::kPages16Block) bytes += l.pages16.capacity();
        if (keep & tr4::kMiscPagesBlock) bytes += l.miscPages.capacity();
        if (keep & tr4::kLevelDataBlock) bytes += l.levelData.capacity();
        if (keep & tr4::kSampleDataBlock) bytes += l.sampleData.capacity();
        return bytes;
    };
    for (const unsigned keep : {unsigned{tr4::kNoRawBlocks}, unsigned{tr4::kPages32Block},
                                unsigned{tr4::kPages16Block | tr4::kSampleDataBlock}}) {
        SCOPED_TRACE(keep);
        tr4::LoadedLevel some;
        ASSERT_TRUE(tr4::LoadLevelImage(file.data(), file.size(), some, keep));
        const tr4::Level& l = *some.level;
        EXPECT_EQ(some.warnings, every.warnings);
        EXPECT_EQ(some.parseEnd, every.parseEnd);
        EXPECT_TRUE(some.parseComplete);
        EXPECT_EQ(l.pages32.empty(), !(keep & tr4::kPages32Block));
        EXPECT_EQ(l.pages16.empty(), !(keep & tr4::kPages16Block));
        EXPECT_EQ(l.sampleData.empty(), !(keep & tr4::kSampleDataBlock));
        EXPECT_EQ(l.miscPages.capacity(), 0u);
        EXPECT_EQ(l.levelData.capacity(), 0u);
        if (keep & tr4::kPages16Block) {
            EXPECT_EQ(l.pages16, pages16);
        }
        if (keep & tr4::kSampleDataBlock) {
            EXPECT_EQ(l.sampleData, samples);
        }
        for (const auto size : {&tr4::Level::pages32Size, &tr4::Level::pages16Size,
                                &tr4::Level::miscPagesSize, &tr4::Level::levelDataSize})
            EXPECT_EQ(l.*size, all.*size);
        EXPECT_EQ(tr4::PageCount(l), tr4::PageCount(all));
        EXPECT_EQ(some.meshes->Count(), int(plan.meshes.size()));
        EXPECT_EQ(every.budget.Used() - some.budget.Used(),
                  held(all, tr4::kEveryRawBlock) - held(all, keep));
    }
}

TEST(LoadLevel, BombsAreRefusedBeforeTheirMemoryIsTaken) {
    // 8 MiB of zero words as mesh data: 420,000 empty meshes, each a record of its own.
    tr4test::LevelPlan plan = tr4test::DemoLevel();
    plan.meshData = Bytes(8u << 20, 0);
    const Bytes file = tr4test::BuildLevelFile(plan);
    tr4::LoadedLevel loaded;
    EXPECT_FALSE(tr4::LoadLevelImage(file.data(), file.size(), loaded));
    EXPECT_EQ(loaded.error.rfind("refused: the decoded meshes would need ", 0), 0u) << loaded.error;
    EXPECT_FALSE(loaded.level);
    EXPECT_FALSE(loaded.meshes);

    // A zlib bomb: refused when its output passes the budget, long before its stated 256 MiB.
    const Bytes bomb = tr4test::ZeroStreamChunk(256u << 20, 256u << 20);
    const Bytes bombs = tr4test::FileOfChunks(bomb, bomb, bomb, bomb);
    ASSERT_TRUE(!tr4::LoadLevelImage(bombs.data(), bombs.size(), loaded));
    EXPECT_EQ(loaded.error.rfind("refused: chunk 1 (pages32) would need ", 0), 0u) << loaded.error;
}

TEST(LoadLevel, FilesThatAreNoLevel) {
    tr4::LoadedLevel loaded;
    EXPECT_FALSE(tr4::LoadLevel("/nonexistent/level.tr4", loaded));
    EXPECT_EQ(loaded.error, "cannot open: No such file or directory");
    EXPECT_FALSE(tr4::LoadLevel("/dev/null", loaded));
    EXPECT_EQ(loaded.error, "cannot open: it is a device or socket, not a regular file");
}

}  // namespace

// What the export starts on early: told of the 32-bit pages before the level data is read, and
// told again, before the level is dropped, when the rest of the file fails.
TEST(LoadLevel, APagesWatcherHearsOfThePagesFirstAndOfTheirEnd) {
    struct Watcher : tr4::PagesWatcher {
        std::vector<std::string> heard;
        void Ready(const tr4::Level& level) override {
            heard.push_back("ready " + std::to_string(level.pages32.size()) + " " +
                            std::to_string(level.levelData.size()));
        }
        void Gone() override { heard.push_back("gone"); }
    };
    const tr4test::LevelPlan plan = tr4test::DemoLevel();
    const tr4test::Bytes file = tr4test::BuildLevelFile(plan);
    const std::string ready = "ready " + std::to_string(plan.pages32.size()) + " 0";
    const std::string path = ::testing::TempDir() + "/watched.tr4";

    ASSERT_TRUE(tr4test::WriteFile(path, file));
    Watcher whole;
    tr4::LoadedLevel loaded;
    ASSERT_TRUE(tr4::LoadLevel(path, loaded, tr4::kPages32Block, &whole)) << loaded.error;
    EXPECT_EQ(whole.heard, (std::vector<std::string>{ready}));

    // Cut inside the second chunk's header: the pages were whole, the level is not.
    const size_t cut = tr4test::LayoutOf(plan).chunkStart[1] + 4;
    ASSERT_TRUE(tr4test::WriteFile(path, tr4test::Bytes(file.begin(), file.begin() + cut)));
    Watcher cutShort;
    EXPECT_FALSE(tr4::LoadLevel(path, loaded, tr4::kPages32Block, &cutShort));
    EXPECT_EQ(cutShort.heard, (std::vector<std::string>{ready, "gone"}));

    // A caller that keeps no pages is never told of them.
    ASSERT_TRUE(tr4test::WriteFile(path, file));
    Watcher none;
    EXPECT_TRUE(tr4::LoadLevel(path, loaded, tr4::kNoRawBlocks, &none));
    EXPECT_TRUE(none.heard.empty());
    std::remove(path.c_str());
}
