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
#include <ostream>
#include <string>

#include <tiny_gltf.h>

namespace tr4export {

// The model as JSON, without a buffer's data or image data (buffers as byteLength only, images as
// their uri or buffer view): what goes into a binary container's JSON chunk.
std::string GltfJson(const tinygltf::Model& model, bool binary);

// The whole file into out. False with error set when the model cannot be written as asked (a
// binary container past glTF's 4 GiB limit) or the stream fails.
bool WriteGltf(const tinygltf::Model& model, std::ostream& out, bool binary, std::string& error);

}  // namespace tr4export
