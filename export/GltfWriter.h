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

    // Appends bytes (kept by the chunk) at a four-byte boundary, or right after what is there
    // when the bytes go on from it (aligned false); returns their offset.
    uint64_t Add(std::vector<uint8_t>&& bytes, bool aligned = true);
    // As Add, for bytes that stay their owner's, who keeps them until the chunk is written.
    uint64_t Refer(const std::vector<uint8_t>& bytes);
};

// An accessor as an export makes them: a level has hundreds of thousands, and the library's own
// record (416 bytes, with two vectors for its bounds) was most of a large export's memory. Bounds
// are of float data, so floats hold them exactly.
struct AccessorRecord {
    uint64_t byteOffset = 0;
    uint64_t count = 0;
    int32_t bufferView = -1;
    uint16_t componentType = 0;  // TINYGLTF_COMPONENT_TYPE_*
    uint8_t type = 0;            // TINYGLTF_TYPE_*
    uint8_t bounds = 0;          // how many values min and max hold; 0: none
    float min[4] = {}, max[4] = {};
};

// What an export keeps outside the library's model, where it would cost the most: the binary
// chunk's data in pieces and the accessors as records. Accessors here stand in for the model's,
// which stay empty.
struct ModelBulk {
    BinaryChunk chunk;
    std::vector<AccessorRecord> accessors;
};

// The model as JSON, without a buffer's data or image data (buffers as byteLength only, images as
// their uri or buffer view): what goes into a binary container's JSON chunk. bulk, when given,
// holds the first buffer's data and the accessors in place of the model's.
std::string GltfJson(const tinygltf::Model& model, bool binary, const ModelBulk* bulk = nullptr);

// The whole file into out, the JSON streamed as it is made: out must be able to seek back to
// the container's header (a file, a string stream). False with error set when the model cannot
// be written as asked (a binary container past glTF's 4 GiB limit) or the stream fails. bulk: as
// GltfJson, binary only.
bool WriteGltf(const tinygltf::Model& model, std::ostream& out, bool binary, std::string& error,
               const ModelBulk* bulk = nullptr);

}  // namespace tr4export
