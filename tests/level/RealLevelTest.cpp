// The reader against files nobody here wrote: a title level built by the community's tools, and
// the bundled sample, which must stay what the writer produces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "LevelLoader.h"
#include "LevelWriter.h"
#include "LoadLevel.h"
#include "MeshList.h"

namespace {

TEST(RealLevel, CustomTitleGivesTheIndependentlyReadFigures) {
    tr4::Level level;
    tr4::LoadReport report;
    ASSERT_EQ(tr4::LoadLevelFile(TR4_REAL_LEVEL, level, &report), 1) << report.error;
    ASSERT_TRUE(report.Readable()) << report.error;
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_EQ(level.version, 0x00345254u);
    EXPECT_EQ(level.pages32Size, 3932160u);
    EXPECT_EQ(level.pages16Size, 1966080u);
    EXPECT_EQ(level.miscPagesSize, 524288u);
    EXPECT_EQ(level.levelDataSize, 709191u);
    EXPECT_EQ(level.pages32Size >> 18, 15u);
    EXPECT_EQ(level.roomCount, 42);
    EXPECT_EQ(level.rooms.size(), 42u);
    EXPECT_EQ(level.meshDataWordCount, 72664u);
    EXPECT_EQ(level.objectTextureCount, 1792u);
    EXPECT_EQ(level.objectTextures.size(), 1792u);
    EXPECT_TRUE(report.parseComplete);
    EXPECT_EQ(report.parseEnd, 709191u);

    std::unique_ptr<tr4::Lista_Mesh> list;
    std::vector<std::string> warnings;
    ASSERT_EQ(tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()),
                                level.meshDataWordCount * 2, list, &warnings),
              1);
    EXPECT_TRUE(warnings.empty());
    ASSERT_EQ(list->Count(), 191);
    int faces = 0;
    uint32_t lastOffset = 0;
    for (int i = 0; i < list->Count(); ++i) {
        tr4::MeshRecord* m = nullptr;
        ASSERT_EQ(list->GetRecord(i, m), 1);
        if (i > 0) {
            EXPECT_GT(m->offset, lastOffset);
        }
        EXPECT_EQ(m->offset % 4, 0u);
        lastOffset = m->offset;
        faces += std::max<int>(0, m->rectangleCount) + std::max<int>(0, m->triangleCount);
        for (const auto& r : m->rectangles)
            for (uint16_t index : r.indices) EXPECT_LT(index, m->vertices.size());
        for (const auto& t : m->triangles) EXPECT_LT(t.texture & 0x7FFF, 1792);
    }
    EXPECT_EQ(faces, 6635);
}

template <class Array>
bool SameBytes(const Array& a, const Array& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
}

// The benchmarks' large levels are the real one's meshes over again: every copy decodes to the
// same meshes, one copy's length further on, and its mesh pointers land on its own meshes.
TEST(RealLevel, RepeatedMeshesDecodeAsCopiesWithPointersIntoTheirOwnCopy) {
    tr4::Level real;
    ASSERT_EQ(tr4::LoadLevelFile(TR4_REAL_LEVEL, real), 1);
    constexpr int kCopies = 3;
    const tr4test::Bytes file = tr4test::BuildLevelFile(tr4test::RealMeshesRepeated(real, kCopies));
    tr4::LoadedLevel loaded;
    ASSERT_TRUE(tr4::LoadLevelImage(file.data(), file.size(), loaded,
                                    tr4::kPages32Block | tr4::kPages16Block | tr4::kMiscPagesBlock))
        << loaded.error;
    EXPECT_TRUE(loaded.warnings.empty());
    EXPECT_TRUE(loaded.parseComplete);
    const tr4::Level& level = *loaded.level;
    EXPECT_EQ(level.pages32, real.pages32);
    EXPECT_EQ(level.pages16, real.pages16);
    EXPECT_EQ(level.miscPages, real.miscPages);
    ASSERT_EQ(level.objectTextures.size(), real.objectTextures.size());
    EXPECT_EQ(level.objectTextures.back().corners[2].yPixel,
              real.objectTextures.back().corners[2].yPixel);

    std::unique_ptr<tr4::Lista_Mesh> original;
    tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(real.meshData.data()),
                      tr4::MeshDataBytes(real), original);
    const int perCopy = original->Count();
    const uint32_t copyBytes = tr4::MeshDataBytes(real);
    ASSERT_EQ(loaded.meshes->Count(), kCopies * perCopy);
    std::set<uint32_t> starts;
    for (int i = 0; i < loaded.meshes->Count(); ++i) {
        tr4::MeshRecord *m = nullptr, *o = nullptr;
        ASSERT_EQ(loaded.meshes->GetRecord(i, m), 1);
        ASSERT_EQ(original->GetRecord(i % perCopy, o), 1);
        const uint32_t copy = static_cast<uint32_t>(i / perCopy);
        ASSERT_EQ(m->offset, o->offset + copy * copyBytes) << "mesh " << i;
        EXPECT_EQ(m->radius, o->radius);
        EXPECT_TRUE(SameBytes(m->vertices, o->vertices)) << "mesh " << i;
        EXPECT_TRUE(SameBytes(m->shades, o->shades) && SameBytes(m->normals, o->normals));
        EXPECT_TRUE(SameBytes(m->rectangles, o->rectangles) &&
                    SameBytes(m->triangles, o->triangles))
            << "mesh " << i;
        starts.insert(m->offset);
    }

    const size_t pointers = real.meshPointers.size();
    ASSERT_GT(pointers, 0u);
    ASSERT_EQ(level.meshPointers.size(), kCopies * pointers);
    for (size_t j = 0; j < level.meshPointers.size(); ++j) {
        const uint32_t copy = static_cast<uint32_t>(j / pointers);
        EXPECT_EQ(level.meshPointers[j], real.meshPointers[j % pointers] + copy * copyBytes);
        EXPECT_TRUE(starts.count(level.meshPointers[j])) << "pointer " << j;
    }
}

// Compared by what a load gives, not by the compressed bytes: another zlib may deflate the same
// content differently, and the sample is still right.
TEST(Sample, BundledDemoLevelHoldsWhatTheWriterProduces) {
    const tr4test::Bytes bundled = tr4test::ReadFile(TR4_SAMPLE_LEVEL);
    ASSERT_FALSE(bundled.empty()) << TR4_SAMPLE_LEVEL;
    const tr4test::Bytes fresh = tr4test::BuildLevelFile(tr4test::DemoLevel());
    tr4::Level level, expected;
    tr4::LoadReport report, expectedReport;
    tr4::LoadLevelFromMemory(bundled.data(), bundled.size(), level, &report);
    tr4::LoadLevelFromMemory(fresh.data(), fresh.size(), expected, &expectedReport);
    EXPECT_TRUE(report.parseComplete);
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_EQ(level.version, expected.version);
    EXPECT_EQ(level.pages32, expected.pages32)
        << "regenerate it with make_demo_level samples/demo.tr4";
    EXPECT_EQ(level.pages16, expected.pages16);
    EXPECT_EQ(level.miscPages, expected.miscPages);
    EXPECT_EQ(level.levelData, expected.levelData);
    EXPECT_EQ(level.sampleData, expected.sampleData);
}

}  // namespace
