#pragma once
// Writes a glTF model as text (.gltf, the buffer as a data URI) or as a binary container (.glb),
// straight from the model: the JSON is written as it is walked, with no document tree in between,
// and the binary chunk goes out from the model's buffer without a copy. The library's own writer
// builds a tree of every accessor and animation key and copies the buffer twice, which was the
// larger part of an animated export's time and memory.
//
// What is written follows the library's writer field for field (the same members, the same
// defaults left out), so a reader sees the same document; only the spelling of numbers and the
// order of keys may differ.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <tiny_gltf.h>

namespace tr4export {

// A binary container's data chunk kept as the pieces it was made of (vertex streams, indices,
// animation keys, page images) instead of one buffer: gathering them into the model's buffer
// held the geometry twice at its peak. Padding between pieces is its own piece.
struct BinaryChunk {
    std::vector<std::vector<uint8_t>> owned;
    struct Piece {
        const uint8_t* data;
        size_t size;
    };
    std::vector<Piece> pieces;
    uint64_t size = 0;

    // Appends bytes (kept by the chunk) at a four-byte boundary; returns their offset.
    uint64_t Add(std::vector<uint8_t>&& bytes);
};

// The model as JSON, without a buffer's data or image data (buffers as byteLength only, images as
// their uri or buffer view): what goes into a binary container's JSON chunk. chunk, when given,
// holds the first buffer's data in place of the model's.
std::string GltfJson(const tinygltf::Model& model, bool binary, const BinaryChunk* chunk = nullptr);

// The whole file into out. False with error set when the model cannot be written as asked (a
// binary container past glTF's 4 GiB limit) or the stream fails. chunk: as GltfJson, binary only.
bool WriteGltf(const tinygltf::Model& model, std::ostream& out, bool binary, std::string& error,
               const BinaryChunk* chunk = nullptr);

}  // namespace tr4export
