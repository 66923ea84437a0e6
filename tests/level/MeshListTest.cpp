#include <gtest/gtest.h>

#include "LevelWriter.h"
#include "MeshList.h"

namespace {

using tr4test::Bytes;
using tr4test::MeshPlan;

std::unique_ptr<tr4::Lista_Mesh> Decode(const Bytes& data,
                                        std::vector<std::string>* warnings = nullptr) {
    std::unique_ptr<tr4::Lista_Mesh> list;
    EXPECT_EQ(tr4::DecodeMeshes(data.data(), uint32_t(data.size()), list, warnings), 1);
    return list;
}

const tr4::MeshRecord& At(const tr4::Lista_Mesh& list, int i) {
    tr4::MeshRecord* m = nullptr;
    EXPECT_EQ(list.GetRecord(i, m), 1);
    return *m;
}

MeshPlan Triangle() {
    MeshPlan m;
    m.centre[0] = 100;
    m.centre[1] = -20;
    m.centre[2] = 300;
    m.radius = 0x01020304;
    m.vertices = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}};
    m.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    m.triangles = {{{0, 1, 2}, 7, 0x55}};
    return m;
}

TEST(DecodeMeshes, EmptyDataMakesNoList) {
    auto list = std::make_unique<tr4::Lista_Mesh>();
    tr4::Lista_Mesh* before = list.get();
    EXPECT_EQ(tr4::DecodeMeshes(nullptr, 0, list), 0);
    EXPECT_EQ(list.get(), before) << "list not written";
}

TEST(DecodeMeshes, OneMeshGivesOneRecordWithEveryField) {
    const auto list = Decode(tr4test::EncodeMesh(Triangle()));
    ASSERT_EQ(list->Count(), 1);
    const tr4::MeshRecord& m = At(*list, 0);
    EXPECT_EQ(m.offset, 0u);
    EXPECT_EQ(m.centreX, 100);
    EXPECT_EQ(m.centreY, -20);
    EXPECT_EQ(m.centreZ, 300);
    EXPECT_EQ(m.radius, 0x01020304u);
    ASSERT_EQ(m.vertices.size(), 3u);
    EXPECT_EQ(m.vertices[1].x, 10);
    EXPECT_EQ(m.normals.size(), 3u);
    EXPECT_TRUE(m.shades.empty());
    ASSERT_EQ(m.triangles.size(), 1u);
    EXPECT_EQ(m.triangles[0].indices[2], 2);
    EXPECT_EQ(m.triangles[0].texture, 7);
    EXPECT_EQ(m.triangles[0].faceFlags, 0x55);
    // 10 + 2 + 18 + 2 + 18 + 2 + 2 + 10 = 64 bytes: no alignment word.
    EXPECT_FALSE(m.alignmentWord.has_value());
}

TEST(DecodeMeshes, AlignmentWordOnlyWhenTheFieldsAreNotAMultipleOfFour) {
    MeshPlan aligned = Triangle();  // 64 bytes
    MeshPlan unaligned = Triangle();
    unaligned.normals.clear();
    unaligned.shades = {1, 2, 3};   // 10 + 2 + 18 + 2 + 6 + 2 + 2 + 10 = 52: aligned too
    unaligned.shades.push_back(4);  // 54: needs the word
    unaligned.alignmentWord = 0xBEEF;
    const Bytes data = tr4test::EncodeMeshes({aligned, unaligned, aligned});
    const auto list = Decode(data);
    ASSERT_EQ(list->Count(), 3);
    EXPECT_EQ(At(*list, 1).offset, 64u) << "next mesh begins right after the last triangle";
    EXPECT_EQ(At(*list, 1).alignmentWord.value_or(0), 0xBEEF);
    EXPECT_EQ(At(*list, 1).normalCount, -4);
    EXPECT_EQ(At(*list, 1).shades, (std::pmr::vector<int16_t>{1, 2, 3, 4}));
    EXPECT_TRUE(At(*list, 1).normals.empty());
    EXPECT_EQ(At(*list, 2).offset, 64u + 56u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(At(*list, i).offset % 4, 0u);
}

TEST(DecodeMeshes, CountsOfZeroOrBelowHaveNoArray) {
    MeshPlan m = Triangle();
    m.vertices.clear();
    m.vertexCount = -5;
    m.normals.clear();  // normalCount 0: neither normals nor shades
    m.triangles.clear();
    m.triangleCount = -1;
    m.rectangleCount = 0;
    const Bytes data = tr4test::EncodeMeshes({m, Triangle()});
    const auto list = Decode(data);
    ASSERT_EQ(list->Count(), 2);
    const tr4::MeshRecord& odd = At(*list, 0);
    EXPECT_EQ(odd.vertexCount, -5);
    EXPECT_TRUE(odd.vertices.empty());
    EXPECT_EQ(odd.normalCount, 0);
    EXPECT_EQ(odd.triangleCount, -1);
    EXPECT_TRUE(odd.triangles.empty());
    EXPECT_EQ(At(*list, 1).offset, 20u);  // 18 bytes of fields and the alignment word
    EXPECT_EQ(At(*list, 1).centreX, 100);
}

TEST(DecodeMeshes, LastMeshRunningPastTheEndIsDroppedAndSaidSo) {
    const Bytes one = tr4test::EncodeMesh(Triangle());
    Bytes data = tr4test::EncodeMeshes({Triangle(), Triangle()});
    for (size_t cut = one.size() + 1; cut < data.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::vector<std::string> warnings;
        const auto list = Decode(Bytes(data.begin(), data.begin() + long(cut)), &warnings);
        EXPECT_EQ(list->Count(), 1);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0], "mesh 1 at byte 64 runs past the end of the mesh data (" +
                                   std::to_string(cut) + " bytes); dropped");
    }
    // A count that claims far more than the data holds, including the most negative shade count.
    MeshPlan greedy = Triangle();
    greedy.normals.clear();
    greedy.shades = {1};
    Bytes bad = tr4test::EncodeMesh(greedy);
    bad[12 + 18] = 0x00;
    bad[12 + 18 + 1] = 0x80;  // normalCount -32768: 65536 bytes of shades
    std::vector<std::string> warnings;
    EXPECT_EQ(Decode(bad, &warnings)->Count(), 0);
    EXPECT_EQ(warnings.size(), 1u);
}

TEST(MeshList, GetRecordOutsideTheListLeavesOutUntouched) {
    const auto list = Decode(tr4test::EncodeMeshes({Triangle(), Triangle()}));
    tr4::MeshRecord sentinel;
    tr4::MeshRecord* out = &sentinel;
    EXPECT_EQ(list->GetRecord(-1, out), 0);
    EXPECT_EQ(list->GetRecord(2, out), 0);
    EXPECT_EQ(out, &sentinel);
    EXPECT_EQ(list->GetRecord(0, out), 1);
    EXPECT_EQ(out->offset, 0u);
    // Iteration visits the very records GetRecord gives, in order, and nothing more.
    int i = 0;
    for (const tr4::MeshRecord& m : *list) {
        ASSERT_EQ(list->GetRecord(i, out), 1);
        EXPECT_EQ(&m, out) << i;
        ++i;
    }
    EXPECT_EQ(i, 2);
}

}  // namespace
