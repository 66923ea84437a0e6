#include "HostileLevels.h"

#include <zlib.h>

#include <cstring>
#include <random>
#include <utility>

namespace tr4test {
namespace {

void PutU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes RawChunk(uint32_t stated, uint32_t packed, const Bytes& stream) {
    Bytes out;
    PutU32(out, stated);
    PutU32(out, packed);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

HostileLevel Case(std::string name, Bytes file, bool opens, std::string reason,
                  std::string refusedBy = "") {
    return {std::move(name), std::move(file), opens, std::move(reason), std::move(refusedBy)};
}

Bytes Stream(const Bytes& chunk) {
    return Bytes(chunk.begin() + 8, chunk.end());
}

}  // namespace

Bytes ZeroStreamChunk(uint64_t realSize, uint32_t statedSize) {
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    static const Bytes zeros(1 << 20, 0);
    Bytes stream;
    uint8_t out[1 << 16];
    uint64_t left = realSize;
    int flush = Z_NO_FLUSH;
    do {
        const uint64_t n = std::min<uint64_t>(left, zeros.size());
        z.next_in = const_cast<Bytef*>(zeros.data());
        z.avail_in = static_cast<uInt>(n);
        left -= n;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            deflate(&z, flush);
            stream.insert(stream.end(), out, out + (sizeof out - z.avail_out));
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    return RawChunk(statedSize, static_cast<uint32_t>(stream.size()), stream);
}

Bytes FileOfChunks(const Bytes& pages32, const Bytes& pages16, const Bytes& miscPages,
                   const Bytes& levelData) {
    Bytes out;
    PutU32(out, 0x00345254);
    out.insert(out.end(), {1, 0, 1, 0, 0, 0});
    for (const Bytes* chunk : {&pages32, &pages16, &miscPages, &levelData})
        out.insert(out.end(), chunk->begin(), chunk->end());
    PutU32(out, 0);
    return out;
}

LevelPlan FaceBomb(int meshes) {
    LevelPlan plan = DemoLevel();
    MeshPlan mesh;
    mesh.vertices = {{0, 0, 0}, {100, 0, 0}, {100, 100, 0}, {0, 100, 0}};
    mesh.rectangles.assign(32767, tr4::MeshRectangle{{0, 1, 2, 3}, 0, 0});
    mesh.triangles.assign(32767, tr4::MeshTriangle{{0, 1, 2}, 0, 0});
    plan.meshes.assign(static_cast<size_t>(meshes), mesh);
    return plan;
}

LevelPlan OwnerBomb() {
    LevelPlan plan = DemoLevel();
    plan.pages32 = plan.pages16 = plan.miscPages = Bytes();
    plan.objectTextures.clear();
    plan.staticMeshCount = 0;
    MeshPlan mesh;
    mesh.vertices = {{0, 0, 0}, {100, 0, 0}, {0, 100, 0}};
    mesh.triangles = {tr4::MeshTriangle{{0, 1, 2}, 0, 0}};
    plan.meshes = {mesh};
    // 65,535 pointers to mesh 0 are 256 KiB of zeros, which the level data's zlib packs small.
    plan.meshPointers = std::vector<uint32_t>(65535, 0);
    plan.moveables = std::vector<tr4::MoveableRecord>(256);
    for (uint32_t i = 0; i < 256; ++i) {
        (*plan.moveables)[i].id = i;
        (*plan.moveables)[i].meshCount = 65535;
    }
    return plan;
}

std::vector<HostileLevel> HostileCorpus() {
    std::vector<HostileLevel> corpus;
    const LevelPlan demo = DemoLevel();
    const Bytes levelData = BuildChunk(BuildLevelData(demo));
    const Bytes pages32 = BuildChunk(demo.pages32);
    const Bytes pages16 = BuildChunk(demo.pages16);
    const Bytes misc = BuildChunk(demo.miscPages);

    {
        // 16 MiB of zero words: some 840,000 meshes with nothing in them.
        LevelPlan plan = demo;
        plan.meshData = Bytes(16u << 20, 0);
        corpus.push_back(Case("mesh-count bomb", BuildLevelFile(plan), false,
                              "refused: the decoded meshes would need"));
    }
    // 44 meshes of 65,534 faces each: 32 MB of level data packed into 68 KB, past the budget.
    // (40 fit it: the level data is released once parsed, and their records take its place.)
    corpus.push_back(Case("face bomb", BuildLevelFile(FaceBomb(44)), false, "refused: "));
    corpus.push_back(Case("one mesh of 65,534 faces", BuildLevelFile(FaceBomb(1)), true, ""));
    {
        // Four chunks of 256 MiB of zeros each.
        const Bytes bomb = ZeroStreamChunk(256u << 20, 256u << 20);
        corpus.push_back(Case("zlib bombs", FileOfChunks(bomb, bomb, bomb, bomb), false,
                              "refused: chunk 1 (pages32) would need"));
    }
    {
        // A texture chunk stated as 256 MiB whose stream gives 1.6 MB of texels.
        Bytes texels(1600000);
        std::mt19937 random(8);
        for (uint8_t& b : texels) b = static_cast<uint8_t>(random());
        const Bytes real = BuildChunk(texels);
        corpus.push_back(Case(
            "stated 256 MiB, stream of 1.6 MB",
            FileOfChunks(RawChunk(256u << 20, static_cast<uint32_t>(real.size() - 8), Stream(real)),
                         pages16, misc, levelData),
            true, ""));
    }
    {
        const Bytes tiny = BuildChunk(Bytes(20, 7));
        corpus.push_back(Case(
            "stated 256 MiB, stream of 20 bytes",
            FileOfChunks(RawChunk(256u << 20, static_cast<uint32_t>(tiny.size() - 8), Stream(tiny)),
                         pages16, misc, levelData),
            true, "more than any zlib stream can give"));
    }
    {
        Bytes stated = levelData;
        std::memset(stated.data(), 0xFF, 4);
        corpus.push_back(Case("level data stated as 4 GiB",
                              FileOfChunks(pages32, pages16, misc, stated), false,
                              "states 4294967295 uncompressed bytes"));
        Bytes packed = pages16;
        std::memset(packed.data() + 4, 0xFF, 4);
        corpus.push_back(Case("compressed size of 4 GiB",
                              FileOfChunks(pages32, packed, misc, levelData), false,
                              "states 4294967295 compressed bytes"));
    }
    {
        // The level data's size field says 100 bytes fewer than its stream gives.
        Bytes under = levelData;
        uint32_t size = 0;
        std::memcpy(&size, under.data(), 4);
        size -= 100;
        std::memcpy(under.data(), &size, 4);
        corpus.push_back(Case("understated level data", FileOfChunks(pages32, pages16, misc, under),
                              true, "its stream holds more"));
    }
    {
        // Texture pages of 34.5 MiB in a file of 37,691 bytes: while they grow, the load holds
        // 65.4 of the 66.3 MiB of 64 x file + 64 MiB, within it for the level alone, past it
        // with the few MiB the process itself holds.
        const Bytes pages = ZeroStreamChunk(69u << 19, 69u << 19);
        corpus.push_back(Case("pages that fill the budget",
                              FileOfChunks(pages, pages16, misc, levelData), false,
                              "refused: chunk 1 (pages32) would need"));
    }
    // Opens for everything but the listing of owners, which is refused before it is written.
    corpus.push_back(Case("owner bomb", BuildLevelFile(OwnerBomb()), true,
                          "refused: the table of mesh owners would need", "meshes"));
    return corpus;
}

LevelPlan DamagedAnimations() {
    LevelPlan plan = DemoLevel();
    plan.meshPointers = std::vector<uint32_t>(3, 0);
    plan.meshTrees = std::vector<int32_t>{0, 0, 0, 10, 0, 0, 0, 10};  // a chain of three parts
    plan.moveables = {{1, 3, 0, 0, 0, 0}, {2, 3, 0, 0, 0, 0xFFFF}};
    // A keyframe of three parts: box (6) and offset (3), then one single-axis word per part.
    plan.frames.emplace();
    for (int k = 0; k < 2; ++k) {
        plan.frames->insert(plan.frames->end(), {0xFF00, 100, 0xFF00, 100, 0xFF00, 100, 0, 0, 0});
        plan.frames->insert(plan.frames->end(), {0x4400, 0x8400, 0xC400});  // 90° about x, y, z
    }
    plan.animCommands = std::vector<uint16_t>{5, 1};  // a sound, cut short
    tr4::AnimationRecord tooSmall, pastTheFrames, good;
    tooSmall.frameSize = 10;  // room for one part of three
    pastTheFrames.frameSize = 12;
    pastTheFrames.frameOffset = 48;  // the frames hold 24 words
    good.frameSize = 12;
    good.frameRate = 2;
    good.frameEnd = 2;  // keyframes at frames 0 and 2
    good.commandCount = 3;
    plan.animations = {tooSmall, pastTheFrames, good};
    return plan;
}

}  // namespace tr4test
