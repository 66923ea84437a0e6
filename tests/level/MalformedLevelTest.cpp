// Bad files end cleanly with the right report: no read or write outside a buffer (the suite runs
// under ASan/UBSan) and no allocation driven by an implausible size.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#include "LevelLoader.h"
#include "LevelWriter.h"
#include "MeshList.h"

namespace {

using tr4test::Bytes;

tr4::LoadReport LoadReportOf(const Bytes& file, tr4::Level* out = nullptr) {
    tr4::Level level;
    tr4::LoadReport report;
    EXPECT_EQ(tr4::LoadLevelFromMemory(file.data(), file.size(), level, &report), 1);
    // Whatever was read must decode without reading outside the mesh data.
    std::unique_ptr<tr4::Lista_Mesh> list;
    tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()),
                      uint32_t(level.meshData.size() * 2), list);
    if (out) *out = std::move(level);
    return report;
}

void PutU32(Bytes& file, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + size_t(i)] = uint8_t(value >> (8 * i));
}

TEST(MalformedLevel, TruncationAnywhereEndsCleanly) {
    const tr4test::LevelPlan plan = tr4test::DemoLevel();
    const Bytes full = tr4test::BuildLevelFile(plan);
    const tr4test::FileLayout layout = tr4test::LayoutOf(plan);
    for (size_t cut = 0; cut < full.size(); cut += (cut < 64 ? 1 : 97)) {
        SCOPED_TRACE(cut);
        const tr4::LoadReport r = LoadReportOf(Bytes(full.begin(), full.begin() + long(cut)));
        if (cut < 10) {
            EXPECT_NE(r.error.find("no level header"), std::string::npos) << r.error;
        } else if (cut < layout.sampleCountAt) {
            // Every chunk up to the level data is needed.
            EXPECT_FALSE(r.Readable());
        } else {
            EXPECT_TRUE(r.Readable()) << r.error;
        }
    }
    // Cut inside the last chunk's stream, and right before sampleCount.
    EXPECT_NE(LoadReportOf(Bytes(full.begin(), full.begin() + long(layout.sampleCountAt) - 1))
                  .error.find("chunk 4 (levelData) states"),
              std::string::npos);
    const tr4::LoadReport noSampleCount =
        LoadReportOf(Bytes(full.begin(), full.begin() + long(layout.sampleCountAt)));
    EXPECT_TRUE(noSampleCount.Readable());
    ASSERT_EQ(noSampleCount.warnings.size(), 1u);
    EXPECT_NE(noSampleCount.warnings[0].find("sampleCount"), std::string::npos);
}

TEST(MalformedLevel, LevelDataCutAnywhereKeepsWhatPrecedesTheCut) {
    const tr4test::LevelPlan plan = tr4test::DemoLevel();
    const Bytes data = tr4test::BuildLevelData(plan);
    tr4::Level full;
    LoadReportOf(tr4test::BuildLevelFile(plan), &full);
    for (size_t cut = 1; cut < data.size(); cut += 13) {
        SCOPED_TRACE(cut);
        tr4::Level level;
        level.levelData.assign(data.begin(), data.begin() + long(cut));
        level.levelDataSize = uint32_t(cut);
        tr4::LoadReport report;
        EXPECT_EQ(tr4::ParseLevelData(level, &report), 1);
        EXPECT_FALSE(report.parseComplete);
        ASSERT_EQ(report.warnings.size(), 1u);
        EXPECT_LE(report.parseEnd, cut);
        // What was kept is what the full parse gave: whole arrays, and of the mesh data the
        // words before the cut.
        ASSERT_LE(level.meshData.size(), full.meshData.size());
        EXPECT_TRUE(
            std::equal(level.meshData.begin(), level.meshData.end(), full.meshData.begin()));
        if (!level.objectTextures.empty()) {
            EXPECT_EQ(level.objectTextures.size(), full.objectTextures.size());
        }
    }
}

TEST(MalformedLevel, LevelDataEndingInsideTheMeshesKeepsTheWholeOnes) {
    tr4test::LevelPlan plan = tr4test::DemoLevel();
    plan.rooms = {};
    const Bytes data = tr4test::BuildLevelData(plan);
    const size_t meshesAt = 4 + 2 + 4 + plan.floorDataCount * 2 + 4;
    // Mesh 2 of the sample starts at byte 320 of the mesh data; cut 30 bytes into it.
    const size_t cut = meshesAt + 320 + 30 + 1;  // an odd cut: the last half word is dropped
    tr4::Level level;
    level.levelData.assign(data.begin(), data.begin() + long(cut));
    level.levelDataSize = uint32_t(cut);
    tr4::LoadReport report;
    tr4::ParseLevelData(level, &report);
    EXPECT_FALSE(report.parseComplete);
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_NE(report.warnings[0].find("the 175 whole words that remain are kept"),
              std::string::npos)
        << report.warnings[0];
    EXPECT_EQ(level.meshDataWordCount, 175u);
    ASSERT_EQ(level.meshData.size(), 175u);
    std::unique_ptr<tr4::Lista_Mesh> list;
    std::vector<std::string> warnings;
    tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()), 350, list,
                      &warnings);
    EXPECT_EQ(list->Count(), 2);
    EXPECT_EQ(warnings.size(), 1u);
}

