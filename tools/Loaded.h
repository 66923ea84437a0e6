#pragma once
// A level as the level commands read it: loaded, its meshes decoded, the warnings of both.
#include <memory>
#include <string>
#include <vector>

#include "LevelLoader.h"
#include "MeshList.h"

namespace tr4tool {

struct Loaded {
    tr4::Level level;
    tr4::LoadReport report;
    std::unique_ptr<tr4::Lista_Mesh> meshes;
    std::vector<std::string> warnings;  // the load's, then the decoder's
};

// Loads and decodes path. Returns false, after printing the one-line reason, when the file is not
// a readable level; warnings go to stderr either way.
bool LoadAndDecode(const std::string& path, Loaded& out);

}  // namespace tr4tool
