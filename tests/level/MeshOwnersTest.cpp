#include <gtest/gtest.h>

#include <cstring>

#include "HostileLevels.h"
#include "LoadLevel.h"
#include "MeshOwners.h"

namespace {

using tr4::MeshOwner;
using Kind = tr4::MeshOwner::Kind;

void AddStatic(tr4::Level& level, uint32_t id, uint16_t mesh) {
    tr4::Bytes record(32, 0xEE);  // the fields after the mesh index must not matter
    std::memcpy(record.data(), &id, 4);
    std::memcpy(record.data() + 4, &mesh, 2);
    level.staticMeshes.insert(level.staticMeshes.end(), record.begin(), record.end());
}

// Four meshes starting at bytes 0, 40, 100 and 164 of the mesh data.
const std::vector<uint32_t> kStarts = {0, 40, 100, 164};

TEST(MeshOwners, PointersNameTheMeshThatStartsThere) {
    tr4::Level level;
    // Pointer 0 and 3 both point at mesh 2; pointer 4 points into the middle of mesh 1.
    level.meshPointers = {100, 0, 40, 100, 60, 164};
    tr4::MoveableRecord lara;
    lara.id = 8;
    lara.firstMesh = 1;
    lara.meshCount = 3;  // parts 0..2 use pointers 1..3: meshes 0, 1, 2
    tr4::MoveableRecord door;
    door.id = 120;
    door.firstMesh = 0;
    door.meshCount = 1;  // pointer 0: mesh 2
    level.moveables = {lara, door};
    AddStatic(level, 3, 3);  // mesh 2 again
    AddStatic(level, 7, 4);  // into mesh 1's middle: unresolved
    AddStatic(level, 9, 5);  // mesh 3

    const tr4::MeshOwners found = tr4::FindMeshOwners(level, kStarts);
    ASSERT_EQ(found.owners.size(), 4u);
    EXPECT_EQ(found.owners[0], (std::vector<MeshOwner>{{Kind::Moveable, 8, 0}}));
    EXPECT_EQ(found.owners[1], (std::vector<MeshOwner>{{Kind::Moveable, 8, 1}}));
    EXPECT_EQ(found.owners[2],
              (std::vector<MeshOwner>{
                  {Kind::Moveable, 8, 2}, {Kind::Moveable, 120, 0}, {Kind::Static, 3, 0}}));
    EXPECT_EQ(found.owners[3], (std::vector<MeshOwner>{{Kind::Static, 9, 0}}));
    EXPECT_EQ(found.unresolved, 1u);

    EXPECT_EQ(tr4::DescribeOwners(found.owners[2]),
              "moveable 8, part 2; moveable 120, part 0; static 3");
    EXPECT_EQ(tr4::DescribeOwners({}), "not used by any object");
}

TEST(MeshOwners, IndicesPastThePointerTableAreCountedNotFollowed) {
    tr4::Level level;
    level.meshPointers = {40};
    tr4::MoveableRecord m;
    m.id = 1;
    m.firstMesh = 0;
    m.meshCount = 65535;  // runs far past the table
    level.moveables = {m};
    AddStatic(level, 2, 65535);
    level.staticMeshes.resize(level.staticMeshes.size() + 20);  // a cut record is not read

    const tr4::MeshOwners found = tr4::FindMeshOwners(level, kStarts);
    EXPECT_EQ(found.owners[1], (std::vector<MeshOwner>{{Kind::Moveable, 1, 0}}));
    EXPECT_TRUE(found.owners[0].empty() && found.owners[2].empty() && found.owners[3].empty());
    EXPECT_EQ(found.unresolved, 65534u + 1u);
    EXPECT_TRUE(tr4::FindMeshOwners(level, std::vector<uint32_t>{}).owners.empty());
}

TEST(MeshOwners, TheTableIsTakenFromTheFilesBudget) {
    // 1,347 bytes of file naming mesh 0 16.7 million times: 200 MB of table against a budget
    // of 64 MiB and a little.
    const tr4test::Bytes file = tr4test::BuildLevelFile(tr4test::OwnerBomb());
    tr4::LoadedLevel loaded;
    ASSERT_TRUE(tr4::LoadLevelImage(file.data(), file.size(), loaded)) << loaded.error;
    const uint64_t used = loaded.budget.Used();
    tr4::MeshOwners owners;
    std::string error;
    EXPECT_FALSE(
        tr4::FindMeshOwners(*loaded.level, loaded.meshes.get(), loaded.budget, owners, error));
    EXPECT_EQ(
        error.rfind("refused: the table of mesh owners would need " +
                        std::to_string(256ull * 65535 * sizeof(MeshOwner) + 24) + " more bytes",
                    0),
        0u)
        << error;
    EXPECT_TRUE(owners.owners.empty());
    EXPECT_EQ(loaded.budget.Used(), used);

    // Within the budget, the same table as without one, and the budget holds its bytes.
    tr4::Level level;
    level.meshPointers = {100, 0, 40, 100, 164};
    tr4::MoveableRecord m;
    m.id = 8;
    m.meshCount = 5;
    level.moveables = {m};
    AddStatic(level, 3, 3);
    tr4::MemoryBudget budget = tr4::MemoryBudget::ForFile(1000);
    ASSERT_TRUE(tr4::FindMeshOwners(level, nullptr, budget, owners, error)) << error;
    EXPECT_TRUE(owners.owners.empty());
    EXPECT_EQ(owners.unresolved, 6u);  // no meshes: nothing resolves
    EXPECT_EQ(budget.Used(), 0u);
}

TEST(MeshOwners, BriefDescriptionsGroupPartsAndCountTheRest) {
    std::vector<MeshOwner> many;
    for (uint32_t id = 0; id < 20; ++id)
        for (uint32_t part = 0; part < 15; ++part) many.push_back({Kind::Moveable, id, part});
    many.push_back({Kind::Static, 3, 0});
    EXPECT_EQ(tr4::DescribeOwnersBriefly(many),
              "moveable 0 parts 0\u201314; moveable 1 parts 0\u201314; moveable 2 parts "
              "0\u201314; moveable 3 parts 0\u201314; and 241 more");
    // Lone parts and statics read as in the full description; a gap in the parts breaks a range.
    const std::vector<MeshOwner> few = {{Kind::Moveable, 8, 2},
                                        {Kind::Moveable, 8, 3},
                                        {Kind::Moveable, 8, 5},
                                        {Kind::Static, 3, 0}};
    EXPECT_EQ(tr4::DescribeOwnersBriefly(few),
              "moveable 8 parts 2\u20133; moveable 8, part 5; static 3");
    EXPECT_EQ(tr4::DescribeOwnersBriefly({}), "not used by any object");
    // Bounded whatever the ids and counts.
    std::vector<MeshOwner> widest;
    for (uint32_t k = 0; k < 100; ++k) {
        widest.push_back({Kind::Moveable, 4294967295u - k, 4294967294u});
        widest.push_back({Kind::Moveable, 4294967295u - k, 4294967295u});
    }
    EXPECT_LE(tr4::DescribeOwnersBriefly(widest).size(), tr4::BriefOwnersBytes());
}

}  // namespace
