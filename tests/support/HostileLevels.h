#pragma once
// Level files made to hurt a reader: each small on disk and claiming far more than it holds, or
// damaged in one size field. Built in code, so no large binary is ever committed.
#include <string>
#include <vector>

#include "LevelWriter.h"

namespace tr4test {

struct HostileLevel {
    std::string name;
    Bytes file;
    bool opens = false;  // a level comes out of it (exit 0), else it is refused (exit 1)
    std::string reason;  // part of the one-line reason (refused) or of a warning (opens)
    // The one command that refuses a level that opens (exit 1, with reason); empty for none.
    std::string refusedBy;
};

// A chunk whose stream inflates to realSize zero bytes, stating statedSize, made without ever
// holding realSize bytes.
Bytes ZeroStreamChunk(uint64_t realSize, uint32_t statedSize);

// A level file put together from its header, four ready-made chunks and an empty remainder.
Bytes FileOfChunks(const Bytes& pages32, const Bytes& pages16, const Bytes& miscPages,
                   const Bytes& levelData);

// Meshes each with 32,767 rectangles and 32,767 triangles over four vertices.
LevelPlan FaceBomb(int meshes);

// A level of 1,347 bytes whose 256 moveables of 65,535 parts each all name mesh 0: 16.7 million
// owners of one mesh.
LevelPlan OwnerBomb();

// Moveable 1 (three parts) with an animation whose keyframes are too small for its parts, one whose
// keyframes lie past the frames, and a good one of two keyframes whose commands run past their
// table; moveable 2 with no animation.
LevelPlan DamagedAnimations();

// The whole corpus: mesh-count bomb, face bombs, zlib bombs, stated sizes far above the stream,
// sizes that overflow 32 bits, an understated size, an owner bomb.
std::vector<HostileLevel> HostileCorpus();

}  // namespace tr4test
