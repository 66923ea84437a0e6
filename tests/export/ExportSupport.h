#pragma once
// The real level loaded and decoded once per test process, and exports of it read back with
// tinygltf, for the export tests and the round-trip pixel test.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include <tiny_gltf.h>

#include "GltfExport.h"
#include "LevelLoader.h"
#include "MeshList.h"

namespace exporttest {

struct RealLevel {
    tr4::Level level;
    std::unique_ptr<tr4::Lista_Mesh> list;
};

// Loaded on first use; null (with the reason in a test failure) when it cannot be read.
const RealLevel* Real();

// Builds request on the real level, writes it to a file in the test's temporary folder and reads
// it back. False (after adding test failures) when any step fails.
bool ExportAndRead(const tr4export::ExportRequest& request, const std::string& fileName,
                   tinygltf::Model& out);

// Node transforms, column-major 4 x 4 as glTF composes them.
using Matrix = std::array<double, 16>;
// A node's own translation and rotation (identity for a default node).
Matrix Local(const tinygltf::Node& n);
Matrix Times(const Matrix& a, const Matrix& b);

// The elements of a float accessor, its components one after another.
std::vector<float> Floats(const tinygltf::Model& model, int accessor);
// The elements of an index accessor.
std::vector<uint32_t> Indices(const tinygltf::Model& model, int accessor);

}  // namespace exporttest