TEST(MalformedLevel, ParseStopNamesTheFieldAndTheByte) {
    const tr4test::LevelPlan plan = tr4test::DemoLevel();
    const Bytes data = tr4test::BuildLevelData(plan);
    tr4::Level level;
    const size_t cut = data.size() - 6 - 8 - 4 - 16 - 4 - 100;  // inside soundMap
    level.levelData.assign(data.begin(), data.begin() + long(cut));
    level.levelDataSize = uint32_t(cut);
    tr4::LoadReport report;
    tr4::ParseLevelData(level, &report);
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_EQ(report.warnings[0], "level data ends inside soundMap at byte " +
                                      std::to_string(cut - 640) + " of " + std::to_string(cut));
}

TEST(MalformedLevel, HugeCountsAreRefusedBeforeAllocation) {
    // Each count in turn claims ~4 billion elements; the parse must stop there, allocate nothing
    // for it, and name it.
    tr4test::LevelPlan plan = tr4test::DemoLevel();
    plan.rooms = {};
    const Bytes data = tr4test::BuildLevelData(plan);
    const size_t meshBytes = tr4test::EncodeMeshes(plan.meshes).size();
    const size_t floorAt = 4 + 2, meshCountAt = floorAt + 4 + plan.floorDataCount * 2,
                 pointerAt = meshCountAt + 4 + meshBytes;
    const std::pair<size_t, const char*> cases[] = {
        {floorAt, "floorData needs"},
        {meshCountAt, "meshData needs"},
        {pointerAt, "meshPointers needs"},
    };
    for (auto [at, expected] : cases) {
        SCOPED_TRACE(expected);
        Bytes bad = data;
        PutU32(bad, at, 0xFFFFFFF0u);
        tr4::Level level;
        level.levelData = bad;
        level.levelDataSize = uint32_t(bad.size());
        tr4::LoadReport report;
        tr4::ParseLevelData(level, &report);
        ASSERT_FALSE(report.parseComplete);
        EXPECT_NE(report.warnings.at(0).find(expected), std::string::npos) << report.warnings[0];
        // No count may claim more than its array holds.
        EXPECT_EQ(level.floorData.size(), level.floorDataCount);
        EXPECT_EQ(level.meshData.size(), level.meshDataWordCount);
        EXPECT_EQ(level.meshPointers.size(), level.meshPointerCount);
    }
    // A room with 65535 x 65535 sectors (34 GB) in a tiny level.
    tr4test::LevelPlan roomy = tr4test::DemoLevel();
    roomy.rooms[0].sectorCountZ = 0xFFFF;
    roomy.rooms[0].sectorCountX = 0;
    Bytes roomData = tr4test::BuildLevelData(roomy);
    const size_t sectorXAt = 4 + 2 + 16 + 4 + 2 + 24 + 2 + 10 + 2 + 8 + 2 + 2 + 32 + 2;
    roomData[sectorXAt] = 0xFF;
    roomData[sectorXAt + 1] = 0xFF;
    tr4::Level level;
    level.levelData = roomData;
    level.levelDataSize = uint32_t(roomData.size());
    tr4::LoadReport report;
    tr4::ParseLevelData(level, &report);
    // One warning: where the array stopped, then which room it was in and where that starts.
    ASSERT_EQ(report.warnings.size(), 1u);
    const std::string& said = report.warnings[0];
    EXPECT_EQ(said.find("room sectors needs 34358689800 bytes"), 0u) << said;
    const std::string room =
        " (room 0 of " + std::to_string(roomy.rooms.size()) + ", which starts at byte 6)";
    EXPECT_EQ(said.substr(said.size() - std::min(said.size(), room.size())), room) << said;
    EXPECT_TRUE(level.rooms.empty());
    EXPECT_EQ(level.roomCount, 0) << "the count says how many whole rooms were kept";
}

