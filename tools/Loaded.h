#pragma once
// The level commands' way into a level: the one load entry point, with its warnings and its
// one-line reason printed to stderr as every command prints them.
#include <string>

#include "LoadLevel.h"

namespace tr4tool {

// Loads and decodes path, keeping the raw blocks named in keep (RawBlocks). Returns false, after
// printing the one-line reason, when the file is not a readable level; warnings go to stderr
// either way.
bool LoadAndDecode(const std::string& path, tr4::LoadedLevel& out, unsigned keep,
                   tr4::PagesWatcher* watcher = nullptr);

}  // namespace tr4tool
