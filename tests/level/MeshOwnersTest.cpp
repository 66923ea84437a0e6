#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