TEST(MalformedLevel, ImplausibleChunkSizesAreRefused) {
    const tr4test::LevelPlan plan = tr4test::DemoLevel();
    const tr4test::FileLayout layout = tr4test::LayoutOf(plan);
    const Bytes full = tr4test::BuildLevelFile(plan);
    {
        // Texture chunk claiming 4 GB: left empty, the level still reads.
        Bytes bad = full;
        PutU32(bad, layout.chunkStart[0], 0xFFFFFFFFu);
        tr4::Level level;
        const tr4::LoadReport r = LoadReportOf(bad, &level);
        EXPECT_TRUE(r.Readable());
        ASSERT_EQ(r.warnings.size(), 1u);
        EXPECT_NE(r.warnings[0].find("more than any zlib stream can give"), std::string::npos);
        EXPECT_EQ(level.pages32Size, 0u);
        EXPECT_TRUE(level.pages32.empty());
        EXPECT_EQ(level.pages16, plan.pages16);
    }
    {
        // Level data claiming more than its stream can expand to: not a readable level.
        Bytes bad = full;
        PutU32(bad, layout.chunkStart[3], 200u << 20);
        EXPECT_NE(LoadReportOf(bad).error.find("chunk 4 (levelData)"), std::string::npos);
    }
    {
        // Compressed size past the end of the file.
        Bytes bad = full;
        PutU32(bad, layout.chunkStart[1] + 4, 0x7FFFFFFFu);
        EXPECT_NE(LoadReportOf(bad).error.find("chunk 2 (pages16) states 2147483647 compressed"),
                  std::string::npos);
    }
    {
        // A stated size smaller than the stream gives: the stated bytes are kept, with a warning.
        Bytes bad = full;
        PutU32(bad, layout.chunkStart[0], 1000);
        tr4::Level level;
        const tr4::LoadReport r = LoadReportOf(bad, &level);
        EXPECT_TRUE(r.Readable());
        EXPECT_NE(r.warnings.at(0).find("its stream holds more; the first 1000 are kept"),
                  std::string::npos);
        EXPECT_EQ(level.pages32Size, 1000u);
        EXPECT_EQ(level.pages32, Bytes(plan.pages32.begin(), plan.pages32.begin() + 1000));
    }
}

TEST(MalformedLevel, FlippedBytesNeverEscapeTheBuffers) {
    const Bytes full = tr4test::BuildLevelFile(tr4test::DemoLevel());
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        Bytes bad = full;
        const int flips = 1 + int(random() % 8);
        for (int i = 0; i < flips; ++i) bad[random() % bad.size()] ^= uint8_t(1 + random() % 255);
        LoadReportOf(bad);
    }
    // Same for the level data itself, where a flip changes counts instead of breaking zlib.
    const Bytes data = tr4test::BuildLevelData(tr4test::DemoLevel());
    for (int round = 0; round < 500; ++round) {
        tr4::Level level;
        level.levelData = data;
        for (int i = 0; i < 3; ++i)
            level.levelData[random() % data.size()] ^= uint8_t(1 + random() % 255);
        level.levelDataSize = uint32_t(data.size());
        tr4::ParseLevelData(level);
        std::unique_ptr<tr4::Lista_Mesh> list;
        tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()),
                          uint32_t(level.meshData.size() * 2), list);
    }
}

class FileCases : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("tr4-files-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = (dir / name).string();
        tr4test::WriteFile(path, bytes);
        return path;
    }
    std::filesystem::path dir;
};

TEST_F(FileCases, UnopenableFilesLeaveTheLevelAsItWas) {
    tr4::Level level;
    level.version = 77;
    tr4::LoadReport report;
    EXPECT_EQ(tr4::LoadLevelFile((dir / "missing.tr4").c_str(), level, &report), 0);
    EXPECT_NE(report.error.find("cannot open"), std::string::npos);
    EXPECT_EQ(level.version, 77u);
    EXPECT_EQ(tr4::LoadLevelFile(dir.c_str(), level, &report), 0);
    EXPECT_EQ(report.error, "cannot open: it is a directory");
    EXPECT_EQ(level.version, 77u);
}

TEST_F(FileCases, EmptyAndForeignFilesAreNotLevels) {
    tr4::Level level;
    tr4::LoadReport report;
    EXPECT_EQ(tr4::LoadLevelFile(Write("empty.tr4", {}).c_str(), level, &report), 1);
    EXPECT_EQ(report.error, "no level header: the file holds 0 bytes, a header needs 10");

    const std::string text = "This is a plain text file, not a level at all. It is long enough.";
    EXPECT_EQ(tr4::LoadLevelFile(Write("text.tr4", Bytes(text.begin(), text.end())).c_str(), level,
                                 &report),
              1);
    EXPECT_FALSE(report.Readable());
    EXPECT_NE(report.error.find("chunk 1 (pages32)"), std::string::npos) << report.error;
}

TEST_F(FileCases, LoadsFromAPathAsFromMemory) {
    const Bytes file = tr4test::BuildLevelFile(tr4test::DemoLevel());
    tr4::Level fromPath, fromMemory;
    tr4::LoadReport report;
    ASSERT_EQ(tr4::LoadLevelFile(Write("demo.tr4", file).c_str(), fromPath, &report), 1);
    ASSERT_TRUE(report.Readable());
    tr4::LoadLevelFromMemory(file.data(), file.size(), fromMemory);
    EXPECT_EQ(fromPath.levelData, fromMemory.levelData);
    EXPECT_EQ(fromPath.pages32, fromMemory.pages32);
}

}  // namespace
