// Writes the seed corpora of the fuzzers: levels from the test writer, and the real level when it
// is at hand. make_seed_corpus OUTDIR [REAL_LEVEL]
#include <cstdio>
#include <filesystem>
#include <string>

#include "HostileLevels.h"
#include "LevelLoader.h"
#include "LevelWriter.h"

namespace fs = std::filesystem;
using tr4test::Bytes;

namespace {

void Put(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    tr4test::WriteFile((dir / name).string(), bytes);
}

void Seeds(const fs::path& out, const std::string& name, const tr4test::LevelPlan& plan) {
    const Bytes file = tr4test::BuildLevelFile(plan);
    Put(out / "fuzz_load_level", name, file);
    Put(out / "fuzz_mesh_objects", name, file);
    Put(out / "fuzz_export", name, file);
    Put(out / "fuzz_parse_level_data", name, tr4test::BuildLevelData(plan));
    Put(out / "fuzz_decode_meshes", name,
        plan.meshData ? *plan.meshData : tr4test::EncodeMeshes(plan.meshes));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seed_corpus OUTDIR [REAL_LEVEL]\n");
        return 2;
    }
    const fs::path out = argv[1];
    tr4test::LevelPlan demo = tr4test::DemoLevel();
    Seeds(out, "demo", demo);
    // Small pages keep the whole-file seeds quick to mutate.
    demo.pages32 = Bytes(16, 1);
    demo.pages16 = Bytes(8, 2);
    demo.miscPages = Bytes(4, 3);
    Seeds(out, "demo-small-pages", demo);
    tr4test::LevelPlan many = tr4test::ManyMeshes(3);
    many.pages32 = many.pages16 = many.miscPages = Bytes(4, 0);
    Seeds(out, "three-cubes", many);
    // Objects that use the meshes: moveables over a shared pointer table and a mesh tree.
    many.meshPointers = std::vector<uint32_t>{0, 0, 0};
    many.moveables = std::vector<tr4::MoveableRecord>(2);
    (*many.moveables)[0] = tr4::MoveableRecord{1, 3, 0, 0, 0, 0};
    (*many.moveables)[1] = tr4::MoveableRecord{2, 2, 1, 1, 0, 0};
    Seeds(out, "three-cubes-with-objects", many);
    Seeds(out, "damaged-animations", tr4test::DamagedAnimations());

    if (argc > 2 && fs::exists(argv[2])) {
        const Bytes real = tr4test::ReadFile(argv[2]);
        tr4::Level level;
        tr4::LoadLevelFromMemory(real.data(), real.size(), level);
        Put(out / "fuzz_load_level", "real", real);
        // The real level data behind tiny texture chunks, so mutations reach the parse quickly.
        Bytes small(real.begin(), real.begin() + 10);
        for (const Bytes& chunk :
             {tr4test::BuildChunk(Bytes(16, 1)), tr4test::BuildChunk(Bytes(8, 2)),
              tr4test::BuildChunk(Bytes(4, 3)), tr4test::BuildChunk(level.levelData)})
            small.insert(small.end(), chunk.begin(), chunk.end());
        small.insert(small.end(), {0, 0, 0, 0});
        Put(out / "fuzz_load_level", "real-small-pages", small);
        Put(out / "fuzz_mesh_objects", "real-small-pages", small);
        Put(out / "fuzz_export", "real-small-pages", small);
        Put(out / "fuzz_parse_level_data", "real", level.levelData);
        const auto* mesh = reinterpret_cast<const uint8_t*>(level.meshData.data());
        Put(out / "fuzz_decode_meshes", "real", Bytes(mesh, mesh + level.meshData.size() * 2));
    }
    return 0;
}
